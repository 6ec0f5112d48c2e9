#include "OggSegments.h"

#include "EncoderLibrary.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

struct OggEntries {
    VBSEGMENTGRID grid;
    VBENCOPENSEGMENT open;
    VBENCWRITE write;
    VBENCENDSEGMENT end;
    VBENCJOINSEGMENT join;
    VBENCCLOSE close;
};

std::string Failure(VB_ERR err) {
    return err == VB_ERR_WRITE_FAULT ? "Output file write error" + SystemReason()
                                     : Format("vbEncWrite() failed (%lu)", static_cast<unsigned long>(err));
}

class OggSegment : public ISegmentEncoder {
public:
    OggSegment(const OggEntries& api, HVB_STREAM stream, uint32_t samples, uint32_t channels,
               std::FILE* output)
        : m_api(api), m_stream(stream), m_samples(samples), m_channels(channels), m_output(output) {}
    ~OggSegment() override {
        uint32_t written = 0;
        m_api.close(m_stream, m_buffer.data(), &written); // a segment's stream hands out nothing here
    }
    OggSegment(const OggSegment&) = delete;
    OggSegment& operator=(const OggSegment&) = delete;

    bool Allocate(uint32_t bufferSize) {
        try {
            m_buffer.resize(std::max<uint32_t>(bufferSize, 1));
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    HVB_STREAM Stream() const { return m_stream; }

    size_t ChunkFrames() const override { return m_samples / m_channels; }

    std::string Encode(const void* frames, size_t count) override {
        uint32_t written = 0;
        const VB_ERR err = m_api.write(m_stream, static_cast<uint32_t>(count * m_channels),
                                       static_cast<const int16_t*>(frames), m_buffer.data(), &written);
        if (err != VB_ERR_SUCCESSFUL)
            return Failure(err);
        // Only the first segment hands out bytes: the file's.
        return written == 0 || WriteAll(m_output, m_buffer.data(), written)
                   ? ""
                   : "Output file write error" + SystemReason();
    }

    std::string Done(bool atEnd) override {
        const VB_ERR err = atEnd ? m_api.end(m_stream) : VB_ERR_SUCCESSFUL;
        return err == VB_ERR_SUCCESSFUL ? "" : Failure(err);
    }

private:
    OggEntries m_api;
    HVB_STREAM m_stream;
    uint32_t m_samples;
    uint32_t m_channels;
    std::FILE* m_output;
    std::vector<uint8_t> m_buffer;
};

class OggSegmentFormat : public ISegmentFormat {
public:
    OggSegmentFormat(const OggEntries& api, const VB_CONFIG& config, const VB_COMMENT& comment,
                     std::FILE* output, const VB_SEGMENT_GRID& grid)
        : m_api(api), m_config(config), m_comment(comment), m_output(output),
          m_encodeWarmup(static_cast<int64_t>(grid.qwEncodeWarmup)),
          m_grid(SegmentGrid::Of(grid.qwStep, grid.qwWarmup, grid.qwTail, grid.qwMinFrames)) {}

    SegmentGrid Grid() const override { return m_grid; }

    std::unique_ptr<ISegmentEncoder> Open(int index, const SegmentSpan& span, std::FILE* scratch,
                                          std::string* error) override {
        VB_SEGMENT segment{};
        segment.qwReadFrom = static_cast<uint64_t>(span.readFrom);
        segment.qwEncodeFrom =
            index == 0 ? 0 : static_cast<uint64_t>(std::max(span.readFrom, span.ownFrom - m_encodeWarmup));
        segment.qwOwnFrom = static_cast<uint64_t>(span.ownFrom);
        segment.qwOwnTo = span.last ? 0 : static_cast<uint64_t>(span.ownTo);
        uint32_t samples = 0, bufferSize = 0;
        HVB_STREAM stream = 0;
        if (m_api.open(&m_config, &m_comment, &segment, scratch ? fileno(scratch) : -1, &samples, &bufferSize,
                       &stream) != VB_ERR_SUCCESSFUL) {
            *error = "Failed to open the encoding stream.";
            return nullptr;
        }
        auto encoder = std::make_unique<OggSegment>(m_api, stream, samples, m_config.dwChannels, m_output);
        if (!encoder->Allocate(bufferSize)) {
            *error = "Out of memory";
            return nullptr;
        }
        if (index == 0)
            m_first = encoder.get();
        return encoder;
    }

    JoinResult Join(ISegmentEncoder& last, ISegmentEncoder& next, std::FILE*, std::string* error) override {
        uint32_t met = 0;
        if (!JoinPages(static_cast<OggSegment&>(last), static_cast<OggSegment*>(&next), &met, error))
            return JoinResult::Failed;
        return met ? JoinResult::Joined : JoinResult::NeedInput;
    }

    // The last segment's held packets and the last page; the end-of-stream mark only when the last segment
    // ended the stream.
    std::string Close(ISegmentEncoder& last, bool) override {
        uint32_t met = 0;
        std::string error;
        JoinPages(static_cast<OggSegment&>(last), nullptr, &met, &error);
        return error;
    }

private:
    // The module writes the pages at the file's end: whatever this side buffered goes first.
    bool JoinPages(OggSegment& last, OggSegment* next, uint32_t* met, std::string* error) {
        VB_ERR err = VB_ERR_WRITE_FAULT;
        if (std::fflush(m_output) == 0)
            err = m_api.join(m_first->Stream(), last.Stream(), next ? next->Stream() : 0, fileno(m_output),
                             met);
        if (std::fseek(m_output, 0, SEEK_END) != 0 && err == VB_ERR_SUCCESSFUL)
            err = VB_ERR_WRITE_FAULT;
        if (err == VB_ERR_SUCCESSFUL)
            return true;
        *error = err == VB_ERR_WRITE_FAULT ? "Output file write error" + SystemReason()
                                           : std::string("Failed to close the encoder stream!");
        return false;
    }

    OggEntries m_api;
    VB_CONFIG m_config;
    VB_COMMENT m_comment;
    std::FILE* m_output;
    int64_t m_encodeWarmup;
    SegmentGrid m_grid;
    OggSegment* m_first = nullptr;
};

} // namespace

std::unique_ptr<ISegmentFormat> MakeOggSegmentFormat(void* module, const VB_CONFIG& config,
                                                     const VB_COMMENT& comment, std::FILE* output) {
    OggEntries api{reinterpret_cast<VBSEGMENTGRID>(EncoderEntry(module, "vbSegmentGrid")),
                   reinterpret_cast<VBENCOPENSEGMENT>(EncoderEntry(module, "vbEncOpenSegment")),
                   reinterpret_cast<VBENCWRITE>(EncoderEntry(module, "vbEncWrite")),
                   reinterpret_cast<VBENCENDSEGMENT>(EncoderEntry(module, "vbEncEndSegment")),
                   reinterpret_cast<VBENCJOINSEGMENT>(EncoderEntry(module, "vbEncJoinSegment")),
                   reinterpret_cast<VBENCCLOSE>(EncoderEntry(module, "vbEncClose"))};
    VB_SEGMENT_GRID grid{};
    if (!api.grid || !api.open || !api.write || !api.end || !api.join || !api.close ||
        api.grid(&config, &grid) != VB_ERR_SUCCESSFUL)
        return nullptr;
    return std::make_unique<OggSegmentFormat>(api, config, comment, output, grid);
}
