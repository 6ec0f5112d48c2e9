#include "AvAudioEnc.h"
#include "../encoder_common/StreamTable.h"
#include "AvAudioStream.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <new>

namespace {

StreamTable<AvAudioStream>& Streams() {
    static StreamTable<AvAudioStream> table;
    return table;
}

bool ConfigInRange(const AE_CONFIG& c) {
    if (c.dwChannels < 1 || c.dwChannels > AE_MAX_CHANNELS || c.dwSampleRate < 1000 ||
        c.dwSampleRate > 768000 || c.dwSampleFormat > AE_SAMPLE_FLOAT ||
        (c.dwSampleFormat == AE_SAMPLE_S32 && c.dwBitsPerSample != 24 && c.dwBitsPerSample != 32))
        return false;
    switch (c.dwFormat) {
    case AE_FORMAT_FLAC:
        return c.dwCompression <= 8;
    case AE_FORMAT_OPUS:
        return c.dwBitrate >= 6000 && c.dwBitrate <= 256000 &&
               (c.dwOpusApplication == AE_OPUS_AUDIO || c.dwOpusApplication == AE_OPUS_VOIP);
    default:
        return c.dwBitrate >= 64000 && c.dwBitrate <= 320000;
    }
}

// Plain storage, as a thread-local with a destructor would pin the module.
thread_local char t_errorText[256];

// The result, with the stream's reason kept for aeEncErrorText when it is a failure.
AE_ERR Result(AE_ERR err, const AvAudioStream* stream) {
    std::snprintf(t_errorText, sizeof t_errorText, "%s",
                  err == AE_ERR_SUCCESSFUL || !stream ? "" : stream->ErrorText().c_str());
    return err;
}

AE_ERR CheckConfig(const AE_CONFIG* pConfig) {
    if (pConfig == nullptr)
        return AE_ERR_INVALID_PARAMETER;
    if (pConfig->dwStructSize != sizeof(AE_CONFIG) || pConfig->dwFormat < AE_FORMAT_FLAC ||
        pConfig->dwFormat > AE_FORMAT_AAC)
        return AE_ERR_INVALID_CONFIG;
    return ConfigInRange(*pConfig) ? AE_ERR_SUCCESSFUL : AE_ERR_INVALID_PARAMETER;
}

// aeEncOpen, or aeEncOpenSegment when a segment is given.
AE_ERR OpenStream(const AE_CONFIG* pConfig, const AE_TAGS* pTags, const char* pszPath,
                  const AE_SEGMENT* segment, int scratchFd, HAE_STREAM* phStream) {
    if (pTags == nullptr || phStream == nullptr)
        return AE_ERR_INVALID_PARAMETER;
    *phStream = 0;
    const bool writesFile = segment == nullptr || segment->qwOwnFrom == 0;
    if (writesFile && (pszPath == nullptr || *pszPath == '\0'))
        return AE_ERR_INVALID_PARAMETER;
    if (const AE_ERR err = CheckConfig(pConfig); err != AE_ERR_SUCCESSFUL)
        return err;
    if (pTags->dwStructSize != sizeof(AE_TAGS))
        return AE_ERR_INVALID_CONFIG;
    // FFmpeg's diagnostics would reach the user's terminal; failures are told by the result codes.
    av_log_set_level(AV_LOG_QUIET);
    try {
        auto stream = std::make_shared<AvAudioStream>();
        const AE_ERR err = segment ? stream->OpenSegment(*pConfig, *pTags, pszPath, *segment, scratchFd)
                                   : stream->Open(*pConfig, *pTags, pszPath);
        if (err != AE_ERR_SUCCESSFUL)
            return Result(err, stream.get());
        const HAE_STREAM handle = Streams().Add(stream);
        if (handle == 0) {
            stream->Close();
            return AE_ERR_NO_MORE_HANDLES;
        }
        *phStream = handle;
        return AE_ERR_SUCCESSFUL;
    } catch (const std::bad_alloc&) {
        return AE_ERR_OUT_OF_MEMORY;
    }
}

} // namespace

