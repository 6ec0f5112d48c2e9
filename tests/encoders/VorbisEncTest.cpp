#include "EncoderTestSupport.h"
#include "TestSupport.h"
#include "Vorbis.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

struct VorbisApi {
    VBENCOPEN open = nullptr;
    VBENCWRITE write = nullptr;
    VBENCCLOSE close = nullptr;
    VBVERSION version = nullptr;
};

// The records as the Ogg job fills them.
VB_CONFIG MakeConfig(uint32_t minBitrate, uint32_t nominalBitrate, uint32_t maxBitrate) {
    VB_CONFIG c;
    std::memset(&c, 0, sizeof(c));
    c.dwConfig = VB_CONFIG_VORBIS;
    c.dwStructSize = sizeof(VB_CONFIG);
    c.dwChannels = 2;
    c.dwSampleRate = 44100;
    c.dwMinBitrate = minBitrate;
    c.dwNominalBitrate = nominalBitrate;
    c.dwMaxBitrate = maxBitrate;
    c.dwFormatVersion = 100;
    return c;
}

VB_COMMENT MakeComment(const char* artist, const char* album, const char* title, const char* comment) {
    VB_COMMENT c;
    std::memset(&c, 0, sizeof(c));
    c.dwStructSize = sizeof(VB_COMMENT);
    c.dwTagFormat[0] = 1;
    c.dwTagFormat[1] = 1;
    c.dwTagFormat[2] = 44;
    c.dwTagFormat[3] = 1;
    c.pszArtist = artist;
    c.pszAlbum = album;
    c.pszTitle = title;
    c.pszComment = comment;
    c.dwTagFlags[0] = 1;
    c.dwTagFlags[1] = 1;
    return c;
}

struct Encoded {
    VB_ERR openErr = VB_ERR_SUCCESSFUL;
    VB_ERR writeErr = VB_ERR_SUCCESSFUL;
    VB_ERR closeErr = VB_ERR_SUCCESSFUL;
    uint32_t samplesPerChunk = 0;
    uint32_t bufferSize = 0;
    uint32_t largestOutput = 0;
    bool guardIntact = true;
    std::vector<uint8_t> bytes;
};

// Drives a stream as the Ogg job does.
Encoded Encode(const VorbisApi& api, const VB_CONFIG& config, const VB_COMMENT& comment,
               const std::vector<int16_t>& pcm, const std::vector<uint32_t>& pattern = {0}) {
    Encoded e;
    HVB_STREAM stream = 0;
    e.openErr = api.open(&config, &comment, &e.samplesPerChunk, &e.bufferSize, &stream);
    if (e.openErr != VB_ERR_SUCCESSFUL)
        return e;
    GuardedOutput out(e.bufferSize);
    uint32_t written = 0;
    FeedChunks(pcm, e.samplesPerChunk, pattern, [&](uint32_t n, const int16_t* values) {
        e.writeErr = api.write(stream, n, values, out.Data(), &written);
        out.Take(e.writeErr == VB_ERR_SUCCESSFUL ? written : 0);
        return e.writeErr == VB_ERR_SUCCESSFUL;
    });
    e.closeErr = api.close(stream, out.Data(), &written);
    out.Take(written);
    e.guardIntact = out.intact;
    e.largestOutput = out.largest;
    e.bytes = std::move(out.bytes);
    return e;
}

// The bitrate fields of the identification header (the first packet, alone on the first page).
struct IdentHeader {
    bool valid = false;
    int channels = 0;
    uint32_t rate = 0;
    int32_t maximum = 0;
    int32_t nominal = 0;
    int32_t minimum = 0;
};

IdentHeader ReadIdentHeader(const std::vector<uint8_t>& file) {
    IdentHeader h;
    if (file.size() < 27 || std::memcmp(file.data(), "OggS", 4) != 0)
        return h;
    const size_t start = 27 + file[26];
    if (file.size() < start + 30 || file[start] != 1 || std::memcmp(&file[start + 1], "vorbis", 6) != 0)
        return h;
    auto word = [&](size_t offset) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | file[start + offset + static_cast<size_t>(i)];
        return v;
    };
    h.channels = file[start + 11];
    h.rate = word(12);
    h.maximum = static_cast<int32_t>(word(16));
    h.nominal = static_cast<int32_t>(word(20));
    h.minimum = static_cast<int32_t>(word(24));
    h.valid = true;
    return h;
}

