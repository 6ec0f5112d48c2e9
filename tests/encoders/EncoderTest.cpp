#include "AvAudioEnc.h"
#include "TestMedia.h"
#include "TestSupport.h"
#include "Vorbis.h"
#include "lame_enc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

// What an encoder stream gave, fed as the jobs feed it: in chunks whose sizes cycle through `pattern`
// (0 = the samples per chunk), so odd sizes split sample pairs across calls. The output buffer has a
// guard zone behind it, so a write past its stated size shows.
struct Encoded {
    uint32_t err = 0, samplesPerChunk = 0, bufferSize = 0, largest = 0; // err: the first error, 0 for none
    bool guardIntact = true;
    std::vector<uint8_t> buffer, bytes;

    uint8_t* Buffer() {
        buffer.resize(bufferSize + 4096, 0xA5);
        return buffer.data();
    }
    void Take(uint32_t written) {
        guardIntact = guardIntact && std::all_of(buffer.begin() + bufferSize, buffer.end(),
                                                 [](uint8_t b) { return b == 0xA5; });
        largest = std::max(largest, written);
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + written);
    }
    // `write(count, values, out, &written)` returns an error code.
    template <typename Write>
    void Feed(const std::vector<int16_t>& pcm, const std::vector<uint32_t>& pattern, Write write) {
        for (size_t i = 0, pos = 0; err == 0 && pos < pcm.size(); ++i) {
            const uint32_t want =
                pattern[i % pattern.size()] == 0 ? samplesPerChunk : pattern[i % pattern.size()];
            const auto n = static_cast<uint32_t>(std::min<size_t>(want, pcm.size() - pos));
            uint32_t written = 0;
            if ((err = write(n, pcm.data() + pos, Buffer(), &written)) == 0)
                Take(written);
            pos += n;
        }
    }
};

namespace {

// The record as the MP3 job fills it: CRC, private, copyright and original bits set, a VBR header
// requested, no bit reservoir. vbrQuality < 0 means constant bitrate.
BE_CONFIG LameConfig(int mode, uint32_t kbps, int vbrQuality = -1, uint32_t maxKbps = 128, int preset = 0) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof(c));
    c.dwConfig = BE_CONFIG_LAME;
    c.dwStructVersion = 1;
    c.dwStructSize = sizeof(BE_CONFIG);
    c.dwSampleRate = 44100;
    c.nMode = mode;
    c.dwBitrate = kbps;
    c.dwMaxBitrate = maxKbps;
    c.nPreset = preset;
    c.dwMpegVersion = MPEG_1;
    c.bPrivate = c.bCRC = c.bCopyright = c.bOriginal = c.bWriteVBRHeader = c.bNoRes = 1;
    c.bEnableVBR = vbrQuality >= 0 ? 1 : 0;
    c.nVBRQuality = std::max(vbrQuality, 0);
    return c;
}

bool Contains(const std::vector<uint8_t>& bytes, size_t from, size_t to, const std::string& text) {
    auto end = bytes.begin() + static_cast<ptrdiff_t>(std::min(to, bytes.size()));
    return std::search(bytes.begin() + static_cast<ptrdiff_t>(from), end, text.begin(), text.end()) != end;
}

// Sample frames mpg123 decodes (mixed to mono: two bytes a frame); -1 on failure. FFmpeg misses the end
// padding of very short files, so mpg123 judges those.
int64_t Mpg123Frames(const std::string& path) {
    std::string out;
    return RunProgram("mpg123", {"-q", "--mono", "-s", path}, &out) == 0
               ? static_cast<int64_t>(out.size() / 2)
               : -1;
}

class LameEncTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(init && encode && deinit && close && writeVbrHeader) << module.Error();
    }

    Encoded Encode(const BE_CONFIG& config, const std::vector<int16_t>& pcm,
                   const std::vector<uint32_t>& pattern = {0}) {
        Encoded e;
        HBE_STREAM stream = 0;
        uint32_t written = 0;
        if ((e.err = init(&config, &e.samplesPerChunk, &e.bufferSize, &stream)) != BE_ERR_SUCCESSFUL)
            return e;
        e.Feed(pcm, pattern, [&](uint32_t n, const int16_t* v, uint8_t* o, uint32_t* w) {
            return encode(stream, n, v, o, w);
        });
        if (e.err == BE_ERR_SUCCESSFUL && (e.err = deinit(stream, e.Buffer(), &written)) == BE_ERR_SUCCESSFUL)
            e.Take(written);
        close(stream);
        return e;
    }
    // Writes the frames and an ID3v1 tag, then lets the module fill in the VBR
    // header, as the job does.
    BE_ERR Finish(const std::string& path, std::vector<uint8_t> file) {
        const std::string tag = "TAG" + std::string(124, ' ') + "\x93";
        file.insert(file.end(), tag.begin(), tag.end());
        WriteBytes(path, file);
        return writeVbrHeader(path.c_str());
    }

    LoadedModule module{"lame_enc.so"};
    BEINITSTREAM init = module.Get<BEINITSTREAM>("beInitStream");
    BEENCODECHUNK encode = module.Get<BEENCODECHUNK>("beEncodeChunk");
    BEDEINITSTREAM deinit = module.Get<BEDEINITSTREAM>("beDeinitStream");
    BECLOSESTREAM close = module.Get<BECLOSESTREAM>("beCloseStream");
    BEWRITEVBRHEADER writeVbrHeader = module.Get<BEWRITEVBRHEADER>("beWriteVBRHeader");
    TempDir dir;
};

} // namespace

// Each setting gives a file whose header bits follow the record, whose first frame becomes the Xing/Info
// frame (the ID3v1 tag after the frames untouched), and which decodes to exactly the input samples.
TEST_F(LameEncTest, SettingsGiveTheirHeaderBitsAndTheInputSamples) {
    struct Case {
        BE_CONFIG config;
        int channels;
        const char* tag;
        int minKbps, maxKbps;
    } cases[] = {
        {LameConfig(BE_MP3_MODE_JSTEREO, 192, -1, 128, LQP_HIGH_QUALITY), 2, "Info", 192, 192},
        // Frames too small for LAME's tag: the module writes the Info frame itself.
        {LameConfig(BE_MP3_MODE_MONO, 32, -1, 128, LQP_VOICE_QUALITY), 1, "Info", 32, 32},
        {LameConfig(BE_MP3_MODE_DUALCHANNEL, 32, 0, 320), 2, "Xing", 32, 320},
        {LameConfig(BE_MP3_MODE_STEREO, 160, 4, 64), 2, "Xing", 160,
         160}, // a maximum below the minimum is raised
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.config.nMode << " " << c.config.dwBitrate);
        const Encoded e = Encode(c.config, MakeTone(55555, 7), {0, 1001, 3, 2304, 0, 2303, 1});
        ASSERT_EQ(e.err, BE_ERR_SUCCESSFUL);
        EXPECT_EQ(e.samplesPerChunk, 2304u);
        EXPECT_TRUE(e.guardIntact);
        const auto frames = Mp3Frames(e.bytes);
        ASSERT_GT(frames.size(), 40u);
        EXPECT_EQ(frames.back().offset + frames.back().length, e.bytes.size()) << "nothing but whole frames";
        const size_t placeholder = frames[0].length;
        EXPECT_FALSE(Contains(e.bytes, 0, placeholder, c.tag)) << "the first frame is a placeholder";
        for (size_t i = 1; i < frames.size(); ++i) {
            const Mp3Frame& f = frames[i];
            ASSERT_TRUE(f.crc && f.privateBit && f.copyright && f.original && f.emphasis == 0) << i;
            ASSERT_TRUE(f.mode == c.config.nMode && f.kbps >= c.minKbps && f.kbps <= c.maxKbps) << i;
        }
        const std::string path = dir.File("out.mp3");
        ASSERT_EQ(Finish(path, e.bytes), BE_ERR_SUCCESSFUL);
        const auto file = ReadBytes(path);
        ASSERT_EQ(file.size(), e.bytes.size() + 128);
        EXPECT_TRUE(Contains(file, 0, placeholder, c.tag));
        EXPECT_TRUE(std::equal(file.begin() + static_cast<ptrdiff_t>(placeholder), file.end() - 128,
                               e.bytes.begin() + static_cast<ptrdiff_t>(placeholder)))
            << "only the first frame changes";
        const DecodedAudio decoded = DecodeWithFfmpeg(path);
        EXPECT_EQ(decoded.channels, c.channels);
        EXPECT_EQ(decoded.frames, 55555) << decoded.error;
        EXPECT_EQ(Mpg123Frames(path), 55555);
        // FFmpeg names the encoder only when the LAME tag's checksum is right.
        EXPECT_EQ(ProbeFile(path)["TAG:encoder"].rfind("LAME3.", 0), 0u);
    }
}

