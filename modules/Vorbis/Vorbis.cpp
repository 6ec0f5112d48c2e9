#include "Vorbis.h"
#include "../encoder_common/StreamTable.h"
#include "VorbisStream.h"

#include <cstring>
#include <new>

namespace {

StreamTable<VorbisStream>& Streams() {
    static StreamTable<VorbisStream> table;
    return table;
}

// vbEncOpen, or vbEncOpenSegment when a segment is given.
VB_ERR OpenStream(const VB_CONFIG* pConfig, const VB_COMMENT* pComment, const VB_SEGMENT* segment,
                  int scratchFd, uint32_t* pdwSamples, uint32_t* pdwBufferSize, HVB_STREAM* phStream) {
    if (pConfig == nullptr || pComment == nullptr || pdwSamples == nullptr || pdwBufferSize == nullptr ||
        phStream == nullptr)
        return VB_ERR_INVALID_PARAMETER;
    *pdwSamples = 0;
    *pdwBufferSize = 0;
    *phStream = 0;
    if (pConfig->dwConfig != VB_CONFIG_VORBIS || pConfig->dwStructSize != sizeof(VB_CONFIG))
        return VB_ERR_INVALID_CONFIG;
    if (pComment->dwStructSize != sizeof(VB_COMMENT))
        return VB_ERR_INVALID_COMMENT;
    try {
        auto stream = std::make_shared<VorbisStream>();
        const VB_ERR err = segment ? stream->OpenSegment(*pConfig, *pComment, *segment, scratchFd)
                                   : stream->Open(*pConfig, *pComment);
        if (err != VB_ERR_SUCCESSFUL)
            return err;
        const uint32_t samples = stream->SamplesPerChunk();
        const uint32_t bufferSize = stream->OutputBufferSize();
        const HVB_STREAM handle = Streams().Add(std::move(stream));
        if (handle == 0)
            return VB_ERR_NO_MORE_HANDLES;
        *pdwSamples = samples;
        *pdwBufferSize = bufferSize;
        *phStream = handle;
        return VB_ERR_SUCCESSFUL;
    } catch (const std::bad_alloc&) {
        return VB_ERR_OUT_OF_MEMORY;
    }
}

} // namespace

VB_EXPORT VB_ERR vbEncOpen(const VB_CONFIG* pConfig, const VB_COMMENT* pComment, uint32_t* pdwSamples,
                           uint32_t* pdwBufferSize, HVB_STREAM* phStream) {
    return OpenStream(pConfig, pComment, nullptr, -1, pdwSamples, pdwBufferSize, phStream);
}

VB_EXPORT VB_ERR vbEncWrite(HVB_STREAM hStream, uint32_t nValues, const int16_t* pValues, uint8_t* pOutput,
                            uint32_t* pdwOutput) {
    if (pdwOutput != nullptr)
        *pdwOutput = 0;
    auto stream = Streams().Find(hStream);
    if (!stream)
        return VB_ERR_INVALID_HANDLE;
    if ((pValues == nullptr && nValues > 0) || pOutput == nullptr || pdwOutput == nullptr)
        return VB_ERR_INVALID_PARAMETER;
    try {
        std::lock_guard lock(stream->m_mutex);
        return stream->Write(nValues, pValues, pOutput, pdwOutput);
    } catch (const std::bad_alloc&) {
        return VB_ERR_OUT_OF_MEMORY;
    }
}

VB_EXPORT VB_ERR vbEncClose(HVB_STREAM hStream, uint8_t* pOutput, uint32_t* pdwOutput) {
    if (pdwOutput != nullptr)
        *pdwOutput = 0;
    auto stream = Streams().Remove(hStream);
    if (!stream)
        return VB_ERR_INVALID_HANDLE;
    // The handle is gone either way; without a buffer the stream is simply discarded.
    if (pOutput == nullptr || pdwOutput == nullptr)
        return VB_ERR_INVALID_PARAMETER;
    try {
        std::lock_guard lock(stream->m_mutex);
        return stream->Close(pOutput, pdwOutput);
    } catch (const std::bad_alloc&) {
        return VB_ERR_OUT_OF_MEMORY;
    }
}

