#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An "Info" frame with a LAME tag for constant-bitrate streams whose frames are too small for LAME's
// own tag (stereo up to 56 kbps, mono up to 48 kbps at 44.1 kHz): LAME then writes none, and decoders
// would play the encoder delay and padding as silence. The frame takes a bitrate large enough for the
// tag; frames of another bitrate before the audio are normal for Xing/Info frames.
struct InfoFrameFormat {
    int mpegVersion = 1; // as lame_get_version: 0 MPEG-2, 1 MPEG-1, 2 MPEG-2.5
    int sampleRate = 44100;
    int mode = 0; // header channel mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool privateBit = false;
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
};

struct InfoFrameContents {
    uint32_t audioFrames = 0;
    uint32_t streamBytes = 0; // all frames, this one included
    int encoderDelay = 0;
    int encoderPadding = 0;
    int bitrateKbps = 0;
    int lowpassHz = 0;
    int quality = 0;
    uint16_t musicCrc = 0; // CRC-16 of the audio frames
};

// The frame size in bytes, or 0 when the sample rate has no MPEG Layer III frame.
size_t InfoFrameSize(const InfoFrameFormat& format);
// The frame as written before the audio: its header followed by zeros.
std::vector<uint8_t> InfoFramePlaceholder(const InfoFrameFormat& format);
std::vector<uint8_t> BuildInfoFrame(const InfoFrameFormat& format, const InfoFrameContents& contents);

// Whether LAME's own tag fits a frame of a constant-bitrate stream (LAME leaves it out otherwise).
bool LameTagFitsFrame(const InfoFrameFormat& format, int bitrateKbps, bool crc);

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size);
// The CRC-16 of A followed by B, from the CRC-16 of each (both started at 0) and the length of B.
uint16_t Crc16Combine(uint16_t crcA, uint16_t crcB, uint64_t bytesB);

// The table of contents of a Xing frame as LAME computes it: sums of the frames' bitrates, sampled at
// intervals that double whenever the samples fill up. Fed frame by frame, it gives a joined stream the
// table that one encoder would have written for the same frames.
class XingSeekTable {
public:
    void Add(int kbps);
    void Write(uint8_t* toc) const; // 100 entries; the first stays as it is (0)

private:
    static constexpr int kSize = 400;
    int m_bag[kSize] = {};
    int m_sum = 0;
    int m_seen = 0;
    int m_want = 1;
    int m_pos = 0;
};
