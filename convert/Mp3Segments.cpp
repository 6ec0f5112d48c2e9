#include "Mp3Segments.h"

#include "EncoderLibrary.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

std::mutex g_policyMutex;
Mp3SegmentPolicy g_policy;

constexpr double kValuesPerSecond = 88200; // 44100 Hz, two channels

// Where a segment after the first writes its frames until they are appended to the output: a file
// without a name beside the temporary WAV, gone as soon as it is closed, however the job ends.
std::FILE* OpenScratchFile(const std::string& wavPath) {
    const size_t slash = wavPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : wavPath.substr(0, slash + 1);
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) { // a file system without unnamed files
        std::string path = folder + "qlt_segment_XXXXXX";
        fd = mkostemp(path.data(), O_CLOEXEC);
        if (fd >= 0)
            unlink(path.c_str());
    }
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "w+b");
    if (!file)
        close(fd);
    return file;
}

bool AppendFile(std::FILE* to, std::FILE* from, std::vector<char>& buffer) {
    if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0)
        return false;
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), from)) > 0;)
        if (!WriteAll(to, buffer.data(), n))
            return false;
    return std::ferror(from) == 0;
}

uint64_t Overlap(uint64_t from, uint64_t to, uint64_t ownFrom, uint64_t ownTo) {
    const uint64_t begin = std::max(from, ownFrom);
    const uint64_t end = std::min(to, ownTo);
    return end > begin ? end - begin : 0;
}

struct Segment {
    BE_SEGMENT plan{};
    HBE_STREAM stream = 0;
    std::vector<int16_t> input;
    std::vector<uint8_t> output;
    CTempWavSource* source = nullptr;
    CTempWavSource ownSource;  // segments after the first read the WAV on their own
    std::FILE* sink = nullptr; // the output file for the first segment, a scratch file for the others
    bool ownsSink = false;
};

// Cores borrowed for the job's extra threads, given back once they have ended.
class CoreLoan {
public:
    explicit CoreLoan(int count) : m_count(count) {}
    ~CoreLoan() { Keep(0); }
    CoreLoan(const CoreLoan&) = delete;
    CoreLoan& operator=(const CoreLoan&) = delete;
    void Keep(int count) {
        if (count < m_count)
            ReturnCores(m_count - count);
        m_count = std::min(m_count, count);
    }

private:
    int m_count;
};

} // namespace

void SetMp3SegmentPolicy(const Mp3SegmentPolicy& policy) {
    std::lock_guard lock(g_policyMutex);
    g_policy = policy;
}

Mp3SegmentPolicy GetMp3SegmentPolicy() {
    std::lock_guard lock(g_policyMutex);
    return g_policy;
}

