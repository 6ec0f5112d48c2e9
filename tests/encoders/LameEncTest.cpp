#include "EncoderTestSupport.h"
#include "TestSupport.h"
#include "lame_enc.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace {

struct LameApi {
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER writeVbrHeader = nullptr;
};

// The record as the MP3 job fills it: CRC, private, copyright and original bits set, a VBR header
// requested, no bit reservoir. vbrQuality < 0 means constant bitrate.
BE_CONFIG MakeConfig(int mode, uint32_t kbps, int vbrQuality, uint32_t maxKbps, int preset) {
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
    c.bPrivate = 1;
    c.bCRC = 1;
    c.bCopyright = 1;
    c.bOriginal = 1;
    c.bWriteVBRHeader = 1;
    c.bEnableVBR = vbrQuality >= 0 ? 1 : 0;
    c.nVBRQuality = vbrQuality >= 0 ? vbrQuality : 0;
    c.bNoRes = 1;
    return c;
}

struct FrameHeader {
    bool valid = false;
    bool crc = false;
    int kbps = 0;
    int rate = 0;
    bool privateBit = false;
    int mode = 0;
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
    size_t length = 0;
};

// MPEG-1 Layer III only: what the encoder writes at 44.1 kHz.
FrameHeader ParseFrameHeader(const uint8_t* p) {
    static constexpr int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kRates[] = {44100, 48000, 32000, 0};
    FrameHeader h;
    if (p[0] != 0xFF || (p[1] & 0xFE) != 0xFA)
        return h;
    h.crc = (p[1] & 0x01) == 0;
    h.kbps = kKbps[p[2] >> 4];
    h.rate = kRates[(p[2] >> 2) & 3];
    const bool padding = (p[2] & 0x02) != 0;
    h.privateBit = (p[2] & 0x01) != 0;
    h.mode = p[3] >> 6;
    h.copyright = (p[3] & 0x08) != 0;
    h.original = (p[3] & 0x04) != 0;
    h.emphasis = p[3] & 0x03;
    if (h.kbps == 0 || h.rate == 0)
        return h;
    h.length = static_cast<size_t>(144000 * h.kbps / h.rate + (padding ? 1 : 0));
    h.valid = true;
    return h;
}

// Every frame header from offset `start` up to `end`; stops at the first byte that is not a frame.
std::vector<FrameHeader> Frames(const std::vector<uint8_t>& file, size_t start, size_t end) {
    std::vector<FrameHeader> frames;
    size_t pos = start;
    while (pos + 4 <= end) {
        FrameHeader h = ParseFrameHeader(&file[pos]);
        if (!h.valid)
            break;
        frames.push_back(h);
        pos += h.length;
    }
    return frames;
}

bool Contains(const std::vector<uint8_t>& bytes, size_t from, size_t to, const std::string& text) {
    auto begin = bytes.begin() + static_cast<ptrdiff_t>(from);
    auto end = bytes.begin() + static_cast<ptrdiff_t>(std::min(to, bytes.size()));
    return std::search(begin, end, text.begin(), text.end()) != end;
}

std::vector<uint8_t> FakeId3v1Tag() {
    std::vector<uint8_t> tag(128, ' ');
    std::memcpy(tag.data(), "TAG", 3);
    std::memcpy(tag.data() + 3, "Title", 5);
    std::memcpy(tag.data() + 97, "Quillet", 7);
    tag[127] = 147;
    return tag;
}

struct Encoded {
    BE_ERR initErr = BE_ERR_SUCCESSFUL;
    BE_ERR encodeErr = BE_ERR_SUCCESSFUL;
    BE_ERR deinitErr = BE_ERR_SUCCESSFUL;
    uint32_t samplesPerChunk = 0;
    uint32_t bufferSize = 0;
    bool guardIntact = true;
    std::vector<uint8_t> bytes;
};

