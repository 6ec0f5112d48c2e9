#include "PieceSources.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

constexpr int kRate = 44100;

constexpr double kMs = 0.0011; // Matroska's clock: positions to the millisecond, as for a single range

int64_t Frames(double seconds) {
    return std::llround(seconds * kRate);
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

const char* const kChapters = ";FFMETADATA1\ntitle=Live\n"
                              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1200\ntitle=Intro\n"
                              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1200\nEND=2650\ntitle=Song: two\n"
                              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2650\nEND=4000\ntitle=Ende\n";

struct Case {
    const char* name;
    const char* file;    // the source, made from a 4 s chirp
    const char* encode;  // ffmpeg's output options
    const char* cue;     // written beside the source as <base>.cue, or null
    const char* options; // quillet-cli's, before the source
    std::vector<Piece> want;
    double slack = 0; // seconds a piece's ends may lie off `want` (silence is found to a few ms)
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class PieceSourcesTest : public ::testing::TestWithParam<Case> {};

// Each source of pieces gives the pieces where its table says, each exact to the sample against a decode
// of the whole source, named "<base> - NN - <name>"; joined, the pieces' samples follow one another.
TEST_P(PieceSourcesTest, PiecesMatchADecodeOfTheSourceSeparateAndJoined) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string source = dir.File(c.file), settings = dir.File("settings.ini");
    WriteFileText(settings,
                  "[General]\nTempPath=" + dir.File("tmp/") + "\n[wav]\nSample Index=7\nBits per sample=1\n");
    QStringList input{"-f", "lavfi", "-i", ChirpSource(kRate, 4)};
    if (std::string(c.name) == "silence") // sound, 1.2 s of silence, sound
        input = {"-f", "lavfi", "-i",
                 "sine=f=500:d=1.5,apad=pad_dur=1.2[a];sine=f=700:d=1.3[b];[a][b]concat=v=0:a=1"};
    WriteFileText(dir.File("chapters.txt"), kChapters);
    QStringList encode = QString(c.encode).split('|');
    encode.replaceInStrings("CHAPTERS", Q(dir.File("chapters.txt")));
    ASSERT_TRUE(RunFfmpeg(input + encode + QStringList{Q(source)}));
    if (c.cue)
        WriteFileText(dir.File("src.cue"), c.cue);
    ASSERT_TRUE(RunFfmpeg({"-i", Q(source), "-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le", "-map_metadata",
                           "-1", "-bitexact", Q(dir.File("full.wav"))}));
    const Pcm full = ReadWavData(dir.File("full.wav"), 2, 2);

    auto run = [&](const std::string& more, std::string& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--settings", settings, "-q", "-f", "wav"};
        for (const QString& a : QString(c.options).split(' ', Qt::SkipEmptyParts))
            args.push_back(a == "CUE" ? dir.File("src.cue") : a.toStdString());
        if (!more.empty())
            args.push_back(more);
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(source);
        std::string err;
        out.clear();
        const int code = RunProgram(QUILLET_BIN_DIR "quillet-cli", args, &out, &err);
        EXPECT_EQ(code, 0) << err;
    };
    std::string out;
    run("", out);
    Pcm all;
    std::string listed;
    for (size_t k = 0; k < c.want.size(); ++k) {
        const Piece& want = c.want[k];
        char number[16];
        std::snprintf(number, sizeof number, "%02d", static_cast<int>(k + 1));
        const std::string path = dir.File("src - " + std::string(number) + " - " + want.name + ".wav");
        listed += path + "\n";
        const Pcm got = ReadWavData(path, 2, 2);
        SCOPED_TRACE(path);
        const int64_t slack = Frames(c.slack);
        EXPECT_NEAR(got.Frames(), Frames(want.end) - Frames(want.start), 2 * slack);
        if (got.Frames() == 0)
            continue;
        Pcm ref;
        ref.samples.assign(full.samples.begin() + 2 * Frames(want.start),
                           full.samples.begin() + 2 * std::min(Frames(want.end), full.Frames()));
        const int lag = slack > 0 ? BestLag(got, ref, static_cast<int>(-slack), static_cast<int>(slack),
                                            Frames(0.3), 4096)
                                  : 0;
        EXPECT_LT(RelativeError(got, ref, lag, slack, ref.Frames() - slack), 1e-3);
        all.samples.insert(all.samples.end(), got.samples.begin(), got.samples.end());
    }
    EXPECT_EQ(out, listed);

    run("--join", out);
    EXPECT_EQ(out, dir.File("src_OUTPUT.wav\n"));
    EXPECT_EQ(ReadWavData(dir.File("src_OUTPUT.wav"), 2, 2).samples, all.samples);
    // MP3 without a gap: the Info frame's delay and padding leave exactly the pieces' samples.
    run("--join", out, {"-f", "mp3", "-o", dir.File("joined.mp3")});
    EXPECT_EQ(DecodeWithFfmpeg(dir.File("joined.mp3")).frames, all.Frames());
    EXPECT_TRUE(FilesIn(dir.File("tmp/")).empty());
}

const char* const kCueUtf8 =
    "\xEF\xBB\xBFPERFORMER \"Die Band\"\nTITLE \"Live\"\nFILE \"src.flac\" WAVE\n"
    "  TRACK 01 AUDIO\n    TITLE \"Eins\"\n    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n    TITLE \"Zwölf\"\n    INDEX 01 00:01:30\n"
    "  TRACK 03 AUDIO\n    TITLE \"Drei\"\n    PERFORMER \"Gast\"\n    INDEX 01 00:03:03\n";
// Latin-1 text, a pregap before track 2 (it stays with track 1) and a hidden one before track 1.
const char* const kCueLatin1 = "TITLE \"Caf\xE9\"\r\nFILE \"src.flac\" WAVE\r\n"
                               "  TRACK 01 AUDIO\r\n    TITLE \"Ouverture\"\r\n    INDEX 00 00:00:00\r\n"
                               "    INDEX 01 00:00:37\r\n  TRACK 02 AUDIO\r\n    TITLE \"R\xEAve\"\r\n"
                               "    INDEX 00 00:02:00\r\n    INDEX 01 00:02:50\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, PieceSourcesTest,
    // clang-format off
    ::testing::Values(
        Case{"list", "src.flac", "-c:a|flac", nullptr, "-r 0.5-1.25 -r 00:01.5-0:02.75 -r 3.1-",
             {{0.5, 1.25, "Piece 1"}, {1.5, 2.75, "Piece 2"}, {3.1, 4, "Piece 3"}}},
        Case{"mkv", "src.mkv", "-i|CHAPTERS|-map|0|-map_metadata|1|-c:a|flac", nullptr, "--chapters",
             {{0, 1.2, "Intro"}, {1.2, 2.65, "Song_ two"}, {2.65, 4, "Ende"}}, kMs},
        Case{"mp4", "src.m4b", "-i|CHAPTERS|-map|0|-map_metadata|1|-c:a|alac|-f|ipod", nullptr, "--chapters",
             {{0, 1.2, "Intro"}, {1.2, 2.65, "Song_ two"}, {2.65, 4, "Ende"}}},
        // Ogg keeps chapters as comments (CHAPTERnnn, CHAPTERnnnNAME).
        Case{"ogg", "src.ogg", "-c:a|flac|-metadata|CHAPTER000=00:00:00.000|-metadata|CHAPTER000NAME=Intro|"
             "-metadata|CHAPTER001=00:00:01.200|-metadata|CHAPTER001NAME=Song: two|"
             "-metadata|CHAPTER002=00:00:02.650|-metadata|CHAPTER002NAME=Ende", nullptr, "--chapters",
             {{0, 1.2, "Intro"}, {1.2, 2.65, "Song_ two"}, {2.65, 4, "Ende"}}},
        Case{"cue-utf8", "src.flac", "-c:a|flac", kCueUtf8, "--cue CUE",
             {{0, 1.4, "Eins"}, {1.4, 3.04, "Zwölf"}, {3.04, 4, "Gast - Drei"}}},
        Case{"cue-latin1-pregap", "src.flac", "-c:a|flac", kCueLatin1, "--cue CUE",
             {{37 / 75.0, 2 + 50 / 75.0, "Ouverture"}, {2 + 50 / 75.0, 4, "Rêve"}}},
        Case{"silence", "src.flac", "-ac|2|-ar|44100|-c:a|flac", nullptr, "--split-silence=-40,1",
             {{0, 1.5, "Piece 1"}, {2.7, 4, "Piece 2"}}, 0.03}),
    // clang-format on
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// Times, ranges and cue sheets that cannot be read are refused with the line at fault.
TEST(PieceSourcesText, ClocksRangesAndDamagedCueSheets) {
    double t = -1;
    for (const auto& [text, want] : std::vector<std::pair<std::string, double>>{
             {"12.5", 12.5}, {"1:02.5", 62.5}, {"01:02:03.250", 3723.25}, {"90", 90}})
        EXPECT_TRUE(ParseClock(text, t) && t == want) << text;
    for (const char* text : {"", "-1", "1:60", "1:2:3:4", "1.5:00", "1e3", "a"})
        EXPECT_FALSE(ParseClock(text, t)) << text;
    CueSheet sheet;
    std::string problem;
    for (const auto& [text, line] : std::vector<std::pair<std::string, std::string>>{
             {"TRACK 01 AUDIO\nINDEX 01 00:00:75\n", "line 2"},
             {"FILE a WAVE\nTRACK 01 AUDIO\nINDEX 01 0:0:0\nFILE b WAVE\n", "line 4"},
             {"TRACK 01 AUDIO\nINDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n", "track 2"},
             {"TRACK 01 AUDIO\nTITLE x\n", "no INDEX 01"},
             {std::string("\0\xff garbage", 10), "no TRACK"}}) {
        EXPECT_FALSE(ParseCueSheet(text, "x.cue", sheet, problem));
        EXPECT_NE(problem.find(line), std::string::npos) << problem;
    }
}

} // namespace

