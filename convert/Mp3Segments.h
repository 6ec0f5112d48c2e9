#pragma once

#include "JobFrame.h"
#include "lame_enc/lame_enc.h"

#include <cstdio>
#include <functional>
#include <string>

// Step 2 of MP3 in segments: the temporary WAV is complete when step 2 starts and the bit reservoir is
// off, so lame_enc.so can cut it on its frame grid into segments that separate streams encode at the
// same time, one thread each, and join into the file one stream would have written.

// The design's entry points of lame_enc.so, resolved by the MP3 thread.
struct Mp3Entries {
    void* module;
    BEINITSTREAM init;
    BEENCODECHUNK encode;
    BEDEINITSTREAM deinit;
    BECLOSESTREAM close;
};

// Releases what the MP3 thread holds (the WAV source and the output file) and fails the job.
using Mp3Fail = std::function<void(const std::string&)>;

enum class Mp3Written {
    All,      // every frame is in the output file; the streams are closed
    Ended,    // failed or cancelled: the job has ended, its files are closed
    NotTried, // not worth it here: nothing was written, encode with one stream
};

// Encodes the input in segments when it is long enough and cores are free (or the policy says so).
Mp3Written EncodeMp3InSegments(const Mp3Entries& api, const BE_CONFIG& config, CTempWavSource& source,
                               std::FILE*& file, const Mp3Fail& fail);

// How the input is cut: at most one segment per core the job may use, each at least minSeconds long.
// Tests force a number of segments (regardless of the cores) and shorter ones.
struct Mp3SegmentPolicy {
    int forcedSegments = 0; // 0: by the cores
    double minSeconds = 20;
};
void SetMp3SegmentPolicy(const Mp3SegmentPolicy& policy);
Mp3SegmentPolicy GetMp3SegmentPolicy();
