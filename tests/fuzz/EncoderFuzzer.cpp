// The step-2 input side and the three encoder modules on arbitrary temporary WAV files: a fuzzed
// header, length and samples are read through CTempWavSource in the drivers' chunks and given to
// lame_enc.so, Vorbis.so or WmAudSDK.so through their C interfaces, with fuzzed settings records.

#include "FuzzCommon.h"
#include "JobFrame.h"
#include "Vorbis/Vorbis.h"
#include "WmAudSDK/WmAudSDK.h"
#include "lame_enc/lame_enc.h"

#include <cstring>
#include <vector>

namespace {

// Takes settings values from the front of the input; zeros once it runs out. Pick gives one of the
// usual values most of the time, so that the encoders accept the record and reach the samples.
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
    uint32_t Pick(std::initializer_list<uint32_t> usual) {
        const uint8_t sel = U8();
        return sel < 0xf0 ? *(usual.begin() + sel % usual.size()) : U32();
    }
};

// Feeds the source in the encoder's chunks; `step(count, written)` returns false on an error.
template <class Step>
bool Feed(CTempWavSource& source, std::vector<int16_t>& input, uint32_t bufferSize, Step step) {
    for (size_t n; (n = source.Read(input.data(), input.size())) != 0;) {
        uint32_t written = 0;
        if (!step(static_cast<uint32_t>(n), &written))
            return false;
        CHECK(written <= bufferSize);
    }
    return true;
}

void Mp3(Reader& r, CTempWavSource& source, const std::string& out) {
    static void* module = Module("lame_enc.so");
    static auto init = Entry<BEINITSTREAM>(module, "beInitStream");
    static auto encode = Entry<BEENCODECHUNK>(module, "beEncodeChunk");
    static auto deinit = Entry<BEDEINITSTREAM>(module, "beDeinitStream");
    static auto closeStream = Entry<BECLOSESTREAM>(module, "beCloseStream");
    static auto vbrHeader = Entry<BEWRITEVBRHEADER>(module, "beWriteVBRHeader");
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = BE_CONFIG_LAME;
    c.dwStructVersion = 1;
    c.dwStructSize = sizeof c;
    c.dwSampleRate = r.Pick({44100, 44100, 48000, 32000, 22050, 8000});
    c.nMode = static_cast<int32_t>(r.Pick({0, 1, 2, 3}));
    c.dwBitrate = r.Pick({128, 32, 64, 320, 8, 0});
    c.dwMaxBitrate = r.Pick({0, 320, 160, 8});
    c.nPreset = static_cast<int32_t>(r.Pick({0, 1, 2, 3, 0xffffffffu}));
    c.dwMpegVersion = r.Pick({MPEG_1, MPEG_2});
    const uint8_t flags = r.U8();
    c.bCRC = flags & 1;
    c.bWriteVBRHeader = flags >> 1 & 1;
    c.bEnableVBR = flags >> 2 & 1;
    c.bNoRes = flags >> 3 & 1;
    c.nVBRQuality = static_cast<int32_t>(r.Pick({0, 4, 9}));
    c.dwVbrAbr_bps = r.Pick({128000, 8000});
    c.nVbrMethod = static_cast<int32_t>(r.Pick({0, 3, 4, 0xffffffffu}));
    uint32_t samples = 0, bufferSize = 0, written = 0;
    HBE_STREAM stream = 0;
    if (init(&c, &samples, &bufferSize, &stream) != BE_ERR_SUCCESSFUL)
        return;
    CHECK(stream != 0 && samples > 0 && samples % 2 == 0 && bufferSize > 0);
    std::FILE* file = std::fopen(out.c_str(), "wb");
    CHECK(file);
    std::vector<int16_t> input(samples);
    std::vector<uint8_t> output(bufferSize);
    const bool ok = Feed(source, input, bufferSize, [&](uint32_t n, uint32_t* w) {
        const bool done = encode(stream, n, input.data(), output.data(), w) == 0;
        std::fwrite(output.data(), 1, done ? *w : 0, file);
        return done;
    });
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
    VB_CONFIG c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = VB_CONFIG_VORBIS;
    c.dwStructSize = sizeof c;
    c.dwChannels = r.Pick({2, 1, 0, 3});
    c.dwSampleRate = r.Pick({44100, 48000, 8000, 0});
    c.dwMinBitrate = r.Pick({0, 32000, 64000, 500000});
    c.dwNominalBitrate = r.Pick({128000, 0, 64000, 8000});
    c.dwMaxBitrate = r.Pick({0, 320000, 128000, 16000});
    c.dwFormatVersion = 100;
    // Tag texts as the user typed them, without any care for encoding.
    const std::string text(reinterpret_cast<const char*>(r.data), std::min<size_t>(r.size, 30));
    VB_COMMENT tags;
    std::memset(&tags, 0, sizeof tags);
    tags.dwStructSize = sizeof tags;
    tags.pszArtist = tags.pszAlbum = tags.pszTitle = tags.pszComment = text.c_str();
    uint32_t samples = 0, bufferSize = 0, written = 0;
    HVB_STREAM stream = 0;
    if (open(&c, &tags, &samples, &bufferSize, &stream) != VB_ERR_SUCCESSFUL)
        return;
    CHECK(stream != 0 && samples > 0 && bufferSize > 0);
    std::vector<int16_t> input(samples);
    std::vector<uint8_t> output(bufferSize);
    Feed(source, input, bufferSize,
         [&](uint32_t n, uint32_t* w) { return write(stream, n, input.data(), output.data(), w) == 0; });
    close(stream, output.data(), &written);
    CHECK(written <= bufferSize);
}