// Drives a stream as the MP3 job does.
Encoded Encode(const LameApi& api, const BE_CONFIG& config, const std::vector<int16_t>& pcm,
               const std::vector<uint32_t>& pattern = {0}) {
    Encoded e;
    HBE_STREAM stream = 0;
    e.initErr = api.init(&config, &e.samplesPerChunk, &e.bufferSize, &stream);
    if (e.initErr != BE_ERR_SUCCESSFUL)
        return e;
    GuardedOutput out(e.bufferSize);
    uint32_t written = 0;
    FeedChunks(pcm, e.samplesPerChunk, pattern, [&](uint32_t n, const int16_t* values) {
        e.encodeErr = api.encode(stream, n, values, out.Data(), &written);
        out.Take(e.encodeErr == BE_ERR_SUCCESSFUL ? written : 0);
        return e.encodeErr == BE_ERR_SUCCESSFUL;
    });
    if (e.encodeErr == BE_ERR_SUCCESSFUL) {
        e.deinitErr = api.deinit(stream, out.Data(), &written);
        out.Take(written);
    }
    api.close(stream);
    e.guardIntact = out.intact;
    e.bytes = std::move(out.bytes);
    return e;
}

// Sample frames that mpg123 decodes from an MP3 file (mixed to mono: two bytes a frame); -1 on failure.
int64_t DecodeMp3WithMpg123(const std::string& path) {
    const ToolResult r = RunTool("mpg123", {"-q", "--mono", "-s", path});
    return r.Ok() ? static_cast<int64_t>(r.out.size() / 2) : -1;
}

class LameEncTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.IsLoaded()) << module.Error();
        api.init = module.Get<BEINITSTREAM>("beInitStream");
        api.encode = module.Get<BEENCODECHUNK>("beEncodeChunk");
        api.deinit = module.Get<BEDEINITSTREAM>("beDeinitStream");
        api.close = module.Get<BECLOSESTREAM>("beCloseStream");
        api.version = module.Get<BEVERSION>("beVersion");
        api.writeVbrHeader = module.Get<BEWRITEVBRHEADER>("beWriteVBRHeader");
        ASSERT_TRUE(api.init && api.encode && api.deinit && api.close && api.version && api.writeVbrHeader);
    }

    // Writes the frames and an ID3v1 tag, then lets the module fill in the VBR header, as the job does.
    BE_ERR Finish(const std::string& path, const std::vector<uint8_t>& frames,
                  const std::vector<uint8_t>& prefix = {}) {
        std::vector<uint8_t> file = prefix;
        file.insert(file.end(), frames.begin(), frames.end());
        const auto tag = FakeId3v1Tag();
        file.insert(file.end(), tag.begin(), tag.end());
        WriteBytes(path, file);
        return api.writeVbrHeader(path.c_str());
    }

    LoadedModule module{"lame_enc.so"};
    LameApi api;
    TempDir dir;
};

} // namespace

