// The step-2 input side and the three encoder modules on arbitrary temporary WAV files: a fuzzed
// header, length and samples are read through CTempWavSource in the drivers' chunks and given to
// lame_enc.so, Vorbis.so or WmAudSDK.so through their C interfaces, with fuzzed settings records.

#include "FuzzCommon.h"
#include "JobFrame.h"
#include "Vorbis/Vorbis.h"
#include "WmAudSDK/WmAudSDK.h"
#include "lame_enc/lame_enc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void* Module(const char* name) {
    void* handle = dlopen((std::string(QUILLET_BIN_DIR) + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "%s\n", dlerror());
        std::abort();
    }
    return handle;
}

template <class Fn> Fn Entry(void* module, const char* name) {
    auto fn = reinterpret_cast<Fn>(dlsym(module, name));
    if (!fn)
        std::abort();
    return fn;
}

std::string Dir() {
    return FuzzDir("enc");
}

// Takes settings values from the front of the input; zeros once it runs out.
struct Reader {
    const uint8_t* data;
    size_t size;
    uint32_t U32() {
        uint32_t v = 0;
        const size_t n = std::min<size_t>(size, 4);
        std::memcpy(&v, data, n);
        data += n;
        size -= n;
        return v;
    }
    uint8_t U8() { return static_cast<uint8_t>(U32() & 0xff); }
};

// Small values most of the time, so that the encoders accept the record and reach the samples.
uint32_t Pick(Reader& r, std::initializer_list<uint32_t> usual) {
    const uint8_t sel = r.U8();
    if (sel < 0xf0)
        return *(usual.begin() + sel % usual.size());
    return r.U32();
}

void Mp3(Reader& r, CTempWavSource& source, const std::string& out) {
    static void* module = Module("lame_enc.so");
    static auto init = Entry<BEINITSTREAM>(module, "beInitStream");
    static auto encode = Entry<BEENCODECHUNK>(module, "beEncodeChunk");
    static auto deinit = Entry<BEDEINITSTREAM>(module, "beDeinitStream");
    static auto closeStream = Entry<BECLOSESTREAM>(module, "beCloseStream");
    static auto vbrHeader = Entry<BEWRITEVBRHEADER>(module, "beWriteVBRHeader");

    BE_CONFIG config;
    std::memset(&config, 0, sizeof config);
    config.dwConfig = BE_CONFIG_LAME;
    config.dwStructVersion = 1;
    config.dwStructSize = sizeof config;
    config.dwSampleRate = Pick(r, {44100, 44100, 48000, 32000, 22050, 8000});
    config.dwReSampleRate = Pick(r, {0, 0, 0, 22050, 16000});
    config.nMode = static_cast<int32_t>(Pick(r, {0, 1, 2, 3}));
    config.dwBitrate = Pick(r, {128, 32, 64, 320, 8, 0});
    config.dwMaxBitrate = Pick(r, {0, 320, 160, 8});
    config.nPreset = static_cast<int32_t>(Pick(r, {0, 1, 2, 3, 0xffffffffu}));
    config.dwMpegVersion = Pick(r, {MPEG_1, MPEG_2});
    config.dwEmphasis = Pick(r, {0, 1, 3});
    config.bPrivate = r.U8() & 1;
    config.bCRC = r.U8() & 1;
    config.bCopyright = r.U8() & 1;
    config.bOriginal = r.U8() & 1;
    config.bWriteVBRHeader = r.U8() & 1;
    config.bEnableVBR = r.U8() & 1;
    config.nVBRQuality = static_cast<int32_t>(Pick(r, {0, 4, 9}));
    config.dwVbrAbr_bps = Pick(r, {128000, 8000});
    config.nVbrMethod = static_cast<int32_t>(Pick(r, {0, 1, 2, 3, 4, 0xffffffffu}));
    config.bNoRes = r.U8() & 1;
    config.bStrictIso = r.U8() & 1;
    config.nQuality = static_cast<uint16_t>(Pick(r, {0, 0xfa05, 0xf609}));

    uint32_t samples = 0, bufferSize = 0, written = 0;
    HBE_STREAM stream = 0;
    if (init(&config, &samples, &bufferSize, &stream) != BE_ERR_SUCCESSFUL)
        return;
    CHECK(stream != 0 && samples > 0 && samples % 2 == 0 && bufferSize > 0);
    std::FILE* file = std::fopen(out.c_str(), "wb");
    CHECK(file);
    std::vector<int16_t> input(samples);
    std::vector<uint8_t> output(bufferSize);
    bool ok = true;
    for (size_t n; ok && (n = source.Read(input.data(), input.size())) != 0;) {
        ok = encode(stream, static_cast<uint32_t>(n), input.data(), output.data(), &written) == 0;
        if (ok) {
            CHECK(written <= bufferSize);
            std::fwrite(output.data(), 1, written, file);
        }
    }
    if (ok && deinit(stream, output.data(), &written) == 0) {
        CHECK(written <= bufferSize);
        std::fwrite(output.data(), 1, written, file);
    }
    closeStream(stream);
    std::fclose(file);
    if (ok)
        vbrHeader(out.c_str());
}

