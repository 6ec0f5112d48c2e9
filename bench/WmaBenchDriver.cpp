// Encodes a canonical WAV (44-byte header, 16-bit PCM) with WmAudSDK.so the way the program does:
// from byte 44 on, in 2304-byte chunks.
// Usage: wma_bench_driver <WmAudSDK.so> <in.wav> <out.wma> <bits/s> [sample rate] [channels]
#include "WmAudSDK.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <dlfcn.h>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s module in.wav out.wma bitrate [rate] [channels]\n", argv[0]);
        return 2;
    }
    uint32_t rate = argc > 5 ? static_cast<uint32_t>(std::atoi(argv[5])) : 44100;
    uint16_t channels = argc > 6 ? static_cast<uint16_t>(std::atoi(argv[6])) : 2;
    std::setlocale(LC_CTYPE, "C.UTF-8"); // for the output name
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto create =
        module ? reinterpret_cast<PFN_WMAudioCreateWriter>(dlsym(module, "WMAudioCreateWriter")) : nullptr;
    if (!create) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    FILE* in = std::fopen(argv[2], "rb");
    if (!in || std::fseek(in, 44, SEEK_SET) != 0) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    std::wstring path;
    std::mbstate_t state{};
    const char* src = argv[3];
    std::vector<wchar_t> wide(std::mbsrtowcs(nullptr, &src, 0, &state) + 1);
    src = argv[3];
    std::mbsrtowcs(wide.data(), &src, wide.size(), &state);

    IWMAudioWriter* writer = nullptr;
    if (create(wide.data(), &writer) < 0) {
        std::fprintf(stderr, "cannot create %s\n", argv[3]);
        return 1;
    }
    WAVEFORMATEX format{
        WAVE_FORMAT_PCM, channels, rate, rate * channels * 2u, static_cast<uint16_t>(channels * 2), 16, 0};
    if (writer->SetInputFormat(&format) < 0 ||
        writer->SetOutputFormat(static_cast<uint32_t>(std::atoi(argv[4])), 44100, 2, 0) < 0) {
        std::fprintf(stderr, "format refused\n");
        writer->Release();
        return 1;
    }
    std::vector<uint8_t> buffer(2304);
    size_t n;
    long result = 0;
    while (result >= 0 && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        result = writer->WriteSamples(buffer.data(), static_cast<uint32_t>(n));
    if (result >= 0)
        result = writer->Finish();
    writer->Release();
    std::fclose(in);
    dlclose(module);
    if (result < 0) {
        std::fprintf(stderr, "writing failed: 0x%08lx\n", static_cast<unsigned long>(result) & 0xFFFFFFFFu);
        return 1;
    }
    return 0;
}