TEST_F(LameEncTest, RecordsOfAnotherKindVersionOrSizeAreRefused) {
    uint32_t samples = 7, size = 7;
    HBE_STREAM stream = 7;
    BE_CONFIG c = MakeConfig(0, 128, -1, 128, 0);
    c.dwConfig = BE_CONFIG_MP3;
    EXPECT_EQ(api.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT);
    EXPECT_EQ(stream, 0u);
    c = MakeConfig(0, 128, -1, 128, 0);
    c.dwStructVersion = 0;
    EXPECT_EQ(api.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT);
    for (uint32_t wrongSize : {0u, 330u, 332u, 56u}) {
        c = MakeConfig(0, 128, -1, 128, 0);
        c.dwStructSize = wrongSize;
        EXPECT_EQ(api.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT) << wrongSize;
    }
    c = MakeConfig(0, 128, -1, 128, 0);
    EXPECT_EQ(api.init(nullptr, &samples, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.init(&c, nullptr, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.init(&c, &samples, nullptr, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.init(&c, &samples, &size, nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

TEST_F(LameEncTest, FieldsOutOfRangeAreRefused) {
    std::vector<std::pair<const char*, BE_CONFIG>> bad;
    auto add = [&](const char* name, auto change) {
        BE_CONFIG c = MakeConfig(0, 128, 2, 320, 0);
        change(c);
        bad.emplace_back(name, c);
    };
    add("mode 4", [](BE_CONFIG& c) { c.nMode = 4; });
    add("mode -1", [](BE_CONFIG& c) { c.nMode = -1; });
    add("preset 4", [](BE_CONFIG& c) { c.nPreset = 4; });
    add("reserved emphasis", [](BE_CONFIG& c) { c.dwEmphasis = 2; });
    add("VBR quality 10", [](BE_CONFIG& c) { c.nVBRQuality = 10; });
    add("VBR quality -1", [](BE_CONFIG& c) { c.nVBRQuality = -1; });
    add("MPEG version 2", [](BE_CONFIG& c) { c.dwMpegVersion = 2; });
    add("VBR method 5", [](BE_CONFIG& c) { c.nVbrMethod = 5; });
    add("ABR without bitrate", [](BE_CONFIG& c) { c.nVbrMethod = VBR_METHOD_ABR; });
    add("no sample rate", [](BE_CONFIG& c) { c.dwSampleRate = 0; });
    for (const auto& [name, c] : bad) {
        uint32_t samples = 0, size = 0;
        HBE_STREAM stream = 0;
        EXPECT_EQ(api.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS) << name;
        EXPECT_EQ(stream, 0u) << name;
    }
}

namespace {

struct Mp3Case {
    const char* name;
    int mode;
    uint32_t kbps;
    int vbrQuality;
    uint32_t maxKbps;
    int preset;
    int channels;
    const char* tagName;
    int minFrameKbps;
    int maxFrameKbps;
};

class Mp3Settings : public LameEncTest, public ::testing::WithParamInterface<Mp3Case> {};

} // namespace

// Each setting gives a file whose header bits follow the record, whose first frame becomes the Xing/Info
// frame (the ID3v1 tag after the frames untouched), and which decodes to exactly the input samples.
TEST_P(Mp3Settings, DecodesToTheInputSamplesWithTheRecordsHeaderBits) {
    const Mp3Case& p = GetParam();
    const size_t inputFrames = 55555;
    const auto pcm = MakeTone(inputFrames, 7);
    const Encoded e = Encode(api, MakeConfig(p.mode, p.kbps, p.vbrQuality, p.maxKbps, p.preset), pcm,
                             {0, 1001, 3, 2304, 0, 2303, 1});
    ASSERT_EQ(e.initErr, BE_ERR_SUCCESSFUL);
    ASSERT_EQ(e.encodeErr, BE_ERR_SUCCESSFUL);
    ASSERT_EQ(e.deinitErr, BE_ERR_SUCCESSFUL);
    EXPECT_EQ(e.samplesPerChunk, 2304u);
    EXPECT_GE(e.bufferSize, 1152u * 5 / 4 + 7200);
    EXPECT_TRUE(e.guardIntact);

    const auto frames = Frames(e.bytes, 0, e.bytes.size());
    ASSERT_GT(frames.size(), 40u);
    const size_t placeholder = frames[0].length;
    EXPECT_FALSE(Contains(e.bytes, 0, placeholder, p.tagName)) << "the first frame is a placeholder";
    size_t audioBytes = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        const FrameHeader& f = frames[i];
        EXPECT_TRUE(f.crc && f.privateBit && f.copyright && f.original) << "frame " << i;
        EXPECT_EQ(f.emphasis, 0);
        EXPECT_EQ(f.rate, 44100);
        EXPECT_EQ(f.mode, p.mode) << "frame " << i;
        EXPECT_GE(f.kbps, p.minFrameKbps) << "frame " << i;
        EXPECT_LE(f.kbps, p.maxFrameKbps) << "frame " << i;
        audioBytes += f.length;
    }
    EXPECT_EQ(placeholder + audioBytes, e.bytes.size()) << "nothing but whole frames";

    const std::string path = dir.File(std::string(p.name) + ".mp3");
    ASSERT_EQ(Finish(path, e.bytes), BE_ERR_SUCCESSFUL);
    const auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), e.bytes.size() + 128);
    EXPECT_TRUE(Contains(file, 0, placeholder, p.tagName));
    EXPECT_TRUE(Contains(file, 0, placeholder, "LAME"));
    EXPECT_TRUE(std::equal(file.begin() + static_cast<ptrdiff_t>(placeholder), file.end() - 128,
                           e.bytes.begin() + static_cast<ptrdiff_t>(placeholder)))
        << "only the first frame changes";
    const auto tag = FakeId3v1Tag();
    EXPECT_TRUE(std::equal(file.end() - 128, file.end(), tag.begin()));

    const DecodedAudio decoded = DecodeWithFfmpeg(path);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.channels, p.channels);
    EXPECT_EQ(decoded.frames, static_cast<int64_t>(inputFrames));
    EXPECT_EQ(DecodeMp3WithMpg123(path), static_cast<int64_t>(inputFrames));
    // FFmpeg names the encoder only when the LAME tag's checksum is right.
    const ToolResult probed = RunTool(
        "ffprobe", {"-v", "error", "-show_entries", "stream_tags=encoder", "-of", "default=nw=1:nk=1", path});
    EXPECT_EQ(probed.out.rfind("LAME3.", 0), 0u) << probed.out;
}

INSTANTIATE_TEST_SUITE_P(
    Lame, Mp3Settings,
    ::testing::Values(
        Mp3Case{"CbrStereoNormal", BE_MP3_MODE_STEREO, 128, -1, 128, LQP_NORMAL_QUALITY, 2, "Info", 128, 128},
        Mp3Case{"CbrJointStereoHigh", BE_MP3_MODE_JSTEREO, 192, -1, 128, LQP_HIGH_QUALITY, 2, "Info", 192,
                192},
        Mp3Case{"CbrDualChannelLow", BE_MP3_MODE_DUALCHANNEL, 320, -1, 128, LQP_LOW_QUALITY, 2, "Info", 320,
                320},
        // Frames too small for LAME's tag: the module writes the Info frame itself.
        Mp3Case{"CbrMonoVoiceLowest", BE_MP3_MODE_MONO, 32, -1, 128, LQP_VOICE_QUALITY, 1, "Info", 32, 32},
        Mp3Case{"CbrJointStereo56", BE_MP3_MODE_JSTEREO, 56, -1, 128, LQP_NORMAL_QUALITY, 2, "Info", 56, 56},
        Mp3Case{"VbrBestJointStereo", BE_MP3_MODE_JSTEREO, 32, 0, 320, LQP_NORMAL_QUALITY, 2, "Xing", 32,
                320},
        Mp3Case{"VbrLowestMono", BE_MP3_MODE_MONO, 32, 9, 96, LQP_NORMAL_QUALITY, 1, "Xing", 32, 96},
        // A maximum below the minimum is raised to it.
        Mp3Case{"VbrMaximumBelowMinimum", BE_MP3_MODE_STEREO, 160, 4, 64, LQP_HIGH_QUALITY, 2, "Xing", 160,
                160}),
    [](const ::testing::TestParamInfo<Mp3Case>& info) { return std::string(info.param.name); });

TEST_F(LameEncTest, WithoutAVbrHeaderRequestNoFrameIsReserved) {
    BE_CONFIG c = MakeConfig(BE_MP3_MODE_STEREO, 128, -1, 128, LQP_NORMAL_QUALITY);
    c.bWriteVBRHeader = 0;
    const Encoded e = Encode(api, c, MakeTone(20000, 3));
    ASSERT_EQ(e.deinitErr, BE_ERR_SUCCESSFUL);
    const auto frames = Frames(e.bytes, 0, e.bytes.size());
    ASSERT_FALSE(frames.empty());
    EXPECT_FALSE(std::all_of(e.bytes.begin() + 6, e.bytes.begin() + static_cast<ptrdiff_t>(frames[0].length),
                             [](uint8_t b) { return b == 0; }))
        << "the first frame carries audio";
    const std::string path = dir.File("plain.mp3");
    EXPECT_EQ(Finish(path, e.bytes), BE_ERR_NO_VBR_HEADER);
    auto expected = e.bytes;
    const auto tag = FakeId3v1Tag();
    expected.insert(expected.end(), tag.begin(), tag.end());
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(LameEncTest, VbrHeaderIsWrittenOnlyIntoTheStreamsOwnFile) {
    const Encoded e = Encode(api, MakeConfig(BE_MP3_MODE_JSTEREO, 128, -1, 128, 0), MakeTone(30000, 5));
    ASSERT_EQ(e.deinitErr, BE_ERR_SUCCESSFUL);

    // Another file, a cut copy of the stream's own file, a missing file, no path.
    const std::string foreign = dir.File("foreign.mp3");
    std::vector<uint8_t> junk(e.bytes.size() + 128, 0x11);
    WriteBytes(foreign, junk);
    EXPECT_EQ(api.writeVbrHeader(foreign.c_str()), BE_ERR_NO_VBR_HEADER);
    EXPECT_EQ(ReadBytes(foreign), junk);

    const std::string cut = dir.File("cut.mp3");
    std::vector<uint8_t> half(e.bytes.begin(), e.bytes.begin() + static_cast<ptrdiff_t>(e.bytes.size() / 2));
    WriteBytes(cut, half);
    EXPECT_EQ(api.writeVbrHeader(cut.c_str()), BE_ERR_NO_VBR_HEADER);
    EXPECT_EQ(ReadBytes(cut), half);

    EXPECT_EQ(api.writeVbrHeader(dir.File("missing.mp3").c_str()), BE_ERR_FILE);
    EXPECT_EQ(api.writeVbrHeader(nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);

    // The real file, even under a non-ASCII name, and a second call leaves it as it is.
    const std::string own = dir.File("Grüße 音楽.mp3");
    ASSERT_EQ(Finish(own, e.bytes), BE_ERR_SUCCESSFUL);
    const auto once = ReadBytes(own);
    EXPECT_EQ(api.writeVbrHeader(own.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadBytes(own), once);
    EXPECT_EQ(DecodeWithFfmpeg(own).frames, 30000);
}

TEST_F(LameEncTest, ConcurrentStreamsEachGetTheirOwnVbrHeader) {
    struct Job {
        BE_CONFIG config;
        std::vector<int16_t> pcm;
        Encoded result;
    };
    std::vector<Job> jobs = {{MakeConfig(BE_MP3_MODE_STEREO, 128, -1, 128, 0), MakeTone(40000, 1), {}},
                             {MakeConfig(BE_MP3_MODE_JSTEREO, 32, 2, 256, 0), MakeTone(47000, 2), {}},
                             {MakeConfig(BE_MP3_MODE_MONO, 64, -1, 128, 3), MakeTone(33333, 3), {}}};
    std::vector<std::thread> threads;
    for (auto& job : jobs)
        threads.emplace_back([&job, this] { job.result = Encode(api, job.config, job.pcm); });
    for (auto& t : threads)
        t.join();

    // Headers are requested in the reverse order of the streams; the second file starts with an ID3v2 tag.
    std::vector<uint8_t> id3v2 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    id3v2.resize(30, 0);
    for (size_t i = jobs.size(); i-- > 0;) {
        ASSERT_EQ(jobs[i].result.deinitErr, BE_ERR_SUCCESSFUL);
        const std::string path = dir.File("job" + std::to_string(i) + ".mp3");
        ASSERT_EQ(Finish(path, jobs[i].result.bytes, i == 1 ? id3v2 : std::vector<uint8_t>{}),
                  BE_ERR_SUCCESSFUL);
        const auto file = ReadBytes(path);
        EXPECT_TRUE(Contains(file, i == 1 ? 30 : 0, 2000, "LAME")) << i;
        const DecodedAudio decoded = DecodeWithFfmpeg(path);
        EXPECT_EQ(decoded.frames, static_cast<int64_t>(jobs[i].pcm.size() / 2)) << i << decoded.error;
    }
}

TEST_F(LameEncTest, StreamWithoutSamplesGivesAValidFile) {
    // FFmpeg needs two audio frames in a row to accept a file, and misses the end padding of very short
    // files that end in an ID3v1 tag, so mpg123 judges these. Both settings: LAME's tag and this module's.
    for (uint32_t kbps : {128u, 32u}) {
        const Encoded e = Encode(api, MakeConfig(BE_MP3_MODE_STEREO, kbps, -1, 128, 0), {});
        ASSERT_EQ(e.deinitErr, BE_ERR_SUCCESSFUL);
        const auto frames = Frames(e.bytes, 0, e.bytes.size());
        ASSERT_GE(frames.size(), 2u) << kbps;
        const std::string path = dir.File("empty.mp3");
        ASSERT_EQ(Finish(path, e.bytes), BE_ERR_SUCCESSFUL);
        EXPECT_TRUE(Contains(ReadBytes(path), 0, frames[0].length, "Info")) << kbps;
        EXPECT_EQ(DecodeMp3WithMpg123(path), 0) << kbps;

        const Encoded tiny = Encode(api, MakeConfig(BE_MP3_MODE_STEREO, kbps, -1, 128, 0), MakeTone(100, 9));
        const std::string tinyPath = dir.File("tiny.mp3");
        ASSERT_EQ(Finish(tinyPath, tiny.bytes), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(DecodeMp3WithMpg123(tinyPath), 100) << kbps;
    }
}

TEST_F(LameEncTest, WorstCaseOutputFitsTheBuffer) {
    // Full-scale noise at the highest rates fills frames to the brim.
    for (const BE_CONFIG& c : {MakeConfig(BE_MP3_MODE_STEREO, 320, -1, 320, LQP_HIGH_QUALITY),
                               MakeConfig(BE_MP3_MODE_STEREO, 320, 0, 320, LQP_LOW_QUALITY)}) {
        const Encoded e = Encode(api, c, MakeNoise(30000, 4), {0, 2303, 1});
        EXPECT_EQ(e.encodeErr, BE_ERR_SUCCESSFUL);
        EXPECT_EQ(e.deinitErr, BE_ERR_SUCCESSFUL);
        EXPECT_TRUE(e.guardIntact);
        const auto frames = Frames(e.bytes, 0, e.bytes.size());
        ASSERT_GT(frames.size(), 2u);
        EXPECT_EQ(frames[1].kbps, 320);
    }
}

TEST_F(LameEncTest, BadHandlesAndCallsAreRefused) {
    uint8_t out[16384];
    uint32_t written = 99;
    const auto pcm = MakeTone(1152, 1);
    for (HBE_STREAM bad : {0u, 0xDEADBEEFu}) {
        EXPECT_EQ(api.encode(bad, 2304, pcm.data(), out, &written), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(api.deinit(bad, out, &written), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(api.close(bad), BE_ERR_INVALID_HANDLE);
    }

    const BE_CONFIG c = MakeConfig(BE_MP3_MODE_STEREO, 128, -1, 128, 0);
    uint32_t samples = 0, size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(api.init(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    ASSERT_NE(stream, 0u);
    ASSERT_LE(size, sizeof(out));
    std::vector<int16_t> tooMany(samples + 2);
    EXPECT_EQ(api.encode(stream, samples + 2, tooMany.data(), out, &written), BE_ERR_CHUNK_TOO_LARGE);
    EXPECT_EQ(api.encode(stream, 2304, nullptr, out, &written), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.encode(stream, 2304, pcm.data(), nullptr, &written), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.encode(stream, 2304, pcm.data(), out, nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.encode(stream, 0, nullptr, out, &written), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api.encode(stream, 2304, pcm.data(), out, &written), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api.deinit(stream, nullptr, &written), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(api.deinit(stream, out, &written), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api.encode(stream, 2304, pcm.data(), out, &written), BE_ERR_STREAM_FLUSHED);
    EXPECT_EQ(api.deinit(stream, out, &written), BE_ERR_STREAM_FLUSHED);
    EXPECT_EQ(api.close(stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(api.close(stream), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(api.encode(stream, 2304, pcm.data(), out, &written), BE_ERR_INVALID_HANDLE);

    // A stream closed without a flush is simply released; handles are not reused at once.
    HBE_STREAM next = 0;
    ASSERT_EQ(api.init(&c, &samples, &size, &next), BE_ERR_SUCCESSFUL);
    EXPECT_NE(next, stream);
    EXPECT_EQ(api.close(next), BE_ERR_SUCCESSFUL);
}