void Wma(Reader& r, CTempWavSource& source, const std::string& out) {
    static auto create = Entry<PFN_WMAudioCreateWriter>(Module("WmAudSDK.so"), "WMAudioCreateWriter");
    const std::wstring path(out.begin(), out.end());
    IWMAudioWriter* writer = nullptr;
    if (create(path.c_str(), &writer) < 0 || !writer)
        return;
    const uint16_t channels = static_cast<uint16_t>(r.Pick({2, 1, 0, 7})),
                   bits = static_cast<uint16_t>(r.Pick({16, 8}));
    const uint32_t rate = r.Pick({44100, 8000, 192000, 7999});
    const WAVEFORMATEX format{
        static_cast<uint16_t>(r.Pick({WAVE_FORMAT_PCM, 3})), channels, rate, rate * channels * bits / 8u,
        static_cast<uint16_t>(channels * bits / 8u),         bits,     0};
    if (writer->SetInputFormat(&format) >= 0 &&
        writer->SetOutputFormat(r.Pick({128000, 32000, 320000, 0}), r.Pick({44100, 8000, 96000}),
                                r.Pick({2, 1, 3}), 0) >= 0) {
        std::vector<uint8_t> buffer(r.Pick({2304, 1, 3, 65536}) + 1);
        for (size_t n; (n = source.ReadBytes(buffer.data(), buffer.size() - 1)) != 0;)
            if (writer->WriteSamples(buffer.data(), static_cast<uint32_t>(n)) < 0)
                break;
        writer->Finish();
    }
    writer->Release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // First byte: the encoder; then 64 bytes of settings; the rest is the temporary WAV itself.
    const size_t settingsBytes = std::min<size_t>(size - 1, 64);
    Reader settings{data + 1, settingsBytes};
    const std::string wav = FuzzDir("enc") + "qlt_temp.wav", out = FuzzDir("enc") + "out";
    WriteBytes(wav, data + 1 + settingsBytes, size - 1 - settingsBytes);
    CTempWavSource source;
    CHECK(source.Open(wav));
    if (data[0] % 3 == 0)
        Mp3(settings, source, out);
    else if (data[0] % 3 == 1)
        Ogg(settings, source);
    else
        Wma(settings, source, out);
    CHECK(source.GetPerMille() >= 0);
    source.Close();
    unlink(out.c_str());
    return 0;
}
