#include "InfoFrame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <lame/lame.h>

namespace {

// The Xing/Info fields and the 36-byte LAME tag that follows them.
constexpr size_t kXingBytes = 4 + 4 + 4 + 4 + 100 + 4;
constexpr size_t kLameTagBytes = 36;

bool IsMpeg1(const InfoFrameFormat& f) {
    return f.mpegVersion == 1;
}

size_t SideInfoBytes(const InfoFrameFormat& f) {
    const bool mono = f.mode == 3;
    return IsMpeg1(f) ? (mono ? 17 : 32) : (mono ? 9 : 17);
}

int SampleRateIndex(const InfoFrameFormat& f) {
    static constexpr int kRates[3][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}, {11025, 12000, 8000}};
    if (f.mpegVersion < 0 || f.mpegVersion > 2)
        return -1;
    for (int i = 0; i < 3; ++i)
        if (kRates[f.mpegVersion][i] == f.sampleRate)
            return i;
    return -1;
}

size_t FrameBytes(const InfoFrameFormat& f, int kbps) {
    return static_cast<size_t>((IsMpeg1(f) ? 144000 : 72000) * kbps / f.sampleRate);
}

// The smallest bitrate whose frame holds the header, the side information and both tags.
int TagBitrateIndex(const InfoFrameFormat& f) {
    static constexpr int kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const size_t needed = 4 + SideInfoBytes(f) + kXingBytes + kLameTagBytes;
    for (int i = 1; i < 15; ++i)
        if (FrameBytes(f, IsMpeg1(f) ? kMpeg1[i] : kMpeg2[i]) >= needed)
            return i;
    return -1;
}

int TagBitrateKbps(const InfoFrameFormat& f, int index) {
    static constexpr int kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    return IsMpeg1(f) ? kMpeg1[index] : kMpeg2[index];
}

void PutBigEndian(uint8_t* p, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(value);
        value >>= 8;
    }
}

} // namespace

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    static const auto kTable = [] {
        std::array<uint16_t, 256> table{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            table[i] = static_cast<uint16_t>(c);
        }
        return table;
    }();
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

namespace {

// The CRC register is linear over GF(2): a 16x16 bit matrix (column i = image of bit i) moves it over
// zero bits, and squaring it doubles the distance.
uint16_t MatrixTimes(const uint16_t* matrix, uint16_t vector) {
    uint16_t result = 0;
    for (int i = 0; vector != 0; ++i, vector >>= 1)
        if (vector & 1)
            result ^= matrix[i];
    return result;
}

void MatrixSquare(uint16_t* square, const uint16_t* matrix) {
    for (int i = 0; i < 16; ++i)
        square[i] = MatrixTimes(matrix, matrix[i]);
}

} // namespace

uint16_t Crc16Combine(uint16_t crcA, uint16_t crcB, uint64_t bytesB) {
    uint16_t odd[16];
    uint16_t even[16];
    odd[0] = 0xA001; // one zero bit
    for (int i = 1; i < 16; ++i)
        odd[i] = static_cast<uint16_t>(1u << (i - 1));
    MatrixSquare(even, odd); // two zero bits
    MatrixSquare(odd, even); // four
    while (bytesB != 0) {
        MatrixSquare(even, odd); // a zero byte the first time round
        if (bytesB & 1)
            crcA = MatrixTimes(even, crcA);
        bytesB >>= 1;
        if (bytesB == 0)
            break;
        MatrixSquare(odd, even);
        if (bytesB & 1)
            crcA = MatrixTimes(odd, crcA);
        bytesB >>= 1;
    }
    return static_cast<uint16_t>(crcA ^ crcB);
}

void XingSeekTable::Add(int kbps) {
    m_sum += kbps;
    if (++m_seen < m_want)
        return;
    if (m_pos < kSize) {
        m_bag[m_pos++] = m_sum;
        m_seen = 0;
    }
    if (m_pos == kSize) {
        for (int i = 1; i < kSize; i += 2)
            m_bag[i / 2] = m_bag[i];
        m_want *= 2;
        m_pos /= 2;
    }
}

void XingSeekTable::Write(uint8_t* toc) const {
    if (m_pos <= 0)
        return;
    // LAME's arithmetic, float where it uses float, so the entries come out the same.
    for (int i = 1; i < 100; ++i) {
        const float j = static_cast<float>(i) / 100.0f;
        const int index = std::min(static_cast<int>(std::floor(j * static_cast<float>(m_pos))), m_pos - 1);
        const auto act = static_cast<float>(m_bag[index]);
        const auto sum = static_cast<float>(m_sum);
        toc[i] = static_cast<uint8_t>(std::min(static_cast<int>(256.0 * act / sum), 255));
    }
}