// Header type flags of every Ogg page, in order; empty when the pages do not chain up to the end.
std::vector<uint8_t> PageFlags(const std::vector<uint8_t>& file, std::set<uint32_t>* serials = nullptr) {
    std::vector<uint8_t> flags;
    size_t pos = 0;
    while (pos < file.size()) {
        if (file.size() < pos + 27 || std::memcmp(&file[pos], "OggS", 4) != 0)
            return {};
        const size_t segments = file[pos + 26];
        if (file.size() < pos + 27 + segments)
            return {};
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i)
            body += file[pos + 27 + i];
        flags.push_back(file[pos + 5]);
        if (serials)
            serials->insert(static_cast<uint32_t>(file[pos + 14] | file[pos + 15] << 8 |
                                                  file[pos + 16] << 16 |
                                                  static_cast<uint32_t>(file[pos + 17]) << 24));
        pos += 27 + segments + body;
    }
    return pos == file.size() ? flags : std::vector<uint8_t>{};
}

class VorbisEncTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.IsLoaded()) << module.Error();
        api.open = module.Get<VBENCOPEN>("vbEncOpen");
        api.write = module.Get<VBENCWRITE>("vbEncWrite");
        api.close = module.Get<VBENCCLOSE>("vbEncClose");
        api.version = module.Get<VBVERSION>("vbVersion");
        ASSERT_TRUE(api.open && api.write && api.close && api.version);
    }

    // Writes the stream's bytes to a file and checks that it decodes to `frames` sample frames.
    void ExpectDecodes(const std::string& name, const Encoded& e, int64_t frames) {
        const std::string path = dir.File(name);
        WriteBytes(path, e.bytes);
        const DecodedAudio decoded = DecodeWithFfmpeg(path);
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.channels, 2);
        EXPECT_EQ(decoded.frames, frames);
        const auto flags = PageFlags(e.bytes);
        ASSERT_FALSE(flags.empty()) << "pages do not chain";
        EXPECT_EQ(flags.front() & 0x02, 0x02) << "first page begins the stream";
        EXPECT_EQ(flags.back() & 0x04, 0x04) << "last page ends the stream";
    }

    LoadedModule module{"Vorbis.so"};
    VorbisApi api;
    TempDir dir;
    VB_COMMENT comment = MakeComment("Artist", "Album", "song_OUTPUT.ogg", "Quillet");
};

} // namespace

TEST_F(VorbisEncTest, RecordsOfAnotherKindOrSizeAreRefused) {
    uint32_t samples = 7, size = 7;
    HVB_STREAM stream = 7;
    VB_CONFIG c = MakeConfig(0, 128000, 0);
    c.dwConfig = 0;
    EXPECT_EQ(api.open(&c, &comment, &samples, &size, &stream), VB_ERR_INVALID_CONFIG);
    EXPECT_EQ(stream, 0u);
    for (uint32_t wrongSize : {0u, 255u, 257u}) {
        c = MakeConfig(0, 128000, 0);
        c.dwStructSize = wrongSize;
        EXPECT_EQ(api.open(&c, &comment, &samples, &size, &stream), VB_ERR_INVALID_CONFIG) << wrongSize;
    }
    c = MakeConfig(0, 128000, 0);
    VB_COMMENT narrow = comment;
    narrow.dwStructSize = 56; // the record's size with 32-bit pointers
    if (sizeof(void*) == 8) {
        EXPECT_EQ(api.open(&c, &narrow, &samples, &size, &stream), VB_ERR_INVALID_COMMENT);
    }
    for (uint32_t channels : {0u, 3u}) {
        c.dwChannels = channels;
        EXPECT_EQ(api.open(&c, &comment, &samples, &size, &stream), VB_ERR_INVALID_PARAMETER) << channels;
    }
    c = MakeConfig(0, 128000, 0);
    EXPECT_EQ(api.open(nullptr, &comment, &samples, &size, &stream), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.open(&c, nullptr, &samples, &size, &stream), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.open(&c, &comment, nullptr, &size, &stream), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.open(&c, &comment, &samples, nullptr, &stream), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.open(&c, &comment, &samples, &size, nullptr), VB_ERR_INVALID_PARAMETER);
}

namespace {

class NominalBitrate : public VorbisEncTest, public ::testing::WithParamInterface<uint32_t> {};

} // namespace

