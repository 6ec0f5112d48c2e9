#pragma once

#include "../encoder_common/SegmentPackets.h"
#include "Vorbis.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include <vorbis/vorbisenc.h>

// The bitrate window handed to libvorbis after the settings were made consistent (bits per second,
// -1 = no limit). A quality >= 0 selects quality-based VBR instead.
struct VorbisRatePlan {
    double quality = -1.0;
    long minBitrate = -1;
    long nominalBitrate = -1; // the setup libvorbis picks its encoding tables from
    long averageBitrate = -1; // the managed average; -1 = limits only
    long maxBitrate = -1;
};

// Turns the settings record's three words into a setup that libvorbis accepts (see Vorbis.h).
VorbisRatePlan PlanVorbisRates(long channels, long rate, uint32_t minBitrate, uint32_t nominalBitrate,
                               uint32_t maxBitrate);

// One Ogg Vorbis stream. Not thread-safe by itself: callers hold m_mutex.
class VorbisStream {
public:
    VorbisStream();
    ~VorbisStream();
    VorbisStream(const VorbisStream&) = delete;
    VorbisStream& operator=(const VorbisStream&) = delete;

    VB_ERR Open(const VB_CONFIG& config, const VB_COMMENT& comment);
    VB_ERR Write(uint32_t nValues, const int16_t* values, uint8_t* out, uint32_t* written);
    VB_ERR Close(uint8_t* out, uint32_t* written);

    // A stream for one segment (see vbEncOpenSegment); its parts are in VorbisSegment.cpp.
    VB_ERR OpenSegment(const VB_CONFIG& config, const VB_COMMENT& comment, const VB_SEGMENT& segment,
                       int scratchFd);
    VB_ERR EndSegment();
    // On the output stream: appends `next` (null: the end) after `last`, its last segment so far.
    VB_ERR JoinSegment(VorbisStream& last, VorbisStream* next, int outputFd, bool* met);

    uint32_t SamplesPerChunk() const { return m_samplesPerChunk; }
    uint32_t OutputBufferSize() const { return m_bufferSize; }

    std::mutex m_mutex;

private:
    struct Segment;
    bool Drain(bool endOfStream);
    // Puts an audio packet on the stream's pages.
    bool PagePacket(ogg_packet& packet);
    // A segment stream's packet: dropped, kept or held.
    bool TakeSegmentPacket(const ogg_packet& packet);
    // Whether a segment stream encodes the block just cut out, or only needed its size.
    bool EncodesBlock() const;
    // The code for a Drain that failed: a segment's scratch file may be at fault.
    VB_ERR DrainFailure() const;
    void AppendPage(const ogg_page& page);
    uint32_t Deliver(uint8_t* out);
    void Encode(const int16_t* frames, uint32_t frameCount);

    int m_channels = 0;
    uint32_t m_samplesPerChunk = 0;
    uint32_t m_bufferSize = 0;

    vorbis_info m_info{};
    vorbis_comment m_comment{};
    vorbis_dsp_state m_dsp{};
    vorbis_block m_block{};
    ogg_stream_state m_ogg{};
    bool m_infoReady = false;
    bool m_dspReady = false;
    bool m_blockReady = false;
    bool m_oggReady = false;
    bool m_commentReady = false;
    bool m_finished = false;
    bool m_failed = false;
    uint64_t m_audioPackets = 0;

    std::vector<int16_t> m_partialFrame; // values of a frame split across two calls
    std::vector<int16_t> m_joined;       // the split frame completed by the next call's values
    std::vector<uint8_t> m_pending;      // encoded bytes not yet handed out
    size_t m_pendingPos = 0;

    std::vector<uint8_t> m_setup;       // the codebooks header: joined streams must share it
    std::unique_ptr<Segment> m_segment; // null: the whole input in one stream
};

// A segment stream's state (VorbisSegment.cpp).
struct VorbisStream::Segment {
    Segment(int64_t keepFrom, int64_t holdFrom, int fd) : route(keepFrom, holdFrom, fd) {}
    SegmentPacketRoute route;
    int64_t start = 0;      // the input frame that is the stream's sample 0
    int64_t encodeFrom = 0; // blocks before it are only cut, not encoded
    bool writeFailed = false;
    // The join in progress on the output stream: the next segment's records, read as far as needed.
    const VorbisStream* joining = nullptr;
    std::unique_ptr<SegmentRecordReader> reader;
};
