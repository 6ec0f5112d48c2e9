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

} // namespace

VB_EXPORT VB_ERR vbEncOpen(const VB_CONFIG* pConfig, const VB_COMMENT* pComment, uint32_t* pdwSamples,
                           uint32_t* pdwBufferSize, HVB_STREAM* phStream) {
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
        const VB_ERR err = stream->Open(*pConfig, *pComment);
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
