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

} // namespace

AE_EXPORT const char* aeEncErrorText(void) {
    return t_errorText;
}

AE_EXPORT AE_ERR aeEncOpen(const AE_CONFIG* pConfig, const AE_TAGS* pTags, const char* pszPath,
                           HAE_STREAM* phStream) {
    if (pConfig == nullptr || pTags == nullptr || pszPath == nullptr || *pszPath == '\0' ||
        phStream == nullptr)
        return AE_ERR_INVALID_PARAMETER;
    *phStream = 0;
    if (pConfig->dwStructSize != sizeof(AE_CONFIG) || pTags->dwStructSize != sizeof(AE_TAGS) ||
        pConfig->dwFormat < AE_FORMAT_FLAC || pConfig->dwFormat > AE_FORMAT_AAC)
        return AE_ERR_INVALID_CONFIG;
    if (!ConfigInRange(*pConfig))
        return AE_ERR_INVALID_PARAMETER;
    // FFmpeg's diagnostics would reach the user's terminal; failures are told by the result codes.
    av_log_set_level(AV_LOG_QUIET);
    try {
        auto stream = std::make_shared<AvAudioStream>();
        const AE_ERR err = stream->Open(*pConfig, *pTags, pszPath);
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