void Ogg(Reader& r, CTempWavSource& source) {
    static void* module = Module("Vorbis.so");
    static auto open = Entry<VBENCOPEN>(module, "vbEncOpen");
    static auto write = Entry<VBENCWRITE>(module, "vbEncWrite");
    static auto close = Entry<VBENCCLOSE>(module, "vbEncClose");

    VB_CONFIG config;
    std::memset(&config, 0, sizeof config);
    config.dwConfig = VB_CONFIG_VORBIS;
    config.dwStructSize = sizeof config;
    config.dwChannels = Pick(r, {2, 1, 0, 3});
    config.dwSampleRate = Pick(r, {44100, 48000, 8000, 0});
    config.dwMinBitrate = Pick(r, {0, 32000, 64000, 500000});
    config.dwNominalBitrate = Pick(r, {128000, 0, 64000, 8000});
    config.dwMaxBitrate = Pick(r, {0, 320000, 128000, 16000});
    config.dwFormatVersion = 100;
    // Tag texts: as the user typed them, up to the fields' capacity, without any care for encoding.
    std::string texts[4];
    for (auto& t : texts) {
        const size_t len = r.U8() % 40;
        for (size_t i = 0; i < len; ++i) {
            const char c = static_cast<char>(r.U8());
            t.push_back(c == 0 ? '?' : c);
        }
    }
    VB_COMMENT tags;
    std::memset(&tags, 0, sizeof tags);
    tags.dwStructSize = sizeof tags;
    tags.pszArtist = texts[0].c_str();
    tags.pszAlbum = texts[1].c_str();
    tags.pszTitle = texts[2].c_str();
    tags.pszComment = texts[3].c_str();

    uint32_t samples = 0, bufferSize = 0, written = 0;
    HVB_STREAM stream = 0;
    if (open(&config, &tags, &samples, &bufferSize, &stream) != VB_ERR_SUCCESSFUL)
        return;
    CHECK(stream != 0 && samples > 0 && bufferSize > 0);
    std::vector<int16_t> input(samples);
    std::vector<uint8_t> output(bufferSize);
    bool ok = true;
    for (size_t n; ok && (n = source.Read(input.data(), input.size())) != 0;) {
        ok = write(stream, static_cast<uint32_t>(n), input.data(), output.data(), &written) == 0;
        if (ok)
            CHECK(written <= bufferSize);
    }
    close(stream, output.data(), &written);
    CHECK(written <= bufferSize);
}

void Wma(Reader& r, CTempWavSource& source, const std::string& out) {
    static void* module = Module("WmAudSDK.so");
    static auto create = Entry<PFN_WMAudioCreateWriter>(module, "WMAudioCreateWriter");

    std::wstring path(out.begin(), out.end());
    IWMAudioWriter* writer = nullptr;
    if (create(path.c_str(), &writer) < 0 || !writer)
        return;
    WAVEFORMATEX format;
    std::memset(&format, 0, sizeof format);
    format.wFormatTag = static_cast<uint16_t>(Pick(r, {WAVE_FORMAT_PCM, 3}));
    format.nChannels = static_cast<uint16_t>(Pick(r, {2, 1, 0, 7}));
    format.nSamplesPerSec = Pick(r, {44100, 8000, 48000, 192000, 7999});
    format.wBitsPerSample = static_cast<uint16_t>(Pick(r, {16, 8, 24}));
    format.nBlockAlign = static_cast<uint16_t>(uint32_t{format.nChannels} * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    if (r.U8() >= 0xf0)
        format.nBlockAlign = static_cast<uint16_t>(r.U32());
    const uint32_t bitrate = Pick(r, {128000, 64000, 32000, 320000, 1, 0});
    const uint32_t rate = Pick(r, {44100, 8000, 48000, 22050, 96000});
    const uint32_t channels = Pick(r, {2, 1, 0, 3});
    const uint32_t chunk = Pick(r, {2304, 1, 3, 4096, 65536});
    if (writer->SetInputFormat(&format) >= 0 && writer->SetOutputFormat(bitrate, rate, channels, 0) >= 0) {
        std::vector<uint8_t> buffer(std::min<uint32_t>(chunk, 1u << 20) + 1);
        for (size_t n; (n = source.ReadBytes(buffer.data(), buffer.size() - 1)) != 0;) {
            if (writer->WriteSamples(buffer.data(), static_cast<uint32_t>(n)) < 0)
                break;
        }
        writer->Finish();
    }
    writer->Release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // First byte: the encoder; then 64 bytes of settings; the rest is the temporary WAV itself.
    const int which = data[0] % 3;
    const size_t settingsBytes = std::min<size_t>(size - 1, 64);
    Reader settings{data + 1, settingsBytes};
    const std::string wav = Dir() + "qlt_temp.wav";
    const std::string out = Dir() + "out";
    WriteBytes(wav, data + 1 + settingsBytes, size - 1 - settingsBytes);

    CTempWavSource source;
    CHECK(source.Open(wav));
    if (which == 0)
        Mp3(settings, source, out);
    else if (which == 1)
        Ogg(settings, source);
    else
        Wma(settings, source, out);
    const int perMille = source.GetPerMille();
    CHECK(perMille >= 0);
    source.Close();
    unlink(out.c_str());
    return 0;
}