VB_EXPORT VB_ERR vbVersion(VB_VERSION* pVersion) {
    if (pVersion == nullptr)
        return VB_ERR_INVALID_PARAMETER;
    std::memset(pVersion, 0, sizeof(*pVersion));
    pVersion->dwStructSize = sizeof(VB_VERSION);
    pVersion->dwModuleMajor = 1;
    pVersion->dwModuleMinor = 0;
    std::strncpy(pVersion->szLibraryVersion, vorbis_version_string(), sizeof(pVersion->szLibraryVersion) - 1);
    return VB_ERR_SUCCESSFUL;
}

VB_EXPORT VB_ERR vbSegmentGrid(const VB_CONFIG* pConfig, VB_SEGMENT_GRID* pGrid) {
    if (pConfig == nullptr || pGrid == nullptr)
        return VB_ERR_INVALID_PARAMETER;
    *pGrid = VB_SEGMENT_GRID{};
    if (pConfig->dwConfig != VB_CONFIG_VORBIS || pConfig->dwStructSize != sizeof(VB_CONFIG))
        return VB_ERR_INVALID_CONFIG;
    const uint64_t rate = pConfig->dwSampleRate;
    // Block sizes: two minutes of block decisions hold many transients in music and speech; after the first,
    // the sizes fall where one stream puts them. Encoding: five seconds settle the psychoacoustic peak
    // tracking and the bitrate manager's reservoir.
    pGrid->qwStep = 2048;
    pGrid->qwEncodeWarmup = 5 * rate;
    pGrid->qwWarmup = 120 * rate + pGrid->qwEncodeWarmup;
    pGrid->qwTail = 2 * rate;
    pGrid->qwMinFrames = 30 * rate;
    return VB_ERR_SUCCESSFUL;
}

VB_EXPORT VB_ERR vbEncOpenSegment(const VB_CONFIG* pConfig, const VB_COMMENT* pComment,
                                  const VB_SEGMENT* pSegment, int nScratchFd, uint32_t* pdwSamples,
                                  uint32_t* pdwBufferSize, HVB_STREAM* phStream) {
    if (pSegment == nullptr)
        return VB_ERR_INVALID_PARAMETER;
    return OpenStream(pConfig, pComment, pSegment, nScratchFd, pdwSamples, pdwBufferSize, phStream);
}

VB_EXPORT VB_ERR vbEncEndSegment(HVB_STREAM hStream) {
    auto stream = Streams().Find(hStream);
    if (!stream)
        return VB_ERR_INVALID_HANDLE;
    try {
        std::lock_guard lock(stream->m_mutex);
        return stream->EndSegment();
    } catch (const std::bad_alloc&) {
        return VB_ERR_OUT_OF_MEMORY;
    }
}

VB_EXPORT VB_ERR vbEncJoinSegment(HVB_STREAM hOutput, HVB_STREAM hLast, HVB_STREAM hNext, int nOutputFd,
                                  uint32_t* pbMet) {
    if (pbMet == nullptr || nOutputFd < 0)
        return VB_ERR_INVALID_PARAMETER;
    *pbMet = 0;
    try {
        SegmentJoinStreams<VorbisStream> streams(Streams(), hOutput, hLast, hNext);
        if (streams.found != SegmentJoinStreams<VorbisStream>::Found::Yes)
            return streams.found == SegmentJoinStreams<VorbisStream>::Found::Repeated
                       ? VB_ERR_INVALID_PARAMETER
                       : VB_ERR_INVALID_HANDLE;
        bool met = false;
        const VB_ERR err = streams.Output().JoinSegment(streams.Last(), streams.Next(), nOutputFd, &met);
        *pbMet = met ? 1 : 0;
        return err;
    } catch (const std::bad_alloc&) {
        return VB_ERR_OUT_OF_MEMORY;
    }
}