bool LameTagFitsFrame(const InfoFrameFormat& format, int bitrateKbps, bool crc) {
    // LAME's own rule: the tag frame of a constant-bitrate stream has the stream's bitrate.
    const size_t needed = 4 + SideInfoBytes(format) + (crc ? 2 : 0) + 156;
    return FrameBytes(format, bitrateKbps) >= needed;
}

size_t InfoFrameSize(const InfoFrameFormat& format) {
    if (SampleRateIndex(format) < 0)
        return 0;
    const int index = TagBitrateIndex(format);
    return index < 0 ? 0 : FrameBytes(format, TagBitrateKbps(format, index));
}

std::vector<uint8_t> InfoFramePlaceholder(const InfoFrameFormat& f) {
    const size_t size = InfoFrameSize(f);
    if (size == 0)
        return {};
    std::vector<uint8_t> frame(size, 0);
    static constexpr uint8_t kVersionBits[] = {0x2, 0x3, 0x0}; // MPEG-2, MPEG-1, MPEG-2.5
    frame[0] = 0xFF;
    // Layer III, no CRC: the frame carries no audio to protect.
    frame[1] = static_cast<uint8_t>(0xE0 | kVersionBits[f.mpegVersion] << 3 | 0x1 << 1 | 0x1);
    frame[2] =
        static_cast<uint8_t>(TagBitrateIndex(f) << 4 | SampleRateIndex(f) << 2 | (f.privateBit ? 1 : 0));
    frame[3] = static_cast<uint8_t>((f.mode & 3) << 6 | (f.copyright ? 0x08 : 0) | (f.original ? 0x04 : 0) |
                                    (f.emphasis & 3));
    return frame;
}

std::vector<uint8_t> BuildInfoFrame(const InfoFrameFormat& f, const InfoFrameContents& c) {
    std::vector<uint8_t> frame = InfoFramePlaceholder(f);
    if (frame.empty())
        return frame;
    uint8_t* p = frame.data() + 4 + SideInfoBytes(f);
    std::memcpy(p, "Info", 4);
    PutBigEndian(p + 4, 0x0F, 4); // frames, bytes, table of contents and quality present
    PutBigEndian(p + 8, c.audioFrames, 4);
    PutBigEndian(p + 12, c.streamBytes, 4);
    for (int i = 0; i < 100; ++i) // constant bitrate: byte positions grow evenly
        p[16 + i] = static_cast<uint8_t>(i * 256 / 100);
    PutBigEndian(p + 116, static_cast<uint32_t>(std::clamp(100 - c.quality, 0, 100)), 4);

    uint8_t* tag = p + kXingBytes;
    char version[10] = {};
    std::snprintf(version, sizeof(version), "LAME%-5s", get_lame_short_version());
    std::memcpy(tag, version, 9);
    tag[9] = 0x01; // tag revision 0, constant bitrate
    tag[10] = static_cast<uint8_t>(std::clamp(c.lowpassHz / 100, 0, 255));
    // Peak and ReplayGain (bytes 11..18) stay unset; flags and ATH type (19) stay 0.
    tag[20] = static_cast<uint8_t>(std::clamp(c.bitrateKbps, 0, 255));
    const auto delay = static_cast<uint32_t>(std::clamp(c.encoderDelay, 0, 4095));
    const auto padding = static_cast<uint32_t>(std::clamp(c.encoderPadding, 0, 4095));
    PutBigEndian(tag + 21, delay << 12 | padding, 3);
    static constexpr int kStereoModes[] = {1, 3, 2, 0}; // the tag's numbering of the header modes
    const int sourceRate = f.sampleRate <= 32000   ? 0
                           : f.sampleRate == 44100 ? 1
                           : f.sampleRate == 48000 ? 2
                                                   : 3;
    tag[24] = static_cast<uint8_t>(kStereoModes[f.mode & 3] << 2 | sourceRate << 6);
    PutBigEndian(tag + 28, c.streamBytes, 4);
    PutBigEndian(tag + 32, c.musicCrc, 2);
    const size_t crcEnd = static_cast<size_t>(tag + 34 - frame.data());
    PutBigEndian(tag + 34, Crc16(0, frame.data(), crcEnd), 2);
    return frame;
}
