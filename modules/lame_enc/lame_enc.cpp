#include "lame_enc.h"
#include "../encoder_common/StreamTable.h"
#include "LameStream.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

StreamTable<LameStream>& Streams() {
    static StreamTable<LameStream> table;
    return table;
}

// Xing/Info frames of flushed streams whose files have not had theirs written yet, newest last. A
// record stays until its file takes it, so streams that finish together (quillet-cli -j) never push
// one another's out; only records no file ever asks for (a job that failed after its flush) age out,
// far beyond any number of streams that run at once.
class VbrHeaderStore {
public:
    void Add(VbrHeaderRecord record) {
        std::lock_guard lock(m_mutex);
        m_records.push_back(std::make_shared<const VbrHeaderRecord>(std::move(record)));
        while (m_records.size() > kKept)
            m_records.pop_front();
    }

    // The pending records, then those taken lately (a file asked for twice gets the same answer).
    std::deque<std::shared_ptr<const VbrHeaderRecord>> Snapshot() const {
        std::lock_guard lock(m_mutex);
        std::deque<std::shared_ptr<const VbrHeaderRecord>> all(m_taken.begin(), m_taken.end());
        all.insert(all.end(), m_records.begin(), m_records.end());
        return all;
    }

    void Taken(const std::shared_ptr<const VbrHeaderRecord>& record) {
        std::lock_guard lock(m_mutex);
        const auto it = std::find(m_records.begin(), m_records.end(), record);
        if (it == m_records.end())
            return;
        m_taken.push_back(*it);
        m_records.erase(it);
        while (m_taken.size() > kTakenKept)
            m_taken.pop_front();
    }

private:
    static constexpr size_t kKept = 1024;
    static constexpr size_t kTakenKept = 16;
    mutable std::mutex m_mutex;
    std::deque<std::shared_ptr<const VbrHeaderRecord>> m_records, m_taken;
};

