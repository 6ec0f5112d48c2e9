#pragma once

#include "SegmentJoiner.h"
#include "lame_enc/lame_enc.h"

#include <cstdio>
#include <memory>

// The design's entry points of lame_enc.so, resolved by the MP3 thread.
struct Mp3Entries {
    void* module;
    BEINITSTREAM init;
    BEENCODECHUNK encode;
    BEDEINITSTREAM deinit;
    BECLOSESTREAM close;
};

// MP3 as a format of the segment joiner. The bit reservoir is off, so lame_enc.so plans the segments on the
// frame grid of the stream one encoder writes and keeps only each segment's own frames: the frames joined
// are that stream's, byte for byte, and the Info frame counts the joined stream. The first segment writes
// into `output`; the file is complete (but for the tag and the Info frame, which the MP3 thread adds) when
// the joiner ends with All. Null when the module lacks the segment extension.
std::unique_ptr<ISegmentFormat> MakeMp3SegmentFormat(const Mp3Entries& api, const BE_CONFIG& config,
                                                     std::FILE* output);
