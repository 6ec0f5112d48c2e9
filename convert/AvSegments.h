#pragma once

#include "AvAudioEnc/AvAudioEnc.h"
#include "SegmentJoiner.h"

#include <functional>
#include <memory>
#include <string>

// AAC (M4A) and Opus as formats of the segment joiner, through AvAudioEnc.so's segment extension: the module
// keeps each segment's packets on the codec's frame grid, with the timestamps of the one stream, and joins
// them where two streams coded a frame alike; the first segment writes the file at `outputPath`, which is
// finished when the joiner ends (a cancelled job's too). `failure` names an error code of the module as the
// job tells it. Null when the module lacks the extension or does not join these settings.
std::unique_ptr<ISegmentFormat> MakeAvSegmentFormat(void* module, const AE_CONFIG& config,
                                                    const AE_TAGS& tags, const std::string& outputPath,
                                                    std::function<std::string(AE_ERR)> failure);
