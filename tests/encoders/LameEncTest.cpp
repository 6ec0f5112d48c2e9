#include "EncoderTestSupport.h"
#include "TestSupport.h"
#include "lame_enc.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The record as the MP3 job fills it: CRC, private, copyright and original bits set, a VBR header
// requested, no bit reservoir. vbrQuality < 0 means constant bitrate.
BE_CONFIG MakeConfig(int mode, uint32_t kbps, int vbrQuality = -1, uint32_t maxKbps = 128, int preset = 0) {
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

    struct Encoded {
        BE_ERR err = BE_ERR_SUCCESSFUL; // the first error of init, encode or deinit
        uint32_t samplesPerChunk = 0;
        bool guardIntact = false;
        std::vector<uint8_t> bytes;
    };
    Encoded Encode(const BE_CONFIG& config, const std::vector<int16_t>& pcm,
                   const std::vector<uint32_t>& pattern = {0}) {
        Encoded e;
        HBE_STREAM stream = 0;
        uint32_t bufferSize = 0, written = 0;
        if ((e.err = init(&config, &e.samplesPerChunk, &bufferSize, &stream)) != BE_ERR_SUCCESSFUL)
            return e;
        ChunkFeeder out{bufferSize};
        e.err = out.Feed(pcm, e.samplesPerChunk, pattern,
                         [&](uint32_t n, const int16_t* v, uint8_t* o, uint32_t* w) {
                             return encode(stream, n, v, o, w);
                         });
        if (e.err == BE_ERR_SUCCESSFUL &&
            (e.err = deinit(stream, out.buffer.data(), &written)) == BE_ERR_SUCCESSFUL)
            out.Take(written);
        close(stream);
        e.guardIntact = out.guardIntact;
        e.bytes = std::move(out.bytes);
        return e;
    }
    // Writes the frames after `file` and before an ID3v1 tag, then lets the module fill in the VBR
    // header, as the job does.
    BE_ERR Finish(const std::string& path, const std::vector<uint8_t>& frames,
                  std::vector<uint8_t> file = {}) {
        file.insert(file.end(), frames.begin(), frames.end());
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

TEST_F(LameEncTest, RecordsItCannotEncodeAreRefused) {
    const std::function<void(BE_CONFIG&)> bad[] = {
        [](BE_CONFIG& c) { c.dwConfig = BE_CONFIG_MP3; },
        [](BE_CONFIG& c) { c.dwStructSize = 330; }, // 32-bit pointers
        [](BE_CONFIG& c) { c.nMode = 4; },
        [](BE_CONFIG& c) { c.dwEmphasis = 2; },
        [](BE_CONFIG& c) { c.nVBRQuality = 10; },
        [](BE_CONFIG& c) { c.nVbrMethod = VBR_METHOD_ABR; }};
    uint32_t samples = 0, size = 0;
    for (size_t i = 0; i < std::size(bad); ++i) {
        BE_CONFIG c = MakeConfig(0, 128, 2, 320);
        bad[i](c);
        HBE_STREAM stream = 7;
        EXPECT_NE(init(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL) << i;
        EXPECT_EQ(stream, 0u) << i;
    }
    const BE_CONFIG c = MakeConfig(0, 128);
    EXPECT_EQ(init(&c, &samples, &size, nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

// Each setting gives a file whose header bits follow the record, whose first frame becomes the Xing/Info
// frame (the ID3v1 tag after the frames untouched), and which decodes to exactly the input samples.
TEST_F(LameEncTest, SettingsGiveTheirHeaderBitsAndTheInputSamples) {
    struct Case {
        BE_CONFIG config;
        int channels;
        const char* tag;
        int minKbps, maxKbps;
    } cases[] = {
        {MakeConfig(BE_MP3_MODE_JSTEREO, 192, -1, 128, LQP_HIGH_QUALITY), 2, "Info", 192, 192},
        // Frames too small for LAME's tag: the module writes the Info frame itself.
        {MakeConfig(BE_MP3_MODE_MONO, 32, -1, 128, LQP_VOICE_QUALITY), 1, "Info", 32, 32},
        {MakeConfig(BE_MP3_MODE_DUALCHANNEL, 32, 0, 320), 2, "Xing", 32, 320},
        {MakeConfig(BE_MP3_MODE_STEREO, 160, 4, 64), 2, "Xing", 160,
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
    const Encoded e = Encode(MakeConfig(BE_MP3_MODE_JSTEREO, 128), MakeTone(30000, 5));
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
    // The real file, even under a non-ASCII name and after an ID3v2 tag; a second call changes nothing.
    std::vector<uint8_t> id3v2 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    id3v2.resize(30, 0);
    const std::string own = dir.File("Grüße 音楽.mp3");
    ASSERT_EQ(Finish(own, e.bytes, id3v2), BE_ERR_SUCCESSFUL);
    const auto once = ReadBytes(own);
    EXPECT_TRUE(Contains(once, 30, 2000, "LAME"));
    EXPECT_EQ(writeVbrHeader(own.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadBytes(own), once);
    EXPECT_EQ(DecodeWithFfmpeg(own).frames, 30000);
}

TEST_F(LameEncTest, EmptyTinyNoisyAndConcurrentStreams) {
    // Both kinds of Info frame: LAME's (128 kbps) and this module's (32 kbps).
    for (uint32_t kbps : {128u, 32u})
        for (size_t frames : {size_t(0), size_t(100)}) {
            const Encoded e = Encode(MakeConfig(BE_MP3_MODE_STEREO, kbps), MakeTone(frames, 9));
            ASSERT_EQ(Finish(dir.File("short.mp3"), e.bytes), BE_ERR_SUCCESSFUL);
            EXPECT_TRUE(Contains(ReadBytes(dir.File("short.mp3")), 0, 1000, "Info")) << kbps;
            EXPECT_EQ(Mpg123Frames(dir.File("short.mp3")), static_cast<int64_t>(frames)) << kbps;
        }
    // Full-scale noise at the highest rate fills frames to the brim; the buffer must still do.
    const Encoded noisy = Encode(MakeConfig(BE_MP3_MODE_STEREO, 320, -1, 320, LQP_HIGH_QUALITY),
                                 MakeNoise(30000, 4), {0, 2303, 1});
    EXPECT_TRUE(noisy.err == BE_ERR_SUCCESSFUL && noisy.guardIntact);
    // Streams encoded at once keep apart, and each file gets its own header, asked for in reverse order.
    std::vector<BE_CONFIG> configs = {MakeConfig(BE_MP3_MODE_STEREO, 128),
                                      MakeConfig(BE_MP3_MODE_JSTEREO, 32, 2, 256),
                                      MakeConfig(BE_MP3_MODE_MONO, 64, -1, 128, 3)};
    std::vector<Encoded> results(configs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < configs.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Encode(configs[i], MakeTone(30000 + 7000 * i, i)); });
    for (auto& t : threads)
        t.join();
    for (size_t i = configs.size(); i-- > 0;) {
        ASSERT_EQ(Finish(dir.File(std::to_string(i) + ".mp3"), results[i].bytes), BE_ERR_SUCCESSFUL) << i;
        EXPECT_EQ(DecodeWithFfmpeg(dir.File(std::to_string(i) + ".mp3")).frames,
                  static_cast<int64_t>(30000 + 7000 * i));
    }
}

TEST_F(LameEncTest, BadHandlesAndCallsAreRefused) {
    uint8_t out[16384];
    uint32_t written = 99, samples = 0, size = 0;
    const auto pcm = MakeTone(1152, 1);
    EXPECT_EQ(encode(0xDEADBEEFu, 2304, pcm.data(), out, &written), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    const BE_CONFIG c = MakeConfig(BE_MP3_MODE_STEREO, 128);
    HBE_STREAM stream = 0, next = 0;
    ASSERT_EQ(init(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    std::vector<int16_t> tooMany(samples + 2);
    EXPECT_EQ(encode(stream, samples + 2, tooMany.data(), out, &written), BE_ERR_CHUNK_TOO_LARGE);
    EXPECT_EQ(encode(stream, 2304, nullptr, out, &written), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(deinit(stream, out, &written), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(encode(stream, 2304, pcm.data(), out, &written), BE_ERR_STREAM_FLUSHED);
    EXPECT_EQ(close(stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(close(stream), BE_ERR_INVALID_HANDLE);
    ASSERT_EQ(init(&c, &samples, &size, &next), BE_ERR_SUCCESSFUL);
    EXPECT_NE(next, stream) << "handles are not reused at once";
    EXPECT_EQ(close(next), BE_ERR_SUCCESSFUL); // without a flush: simply released
}