Mp3Written EncodeMp3InSegments(const Mp3Entries& api, const BE_CONFIG& config, CTempWavSource& source,
                               std::FILE*& file, const Mp3Fail& fail) {
    auto plan = reinterpret_cast<BEPLANSEGMENTS>(EncoderEntry(api.module, "bePlanSegments"));
    auto initSegment = reinterpret_cast<BEINITSEGMENTSTREAM>(EncoderEntry(api.module, "beInitSegmentStream"));
    auto join = reinterpret_cast<BEJOINSEGMENTSTREAMS>(EncoderEntry(api.module, "beJoinSegmentStreams"));
    if (!plan || !initSegment || !join)
        return Mp3Written::NotTried;

    const Mp3SegmentPolicy policy = GetMp3SegmentPolicy();
    const uint64_t values = source.FileSize() > 44 ? static_cast<uint64_t>(source.FileSize() - 44) / 2 : 0;
    const auto minValues = static_cast<uint64_t>(std::max(policy.minSeconds, 0.0) * kValuesPerSecond);
    const uint64_t byLength = minValues > 0 ? values / minValues : UINT32_MAX;
    const auto wanted = static_cast<int>(std::min<uint64_t>(byLength, static_cast<uint64_t>(CoreCount())));
    if (policy.forcedSegments <= 0 && wanted <= 1)
        return Mp3Written::NotTried;
    const int borrowed = policy.forcedSegments > 0 ? 0 : BorrowCores(wanted - 1);
    CoreLoan loan(borrowed);
    const uint32_t maxSegments = policy.forcedSegments > 0 ? static_cast<uint32_t>(policy.forcedSegments)
                                                           : 1u + static_cast<uint32_t>(borrowed);
    std::vector<BE_SEGMENT> plans(maxSegments);
    uint32_t count = 0;
    if (maxSegments <= 1 ||
        plan(&config, values, maxSegments, minValues, plans.data(), &count) != BE_ERR_SUCCESSFUL ||
        count <= 1)
        return Mp3Written::NotTried;
    loan.Keep(static_cast<int>(count) - 1);

    std::vector<Segment> segments(count);
    auto closeAll = [&] {
        for (Segment& s : segments) {
            if (s.stream != 0)
                api.close(s.stream);
            s.stream = 0;
            if (s.ownsSink)
                std::fclose(s.sink);
            s.ownsSink = false;
            s.ownSource.Close();
        }
    };
    const std::string& wavPath = CurrentJob().m_strTempWavPath;
    for (uint32_t i = 0; i < count; ++i) {
        Segment& s = segments[i];
        s.plan = plans[i];
        if (i == 0) {
            s.source = &source;
            s.sink = file;
            continue;
        }
        // Without room for a scratch file, or a second reader of the WAV, one stream does it all.
        s.source = &s.ownSource;
        s.sink = OpenScratchFile(wavPath);
        s.ownsSink = s.sink != nullptr;
        if (!s.sink || !s.ownSource.Open(wavPath) || !s.ownSource.Seek(2 * s.plan.qwReadFrom)) {
            closeAll();
            return Mp3Written::NotTried;
        }
    }
    std::vector<char> buffer;
    for (Segment& s : segments) {
        uint32_t samples = 0, bufferSize = 0;
        const BE_ERR err = initSegment(&config, &s.plan, &samples, &bufferSize, &s.stream);
        if (err != BE_ERR_SUCCESSFUL) {
            closeAll();
            fail(Format("Error opening encoding stream (%lu)", static_cast<unsigned long>(err)));
            return Mp3Written::Ended;
        }
        try {
            s.output.resize(bufferSize);
            s.input.resize(samples);
            buffer.resize(1 << 16);
        } catch (const std::bad_alloc&) {
            closeAll();
            fail("Out of memory");
            return Mp3Written::Ended;
        }
    }

    // Each segment on its own thread (the first on this one). A failure or a cancel request stops them
    // all after their current chunk; the first failure is the one reported.
    CSharedProgress progress(source.FileSize());
    std::atomic<bool> stop{false};
    std::mutex errorMutex;
    std::string error;
    auto failSegment = [&](const std::string& message) {
        std::lock_guard lock(errorMutex);
        if (error.empty())
            error = message;
        stop = true;
    };
    auto run = [&](Segment& s) {
        for (uint64_t pos = s.plan.qwReadFrom; pos < s.plan.qwReadTo && !stop.load();) {
            const auto want = static_cast<size_t>(std::min<uint64_t>(s.input.size(), s.plan.qwReadTo - pos));
            const size_t n = s.source->Read(s.input.data(), want);
            if (n == 0)
                break;
            uint32_t written = 0;
            const BE_ERR err =
                api.encode(s.stream, static_cast<uint32_t>(n), s.input.data(), s.output.data(), &written);
            if (err != BE_ERR_SUCCESSFUL)
                return failSegment(Format("beEncodeChunk() failed (%lu)", static_cast<unsigned long>(err)));
            if (!WriteAll(s.sink, s.output.data(), written))
                return failSegment("Output file write error");
            progress.AddConsumed(2 * Overlap(pos, pos + n, s.plan.qwOwnFrom, s.plan.qwOwnTo));
            pos += n;
            if (IsCancelRequested()) {
                stop = true;
                return;
            }
        }
        if (stop.load())
            return;
        uint32_t written = 0;
        const BE_ERR err = api.deinit(s.stream, s.output.data(), &written);
        if (err != BE_ERR_SUCCESSFUL)
            return failSegment(Format("beExitStream failed (%lu)", static_cast<unsigned long>(err)));
        if (!WriteAll(s.sink, s.output.data(), written))
            failSegment("Output file write error");
    };
    std::vector<std::thread> workers;
    workers.reserve(count - 1);
    try {
        for (uint32_t i = 1; i < count; ++i)
            workers.push_back(StartJobWorker([&run, &s = segments[i]] { run(s); }));
    } catch (const std::system_error&) {
        failSegment("Out of memory");
    }
    run(segments[0]);
    for (std::thread& worker : workers)
        worker.join();
    loan.Keep(0);

    if (!error.empty()) {
        closeAll();
        fail(error);
        return Mp3Written::Ended;
    }
    if (stop.load()) {
        // Cancelled: the output keeps what the first segment wrote so far, not flushed, without a tag.
        closeAll();
        source.Close();
        CloseOutput(file);
        CancelJob();
        return Mp3Written::Ended;
    }
    std::vector<HBE_STREAM> streams;
    for (const Segment& s : segments)
        streams.push_back(s.stream);
    const BE_ERR err = join(streams.data(), count);
    if (err != BE_ERR_SUCCESSFUL) {
        closeAll();
        fail(Format("beExitStream failed (%lu)", static_cast<unsigned long>(err)));
        return Mp3Written::Ended;
    }
    for (uint32_t i = 1; i < count; ++i) {
        if (!AppendFile(file, segments[i].sink, buffer)) {
            closeAll();
            fail("Output file write error");
            return Mp3Written::Ended;
        }
    }
    closeAll();
    return Mp3Written::All;
}
