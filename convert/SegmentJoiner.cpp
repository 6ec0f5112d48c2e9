#include "SegmentJoiner.h"
#include "PcmReader.h"

#include "EncoderLibrary.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

std::mutex g_policyMutex;
SegmentPolicy g_policy;

int64_t RoundDown(int64_t value, int64_t step) {
    return value / step * step;
}

// A file without a name in the folder (which ends with '/'), gone as soon as it is closed, however the job
// ends.
std::FILE* OpenScratchFile(const std::string& folder) {
    const std::string where = folder.empty() ? "./" : folder;
    int fd = open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) { // a file system without unnamed files
        std::string path = where + "qlt_segment_XXXXXX";
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

int64_t Overlap(int64_t from, int64_t to, int64_t ownFrom, int64_t ownTo) {
    return std::max<int64_t>(0, std::min(to, ownTo) - std::max(from, ownFrom));
}

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

class TempWavInput : public ISegmentInput {
public:
    TempWavInput(std::string path, int channels, int bytesPerSample, int64_t fileSize,
                 const CSoundShape* shape)
        : m_path(std::move(path)), m_frameBytes(static_cast<size_t>(channels * bytesPerSample)),
          m_fileSize(fileSize), m_shape(shape) {}
    int64_t Frames() const override {
        return m_fileSize > 44 ? (m_fileSize - 44) / static_cast<int64_t>(m_frameBytes) : 0;
    }
    int Rate() const override { return 44100; }
    size_t FrameBytes() const override { return m_frameBytes; }
    int64_t ProgressBytes() const override { return m_fileSize; }
    std::unique_ptr<Reader> OpenAt(int64_t frame) const override {
        auto reader = std::make_unique<WavReader>(m_frameBytes);
        if (!reader->source.Open(m_path, m_shape) ||
            !reader->source.Seek(static_cast<uint64_t>(frame) * m_frameBytes))
            return nullptr;
        return reader;
    }

private:
    struct WavReader : Reader {
        explicit WavReader(size_t frameBytes) : frameBytes(frameBytes) {}
        size_t Read(void* buffer, size_t frames) override {
            size_t got = 0;
            auto* bytes = static_cast<char*>(buffer);
            // Whole frames only: a short read is completed unless the file ends.
            while (got < frames * frameBytes) {
                const size_t n = source.ReadBytes(bytes + got, frames * frameBytes - got);
                if (n == 0)
                    break;
                got += n;
            }
            return got / frameBytes;
        }
        size_t frameBytes;
        CTempWavSource source;
    };

    std::string m_path;
    size_t m_frameBytes;
    int64_t m_fileSize;
    const CSoundShape* m_shape;
};

struct Segment {
    SegmentSpan span;
    std::unique_ptr<ISegmentEncoder> encoder;
    std::unique_ptr<ISegmentInput::Reader> reader;
    std::FILE* scratch = nullptr;
    std::vector<char> buffer;
    int64_t pos = 0;       // the input fed so far ends here
    bool finished = false; // its input reached its readTo and Done succeeded
};

} // namespace

void SetSegmentPolicy(const SegmentPolicy& policy) {
    std::lock_guard lock(g_policyMutex);
    g_policy = policy;
}

SegmentPolicy GetSegmentPolicy() {
    std::lock_guard lock(g_policyMutex);
    return g_policy;
}

bool AppendScratch(std::FILE* to, std::FILE* scratch) {
    if (std::fflush(scratch) != 0 || std::fseek(scratch, 0, SEEK_SET) != 0)
        return false;
    std::vector<char> buffer(1 << 16);
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), scratch)) > 0;)
        if (!WriteAll(to, buffer.data(), n))
            return false;
    return std::ferror(scratch) == 0;
}

std::unique_ptr<ISegmentInput> OpenTempWavInput(const std::string& path, int channels, int bytesPerSample,
                                                const CSoundShape* shape) {
    CTempWavSource probe;
    if (!probe.Open(path))
        return nullptr;
    return std::make_unique<TempWavInput>(path, channels, bytesPerSample, probe.FileSize(), shape);
}