// Each item of the bitrate list as the nominal bitrate, the others "Default"; 0 is all "Default".
TEST_P(NominalBitrate, GivesAFileWithTheInputSamples) {
    const uint32_t nominal = GetParam();
    const size_t frames = 33333;
    const Encoded e =
        Encode(api, MakeConfig(0, nominal, 0), comment, MakeTone(frames, nominal), {0, 4095, 1, 2});
    ASSERT_EQ(e.openErr, VB_ERR_SUCCESSFUL);
    ASSERT_EQ(e.writeErr, VB_ERR_SUCCESSFUL);
    ASSERT_EQ(e.closeErr, VB_ERR_SUCCESSFUL);
    EXPECT_EQ(e.samplesPerChunk, 4096u);
    EXPECT_TRUE(e.guardIntact);
    ExpectDecodes("nominal.ogg", e, static_cast<int64_t>(frames));

    const IdentHeader ident = ReadIdentHeader(e.bytes);
    ASSERT_TRUE(ident.valid);
    EXPECT_EQ(ident.channels, 2);
    EXPECT_EQ(ident.rate, 44100u);
    if (nominal == 0) {
        // Quality-based VBR near 160 kbps.
        EXPECT_GE(ident.nominal, 150000);
        EXPECT_LE(ident.nominal, 170000);
    } else {
        // Below about 45 kbps libvorbis has no setup at 44.1 kHz stereo; the nearest one is taken.
        EXPECT_EQ(ident.nominal, static_cast<int32_t>(std::max<uint32_t>(nominal, 45000)));
    }
    EXPECT_LE(ident.minimum, 0);
    EXPECT_LE(ident.maximum, 0);
}

INSTANTIATE_TEST_SUITE_P(Vorbis, NominalBitrate,
                         ::testing::Values(0u, 32000u, 40000u, 48000u, 64000u, 80000u, 96000u, 128000u,
                                           160000u, 196000u, 256000u, 350000u));

namespace {

struct WindowCase {
    const char* name;
    uint32_t minBitrate, nominalBitrate, maxBitrate;
    int32_t expectMinimum, expectNominal, expectMaximum; // 0 = not set (the header may say 0 or -1)
};

class BitrateWindow : public VorbisEncTest, public ::testing::WithParamInterface<WindowCase> {};

} // namespace

// Windows that contradict themselves or libvorbis still give working streams.
TEST_P(BitrateWindow, IsMadeConsistent) {
    const WindowCase& p = GetParam();
    const size_t frames = 22050;
    const Encoded e =
        Encode(api, MakeConfig(p.minBitrate, p.nominalBitrate, p.maxBitrate), comment, MakeTone(frames, 4));
    ASSERT_EQ(e.openErr, VB_ERR_SUCCESSFUL);
    ASSERT_EQ(e.closeErr, VB_ERR_SUCCESSFUL);
    ExpectDecodes(std::string(p.name) + ".ogg", e, static_cast<int64_t>(frames));
    const IdentHeader ident = ReadIdentHeader(e.bytes);
    ASSERT_TRUE(ident.valid);
    auto expect = [](int32_t actual, int32_t expected, const char* what) {
        if (expected == 0) {
            EXPECT_LE(actual, 0) << what;
        } else {
            EXPECT_EQ(actual, expected) << what;
        }
    };
    expect(ident.minimum, p.expectMinimum, "minimum");
    expect(ident.maximum, p.expectMaximum, "maximum");
    if (p.expectNominal != 0) {
        EXPECT_EQ(ident.nominal, p.expectNominal);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Vorbis, BitrateWindow,
    ::testing::Values(WindowCase{"AllAtTheFirstRunDefault", 128000, 128000, 128000, 128000, 128000, 128000},
                      WindowCase{"MinimumAboveAndMaximumBelowNominal", 256000, 128000, 64000, 128000, 128000,
                                 128000},
                      WindowCase{"MaximumBelowASupportedNominal", 0, 32000, 40000, 0, 45000, 45000},
                      WindowCase{"MinimumAboveMaximumSwaps", 350000, 0, 32000, 32000, 0, 350000},
                      WindowCase{"OnlyAMaximumBelowTheSupportedRange", 0, 0, 32000, 0, 45000, 32000},
                      WindowCase{"OnlyAMinimum", 350000, 0, 0, 350000, 350000, 0},
                      WindowCase{"WideWindowAroundTheTop", 64000, 350000, 32000, 64000, 350000, 350000}),
    [](const ::testing::TestParamInfo<WindowCase>& info) { return std::string(info.param.name); });

TEST_F(VorbisEncTest, CombinationsOfTheListsOpen) {
    // The ends of the list, the values below what libvorbis supports and one in the middle, in every
    // role (opening a stream takes a few milliseconds, so not all 1728 combinations).
    const uint32_t list[] = {0, 32000, 40000, 48000, 128000, 350000};
    uint8_t out[1 << 16];
    for (uint32_t lo : list)
        for (uint32_t nominal : list)
            for (uint32_t hi : list) {
                const VB_CONFIG c = MakeConfig(lo, nominal, hi);
                uint32_t samples = 0, size = 0, written = 0;
                HVB_STREAM stream = 0;
                ASSERT_EQ(api.open(&c, &comment, &samples, &size, &stream), VB_ERR_SUCCESSFUL)
                    << lo << " " << nominal << " " << hi;
                ASSERT_LE(size, sizeof(out));
                ASSERT_EQ(api.close(stream, out, &written), VB_ERR_SUCCESSFUL);
            }
}

TEST_F(VorbisEncTest, TextsBecomeVorbisComments) {
    // UTF-8 stays as it is; a Latin-1 text from an older settings file is converted.
    const VB_COMMENT texts = MakeComment("Grüße 音楽", "Caf\xe9", "song_OUTPUT.ogg", "Quillet");
    const Encoded e = Encode(api, MakeConfig(0, 0, 0), texts, MakeTone(5000));
    ASSERT_EQ(e.closeErr, VB_ERR_SUCCESSFUL);
    const std::string path = dir.File("tags.ogg");
    WriteBytes(path, e.bytes);
    const ToolResult listed = RunTool("vorbiscomment", {"-l", "-R", path});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, "ARTIST=Grüße 音楽\nALBUM=Café\nTITLE=song_OUTPUT.ogg\nCOMMENT=Quillet\n");
    const ToolResult probed =
        RunTool("ffprobe", {"-v", "error", "-show_entries", "stream_tags", "-of", "compact", path});
    EXPECT_NE(
        probed.out.find("tag:ARTIST=Grüße 音楽|tag:ALBUM=Café|tag:TITLE=song_OUTPUT.ogg|tag:COMMENT=Quillet"),
        std::string::npos)
        << probed.out;

    // Empty and missing texts add nothing.
    const Encoded sparse =
        Encode(api, MakeConfig(0, 0, 0), MakeComment("", nullptr, "t", ""), MakeTone(5000));
    const std::string sparsePath = dir.File("sparse.ogg");
    WriteBytes(sparsePath, sparse.bytes);
    EXPECT_EQ(RunTool("vorbiscomment", {"-l", "-R", sparsePath}).out, "TITLE=t\n");
}

