// Loudness normalisation and fades, end to end through quillet-cli: every output measured by ffmpeg's
// own EBU R128 meter, which shares no code with ours, and fades compared sample by sample with the
// output of the same range without them.

#include "TestMedia.h"
#include "TestSupport.h"

#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace {

struct Measure {
    double lufs = NAN;
    double truePeak = NAN;
};

// ffmpeg's integrated loudness and true peak of the whole file.
Measure FfmpegLoudness(const std::string& path) {
    std::string err;
    RunProgram("ffmpeg",
               {"-hide_banner", "-nostdin", "-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"},
               nullptr, &err);
    const QString text = QString::fromStdString(err.substr(std::min(err.rfind("Summary:"), err.size())));
    Measure m;
    if (const auto i = QRegularExpression(R"(I:\s+(-?[\d.]+|-inf) LUFS)").match(text); i.hasMatch())
        m.lufs = i.captured(1).toDouble();
    if (const auto p = QRegularExpression(R"(Peak:\s+(-?[\d.]+|-inf) dBFS)").match(text); p.hasMatch())
        m.truePeak = p.captured(1).toDouble();
    return m;
}

// Sources made the way recorders and downloads have them: speech as AAC in MP4 at 48 kHz (talk with
// pauses), music as 24-bit FLAC at 96 kHz with peaks near full scale, a mix as Opus in WebM.
struct Sources {
    TempDir dir;
    std::string speech = dir.File("talk.m4a"), music = dir.File("song.flac"), mix = dir.File("mix.webm"),
                silence = dir.File("quiet.wav");
    bool ok = false;

    Sources() {
        const QString talk = "anoisesrc=color=pink:amplitude=0.25:seed=3:d=12:r=48000,lowpass=f=3400,"
                             "volume='if(lt(mod(t,3),2.2),1,0.01)':eval=frame";
        const QString song =
            "aevalsrc='0.85*sin(2*PI*(220+40*t)*t)*exp(-14*mod(t,0.6))+0.02*sin(2*PI*1250*t)|"
            "0.85*sin(2*PI*(330+30*t)*t)*exp(-14*mod(t+0.3,0.6))+0.02*sin(2*PI*990*t)':"
            "s=96000:d=12";
        ok = RunFfmpeg({"-f", "lavfi", "-i", talk, "-ac", "2", "-c:a", "aac", "-b:a", "128k", "-movflags",
                        "+faststart", QString::fromStdString(speech)}) &&
             RunFfmpeg({"-f", "lavfi", "-i", song, "-c:a", "flac", "-sample_fmt", "s32",
                        "-bits_per_raw_sample", "24", QString::fromStdString(music)}) &&
             RunFfmpeg({"-i", QString::fromStdString(speech), "-i", QString::fromStdString(music),
                        "-filter_complex", "[0][1]amix=inputs=2:weights=1 0.3,aresample=48000", "-c:a",
                        "libopus", "-b:a", "96k", QString::fromStdString(mix)}) &&
             RunFfmpeg({"-f", "lavfi", "-i", "anoisesrc=amplitude=0.00001:d=12:r=44100", "-c:a", "pcm_s16le",
                        QString::fromStdString(silence)});
    }
};

class SoundTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_sources = new Sources; }
    static void TearDownTestSuite() {
        delete s_sources;
        s_sources = nullptr;
    }

    // Converts the range 1.0 s to 11.0 s; the output's path, or "" on failure.
    std::string Convert(const std::string& source, const std::string& format, const std::string& name,
                        std::vector<std::string> options) {
        WriteFileText(settings, "[General]\nTempPath=" + dir.File("tmp/") +
                                    "\n[wav]\nChannel Index=1\nSample Index=7\nBits per sample=1\n");
        const std::string output = dir.File(name + "." + format);
        std::vector<std::string> args{"--settings", settings, "-f", format, "-s",
                                      "1",          "-e",     "11", "-o",   output};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(source);
        return RunProgram(QUILLET_BIN_DIR "quillet-cli", args, nullptr, &err) == 0 ? output : "";
    }

    static Sources* s_sources;
    TempDir dir;
    std::string settings = dir.File("settings.ini"), err;
};

Sources* SoundTest::s_sources = nullptr;

} // namespace