namespace {

class PcmInput : public ISegmentInput {
public:
    PcmInput(std::string path, const CPcmReader& probe, const CSoundShape* shape)
        : m_path(std::move(path)), m_frames(probe.Frames()), m_rate(probe.Format().sampleRate),
          m_frameBytes(static_cast<size_t>(probe.DeliveredBytesPerFrame())), m_shape(shape) {}
    int64_t Frames() const override { return m_frames; }
    int Rate() const override { return m_rate; }
    size_t FrameBytes() const override { return m_frameBytes; }
    int64_t ProgressBytes() const override { return m_frames * static_cast<int64_t>(m_frameBytes); }
    std::unique_ptr<Reader> OpenAt(int64_t frame) const override {
        auto reader = std::make_unique<PcmReader>();
        if (!reader->source.Open(m_path, m_shape) || !reader->source.Seek(frame))
            return nullptr;
        return reader;
    }

private:
    struct PcmReader : Reader {
        size_t Read(void* buffer, size_t frames) override {
            // Whole frames only: a short read is completed unless the file ends.
            const auto frameBytes = static_cast<size_t>(source.DeliveredBytesPerFrame());
            size_t got = 0;
            while (got < frames) {
                const size_t n = source.Read(static_cast<char*>(buffer) + got * frameBytes, frames - got);
                if (n == 0)
                    break;
                got += n;
            }
            return got;
        }
        CPcmReader source;
    };

    std::string m_path;
    int64_t m_frames;
    int m_rate;
    size_t m_frameBytes;
    const CSoundShape* m_shape;
};

} // namespace

std::unique_ptr<ISegmentInput> OpenPcmInput(const std::string& path, const CSoundShape* shape) {
    CPcmReader probe;
    if (!probe.Open(path))
        return nullptr;
    return std::make_unique<PcmInput>(path, probe, shape);
}

std::vector<SegmentSpan> PlanSegments(const SegmentGrid& grid, int64_t frames, int count, int64_t minFrames) {
    const int64_t step = std::max<int64_t>(grid.step, 1);
    const int64_t warmup = (std::max<int64_t>(grid.warmup, 0) + step - 1) / step * step;
    int64_t wanted = std::max(count, 1);
    if (minFrames > 0)
        wanted = std::min(wanted, frames / minFrames);
    std::vector<int64_t> starts{0};
    for (int64_t i = 1; i < wanted; ++i) {
        const int64_t start = RoundDown(frames * i / wanted + step / 2, step);
        if (start > starts.back() && start < frames)
            starts.push_back(start);
    }
    std::vector<SegmentSpan> spans;
    for (size_t i = 0; i < starts.size(); ++i) {
        const bool last = i + 1 == starts.size();
        SegmentSpan s;
        s.ownFrom = starts[i];
        s.readFrom = std::max<int64_t>(0, s.ownFrom - warmup);
        s.ownTo = last ? frames : starts[i + 1];
        s.readTo = last ? frames : std::min(frames, s.ownTo + std::max<int64_t>(grid.tail, 0));
        s.last = last;
        spans.push_back(s);
    }
    return spans;
}