TEST_F(LameEncTest, VbrHeaderGoesOnlyIntoTheStreamsOwnFile) {
    const Encoded e = Encode(LameConfig(BE_MP3_MODE_JSTEREO, 128), MakeTone(30000, 5));
    ASSERT_EQ(e.err, BE_ERR_SUCCESSFUL);
    // Another file and a cut copy of the stream's own file stay as they are.
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>(e.bytes.size() + 128, 0x11),
                                              std::vector<uint8_t>(e.bytes.begin(), e.bytes.end() - 2000)}) {
        WriteBytes(dir.File("other.mp3"), bytes);
        EXPECT_EQ(writeVbrHeader(dir.File("other.mp3").c_str()), BE_ERR_NO_VBR_HEADER);
        EXPECT_EQ(ReadBytes(dir.File("other.mp3")), bytes);
    }
    EXPECT_EQ(writeVbrHeader(dir.File("missing.mp3").c_str()), BE_ERR_FILE);
    EXPECT_EQ(writeVbrHeader(nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
    // The real file, even under a non-ASCII name; a second call changes nothing.
    const std::string own = dir.File("Grüße 音楽.mp3");
    ASSERT_EQ(Finish(own, e.bytes), BE_ERR_SUCCESSFUL);
    const auto once = ReadBytes(own);
    EXPECT_TRUE(Contains(once, 0, 2000, "LAME"));
    EXPECT_EQ(writeVbrHeader(own.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadBytes(own), once);
    EXPECT_EQ(DecodeWithFfmpeg(own).frames, 30000);
}

TEST_F(LameEncTest, EmptyTinyNoisyAndConcurrentStreams) {
    // Both kinds of Info frame: LAME's (128 kbps) and this module's (32 kbps).
    for (uint32_t kbps : {128u, 32u})
        for (size_t frames : {size_t(0), size_t(100)}) {
            const Encoded e = Encode(LameConfig(BE_MP3_MODE_STEREO, kbps), MakeTone(frames, 9));
            ASSERT_EQ(Finish(dir.File("short.mp3"), e.bytes), BE_ERR_SUCCESSFUL);
            EXPECT_TRUE(Contains(ReadBytes(dir.File("short.mp3")), 0, 1000, "Info")) << kbps;
            EXPECT_EQ(Mpg123Frames(dir.File("short.mp3")), static_cast<int64_t>(frames)) << kbps;
        }
    // Full-scale noise at the highest rate fills frames to the brim; the buffer must still do.
    const Encoded noisy = Encode(LameConfig(BE_MP3_MODE_STEREO, 320, -1, 320, LQP_HIGH_QUALITY),
                                 MakeNoise(30000, 4), {0, 2303, 1});
    EXPECT_TRUE(noisy.err == BE_ERR_SUCCESSFUL && noisy.guardIntact);
    // Streams encoded at once keep apart, and each file gets its own header, asked for in reverse order
    // once they have all been flushed: many jobs finishing together (-j) lose none.
    const BE_CONFIG configs[] = {LameConfig(BE_MP3_MODE_STEREO, 128),
                                 LameConfig(BE_MP3_MODE_JSTEREO, 32, 2, 256),
                                 LameConfig(BE_MP3_MODE_MONO, 64, -1, 128, 3)};
    constexpr size_t kStreams = 20;
    std::vector<Encoded> results(kStreams);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::size(configs); ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < kStreams; i += std::size(configs))
                results[i] = Encode(configs[t], MakeTone(30000 + 1000 * i, static_cast<uint32_t>(i)));
        });
    for (auto& t : threads)
        t.join();
    for (size_t i = kStreams; i-- > 0;) {
        ASSERT_EQ(Finish(dir.File(std::to_string(i) + ".mp3"), results[i].bytes), BE_ERR_SUCCESSFUL) << i;
        EXPECT_EQ(DecodeWithFfmpeg(dir.File(std::to_string(i) + ".mp3")).frames,
                  static_cast<int64_t>(30000 + 1000 * i))
            << i;
    }
}