VbrHeaderStore& VbrHeaders() {
    static VbrHeaderStore store;
    return store;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

bool ReadAt(int fd, uint8_t* buffer, size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t got = pread(fd, buffer, count, offset);
        if (got <= 0)
            return false;
        buffer += got;
        count -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

bool WriteAt(int fd, const uint8_t* buffer, size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t put = pwrite(fd, buffer, count, offset);
        if (put <= 0)
            return false;
        buffer += put;
        count -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
}

// Where the MP3 frames start: after an ID3v2 tag, if the file has one.
off_t FirstFrameOffset(int fd) {
    uint8_t header[10];
    if (!ReadAt(fd, header, sizeof(header), 0) || std::memcmp(header, "ID3", 3) != 0)
        return 0;
    const off_t size = (off_t(header[6] & 0x7F) << 21) | (off_t(header[7] & 0x7F) << 14) |
                       (off_t(header[8] & 0x7F) << 7) | off_t(header[9] & 0x7F);
    const bool footer = (header[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

// The placeholder LAME writes is the tag frame's header (with the mode extension still open) followed by
// zeros; a file that already carries this tag frame matches too.
bool IsPlaceholderFor(const std::vector<uint8_t>& first, const std::vector<uint8_t>& tag) {
    if (first == tag)
        return true;
    if (first[0] != tag[0] || first[1] != tag[1] || first[2] != tag[2] ||
        (first[3] & 0xCF) != (tag[3] & 0xCF))
        return false;
    for (size_t i = 4; i < first.size(); ++i)
        if (first[i] != 0)
            return false;
    return true;
}

// beInitStream, or beInitSegmentStream when a segment is given.
BE_ERR OpenStream(const BE_CONFIG* pbeConfig, const BE_SEGMENT* segment, uint32_t* dwSamples,
                  uint32_t* dwBufferSize, HBE_STREAM* phbeStream) {
    if (pbeConfig == nullptr || dwSamples == nullptr || dwBufferSize == nullptr || phbeStream == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *dwSamples = 0;
    *dwBufferSize = 0;
    *phbeStream = 0;
    if (pbeConfig->dwConfig != BE_CONFIG_LAME || pbeConfig->dwStructVersion < BE_CONFIG_VERSION ||
        pbeConfig->dwStructSize != sizeof(BE_CONFIG))
        return BE_ERR_INVALID_FORMAT;
    try {
        auto stream = std::make_shared<LameStream>();
        const BE_ERR err = segment ? stream->OpenSegment(*pbeConfig, *segment) : stream->Open(*pbeConfig);
        if (err != BE_ERR_SUCCESSFUL)
            return err;
        const uint32_t samples = stream->SamplesPerChunk();
        const uint32_t bufferSize = stream->OutputBufferSize();
        const HBE_STREAM handle = Streams().Add(std::move(stream));
        if (handle == 0)
            return BE_ERR_NO_MORE_HANDLES;
        *dwSamples = samples;
        *dwBufferSize = bufferSize;
        *phbeStream = handle;
        return BE_ERR_SUCCESSFUL;
    } catch (const std::bad_alloc&) {
        return BE_ERR_OUT_OF_MEMORY;
    }
}

} // namespace

BE_EXPORT BE_ERR beInitStream(const BE_CONFIG* pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                              HBE_STREAM* phbeStream) {
    return OpenStream(pbeConfig, nullptr, dwSamples, dwBufferSize, phbeStream);
}

BE_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t* pSamples,
                               uint8_t* pOutput, uint32_t* pdwOutput) {
    if (pdwOutput != nullptr)
        *pdwOutput = 0;
    auto stream = Streams().Find(hbeStream);
    if (!stream)
        return BE_ERR_INVALID_HANDLE;
    if ((pSamples == nullptr && nSamples > 0) || pOutput == nullptr || pdwOutput == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::lock_guard lock(stream->m_mutex);
    return stream->Encode(nSamples, pSamples, pOutput, pdwOutput);
}

BE_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput) {
    if (pdwOutput != nullptr)
        *pdwOutput = 0;
    auto stream = Streams().Find(hbeStream);
    if (!stream)
        return BE_ERR_INVALID_HANDLE;
    if (pOutput == nullptr || pdwOutput == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    try {
        VbrHeaderRecord record;
        bool hasRecord = false;
        BE_ERR err;
        {
            std::lock_guard lock(stream->m_mutex);
            err = stream->Flush(pOutput, pdwOutput, &record, &hasRecord);
        }
        if (err == BE_ERR_SUCCESSFUL && hasRecord)
            VbrHeaders().Add(std::move(record));
        return err;
    } catch (const std::bad_alloc&) {
        return BE_ERR_OUT_OF_MEMORY;
    }
}

BE_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    return Streams().Remove(hbeStream) ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE;
}

BE_EXPORT BE_ERR beVersion(BE_VERSION* pbeVersion) {
    if (pbeVersion == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::memset(pbeVersion, 0, sizeof(*pbeVersion));
    lame_version_t lame;
    get_lame_version_numerical(&lame);
    pbeVersion->byDLLMajorVersion = 1;
    pbeVersion->byDLLMinorVersion = 0;
    pbeVersion->byMajorVersion = static_cast<uint8_t>(lame.major);
    pbeVersion->byMinorVersion = static_cast<uint8_t>(lame.minor);
    pbeVersion->byAlphaLevel = static_cast<uint8_t>(lame.alpha);
    pbeVersion->byBetaLevel = static_cast<uint8_t>(lame.beta);
    std::strncpy(pbeVersion->zHomepage, get_lame_url(), sizeof(pbeVersion->zHomepage) - 1);
    return BE_ERR_SUCCESSFUL;
}

BE_EXPORT BE_ERR beWriteVBRHeader(const char* lpszFileName) {
    if (lpszFileName == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    try {
        const auto records = VbrHeaders().Snapshot();
        FileDescriptor file(open(lpszFileName, O_RDWR | O_CLOEXEC));
        if (file.Get() < 0)
            return BE_ERR_FILE;
        struct stat info;
        if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
            return BE_ERR_FILE;
        const off_t start = FirstFrameOffset(file.Get());
        for (auto it = records.rbegin(); it != records.rend(); ++it) {
            const VbrHeaderRecord& r = **it;
            const size_t tagSize = r.tagFrame.size();
            if (static_cast<uint64_t>(info.st_size) < static_cast<uint64_t>(start) + r.streamBytes)
                continue;
            std::vector<uint8_t> first(tagSize);
            std::vector<uint8_t> after(r.afterTag.size());
            if (!ReadAt(file.Get(), first.data(), first.size(), start) ||
                !ReadAt(file.Get(), after.data(), after.size(), start + static_cast<off_t>(tagSize)))
                return BE_ERR_FILE;
            if (after != r.afterTag || !IsPlaceholderFor(first, r.tagFrame))
                continue;
            if (!WriteAt(file.Get(), r.tagFrame.data(), tagSize, start))
                return BE_ERR_FILE;
            VbrHeaders().Taken(*it);
            return BE_ERR_SUCCESSFUL;
        }
        return BE_ERR_NO_VBR_HEADER;
    } catch (const std::bad_alloc&) {
        return BE_ERR_OUT_OF_MEMORY;
    }
}

BE_EXPORT BE_ERR bePlanSegments(const BE_CONFIG* pbeConfig, uint64_t qwValues, uint32_t nMaxSegments,
                                uint64_t qwMinSegmentValues, BE_SEGMENT* pSegments, uint32_t* pnSegments) {
    if (pnSegments != nullptr)
        *pnSegments = 0;
    if (pbeConfig == nullptr || pSegments == nullptr || pnSegments == nullptr || nMaxSegments == 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (pbeConfig->dwConfig != BE_CONFIG_LAME || pbeConfig->dwStructVersion < BE_CONFIG_VERSION ||
        pbeConfig->dwStructSize != sizeof(BE_CONFIG))
        return BE_ERR_INVALID_FORMAT;
    try {
        std::vector<BE_SEGMENT> segments;
        const BE_ERR err = PlanSegments(*pbeConfig, qwValues, nMaxSegments, qwMinSegmentValues, &segments);
        if (err != BE_ERR_SUCCESSFUL)
            return err;
        std::copy(segments.begin(), segments.end(), pSegments);
        *pnSegments = static_cast<uint32_t>(segments.size());
        return BE_ERR_SUCCESSFUL;
    } catch (const std::bad_alloc&) {
        return BE_ERR_OUT_OF_MEMORY;
    }
}

BE_EXPORT BE_ERR beInitSegmentStream(const BE_CONFIG* pbeConfig, const BE_SEGMENT* pSegment,
                                     uint32_t* dwSamples, uint32_t* dwBufferSize, HBE_STREAM* phbeStream) {
    if (pSegment == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    return OpenStream(pbeConfig, pSegment, dwSamples, dwBufferSize, phbeStream);
}

BE_EXPORT BE_ERR beJoinSegmentStreams(const HBE_STREAM* phbeStreams, uint32_t nStreams) {
    if (phbeStreams == nullptr || nStreams == 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    try {
        std::vector<std::shared_ptr<LameStream>> held;
        for (uint32_t i = 0; i < nStreams; ++i) {
            held.push_back(Streams().Find(phbeStreams[i]));
            if (!held.back())
                return BE_ERR_INVALID_HANDLE;
        }
        // Flushed streams change no more; taking each lock once orders their last writes before the
        // reads here, and never holding two at a time rules out a deadlock with another caller.
        std::vector<LameStream*> segments;
        for (auto& stream : held) {
            if (std::find(segments.begin(), segments.end(), stream.get()) != segments.end())
                return BE_ERR_INVALID_FORMAT_PARAMETERS;
            std::lock_guard lock(stream->m_mutex);
            segments.push_back(stream.get());
        }
        VbrHeaderRecord record;
        bool hasRecord = false;
        const BE_ERR err = LameStream::JoinSegments(segments, &record, &hasRecord);
        if (err == BE_ERR_SUCCESSFUL && hasRecord)
            VbrHeaders().Add(std::move(record));
        return err;
    } catch (const std::bad_alloc&) {
        return BE_ERR_OUT_OF_MEMORY;
    }
}