SegmentsEnd EncodeInSegments(ISegmentFormat& format, const ISegmentInput& input, std::string* error) {
    error->clear();
    const SegmentPolicy policy = GetSegmentPolicy();
    const int64_t frames = input.Frames();
    const auto minFrames = std::max(static_cast<int64_t>(std::max(policy.minSeconds, 0.0) * input.Rate()),
                                    policy.forcedSegments > 0 ? 0 : format.Grid().minFrames);
    const int64_t byLength = minFrames > 0 ? frames / minFrames : INT32_MAX;
    const auto wanted = static_cast<int>(std::min<int64_t>(byLength, CoreCount()));
    if (policy.forcedSegments <= 0 && wanted <= 1)
        return SegmentsEnd::NotTried;
    const int borrowed = policy.forcedSegments > 0 ? 0 : BorrowCores(wanted - 1);
    CoreLoan loan(borrowed);
    const int count = policy.forcedSegments > 0 ? policy.forcedSegments : 1 + borrowed;
    if (count <= 1)
        return SegmentsEnd::NotTried;
    const std::vector<SegmentSpan> spans = format.Plan(frames, count, minFrames);
    if (spans.size() <= 1)
        return SegmentsEnd::NotTried;
    loan.Keep(static_cast<int>(spans.size()) - 1);

    const std::string& wav = CurrentJob().m_strTempWavPath;
    const std::string scratchFolder = wav.substr(0, wav.rfind('/') + 1);
    std::vector<Segment> segments(spans.size());
    // Encoders first: a format's stream may use its scratch file until it is released.
    auto release = [&] {
        for (Segment& s : segments) {
            s.encoder.reset();
            s.reader.reset();
            if (s.scratch)
                std::fclose(s.scratch);
            s.scratch = nullptr;
        }
    };
    // Without room for scratch files, or a second reader of the input, one stream does it all.
    for (size_t i = 0; i < segments.size(); ++i) {
        Segment& s = segments[i];
        s.span = spans[i];
        s.pos = s.span.readFrom;
        s.reader = input.OpenAt(s.span.readFrom);
        if (i > 0)
            s.scratch = OpenScratchFile(scratchFolder);
        if (!s.reader || (i > 0 && !s.scratch)) {
            release();
            return SegmentsEnd::NotTried;
        }
    }
    for (size_t i = 0; i < segments.size(); ++i) {
        Segment& s = segments[i];
        s.encoder = format.Open(static_cast<int>(i), s.span, s.scratch, error);
        if (!s.encoder) {
            release();
            return error->empty() ? SegmentsEnd::NotTried : SegmentsEnd::Failed;
        }
        s.buffer.resize(std::max<size_t>(s.encoder->ChunkFrames(), 1) * input.FrameBytes());
    }

    // Each segment on its own thread (the first on this one). A failure or a cancel request stops them all
    // after their current chunk; the first failure is the one reported.
    CSharedProgress progress(input.ProgressBytes());
    std::atomic<bool> stop{false};
    std::mutex errorMutex;
    auto failSegment = [&](const std::string& message) {
        std::lock_guard lock(errorMutex);
        if (error->empty())
            *error = message;
        stop = true;
    };
    auto observe = [&](const Segment& s, bool finished) {
        if (!policy.observe)
            return true;
        const std::string message = policy.observe(static_cast<size_t>(&s - segments.data()), finished);
        if (!message.empty())
            failSegment(message);
        return message.empty();
    };
    // Feeds the segment's encoder up to `to`; false when it stopped early (failure or cancel).
    auto feed = [&](Segment& s, int64_t to, bool countProgress) {
        while (s.pos < to && !stop.load()) {
            const auto want = static_cast<size_t>(
                std::min<int64_t>(to - s.pos, static_cast<int64_t>(s.buffer.size() / input.FrameBytes())));
            const size_t n = s.reader->Read(s.buffer.data(), want);
            if (n == 0) {
                failSegment("The temporary file ended before its last sample.");
                return false;
            }
            if (const std::string err = s.encoder->Encode(s.buffer.data(), n); !err.empty()) {
                failSegment(err);
                return false;
            }
            if (countProgress)
                progress.AddConsumed(static_cast<uint64_t>(
                    Overlap(s.pos, s.pos + static_cast<int64_t>(n), s.span.ownFrom, s.span.ownTo) *
                    static_cast<int64_t>(input.FrameBytes())));
            s.pos += static_cast<int64_t>(n);
            if (!observe(s, false))
                return false;
            if (IsCancelRequested()) {
                stop = true;
                return false;
            }
        }
        return !stop.load();
    };
    auto run = [&](Segment& s) {
        if (!feed(s, s.span.readTo, true))
            return;
        if (const std::string err = s.encoder->Done(s.span.readTo >= frames); !err.empty())
            return failSegment(err);
        s.finished = observe(s, true);
    };
    std::vector<std::thread> workers;
    workers.reserve(segments.size() - 1);
    try {
        for (size_t i = 1; i < segments.size(); ++i)
            workers.push_back(StartJobWorker([&run, &s = segments[i]] { run(s); }));
    } catch (const std::system_error&) {
        failSegment("Out of memory");
    }
    run(segments[0]);
    for (std::thread& worker : workers)
        worker.join();
    loan.Keep(0);

    // Joined in order. After a cancel or a failure: only while the segment before finished, and nothing more
    // is encoded for a join.
    const bool allEnded = !stop.load();
    size_t last = 0;
    for (size_t next = 1; next < segments.size() && segments[last].finished;) {
        Segment& a = segments[last];
        std::string message;
        const JoinResult joined =
            format.Join(*a.encoder, *segments[next].encoder, segments[next].scratch, &message);
        if (joined == JoinResult::Failed) {
            failSegment(message);
            break;
        }
        if (joined == JoinResult::Joined) {
            last = next++;
            continue;
        }
        if (!allEnded || stop.load())
            break;
        // The two do not meet yet: the segment before goes on into the next one's part.
        const int64_t to =
            std::min(frames, a.pos + static_cast<int64_t>(a.buffer.size() / input.FrameBytes()));
        a.finished = feed(a, to, false);
        if (!a.finished)
            break;
        while (next < segments.size() && a.pos >= segments[next].span.ownTo)
            ++next; // covered by the one before: dropped
        if (a.pos >= frames) {
            if (const std::string err = a.encoder->Done(true); !err.empty()) {
                failSegment(err);
                break;
            }
            next = segments.size();
        }
    }
    const bool complete = allEnded && !stop.load() && segments[last].finished &&
                          (last + 1 == segments.size() || segments[last].pos >= frames);
    if (const std::string err = format.Close(*segments[last].encoder, complete); !err.empty())
        failSegment(err);
    release();
    if (!error->empty())
        return SegmentsEnd::Failed;
    return complete ? SegmentsEnd::All : SegmentsEnd::Cancelled;
}
