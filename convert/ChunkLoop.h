#pragma once

#include "JobFrame.h"

#include <cstddef>

enum class ChunkLoopEnd { Input, Failed, Cancelled };

// The chunk loop shared by the encoders: read a chunk, encode it (which writes its output and, on an
// error, releases what it holds and fails the job, returning false), count it, report progress, then
// look for a cancel request. The reader returns the chunk's size in units of bytesPerUnit; 0 ends.
// The source counts what was consumed and tells the progress (CTempWavSource, CPcmReader).
template <class Source, class ReadChunk, class EncodeChunk>
ChunkLoopEnd RunChunkLoop(Source& source, size_t bytesPerUnit, ReadChunk read, EncodeChunk encode) {
    for (size_t n = read(); n != 0; n = read()) {
        if (!encode(n))
            return ChunkLoopEnd::Failed;
        source.AddConsumed(n * bytesPerUnit);
        ReportProgress(source.GetPerMille());
        if (IsCancelRequested())
            return ChunkLoopEnd::Cancelled;
    }
    return ChunkLoopEnd::Input;
}
