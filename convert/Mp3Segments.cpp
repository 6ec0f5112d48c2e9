#include "Mp3Segments.h"

#include "EncoderLibrary.h"

#include <new>
#include <vector>

namespace {

class Mp3Segment : public ISegmentEncoder {
public:
    Mp3Segment(const Mp3Entries& api, HBE_STREAM stream, uint32_t samples, std::FILE* sink)
        : m_api(api), m_stream(stream), m_samples(samples), m_sink(sink) {}
    ~Mp3Segment() override { m_api.close(m_stream); }
    Mp3Segment(const Mp3Segment&) = delete;
    Mp3Segment& operator=(const Mp3Segment&) = delete;

    bool Allocate(uint32_t bufferSize) {
        try {
            m_output.resize(bufferSize);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    HBE_STREAM Stream() const { return m_stream; }

    size_t ChunkFrames() const override { return m_samples / 2; }

    std::string Encode(const void* frames, size_t count) override {
        uint32_t written = 0;
        const BE_ERR err = m_api.encode(m_stream, static_cast<uint32_t>(2 * count),
                                        static_cast<const int16_t*>(frames), m_output.data(), &written);
        if (err != BE_ERR_SUCCESSFUL)
            return Format("beEncodeChunk() failed (%lu)", static_cast<unsigned long>(err));
        return WriteAll(m_sink, m_output.data(), written) ? "" : "Output file write error" + SystemReason();
    }

    // A segment before the last writes nothing here: the module only checks that its frames are complete.
    std::string Done(bool) override {
        uint32_t written = 0;
        const BE_ERR err = m_api.deinit(m_stream, m_output.data(), &written);
        if (err != BE_ERR_SUCCESSFUL)
            return Format("beExitStream failed (%lu)", static_cast<unsigned long>(err));
        return WriteAll(m_sink, m_output.data(), written) ? "" : "Output file write error" + SystemReason();
    }

private:
    Mp3Entries m_api;
    HBE_STREAM m_stream;
    uint32_t m_samples;
    std::FILE* m_sink;
    std::vector<uint8_t> m_output;
};

class Mp3SegmentFormat : public ISegmentFormat {
public:
    Mp3SegmentFormat(const Mp3Entries& api, const BE_CONFIG& config, std::FILE* output, BEPLANSEGMENTS plan,
                     BEINITSEGMENTSTREAM initSegment, BEJOINSEGMENTSTREAMS join)
        : m_api(api), m_config(config), m_output(output), m_plan(plan), m_initSegment(initSegment),
          m_join(join) {}

    // The module plans by itself (warm-up frames after a start of the padding pattern).
    SegmentGrid Grid() const override { return {}; }

    std::vector<SegmentSpan> Plan(int64_t frames, int count, int64_t minFrames) const override {
        std::vector<BE_SEGMENT> plans(static_cast<size_t>(count));
        uint32_t made = 0;
        if (m_plan(&m_config, 2 * static_cast<uint64_t>(frames), static_cast<uint32_t>(count),
                   2 * static_cast<uint64_t>(minFrames), plans.data(), &made) != BE_ERR_SUCCESSFUL)
            made = 0;
        plans.resize(made);
        m_plans = plans;
        std::vector<SegmentSpan> spans;
        for (const BE_SEGMENT& p : plans)
            spans.push_back({static_cast<int64_t>(p.qwReadFrom / 2), static_cast<int64_t>(p.qwOwnFrom / 2),
                             static_cast<int64_t>(p.qwOwnTo / 2), static_cast<int64_t>(p.qwReadTo / 2),
                             p.dwFrames == 0});
        return spans;
    }

    std::unique_ptr<ISegmentEncoder> Open(int index, const SegmentSpan&, std::FILE* scratch,
                                          std::string* error) override {
        uint32_t samples = 0, bufferSize = 0;
        HBE_STREAM stream = 0;
        const BE_ERR err =
            m_initSegment(&m_config, &m_plans[static_cast<size_t>(index)], &samples, &bufferSize, &stream);
        if (err != BE_ERR_SUCCESSFUL) {
            *error = Format("Error opening encoding stream (%lu)", static_cast<unsigned long>(err));
            return nullptr;
        }
        auto segment = std::make_unique<Mp3Segment>(m_api, stream, samples, index == 0 ? m_output : scratch);
        if (!segment->Allocate(bufferSize)) {
            *error = "Out of memory";
            return nullptr;
        }
        m_streams.push_back(segment.get());
        return segment;
    }

    JoinResult Join(ISegmentEncoder&, ISegmentEncoder&, std::FILE* nextScratch, std::string* error) override {
        if (AppendScratch(m_output, nextScratch))
            return JoinResult::Joined;
        *error = "Output file write error" + SystemReason();
        return JoinResult::Failed;
    }

    // Complete: the module keeps the Info frame of the joined stream for beWriteVBRHeader. Otherwise the
    // output stays as written: not flushed, without a tag, as one encoder leaves a cancelled file.
    std::string Close(ISegmentEncoder&, bool complete) override {
        if (!complete)
            return "";
        std::vector<HBE_STREAM> streams;
        for (const Mp3Segment* s : m_streams)
            streams.push_back(s->Stream());
        const BE_ERR err = m_join(streams.data(), static_cast<uint32_t>(streams.size()));
        return err == BE_ERR_SUCCESSFUL
                   ? ""
                   : Format("beExitStream failed (%lu)", static_cast<unsigned long>(err));
    }

private:
    Mp3Entries m_api;
    BE_CONFIG m_config;
    std::FILE* m_output;
    BEPLANSEGMENTS m_plan;
    BEINITSEGMENTSTREAM m_initSegment;
    BEJOINSEGMENTSTREAMS m_join;
    mutable std::vector<BE_SEGMENT> m_plans;
    std::vector<const Mp3Segment*> m_streams;
};

} // namespace

std::unique_ptr<ISegmentFormat> MakeMp3SegmentFormat(const Mp3Entries& api, const BE_CONFIG& config,
                                                     std::FILE* output) {
    auto plan = reinterpret_cast<BEPLANSEGMENTS>(EncoderEntry(api.module, "bePlanSegments"));
    auto initSegment = reinterpret_cast<BEINITSEGMENTSTREAM>(EncoderEntry(api.module, "beInitSegmentStream"));
    auto join = reinterpret_cast<BEJOINSEGMENTSTREAMS>(EncoderEntry(api.module, "beJoinSegmentStreams"));
    if (!plan || !initSegment || !join)
        return nullptr;
    return std::make_unique<Mp3SegmentFormat>(api, config, output, plan, initSegment, join);
}
