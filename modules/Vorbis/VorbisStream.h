#pragma once

#include "Vorbis.h"

#include <cstdint>
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
    VorbisStream() = default;
    ~VorbisStream();
    VorbisStream(const VorbisStream&) = delete;
    VorbisStream& operator=(const VorbisStream&) = delete;

    VB_ERR Open(const VB_CONFIG& config, const VB_COMMENT& comment);
    VB_ERR Write(uint32_t nValues, const int16_t* values, uint8_t* out, uint32_t* written);
    VB_ERR Close(uint8_t* out, uint32_t* written);

    uint32_t SamplesPerChunk() const { return m_samplesPerChunk; }
    uint32_t OutputBufferSize() const { return m_bufferSize; }

    std::mutex m_mutex;

private:
    bool Drain(bool endOfStream);
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
};