namespace {

// The records as the Ogg job fills them.
VB_CONFIG VorbisConfig(uint32_t minBitrate, uint32_t nominal, uint32_t maxBitrate, uint32_t channels = 2) {
    VB_CONFIG c;
    std::memset(&c, 0, sizeof(c));
    c.dwConfig = VB_CONFIG_VORBIS;
    c.dwStructSize = sizeof(VB_CONFIG);
    c.dwChannels = channels;
    c.dwSampleRate = 44100;
    c.dwMinBitrate = minBitrate;
    c.dwNominalBitrate = nominal;
    c.dwMaxBitrate = maxBitrate;
    c.dwFormatVersion = 100;
    return c;
}

VB_COMMENT MakeComment(const char* artist = "", const char* album = "") {
    VB_COMMENT c;
    std::memset(&c, 0, sizeof(c));
    c.dwStructSize = sizeof(VB_COMMENT);
    c.pszArtist = artist;
    c.pszAlbum = album;
    c.pszTitle = "";
    c.pszComment = "Quillet";
    return c;
}

class VorbisEncTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(open && write && close) << module.Error(); }

    Encoded Encode(const VB_CONFIG& config, const std::vector<int16_t>& pcm,
                   const VB_COMMENT& tags = MakeComment()) {
        Encoded e;
        HVB_STREAM stream = 0;
        uint32_t written = 0;
        if ((e.err = open(&config, &tags, &e.samplesPerChunk, &e.bufferSize, &stream)) != VB_ERR_SUCCESSFUL)
            return e;
        e.Feed(pcm, {0, 2047, 1, 2}, [&](uint32_t n, const int16_t* v, uint8_t* o, uint32_t* w) {
            return write(stream, n, v, o, w);
        });
        const VB_ERR closed = close(stream, e.Buffer(), &written);
        e.Take(written);
        e.err = e.err != VB_ERR_SUCCESSFUL ? e.err : closed;
        return e;
    }
    // The stream's pages chain from a first page to a last one, all with one serial number, and
    // the file decodes to `frames`.
    void ExpectDecodes(const Encoded& e, int64_t frames, int channels = 2) {
        EXPECT_EQ(e.err, VB_ERR_SUCCESSFUL);
        const std::string bytes(e.bytes.begin(), e.bytes.end());
        size_t pos = 0, pages = 0;
        for (; pos + 27 <= bytes.size() && bytes.compare(pos, 4, "OggS") == 0; ++pages) {
            const uint8_t flags = static_cast<uint8_t>(bytes[pos + 5]),
                          segments = static_cast<uint8_t>(bytes[pos + 26]);
            EXPECT_EQ(flags & 2, pages == 0 ? 2 : 0) << "only the first page begins the stream";
            EXPECT_EQ(ReadLE32(bytes, pos + 14), ReadLE32(bytes, 14)) << "one stream, one serial number";
            size_t body = 0;
            for (size_t i = 0; i < segments && pos + 27 + i < bytes.size(); ++i)
                body += static_cast<uint8_t>(bytes[pos + 27 + i]);
            pos += 27 + segments + body;
            EXPECT_EQ(flags & 4, pos >= bytes.size() ? 4 : 0) << "only the last page ends the stream";
        }
        EXPECT_EQ(pos, bytes.size()) << "pages do not chain";
        WriteBytes(dir.File("out.ogg"), e.bytes);
        const DecodedAudio decoded = DecodeWithFfmpeg(dir.File("out.ogg"));
        EXPECT_EQ(decoded.channels, channels);
        EXPECT_EQ(decoded.frames, frames) << decoded.error;
    }

    LoadedModule module{"Vorbis.so"};
    VBENCOPEN open = module.Get<VBENCOPEN>("vbEncOpen");
    VBENCWRITE write = module.Get<VBENCWRITE>("vbEncWrite");
    VBENCCLOSE close = module.Get<VBENCCLOSE>("vbEncClose");
    TempDir dir;
};

} // namespace

