#pragma once

#include "SegmentJoiner.h"
#include "Vorbis/Vorbis.h"

#include <cstdio>
#include <memory>

// Ogg Vorbis as a format of the segment joiner, through Vorbis.so's segment extension: segments meet at a
// block both streams cut alike, so the decoder's overlap is that of one stream; the joined file has the first
// segment's headers and one stream's pages and granule positions. The first segment writes into `output`;
// the file is complete when the joiner ends with All (after a cancel it lacks the stream's end, as with one
// encoder). Null when the module lacks the extension.
std::unique_ptr<ISegmentFormat> MakeOggSegmentFormat(void* module, const VB_CONFIG& config,
                                                     const VB_COMMENT& comment, std::FILE* output);
