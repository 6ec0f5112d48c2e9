#include "EncoderTestSupport.h"
#include "TestSupport.h"
#include "Vorbis.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

// The records as the Ogg job fills them.
VB_CONFIG MakeConfig(uint32_t minBitrate, uint32_t nominal, uint32_t maxBitrate, uint32_t channels = 2) {
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

    struct Encoded {
        VB_ERR err = VB_ERR_SUCCESSFUL; // the first error of open, write or close
        uint32_t samplesPerChunk = 0, bufferSize = 0, largestOutput = 0;
        bool guardIntact = false;
        std::vector<uint8_t> bytes;
    };
    Encoded Encode(const VB_CONFIG& config, const std::vector<int16_t>& pcm,
                   const VB_COMMENT& tags = MakeComment()) {
        Encoded e;
        HVB_STREAM stream = 0;
        if ((e.err = open(&config, &tags, &e.samplesPerChunk, &e.bufferSize, &stream)) != VB_ERR_SUCCESSFUL)
            return e;
        ChunkFeeder out{e.bufferSize};
        e.err = out.Feed(
            pcm, e.samplesPerChunk, {0, 2047, 1, 2},
            [&](uint32_t n, const int16_t* v, uint8_t* o, uint32_t* w) { return write(stream, n, v, o, w); });
        uint32_t written = 0;
        const VB_ERR closed = close(stream, out.buffer.data(), &written);
        out.Take(written);
        e.err = e.err != VB_ERR_SUCCESSFUL ? e.err : closed;
        e.guardIntact = out.guardIntact;
        e.largestOutput = out.largest;
        e.bytes = std::move(out.bytes);
        return e;
    }
    // The stream's pages chain from a first page to a last one (with one serial number, returned), and
    // the file decodes to `frames`.
    uint32_t ExpectDecodes(const Encoded& e, int64_t frames, int channels = 2) {
        EXPECT_EQ(e.err, VB_ERR_SUCCESSFUL);
        const std::string bytes(e.bytes.begin(), e.bytes.end());
        std::set<uint32_t> serials;
        size_t pos = 0, pages = 0;
        for (; pos + 27 <= bytes.size() && bytes.compare(pos, 4, "OggS") == 0; ++pages) {
            const uint8_t flags = static_cast<uint8_t>(bytes[pos + 5]),
                          segments = static_cast<uint8_t>(bytes[pos + 26]);
            EXPECT_EQ(flags & 2, pages == 0 ? 2 : 0) << "only the first page begins the stream";
            serials.insert(ReadLE32(bytes, pos + 14));
            size_t body = 0;
            for (size_t i = 0; i < segments && pos + 27 + i < bytes.size(); ++i)
                body += static_cast<uint8_t>(bytes[pos + 27 + i]);
            pos += 27 + segments + body;
            EXPECT_EQ(flags & 4, pos >= bytes.size() ? 4 : 0) << "only the last page ends the stream";
        }
        EXPECT_EQ(pos, bytes.size()) << "pages do not chain";
        EXPECT_EQ(serials.size(), 1u);
        WriteBytes(dir.File("out.ogg"), e.bytes);
        const DecodedAudio decoded = DecodeWithFfmpeg(dir.File("out.ogg"));
        EXPECT_EQ(decoded.channels, channels);
        EXPECT_EQ(decoded.frames, frames) << decoded.error;
        return serials.empty() ? 0 : *serials.begin();
    }

    LoadedModule module{"Vorbis.so"};
    VBENCOPEN open = module.Get<VBENCOPEN>("vbEncOpen");
    VBENCWRITE write = module.Get<VBENCWRITE>("vbEncWrite");
    VBENCCLOSE close = module.Get<VBENCCLOSE>("vbEncClose");
    TempDir dir;
};

} // namespace