AE_EXPORT const char* aeEncErrorText(void) {
    return t_errorText;
}

AE_EXPORT AE_ERR aeEncOpen(const AE_CONFIG* pConfig, const AE_TAGS* pTags, const char* pszPath,
                           HAE_STREAM* phStream) {
    return OpenStream(pConfig, pTags, pszPath, nullptr, -1, phStream);
}

AE_EXPORT AE_ERR aeEncWrite(HAE_STREAM hStream, uint32_t nValues, const void* pValues) {
    auto stream = Streams().Find(hStream);
    if (!stream)
        return AE_ERR_INVALID_HANDLE;
    if (pValues == nullptr && nValues > 0)
        return AE_ERR_INVALID_PARAMETER;
    std::lock_guard lock(stream->m_mutex);
    return Result(stream->Write(pValues, nValues), stream.get());
}

AE_EXPORT AE_ERR aeEncClose(HAE_STREAM hStream) {
    auto stream = Streams().Remove(hStream);
    if (!stream)
        return AE_ERR_INVALID_HANDLE;
    std::lock_guard lock(stream->m_mutex);
    return Result(stream->Close(), stream.get());
}

AE_EXPORT AE_ERR aeSegmentGrid(const AE_CONFIG* pConfig, AE_SEGMENT_GRID* pGrid) {
    if (pGrid == nullptr)
        return AE_ERR_INVALID_PARAMETER;
    *pGrid = AE_SEGMENT_GRID{};
    const AE_ERR err = CheckConfig(pConfig);
    return err != AE_ERR_SUCCESSFUL ? err : SegmentGridFor(*pConfig, pGrid);
}

AE_EXPORT AE_ERR aeEncOpenSegment(const AE_CONFIG* pConfig, const AE_TAGS* pTags, const char* pszPath,
                                  const AE_SEGMENT* pSegment, int nScratchFd, HAE_STREAM* phStream) {
    if (pSegment == nullptr)
        return AE_ERR_INVALID_PARAMETER;
    AE_SEGMENT_GRID grid;
    if (const AE_ERR err = aeSegmentGrid(pConfig, &grid); err != AE_ERR_SUCCESSFUL)
        return err;
    return OpenStream(pConfig, pTags, pszPath, pSegment, nScratchFd, phStream);
}

AE_EXPORT AE_ERR aeEncEndSegment(HAE_STREAM hStream) {
    auto stream = Streams().Find(hStream);
    if (!stream)
        return AE_ERR_INVALID_HANDLE;
    std::lock_guard lock(stream->m_mutex);
    try {
        return Result(stream->EndSegment(), stream.get());
    } catch (const std::bad_alloc&) {
        return AE_ERR_OUT_OF_MEMORY;
    }
}

AE_EXPORT AE_ERR aeEncJoinSegment(HAE_STREAM hOutput, HAE_STREAM hLast, HAE_STREAM hNext, uint32_t* pbMet) {
    if (pbMet == nullptr)
        return AE_ERR_INVALID_PARAMETER;
    *pbMet = 0;
    try {
        SegmentJoinStreams<AvAudioStream> streams(Streams(), hOutput, hLast, hNext);
        if (streams.found != SegmentJoinStreams<AvAudioStream>::Found::Yes)
            return streams.found == SegmentJoinStreams<AvAudioStream>::Found::Repeated
                       ? AE_ERR_INVALID_PARAMETER
                       : AE_ERR_INVALID_HANDLE;
        bool met = false;
        const AE_ERR err = streams.Output().JoinSegment(streams.Last(), streams.Next(), &met);
        *pbMet = met ? 1 : 0;
        return Result(err, &streams.Output());
    } catch (const std::bad_alloc&) {
        return AE_ERR_OUT_OF_MEMORY;
    }
}
