#include "PcmFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The subformat GUID of WAVE_FORMAT_EXTENSIBLE after its first two bytes (the format tag).
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint64_t kMax32 = 0xFFFFFFFFu;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
void Put64(uint8_t* p, uint64_t v) {
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
uint32_t Get16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | Get16(p + 2) << 16;
}
uint64_t Get64(const uint8_t* p) {
    return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

} // namespace

void BuildPcmHeader(uint8_t (&out)[kPcmHeaderBytes], const PcmFormat& f, uint64_t dataBytes) {
    std::memset(out, 0, sizeof out);
    const uint64_t riffBytes = kPcmHeaderBytes - 8 + dataBytes + (dataBytes & 1);
    const bool rf64 = riffBytes > kMax32;
    std::memcpy(out, rf64 ? "RF64" : "RIFF", 4);
    Put32(out + 4, rf64 ? static_cast<uint32_t>(kMax32) : static_cast<uint32_t>(riffBytes));
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, rf64 ? "ds64" : "JUNK", 4);
    Put32(out + 16, 28);
    if (rf64) {
        Put64(out + 20, riffBytes);
        Put64(out + 28, dataBytes);
        Put64(out + 36, f.BlockAlign() > 0 ? dataBytes / static_cast<uint64_t>(f.BlockAlign()) : 0);
    }
    std::memcpy(out + 48, "fmt ", 4);
    Put32(out + 52, 40);
    uint8_t* fmt = out + 56;
    Put16(fmt, kFormatExtensible);
    Put16(fmt + 2, static_cast<uint32_t>(f.channels));
    Put32(fmt + 4, static_cast<uint32_t>(f.sampleRate));
    Put32(fmt + 8, static_cast<uint32_t>(f.sampleRate) * static_cast<uint32_t>(f.BlockAlign()));
    Put16(fmt + 12, static_cast<uint32_t>(f.BlockAlign()));
    Put16(fmt + 14, static_cast<uint32_t>(f.BytesPerSample() * 8));
    Put16(fmt + 16, 22);
    Put16(fmt + 18, static_cast<uint32_t>(f.BytesPerSample() * 8));
    Put32(fmt + 20, f.channelMask);
    Put16(fmt + 24, f.sample == PcmSample::Float32 ? kFormatFloat : kFormatPcm);
    std::memcpy(fmt + 26, kGuidTail, sizeof kGuidTail);
    std::memcpy(out + 96, "data", 4);
    Put32(out + 100, rf64 ? static_cast<uint32_t>(kMax32) : static_cast<uint32_t>(dataBytes));
}

bool ParseWavHeader(const uint8_t* head, size_t size, uint64_t fileSize, WavLayout& layout,
                    std::string& problem) {
    layout = WavLayout{};
    if (size < 12 || (std::memcmp(head, "RIFF", 4) != 0 && std::memcmp(head, "RF64", 4) != 0) ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        problem = "not a WAV file";
        return false;
    }
    uint64_t ds64Data = 0;
    bool haveFormat = false;
    for (uint64_t pos = 12; pos + 8 <= size;) {
        const uint8_t* chunk = head + pos;
        const uint64_t length = Get32(chunk + 4);
        if (std::memcmp(chunk, "ds64", 4) == 0 && length >= 24 && pos + 8 + 24 <= size) {
            ds64Data = Get64(chunk + 16);
        } else if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16 && pos + 8 + length <= size) {
            const uint8_t* f = chunk + 8;
            uint32_t tag = Get16(f);
            PcmFormat& pf = layout.format;
            pf.channels = static_cast<int>(Get16(f + 2));
            pf.sampleRate = static_cast<int>(Get32(f + 4));
            const uint32_t container = Get16(f + 14);
            uint32_t valid = container;
            if (tag == kFormatExtensible) {
                if (length < 40 || std::memcmp(f + 26, kGuidTail, sizeof kGuidTail) != 0) {
                    problem = "an unknown WAVE_FORMAT_EXTENSIBLE subformat";
                    return false;
                }
                valid = Get16(f + 18);
                pf.channelMask = Get32(f + 20);
                tag = Get16(f + 24);
            }
            if (tag == kFormatFloat && container == 32 && valid == 32)
                pf.sample = PcmSample::Float32;
            else if (tag == kFormatPcm && container == 16 && valid == 16)
                pf.sample = PcmSample::Int16;
            else if (tag == kFormatPcm && container == 24 && valid == 24)
                pf.sample = PcmSample::Int24;
            else if (tag == kFormatPcm && container == 32 && valid == 32)
                pf.sample = PcmSample::Int32;
            else {
                problem = "samples other than 16-bit, 32-bit or float PCM";
                return false;
            }
            if (pf.channels < 1 || pf.channels > kPcmMaxChannels || pf.sampleRate <= 0 ||
                Get16(f + 12) != static_cast<uint32_t>(pf.BlockAlign())) {
                problem = "an impossible sample format";
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                problem = "samples before their format";
                return false;
            }
            layout.dataOffset = pos + 8;
            uint64_t bytes = length == kMax32 && ds64Data > 0 ? ds64Data : length;
            const uint64_t available = fileSize > layout.dataOffset ? fileSize - layout.dataOffset : 0;
            if (bytes == 0 || bytes > available)
                bytes = available;
            const auto align = static_cast<uint64_t>(layout.format.BlockAlign());
            layout.dataBytes = bytes / align * align;
            return true;
        }
        pos += 8 + length + (length & 1);
    }
    problem = "no samples in the first part of the file";
    return false;
}