TEST_F(VorbisEncTest, StreamWithoutSamplesGivesAValidFile) {
    const Encoded e = Encode(api, MakeConfig(128000, 128000, 128000), comment, {});
    ASSERT_EQ(e.closeErr, VB_ERR_SUCCESSFUL);
    ExpectDecodes("empty.ogg", e, 0);
    const std::string path = dir.File("empty.ogg");
    const ToolResult oggdec = RunTool("oggdec", {"-Q", "-R", "-o", "-", path});
    EXPECT_EQ(oggdec.exitCode, 0) << oggdec.err;
    EXPECT_TRUE(oggdec.out.empty());
    EXPECT_EQ(RunTool("vorbiscomment", {"-l", "-R", path}).out,
              "ARTIST=Artist\nALBUM=Album\nTITLE=song_OUTPUT.ogg\nCOMMENT=Quillet\n");

    // Fewer values than one sample frame count as no samples.
    const Encoded half = Encode(api, MakeConfig(0, 0, 0), comment, std::vector<int16_t>{1234});
    ASSERT_EQ(half.closeErr, VB_ERR_SUCCESSFUL);
    ExpectDecodes("half.ogg", half, 0);
}

TEST_F(VorbisEncTest, NoiseAtTheHighestRatesNeverFillsTheBuffer) {
    // Full-scale noise makes the largest packets. An output that filled the buffer would mean bytes
    // were held back for the next call.
    for (const VB_CONFIG& c : {MakeConfig(350000, 350000, 350000), MakeConfig(0, 350000, 0),
                               MakeConfig(350000, 0, 0), MakeConfig(0, 0, 0)}) {
        const size_t frames = 88200;
        const Encoded e = Encode(api, c, comment, MakeNoise(frames, 11));
        ASSERT_EQ(e.writeErr, VB_ERR_SUCCESSFUL);
        ASSERT_EQ(e.closeErr, VB_ERR_SUCCESSFUL);
        EXPECT_TRUE(e.guardIntact);
        EXPECT_LT(e.largestOutput, e.bufferSize / 2) << c.dwMinBitrate << " " << c.dwNominalBitrate;
        ExpectDecodes("noise.ogg", e, static_cast<int64_t>(frames));
    }
}

