// Encodes a canonical WAV (44-byte header, 16-bit stereo 44.1 kHz) with Vorbis.so the way the program
// does: from byte 44 on, in chunks of the samples per chunk the module asks for.
// Usage: ogg_bench_driver <Vorbis.so> <in.wav> <out.ogg> <min> <nominal> <max>   (bits/s, 0 = Default)
#include "Vorbis/Vorbis.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s module in.wav out.ogg min nominal max\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto open = module ? reinterpret_cast<VBENCOPEN>(dlsym(module, "vbEncOpen")) : nullptr;
    auto write = module ? reinterpret_cast<VBENCWRITE>(dlsym(module, "vbEncWrite")) : nullptr;
    auto close = module ? reinterpret_cast<VBENCCLOSE>(dlsym(module, "vbEncClose")) : nullptr;
    if (!open || !write || !close) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    FILE* in = std::fopen(argv[2], "rb");
    FILE* out = std::fopen(argv[3], "wb");
    char header[44];
    if (!in || !out || std::fread(header, 1, sizeof header, in) != sizeof header) {
        std::fprintf(stderr, "cannot open the files\n");
        return 1;
    }
    if (std::memcmp(header + 36, "data", 4) != 0) {
        std::fprintf(stderr, "%s has no 44-byte header\n", argv[2]);
        return 1;
    }
    VB_CONFIG config;
    std::memset(&config, 0, sizeof config);
    config.dwConfig = VB_CONFIG_VORBIS;
    config.dwStructSize = sizeof config;
    config.dwChannels = 2;
    config.dwSampleRate = 44100;
    config.dwMinBitrate = static_cast<uint32_t>(std::atoi(argv[4]));
    config.dwNominalBitrate = static_cast<uint32_t>(std::atoi(argv[5]));
    config.dwMaxBitrate = static_cast<uint32_t>(std::atoi(argv[6]));
    config.dwFormatVersion = 100;
    VB_COMMENT tags;
    std::memset(&tags, 0, sizeof tags);
    tags.dwStructSize = sizeof tags;
    uint32_t samples = 0, size = 0, written = 0;
    HVB_STREAM stream = 0;
    if (open(&config, &tags, &samples, &size, &stream) != VB_ERR_SUCCESSFUL) {
        std::fprintf(stderr, "the stream was refused\n");
        return 1;
    }
    std::vector<int16_t> input(samples);
    std::vector<uint8_t> output(size);
    size_t n;
    while ((n = std::fread(input.data(), 2, input.size(), in)) > 0) {
        if (write(stream, static_cast<uint32_t>(n), input.data(), output.data(), &written) !=
                VB_ERR_SUCCESSFUL ||
            std::fwrite(output.data(), 1, written, out) != written)
            return 1;
    }
    if (close(stream, output.data(), &written) != VB_ERR_SUCCESSFUL ||
        std::fwrite(output.data(), 1, written, out) != written)
        return 1;
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