TEST_F(VorbisEncTest, BitrateWindowsGiveConsistentStreamsOfTheInputSamples) {
    struct Case {
        uint32_t min, nominal, max, channels;
        int32_t expectMin, expectNominal, expectMax; // 0: not set (the header says 0 or -1)
    } cases[] = {
        {128000, 128000, 128000, 2, 128000, 128000, 128000},
        {0, 0, 0, 2, 0, 160000, 0}, // quality-based, near 160 kbps
        // Below about 45 kbps libvorbis has no setup at 44.1 kHz stereo: the nearest one is taken.
        {0, 32000, 40000, 2, 0, 45000, 45000},
        {350000, 0, 32000, 2, 32000, 0, 350000}, // a minimum above the maximum swaps
        {0, 64000, 0, 1, 0, 64000, 0},           // mono: the values taken as one-channel samples
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << " " << c.nominal << " " << c.max << " x" << c.channels);
        const Encoded e =
            Encode(VorbisConfig(c.min, c.nominal, c.max, c.channels), MakeTone(11025 * c.channels, 4));
        EXPECT_EQ(e.samplesPerChunk, 2048u * c.channels);
        EXPECT_TRUE(e.guardIntact);
        ExpectDecodes(e, 22050, static_cast<int>(c.channels));
        const VorbisIdent ident = ReadVorbisIdent(e.bytes);
        EXPECT_EQ(ident.rate, 44100u);
        EXPECT_EQ(std::max(ident.minimum, 0), c.expectMin);
        EXPECT_EQ(std::max(ident.maximum, 0), c.expectMax);
        EXPECT_NEAR(ident.nominal, c.expectNominal,
                    c.expectNominal == 160000 ? 10000
                    : c.expectNominal == 0    ? 1e6
                                              : 0);
    }
}

TEST_F(VorbisEncTest, TextsBecomeCommentsAndEmptyOrNoisyStreamsAreWhole) {
    // UTF-8 stays as it is; a Latin-1 text from an older settings file is converted; empty texts add nothing.
    ExpectDecodes(Encode(VorbisConfig(0, 0, 0), {}, MakeComment("Grüße 音楽", "Caf\xe9")), 0);
    std::string listed;
    ASSERT_EQ(RunProgram("vorbiscomment", {"-l", "-R", dir.File("out.ogg")}, &listed), 0);
    EXPECT_EQ(listed, "ARTIST=Grüße 音楽\nALBUM=Café\nCOMMENT=Quillet\n");
    ExpectDecodes(Encode(VorbisConfig(0, 0, 0), std::vector<int16_t>{1234}), 0); // less than a sample frame
    // Full-scale noise makes the largest packets: an output that filled the buffer would mean bytes
    // were held back for the next call.
    for (const VB_CONFIG& c : {VorbisConfig(350000, 350000, 350000), VorbisConfig(0, 0, 0)}) {
        const Encoded e = Encode(c, MakeNoise(44100, 11));
        EXPECT_TRUE(e.guardIntact);
        EXPECT_LT(e.largest, e.bufferSize / 2) << c.dwNominalBitrate;
        ExpectDecodes(e, 44100);
    }
}