// Each row lands within 0.5 LU of its target, or, where the ceiling held the gain back, with its true
// peak at the ceiling and the message saying so. Lossy encoders add a little to the peak.
TEST_F(SoundTest, EachFormatReachesTheTargetUnderTheCeiling) {
    ASSERT_TRUE(s_sources->ok);
    struct Row {
        std::string* source;
        const char* format;
        double target;
        bool held;
        double peakSlack; // what the encoder may add above the ceiling
    };
    const Row rows[] = {
        {&s_sources->speech, "mp3", -16, false, 0.2}, {&s_sources->speech, "wav", -23, false, 0},
        {&s_sources->music, "flac", -23, false, 0},   {&s_sources->music, "m4a", -18, false, 0.2},
        {&s_sources->mix, "opus", -16, false, 0.2},   {&s_sources->mix, "ogg", -18, false, 0.2},
        {&s_sources->music, "flac", -8, true, 0},     {&s_sources->music, "mp3", -8, true, 0.3},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.format) + " to " + std::to_string(row.target));
        const std::string out = Convert(*row.source, row.format, "n" + std::to_string(n++),
                                        {"--normalize=" + std::to_string(row.target)});
        ASSERT_FALSE(out.empty()) << err;
        const Measure m = FfmpegLoudness(out);
        EXPECT_LE(m.truePeak, -1.0 + 0.1 + row.peakSlack);
        EXPECT_NE(err.find("Loudness: measured"), std::string::npos) << err;
        EXPECT_EQ(err.find("held back by the true-peak ceiling") != std::string::npos, row.held) << err;
        if (row.held) {
            EXPECT_LT(m.lufs, row.target - 1);
            EXPECT_GE(m.truePeak, -1.2 - row.peakSlack);
        } else {
            EXPECT_NEAR(m.lufs, row.target, 0.5);
        }
    }
}

// A fade shapes only its own frames, on a quarter sine: the rest is the unfaded output bit for bit, in
// the design's 16-bit WAV and in a 24-bit FLAC of the source's own sound. A near-silent range is left as
// it is, with a message.
TEST_F(SoundTest, FadesTouchOnlyTheirFramesAndSilenceStaysUnchanged) {
    ASSERT_TRUE(s_sources->ok);
    struct Row {
        const char* format;
        int rate;
        int64_t unit; // the sample's step in a 32-bit decode: 16 bits -> 65536, 24 bits -> 256
    };
    for (const Row& row : {Row{"wav", 44100, 65536}, Row{"flac", 96000, 256}}) {
        SCOPED_TRACE(row.format);
        const std::string plain = Convert(s_sources->music, row.format, "plain", {});
        const std::string faded =
            Convert(s_sources->music, row.format, "faded", {"--fade-in", "250", "--fade-out", "400"});
        ASSERT_FALSE(plain.empty() || faded.empty()) << err;
        const std::string a = DecodeTrackRaw(plain, 0, "s32le"), b = DecodeTrackRaw(faded, 0, "s32le");
        ASSERT_EQ(a.size(), b.size());
        const auto frames = static_cast<int64_t>(a.size() / 8);
        ASSERT_EQ(frames, 10 * row.rate);
        const int64_t in = row.rate / 4, out = row.rate * 2 / 5;
        int64_t wrong = 0;
        for (int64_t i = 0; i < frames; ++i) {
            double f = 1;
            if (i < in)
                f = std::sin(std::numbers::pi / 2 * static_cast<double>(i) / static_cast<double>(in));
            else if (frames - 1 - i < out)
                f = std::sin(std::numbers::pi / 2 * static_cast<double>(frames - 1 - i) /
                             static_cast<double>(out));
            for (int c = 0; c < 2; ++c) {
                const int64_t x = static_cast<int32_t>(ReadLE32(a, static_cast<size_t>(i * 8 + c * 4)));
                const int64_t y = static_cast<int32_t>(ReadLE32(b, static_cast<size_t>(i * 8 + c * 4)));
                const bool ok = f == 1 ? x == y : std::llabs(y - std::llround(x * f)) <= row.unit;
                wrong += ok ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    const std::string plain = Convert(s_sources->silence, "mp3", "quiet", {});
    const std::string normalized = Convert(s_sources->silence, "mp3", "quiet-n", {"--normalize"});
    ASSERT_FALSE(plain.empty() || normalized.empty()) << err;
    EXPECT_NE(err.find("too quiet to measure"), std::string::npos) << err;
    EXPECT_EQ(DecodeWithFfmpeg(plain).samples, DecodeWithFfmpeg(normalized).samples);
}