// A chapter table or cue sheet that points nowhere is told, and nothing is written.
TEST(PieceSourcesText, DamagedTablesAreToldAndNothingIsWritten) {
    TempDir dir;
    const std::string source = dir.File("src.mkv"), settings = dir.File("settings.ini");
    WriteFileText(settings, "[General]\nTempPath=" + dir.File("tmp/") + "\n");
    WriteFileText(dir.File("ch.txt"), ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=10000\nEND=20000\n");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "sine=d=2", "-i", Q(dir.File("ch.txt")), "-map", "0",
                           "-map_metadata", "1", "-c:a", "flac", Q(source)}));
    WriteFileText(dir.File("src.cue"), "FILE \"src.mkv\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00\n");
    for (const auto& [option, told] : std::vector<std::pair<std::string, std::string>>{
             {"--chapters", "The chapter table of " + source + " is damaged"},
             {"--cue=" + dir.File("src.cue"), "line 3: \"00:00\" is no time"}}) {
        std::string out, err;
        EXPECT_EQ(RunProgram(QUILLET_BIN_DIR "quillet-cli",
                             {"--settings", settings, "-f", "mp3", option, source}, &out, &err),
                  1);
        EXPECT_NE(err.find(told), std::string::npos) << err;
        EXPECT_EQ(FilesIn(dir.Path()),
                  (std::vector<std::string>{"ch.txt", "settings.ini", "src.cue", "src.mkv"}));
    }
}