// FLAC on several threads is the file one encoder makes, byte for byte (frame numbers, CRCs, STREAMINFO
// with its MD5 and frame sizes), for 24-bit 5.1 and 16-bit stereo, whatever the chunks it is fed in,
// a short last frame included.
TEST(AvAudioEncTest, FlacOnSeveralThreadsIsTheFileOfOneEncoder) {
    LoadedModule module("AvAudioEnc.so");
    ASSERT_TRUE(module.IsLoaded()) << module.Error();
    auto open = module.Get<AEENCOPEN>("aeEncOpen");
    auto write = module.Get<AEENCWRITE>("aeEncWrite");
    auto close = module.Get<AEENCCLOSE>("aeEncClose");
    ASSERT_TRUE(open && write && close);
    TempDir dir;
    for (const bool deep : {true, false}) {
        const uint32_t channels = deep ? 6 : 2;
        // 12 s and a bit at 48 kHz: several runs, and a short last frame.
        const size_t frames = 48000 * 12 + 1234;
        std::vector<int32_t> wide(frames * channels);
        std::vector<int16_t> narrow(frames * channels);
        uint32_t seed = 7;
        for (size_t i = 0; i < wide.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            const double t = static_cast<double>(i / channels) / 48000;
            const double v = 0.4 * std::sin(2 * M_PI * (200 + 70 * (i % channels)) * t) +
                             static_cast<double>(seed >> 20) / 65536.0;
            wide[i] = static_cast<int32_t>(v * 8388607) * 256;
            narrow[i] = static_cast<int16_t>(v * 32767 / 1.1);
        }
        std::vector<std::vector<uint8_t>> files;
        for (const uint32_t threads : {1u, 3u}) {
            AE_CONFIG config{};
            config.dwStructSize = sizeof config;
            config.dwFormat = AE_FORMAT_FLAC;
            config.dwChannels = channels;
            config.dwSampleRate = 48000;
            config.dwCompression = 5;
            config.dwSampleFormat = deep ? AE_SAMPLE_S32 : AE_SAMPLE_S16;
            config.dwBitsPerSample = deep ? 24 : 16;
            config.dwThreads = threads;
            AE_TAGS tags{};
            tags.dwStructSize = sizeof tags;
            const std::string path = dir.File("out" + std::to_string(threads) + ".flac");
            HAE_STREAM stream = 0;
            ASSERT_EQ(open(&config, &tags, path.c_str(), &stream), AE_ERR_SUCCESSFUL);
            const size_t values = wide.size(), step = threads == 1 ? 65536 : 1001; // odd: splits frames
            for (size_t pos = 0; pos < values; pos += step) {
                const auto n = static_cast<uint32_t>(std::min(step, values - pos));
                const void* data = deep ? static_cast<const void*>(wide.data() + pos) : narrow.data() + pos;
                ASSERT_EQ(write(stream, n, data), AE_ERR_SUCCESSFUL);
            }
            ASSERT_EQ(close(stream), AE_ERR_SUCCESSFUL);
            files.push_back(ReadBytes(path));
        }
        ASSERT_GT(files[0].size(), 100000u);
        EXPECT_TRUE(files[0] == files[1]) << (deep ? "24-bit 5.1" : "16-bit stereo");
        const DecodedAudio decoded = DecodeWithFfmpeg(dir.File("out3.flac"));
        EXPECT_EQ(decoded.frames, static_cast<int64_t>(frames));
    }
}
