#pragma once

#include "InfoFrame.h"
#include "lame_enc.h"

#include <cstdint>
#include <lame/lame.h>
#include <memory>
#include <mutex>
#include <vector>

// What beWriteVBRHeader needs of a flushed stream: the final Xing/Info frame, and enough of the
// stream's bytes to recognise its file.
struct VbrHeaderRecord {
    std::vector<uint8_t> tagFrame;
    uint64_t streamBytes = 0;
    std::vector<uint8_t> afterTag; // the stream's bytes right after the placeholder frame
};

// What a segment stream keeps of its output: its own frames, counted for the joined stream's Info frame.
struct SegmentOutput {
    uint32_t skip = 0;             // warm-up frames to drop
    uint32_t keep = 0;             // frames to keep after them; 0 = to the end of the stream
    bool keepsPlaceholder = false; // the segment at the start of the stream
    bool placeholderAhead = false; // the stream's next frame is the Info frame's placeholder
    uint32_t seen = 0;             // audio frames of the stream so far
    std::vector<uint8_t> pending;  // an incomplete frame
    uint64_t bytes = 0;            // audio frames kept
    uint16_t crc = 0;              // of the audio frames kept
    std::vector<uint16_t> kbps;    // of each audio frame kept

    // Compacts out[0..*size) to the frames kept; an incomplete frame waits for the next call.
    BE_ERR Filter(uint8_t* out, size_t* size, size_t capacity);
    uint32_t Frames() const { return static_cast<uint32_t>(kbps.size()); }
};

// One MP3 stream. Not thread-safe by itself: callers hold m_mutex.
class LameStream {
public:
    LameStream() = default;
    ~LameStream();
    LameStream(const LameStream&) = delete;
    LameStream& operator=(const LameStream&) = delete;

    BE_ERR Open(const BE_CONFIG& config);
    // A stream for one planned segment of the input.
    BE_ERR OpenSegment(const BE_CONFIG& config, const BE_SEGMENT& segment);
    BE_ERR Encode(uint32_t nSamples, const int16_t* samples, uint8_t* out, uint32_t* written);
    // On success, *record holds the stream's Xing/Info frame when the record asked for one.
    BE_ERR Flush(uint8_t* out, uint32_t* written, VbrHeaderRecord* record, bool* hasRecord);

    // The Xing/Info frame of the segments' streams joined in order (each flushed, each locked by the
    // caller); false in *hasRecord when the streams write none.
    static BE_ERR JoinSegments(const std::vector<LameStream*>& segments, VbrHeaderRecord* record,
                               bool* hasRecord);

    uint32_t SamplesPerChunk() const { return m_samplesPerChunk; }
    uint32_t OutputBufferSize() const { return m_bufferSize; }

    std::mutex m_mutex;

private:
    // Accounts for what one LAME call put after the placeholder room.
    BE_ERR TakeOutput(uint8_t* out, size_t room, int result, uint32_t* written);
    void Track(const uint8_t* out, size_t count);
    // Puts this module's placeholder in front of the first output when it writes the Info frame itself;
    // returns its size.
    size_t PlaceholderRoom(uint8_t* out);

    lame_global_flags* m_lame = nullptr;
    bool m_writeTag = false;
    bool m_ownInfoFrame = false;    // LAME's tag does not fit; this module writes an Info frame
    bool m_lamePlaceholder = false; // LAME's own output starts with its tag frame's placeholder
    bool m_placeholderWritten = false;
    InfoFrameFormat m_infoFormat;
    uint16_t m_musicCrc = 0;
    bool m_flushed = false;
    uint32_t m_samplesPerChunk = 0;
    uint32_t m_bufferSize = 0;
    bool m_hasOddValue = false;
    int16_t m_oddValue = 0;
    std::vector<int16_t> m_samples; // a chunk with the odd value of the previous call in front
    uint64_t m_streamBytes = 0;
    std::vector<uint8_t> m_head; // the stream's first bytes, for VbrHeaderRecord
    std::unique_ptr<SegmentOutput> m_segment;
    uint32_t m_firstFrame = 0; // of a segment stream, in the joined stream
};

// The segments of an input of `values` 16-bit values (bePlanSegments); the record was checked.
BE_ERR PlanSegments(const BE_CONFIG& config, uint64_t values, uint32_t maxSegments, uint64_t minValues,
                    std::vector<BE_SEGMENT>* segments);

// Settings checks and the mapping onto LAME, kept apart from the stream so that the record's rules read
// in one place. Returns BE_ERR_SUCCESSFUL or the code for the first field out of range.
BE_ERR ApplyConfig(lame_global_flags* lame, const BE_CONFIG& config);