TEST_F(VorbisEncTest, MonoInputGivesAMonoFile) {
    VB_CONFIG c = MakeConfig(0, 64000, 0);
    c.dwChannels = 1;
    const std::vector<int16_t> pcm(MakeTone(10000)); // taken as 20000 mono samples
    const Encoded e = Encode(api, c, comment, pcm, {0, 1, 2047});
    ASSERT_EQ(e.closeErr, VB_ERR_SUCCESSFUL);
    EXPECT_EQ(e.samplesPerChunk, 2048u);
    const std::string path = dir.File("mono.ogg");
    WriteBytes(path, e.bytes);
    const DecodedAudio decoded = DecodeWithFfmpeg(path);
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_EQ(decoded.frames, 20000);
}

TEST_F(VorbisEncTest, BadHandlesAndCallsAreRefused) {
    std::vector<uint8_t> out(1 << 17);
    uint32_t written = 99;
    const auto pcm = MakeTone(2048);
    for (HVB_STREAM bad : {0u, 0xDEADBEEFu}) {
        EXPECT_EQ(api.write(bad, 4096, pcm.data(), out.data(), &written), VB_ERR_INVALID_HANDLE);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(api.close(bad, out.data(), &written), VB_ERR_INVALID_HANDLE);
    }

    const VB_CONFIG c = MakeConfig(0, 128000, 0);
    uint32_t samples = 0, size = 0;
    HVB_STREAM stream = 0;
    ASSERT_EQ(api.open(&c, &comment, &samples, &size, &stream), VB_ERR_SUCCESSFUL);
    ASSERT_NE(stream, 0u);
    ASSERT_LE(size, out.size());
    std::vector<int16_t> tooMany(samples + 1);
    EXPECT_EQ(api.write(stream, samples + 1, tooMany.data(), out.data(), &written), VB_ERR_CHUNK_TOO_LARGE);
    EXPECT_EQ(api.write(stream, 4096, nullptr, out.data(), &written), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.write(stream, 4096, pcm.data(), nullptr, &written), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.write(stream, 4096, pcm.data(), out.data(), nullptr), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.write(stream, 0, nullptr, out.data(), &written), VB_ERR_SUCCESSFUL);
    EXPECT_GT(written, 0u) << "the headers come with the first write";
    EXPECT_EQ(api.write(stream, 4096, pcm.data(), out.data(), &written), VB_ERR_SUCCESSFUL);
    EXPECT_EQ(api.close(stream, out.data(), &written), VB_ERR_SUCCESSFUL);
    EXPECT_EQ(api.write(stream, 4096, pcm.data(), out.data(), &written), VB_ERR_INVALID_HANDLE);
    EXPECT_EQ(api.close(stream, out.data(), &written), VB_ERR_INVALID_HANDLE);

    // Closing without a buffer still releases the stream.
    ASSERT_EQ(api.open(&c, &comment, &samples, &size, &stream), VB_ERR_SUCCESSFUL);
    EXPECT_EQ(api.close(stream, nullptr, &written), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(api.close(stream, out.data(), &written), VB_ERR_INVALID_HANDLE);
}

TEST_F(VorbisEncTest, ConcurrentStreamsStayApart) {
    struct Job {
        VB_CONFIG config;
        std::vector<int16_t> pcm;
        Encoded result;
    };
    std::vector<Job> jobs = {{MakeConfig(0, 0, 0), MakeTone(30000, 1), {}},
                             {MakeConfig(0, 96000, 0), MakeTone(41000, 2), {}},
                             {MakeConfig(64000, 0, 256000), MakeNoise(25000, 3), {}}};
    std::vector<std::thread> threads;
    for (auto& job : jobs)
        threads.emplace_back([&job, this] { job.result = Encode(api, job.config, comment, job.pcm); });
    for (auto& t : threads)
        t.join();
    std::set<uint32_t> serials;
    for (size_t i = 0; i < jobs.size(); ++i) {
        ASSERT_EQ(jobs[i].result.closeErr, VB_ERR_SUCCESSFUL) << i;
        ExpectDecodes("job" + std::to_string(i) + ".ogg", jobs[i].result,
                      static_cast<int64_t>(jobs[i].pcm.size() / 2));
        std::set<uint32_t> own;
        PageFlags(jobs[i].result.bytes, &own);
        EXPECT_EQ(own.size(), 1u);
        serials.insert(own.begin(), own.end());
    }
    EXPECT_EQ(serials.size(), jobs.size()) << "each stream has its own serial number";
}
