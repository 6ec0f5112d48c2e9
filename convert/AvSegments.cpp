#include "AvSegments.h"

#include "EncoderLibrary.h"

namespace {

struct AvEntries {
    AESEGMENTGRID grid;
    AEENCOPENSEGMENT open;
    AEENCWRITE write;
    AEENCENDSEGMENT end;
    AEENCJOINSEGMENT join;
    AEENCCLOSE close;
};

class AvSegment : public ISegmentEncoder {
public:
    AvSegment(const AvEntries& api, HAE_STREAM stream, uint32_t channels,
              const std::function<std::string(AE_ERR)>& failure)
        : m_api(api), m_stream(stream), m_channels(channels), m_failure(failure) {}
    ~AvSegment() override { Close(); }
    AvSegment(const AvSegment&) = delete;
    AvSegment& operator=(const AvSegment&) = delete;

    HAE_STREAM Stream() const { return m_stream; }
    AE_ERR Close() {
        const AE_ERR err = m_stream != 0 ? m_api.close(m_stream) : AE_ERR_SUCCESSFUL;
        m_stream = 0;
        return err;
    }

    size_t ChunkFrames() const override { return 8192; }

    std::string Encode(const void* frames, size_t count) override {
        const AE_ERR err = m_api.write(m_stream, static_cast<uint32_t>(count * m_channels), frames);
        return err == AE_ERR_SUCCESSFUL ? "" : m_failure(err);
    }

    std::string Done(bool atEnd) override {
        const AE_ERR err = atEnd ? m_api.end(m_stream) : AE_ERR_SUCCESSFUL;
        return err == AE_ERR_SUCCESSFUL ? "" : m_failure(err);
    }

private:
    AvEntries m_api;
    HAE_STREAM m_stream;
    uint32_t m_channels;
    std::function<std::string(AE_ERR)> m_failure;
};

class AvSegmentFormat : public ISegmentFormat {
public:
    AvSegmentFormat(const AvEntries& api, const AE_CONFIG& config, const AE_TAGS& tags,
                    std::string outputPath, const AE_SEGMENT_GRID& grid,
                    std::function<std::string(AE_ERR)> failure)
        : m_api(api), m_config(config), m_tags(tags), m_path(std::move(outputPath)),
          m_failure(std::move(failure)),
          m_grid(SegmentGrid::Of(grid.qwStep, grid.qwWarmup, grid.qwTail, grid.qwMinFrames)) {}

    SegmentGrid Grid() const override { return m_grid; }

    std::unique_ptr<ISegmentEncoder> Open(int index, const SegmentSpan& span, std::FILE* scratch,
                                          std::string* error) override {
        AE_SEGMENT segment{};
        segment.qwReadFrom = static_cast<uint64_t>(span.readFrom);
        segment.qwOwnFrom = static_cast<uint64_t>(span.ownFrom);
        segment.qwOwnTo = span.last ? 0 : static_cast<uint64_t>(span.ownTo);
        HAE_STREAM stream = 0;
        const AE_ERR err =
            m_api.open(&m_config, &m_tags, m_path.c_str(), &segment, scratch ? fileno(scratch) : -1, &stream);
        if (err != AE_ERR_SUCCESSFUL) {
            *error = m_failure(err);
            return nullptr;
        }
        auto segmentEncoder = std::make_unique<AvSegment>(m_api, stream, m_config.dwChannels, m_failure);
        if (index == 0)
            m_output = segmentEncoder.get();
        return segmentEncoder;
    }

    JoinResult Join(ISegmentEncoder& last, ISegmentEncoder& next, std::FILE*, std::string* error) override {
        uint32_t met = 0;
        const AE_ERR err = m_api.join(m_output->Stream(), static_cast<AvSegment&>(last).Stream(),
                                      static_cast<AvSegment&>(next).Stream(), &met);
        if (err != AE_ERR_SUCCESSFUL) {
            *error = m_failure(err);
            return JoinResult::Failed;
        }
        return met ? JoinResult::Joined : JoinResult::NeedInput;
    }

    // What the last segment holds goes in as well: the rest of its tail, or its end.
    std::string Close(ISegmentEncoder& last, bool) override {
        uint32_t met = 0;
        AE_ERR err = m_api.join(m_output->Stream(), static_cast<AvSegment&>(last).Stream(), 0, &met);
        const AE_ERR closed = m_output->Close();
        if (err == AE_ERR_SUCCESSFUL || closed == AE_ERR_UNFINISHED) // the file's own end comes first
            err = closed;
        return err == AE_ERR_SUCCESSFUL ? "" : m_failure(err);
    }

private:
    AvEntries m_api;
    AE_CONFIG m_config;
    AE_TAGS m_tags;
    std::string m_path;
    std::function<std::string(AE_ERR)> m_failure;
    SegmentGrid m_grid;
    AvSegment* m_output = nullptr;
};

} // namespace

std::unique_ptr<ISegmentFormat> MakeAvSegmentFormat(void* module, const AE_CONFIG& config,
                                                    const AE_TAGS& tags, const std::string& outputPath,
                                                    std::function<std::string(AE_ERR)> failure) {
    AvEntries api{reinterpret_cast<AESEGMENTGRID>(EncoderEntry(module, "aeSegmentGrid")),
                  reinterpret_cast<AEENCOPENSEGMENT>(EncoderEntry(module, "aeEncOpenSegment")),
                  reinterpret_cast<AEENCWRITE>(EncoderEntry(module, "aeEncWrite")),
                  reinterpret_cast<AEENCENDSEGMENT>(EncoderEntry(module, "aeEncEndSegment")),
                  reinterpret_cast<AEENCJOINSEGMENT>(EncoderEntry(module, "aeEncJoinSegment")),
                  reinterpret_cast<AEENCCLOSE>(EncoderEntry(module, "aeEncClose"))};
    AE_SEGMENT_GRID grid{};
    if (!api.grid || !api.open || !api.write || !api.end || !api.join || !api.close ||
        api.grid(&config, &grid) != AE_ERR_SUCCESSFUL)
        return nullptr;
    return std::make_unique<AvSegmentFormat>(api, config, tags, outputPath, grid, std::move(failure));
}