TEST_F(VorbisEncTest, RecordsOfAnotherKindSizeOrChannelCountAreRefused) {
    uint32_t samples = 0, size = 0;
    HVB_STREAM stream = 7;
    const VB_COMMENT tags = MakeComment();
    VB_COMMENT narrow = tags;
    narrow.dwStructSize = 56; // the record's size with 32-bit pointers
    VB_CONFIG kind = MakeConfig(0, 128000, 0), size32 = kind, channels = MakeConfig(0, 128000, 0, 3);
    kind.dwConfig = 0;
    size32.dwStructSize = 255;
    EXPECT_EQ(open(&kind, &tags, &samples, &size, &stream), VB_ERR_INVALID_CONFIG);
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(open(&size32, &tags, &samples, &size, &stream), VB_ERR_INVALID_CONFIG);
    EXPECT_EQ(open(&channels, &tags, &samples, &size, &stream), VB_ERR_INVALID_PARAMETER);
    const VB_CONFIG good = MakeConfig(0, 128000, 0);
    EXPECT_EQ(open(&good, &narrow, &samples, &size, &stream), VB_ERR_INVALID_COMMENT);
    EXPECT_EQ(open(&good, &tags, &samples, &size, nullptr), VB_ERR_INVALID_PARAMETER);
}

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
            Encode(MakeConfig(c.min, c.nominal, c.max, c.channels), MakeTone(11025 * c.channels, 4));
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
    // Every role of the list's ends and of a value below what libvorbis supports opens a stream.
    for (uint32_t lo : {0u, 32000u, 350000u})
        for (uint32_t nominal : {0u, 32000u, 350000u})
            for (uint32_t hi : {0u, 32000u, 350000u})
                ASSERT_EQ(Encode(MakeConfig(lo, nominal, hi), {}).err, VB_ERR_SUCCESSFUL)
                    << lo << " " << nominal << " " << hi;
}

TEST_F(VorbisEncTest, TextsBecomeCommentsAndEmptyOrNoisyStreamsAreWhole) {
    // UTF-8 stays as it is; a Latin-1 text from an older settings file is converted; empty texts add nothing.
    ExpectDecodes(Encode(MakeConfig(0, 0, 0), {}, MakeComment("Grüße 音楽", "Caf\xe9")), 0);
    std::string listed;
    ASSERT_EQ(RunProgram("vorbiscomment", {"-l", "-R", dir.File("out.ogg")}, &listed), 0);
    EXPECT_EQ(listed, "ARTIST=Grüße 音楽\nALBUM=Café\nCOMMENT=Quillet\n");
    ExpectDecodes(Encode(MakeConfig(0, 0, 0), std::vector<int16_t>{1234}), 0); // less than a sample frame
    // Full-scale noise makes the largest packets: an output that filled the buffer would mean bytes
    // were held back for the next call.
    for (const VB_CONFIG& c : {MakeConfig(350000, 350000, 350000), MakeConfig(0, 0, 0)}) {
        const Encoded e = Encode(c, MakeNoise(44100, 11));
        EXPECT_TRUE(e.guardIntact);
        EXPECT_LT(e.largestOutput, e.bufferSize / 2) << c.dwNominalBitrate;
        ExpectDecodes(e, 44100);
    }
}

TEST_F(VorbisEncTest, ConcurrentStreamsStayApartAndBadCallsAreRefused) {
    const VB_CONFIG configs[] = {MakeConfig(0, 0, 0), MakeConfig(0, 96000, 0), MakeConfig(64000, 0, 256000)};
    std::vector<Encoded> results(3);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < 3; ++i)
        threads.emplace_back([&, i] { results[i] = Encode(configs[i], MakeNoise(25000 + 5000 * i, i)); });
    for (auto& t : threads)
        t.join();
    std::set<uint32_t> serials;
    for (size_t i = 0; i < 3; ++i)
        serials.insert(ExpectDecodes(results[i], static_cast<int64_t>(25000 + 5000 * i)));
    EXPECT_EQ(serials.size(), 3u) << "each stream has its own serial number";

    std::vector<uint8_t> out(1 << 17);
    uint32_t samples = 0, size = 0, written = 99;
    const auto pcm = MakeTone(2048);
    EXPECT_EQ(write(0xDEADBEEFu, 4096, pcm.data(), out.data(), &written), VB_ERR_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    const VB_COMMENT tags = MakeComment();
    HVB_STREAM stream = 0;
    ASSERT_EQ(open(&configs[1], &tags, &samples, &size, &stream), VB_ERR_SUCCESSFUL);
    std::vector<int16_t> tooMany(samples + 1);
    EXPECT_EQ(write(stream, samples + 1, tooMany.data(), out.data(), &written), VB_ERR_CHUNK_TOO_LARGE);
    EXPECT_EQ(write(stream, 4096, nullptr, out.data(), &written), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(close(stream, nullptr, &written), VB_ERR_INVALID_PARAMETER);
    EXPECT_EQ(close(stream, out.data(), &written), VB_ERR_INVALID_HANDLE)
        << "closing without a buffer released it";
}
