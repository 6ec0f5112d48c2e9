// FLAC, Opus and AAC (M4A): the converter's output checked with ffmpeg's own tools (length, tags, the
// settings that reach the encoder), and how the window and the settings sheet offer the formats.

#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "SettingsSheet.h"
#include "SystemHelpers.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// ffprobe's flat view of the first audio stream and the file, keys in lower case.
std::map<std::string, std::string> Probe(const std::string& path) {
    std::string out;
    RunProgram(
        "ffprobe",
        {"-v", "error", "-select_streams", "a:0", "-show_entries",
         "stream=sample_rate,channels,bits_per_raw_sample,bit_rate,duration_ts:stream_tags:format=bit_rate:"
         "format_tags",
         "-of", "flat", path},
        &out);
    std::map<std::string, std::string> info;
    for (const QByteArray& line : QByteArray::fromStdString(out).split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            info[line.left(eq).toLower().toStdString()] = line.mid(eq + 1).replace('"', "").toStdString();
    }
    return info;
}

std::string Tag(const std::map<std::string, std::string>& info, const std::string& key) {
    for (const std::string where : {"format.tags.", "streams.stream.0.tags."}) {
        if (auto it = info.find(where + key); it != info.end())
            return it->second;
    }
    return "";
}

double Number(const std::map<std::string, std::string>& info, const std::string& key) {
    auto it = info.find(key);
    return it == info.end() ? -1 : std::atof(it->second.c_str());
}

struct Row {
    const char* format;
    const char* settings; // the format's own section of the settings file
    int rate;             // of the decoded output
    const char* bitrateKey;
    int bitrate; // bits/s the settings ask for, or 0
    double tolerance;
};

// "44100 Hz stereo 16 bit": the sound of the design's temporary WAV, as the WAV output of the range has it.
const Row kRows[] = {
    {"flac", "[flac]\nCompression Level=1\nSound Index=1\n", 44100, "", 0, 0},
    {"opus", "[opus]\nBitrate Index=6\nApplication Index=1\nSound Index=1\n", 48000, "format.bit_rate", 48000,
     0.25},
    {"m4a", "[m4a]\nBitrate Index=0\nSound Index=1\n", 44100, "streams.stream.0.bit_rate", 64000, 0.15},
};

// One source for every row: a chirp in pink noise as AAC at 48 kHz, as a camera or a download has it;
// the WAV output of the same range is what step 1 hands the encoders.
struct Shared {
    TempDir dir;
    std::string source = dir.File("talk.mkv");
    std::string error;
    Pcm wav;

    // Converts the range 0.1 s to 2.2345 s (not a whole number of milliseconds); the output path, or "" after
    // a failure (in error).
    std::string Convert(const std::string& format, const std::string& settings) {
        const std::string ini = dir.File(format + ".ini");
        WriteFileText(ini, "[General]\nTempPath=" + dir.File("tmp/") +
                               "\nArtist=Ünïcode Ärtist\nAlbum=Live\nYear=1987\nGenre Index=17\n" + settings);
        std::string out;
        const int code = RunProgram(
            std::string(QUILLET_BIN_DIR) + "quillet-cli",
            {"--settings", ini, "-q", "-f", format, "-s", "0.1", "-e", "2.2345", source}, &out, &error);
        return code == 0 && !out.empty() ? out.substr(0, out.size() - 1) : "";
    }

    static Shared& Get() {
        static Shared* shared = [] {
            auto* s = new Shared;
            const QString chirp = ChirpSource(48000, 2.3);
            if (RunFfmpeg({"-f", "lavfi", "-i", chirp, "-f", "lavfi", "-i",
                           "anoisesrc=color=pink:amplitude=0.3:r=48000:d=2.3", "-filter_complex",
                           "amix=inputs=2:normalize=0", "-c:a", "aac", QString::fromStdString(s->source)})) {
                const std::string wav = s->Convert("wav", "[wav]\nSample Index=7\nBits per sample=1\n");
                if (!wav.empty())
                    s->wav = ReadWavData(wav, 2, 2);
            }
            return s;
        }();
        return *shared;
    }
};

class FormatOutputTest : public ::testing::TestWithParam<size_t> {};

TEST_P(FormatOutputTest, ExactLengthTagsAndSettings) {
    const Row& row = kRows[GetParam()];
    Shared& shared = Shared::Get();
    ASSERT_GT(shared.wav.Frames(), 90000) << "no WAV of the range: " << shared.error;
    const std::string output = shared.Convert(row.format, row.settings);
    ASSERT_EQ(output, shared.dir.File("talk_OUTPUT.") + row.format) << shared.error;
    const auto info = Probe(output);
    EXPECT_EQ(Number(info, "streams.stream.0.sample_rate"), row.rate);
    EXPECT_EQ(Number(info, "streams.stream.0.channels"), 2);
    EXPECT_EQ(Tag(info, "title"), "talk_OUTPUT");
    EXPECT_EQ(Tag(info, "artist"), "Ünïcode Ärtist");
    EXPECT_EQ(Tag(info, "album"), "Live");
    EXPECT_EQ(Tag(info, "date"), "1987");
    EXPECT_EQ(Tag(info, "genre"), "Rock");
    if (row.bitrate > 0) {
        EXPECT_NEAR(Number(info, row.bitrateKey), row.bitrate, row.bitrate * row.tolerance);
    }

    const DecodedAudio decoded = DecodeWithFfmpeg(output);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    const int64_t frames = shared.wav.Frames();
    const std::string format = row.format;
    if (format == "flac") {
        EXPECT_TRUE(decoded.samples == shared.wav.samples) << "not bit-exact";
        // Levels 0 to 2 code blocks of 1152 samples, the higher ones of 4608.
        const std::vector<uint8_t> bytes = ReadBytes(output);
        ASSERT_GT(bytes.size(), 12u);
        EXPECT_EQ(bytes[10] << 8 | bytes[11], 1152);
    } else if (format == "opus") {
        // Pre-skip and the last granule position trim the codec's delay and padding.
        EXPECT_EQ(decoded.frames, std::llround(static_cast<double>(frames) * 48000 / 44100));
    } else {
        // The edit list: the stream's length, and the priming dropped at the start (ffmpeg's decoder
        // keeps the padding of the last frame).
        EXPECT_EQ(Number(info, "streams.stream.0.duration_ts"), frames);
        Pcm ours{2, decoded.samples};
        EXPECT_EQ(BestLag(ours, shared.wav, -1100, 1100, 20000, 8000), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatOutputTest, ::testing::Range<size_t>(0, std::size(kRows)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return kRows[info.param].format;
                         });

// The source's own sound, for sources made as other tools make them: every output checked against a
// decode of the chosen track from the start of the source (bit for bit for FLAC from lossless sources).
struct Source {
    const char* name;
    const char* file;
    QStringList make; // ffmpeg arguments after the generated inputs
    int inputs;       // generated inputs (one per audio track)
    int rate, channels;
    int track; // -a, 0 for none
    int bits;  // of the track's samples: 8, 16, 24, or 32 for floating point (lossy codecs)
};

// Tones of their own on every channel, so that a channel out of place shows; a low one for the LFE
// channel of 5.1 and 7.1, which lossy codecs keep below 120 Hz.
QString Tones(int rate, int channels) {
    QStringList exprs;
    for (int c = 0; c < channels; ++c)
        exprs << (c == 3 && channels >= 6 ? QString("0.3*sin(2*PI*(50+5*t)*t)")
                                          : QString("0.2*sin(2*PI*(%1+%2*t)*t)+0.02*sin(2*PI*%3*t)")
                                                .arg(150 + 90 * c)
                                                .arg(40 + 13 * c)
                                                .arg(3000 + 700 * c));
    return QString("aevalsrc=%1:s=%2:d=2.2").arg(exprs.join('|')).arg(rate);
}

const Source kSources[] = {
    {"flac24_51",
     "s.flac",
     {"-c:a", "flac", "-sample_fmt", "s32", "-bits_per_raw_sample", "24", "-ac", "6"},
     1,
     48000,
     6,
     0,
     24},
    {"wav16_96k", "s.wav", {"-c:a", "pcm_s16le", "-ar", "96000"}, 1, 96000, 2, 0, 16},
    {"alac24_mono", "s.m4a", {"-c:a", "alac", "-sample_fmt", "s32p", "-ac", "1"}, 1, 44100, 1, 0, 24},
    {"wavpack_71", "s.wv", {"-c:a", "wavpack", "-sample_fmt", "s16p", "-ac", "8"}, 1, 44100, 8, 0, 16},
    {"tta24",
     "s.tta",
     {"-c:a", "tta", "-sample_fmt", "s32", "-bits_per_raw_sample", "24"},
     1,
     48000,
     2,
     0,
     24},
    {"u8_wav", "s.wav", {"-c:a", "pcm_u8", "-ar", "22050", "-ac", "1"}, 1, 22050, 1, 0, 8},
    // A film with an AAC track (whose priming moves the file's start) and a German FLAC track, chosen.
    {"mkv_track2",
     "s.mkv",
     {"-map", "0:a", "-map", "1:a", "-c:a:0", "aac", "-c:a:1", "flac", "-sample_fmt:a:1", "s32",
      "-bits_per_raw_sample:a:1", "24", "-metadata:s:a:1", "language=deu", "-disposition:a:0", "default",
      "-disposition:a:1", "0"},
     2,
     48000,
     2,
     2,
     24},
    {"aac_51", "s.mp4", {"-c:a", "aac", "-ac", "6"}, 1, 48000, 6, 0, 32},
};

struct SoundRow {
    const char* source;
    const char* format;
};

const SoundRow kSoundRows[] = {{"flac24_51", "flac"},   {"flac24_51", "opus"},  {"flac24_51", "m4a"},
                               {"wav16_96k", "flac"},   {"wav16_96k", "m4a"},   {"alac24_mono", "flac"},
                               {"alac24_mono", "opus"}, {"wavpack_71", "flac"}, {"wavpack_71", "opus"},
                               {"tta24", "flac"},       {"u8_wav", "flac"},     {"mkv_track2", "flac"},
                               {"aac_51", "flac"},      {"aac_51", "m4a"}};

Pcm ToPcm(const std::string& s16, int channels) {
    Pcm pcm{channels, std::vector<int16_t>(s16.size() / 2)};
    if (!pcm.samples.empty())
        std::memcpy(pcm.samples.data(), s16.data(), pcm.samples.size() * 2);
    return pcm;
}

class SourceSoundTest : public ::testing::TestWithParam<size_t> {};

TEST_P(SourceSoundTest, KeepsRateDepthAndChannels) {
    const SoundRow& row = kSoundRows[GetParam()];
    const Source& src = *std::find_if(std::begin(kSources), std::end(kSources),
                                      [&](const Source& s) { return std::string(s.name) == row.source; });
    TempDir dir;
    const std::string source = dir.File(src.file);
    QStringList make;
    for (int i = 0; i < src.inputs; ++i)
        make << "-f"
             << "lavfi"
             << "-i"
             << Tones(i == 0 && src.inputs > 1 ? 44100 : src.rate,
                      i == 0 && src.inputs > 1 ? 6 : src.channels);
    ASSERT_TRUE(RunFfmpeg(make + src.make + QStringList{QString::fromStdString(source)}));
    const std::string output = dir.File(std::string("out.") + row.format);
    WriteFileText(dir.File("s.ini"), "[General]\nTempPath=" + dir.File("tmp/") + "\n");
    std::vector<std::string> args{"--settings", dir.File("s.ini"), "-q", "-f",   row.format, "-s", "0.3",
                                  "-e",         "1.8515",          "-o", output, source};
    if (src.track > 0)
        args.insert(args.begin(), {"-a", std::to_string(src.track)});
    std::string out, err;
    ASSERT_EQ(RunProgram(std::string(QUILLET_BIN_DIR) + "quillet-cli", args, &out, &err), 0) << err;
    EXPECT_TRUE(FilesIn(dir.File("tmp/")).empty());

    const auto info = Probe(output);
    const std::string format = row.format;
    const int rate = format == "opus" ? 48000 : src.rate;
    EXPECT_EQ(Number(info, "streams.stream.0.sample_rate"), rate);
    EXPECT_EQ(Number(info, "streams.stream.0.channels"), src.channels);
    const int64_t first = std::llround(0.3 * src.rate), frames = std::llround(1.5515 * src.rate);
    const int track = std::max(src.track - 1, 0);
    if (format == "flac") {
        // 8 and 16-bit sources give 16-bit FLAC, deeper ones and floating point 24-bit.
        const bool deep = src.bits > 16;
        EXPECT_EQ(Number(info, "streams.stream.0.bits_per_raw_sample"), deep ? 24 : 16);
        const char* raw = deep ? "s32le" : "s16le";
        const size_t frameBytes = static_cast<size_t>(src.channels) * (deep ? 4 : 2);
        const std::string ours = DecodeTrackRaw(output, 0, raw);
        const std::string ref = DecodeTrackRaw(source, track, raw);
        ASSERT_EQ(ours.size(), static_cast<size_t>(frames) * frameBytes);
        ASSERT_GE(ref.size(), static_cast<size_t>(first + frames) * frameBytes);
        if (src.bits <= 24) {
            EXPECT_TRUE(ours == ref.substr(static_cast<size_t>(first) * frameBytes, ours.size()))
                << "not bit for bit";
        } else {
            // From floating point: the 24 bits that count, to within one step.
            int32_t worst = 0;
            for (size_t i = 0; i + 4 <= ours.size(); i += 4) {
                int32_t a, b;
                std::memcpy(&a, ours.data() + i, 4);
                std::memcpy(&b, ref.data() + static_cast<size_t>(first) * frameBytes + i, 4);
                worst = std::max(worst, std::abs((a >> 8) - (b >> 8)));
            }
            EXPECT_LE(worst, 1);
        }
        return;
    }
    // Lossy: as long as the range, in place, close to the reference resampled as the output's rate has it.
    const Pcm ours = ToPcm(DecodeTrackRaw(output, 0, "s16le"), src.channels);
    std::string refRaw;
    RunProgram("ffmpeg",
               {"-v", "error", "-i", source, "-map", "0:a:" + std::to_string(track), "-af",
                "aresample=async=1:first_pts=0,aresample=" + std::to_string(rate), "-f", "s16le", "-"},
               &refRaw);
    const Pcm full = ToPcm(refRaw, src.channels);
    const int64_t from = std::llround(0.3 * rate),
                  count = std::llround(static_cast<double>(frames) * rate / src.rate);
    Pcm ref{src.channels, std::vector<int16_t>(full.samples.begin() + from * src.channels,
                                               full.samples.begin() + (from + count) * src.channels)};
    // Opus's pre-skip and end granule, M4A's edit list (ffmpeg's AAC decoder keeps the last frame's padding).
    if (format == "opus") {
        EXPECT_EQ(ours.Frames(), count);
    } else {
        EXPECT_EQ(Number(info, "streams.stream.0.duration_ts"), count);
    }
    EXPECT_EQ(BestLag(ours, ref, -50, 50, count / 4, count / 2), 0);
    EXPECT_LT(RelativeError(ours, ref, 0, count / 8, count - count / 8), 0.35);
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceSoundTest, ::testing::Range<size_t>(0, std::size(kSoundRows)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(kSoundRows[info.param].source) + "_" +
                                    kSoundRows[info.param].format;
                         });

// What the source says about itself reaches every format: an MP3 tagged as other tools tag it, with
// its cover as an attached picture; the window's fields win where the user set them (Album), not where
// they hold their first-run defaults (Artist, Year, Genre).
struct TagRow {
    const char* format;
    std::vector<std::pair<std::string, std::string>> tags; // as ffprobe names them, lower case
    bool cover;
};

const TagRow kTagRows[] = {
    {"flac",
     {{"title", "Söng Tïtle"},
      {"artist", "The Artist"},
      {"album", "Mine"},
      {"date", "1999"},
      {"genre", "Jazz"},
      {"track", "3/12"},
      {"comment", "A comment"}},
     true},
    {"opus", {{"title", "Söng Tïtle"}, {"artist", "The Artist"}, {"album", "Mine"}, {"track", "3/12"}}, true},
    {"m4a", {{"title", "Söng Tïtle"}, {"date", "1999"}, {"genre", "Jazz"}, {"track", "3/12"}}, true},
    {"mp3",
     {{"title", "Söng Tïtle"}, {"artist", "The Artist"}, {"date", "1999"}, {"comment", "A comment"}},
     true},
    {"wma",
     {{"title", "Söng Tïtle"},
      {"artist", "The Artist"},
      {"album", "Mine"},
      {"wm_year", "1999"},
      {"genre", "Jazz"},
      {"track", "3/12"}},
     false},
    {"ogg",
     {{"title", "Söng Tïtle"},
      {"artist", "The Artist"},
      {"album", "Mine"},
      {"comment", "Quillet"},
      {"track", "3/12"}},
     false},
};

class TagsTest : public ::testing::TestWithParam<size_t> {};

TEST_P(TagsTest, SourceTagsAndCoverCarriedOver) {
    const TagRow& row = kTagRows[GetParam()];
    TempDir dir;
    const std::string source = dir.File("tagged.mp3"), cover = dir.File("cover.jpg");
    ASSERT_TRUE(RunFfmpeg(
        {"-f", "lavfi", "-i", "testsrc=s=96x64:d=1", "-frames:v", "1", QString::fromStdString(cover)}));
    ASSERT_TRUE(RunFfmpeg({"-f",
                           "lavfi",
                           "-i",
                           ChirpSource(44100, 1.5),
                           "-i",
                           QString::fromStdString(cover),
                           "-map",
                           "0:a",
                           "-map",
                           "1:v",
                           "-c:v",
                           "copy",
                           "-disposition:v",
                           "attached_pic",
                           "-metadata:s:v",
                           "comment=Cover (front)",
                           "-metadata",
                           "title=Söng Tïtle",
                           "-metadata",
                           "artist=The Artist",
                           "-metadata",
                           "album=Their Album",
                           "-metadata",
                           "date=1999",
                           "-metadata",
                           "genre=Jazz",
                           "-metadata",
                           "track=3/12",
                           "-metadata",
                           "comment=A comment",
                           "-id3v2_version",
                           "3",
                           QString::fromStdString(source)}));
    WriteFileText(dir.File("s.ini"), "[General]\nTempPath=" + dir.File("tmp/") +
                                         "\nArtist=Unknown Artist\nAlbum=Mine\nYear=2005\nGenre Index=0\n");
    const std::string output = dir.File(std::string("out.") + row.format);
    std::string out, err;
    ASSERT_EQ(RunProgram(std::string(QUILLET_BIN_DIR) + "quillet-cli",
                         {"--settings", dir.File("s.ini"), "-q", "-f", row.format, "-o", output, source},
                         &out, &err),
              0)
        << err;
    const auto info = Probe(output);
    for (const auto& [key, text] : row.tags)
        EXPECT_EQ(Tag(info, key), text) << key;
    const std::string picture = dir.File("picture.jpg");
    const bool hasCover = RunFfmpeg({"-i", QString::fromStdString(output), "-map", "0:v:0", "-c", "copy",
                                     "-f", "image2", QString::fromStdString(picture)});
    EXPECT_EQ(hasCover, row.cover);
    if (row.cover) {
        EXPECT_TRUE(ReadBytes(picture) == ReadBytes(cover)) << "not the source's cover";
    }
    if (std::string(row.format) == "mp3") {
        // The design's ID3v1 tag still ends the file, with the window's fields as they are.
        const std::vector<uint8_t> bytes = ReadBytes(output);
        const std::string v1(bytes.end() - 128, bytes.end());
        EXPECT_EQ(v1.substr(0, 33), "TAG" + std::string(30, ' ')); // "out.mp3" is too short for a title
        EXPECT_EQ(v1.substr(33, 30), "Unknown Artist" + std::string(16, ' '));
        EXPECT_EQ(v1.substr(93, 4), "2005");
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, TagsTest, ::testing::Range<size_t>(0, std::size(kTagRows)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return kTagRows[info.param].format;
                         });

// Tags as damaged files have them: bytes that are not UTF-8, a comment of 60000 characters, and an
// attachment that claims to be a JPEG cover but is not a picture.
TEST(TagsTest, DamagedTagsConvertWithWhatCanBeRead) {
    TempDir dir;
    const std::string source = dir.File("damaged.mkv"), junk = dir.File("junk.jpg");
    WriteFileText(junk, std::string(5000, '\x5a'));
    ASSERT_TRUE(
        RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 1), "-c:a", "flac", "-metadata", "title=QQQQ",
                   "-metadata", "comment=" + QString(60000, 'c'), "-attach", QString::fromStdString(junk),
                   "-metadata:s:t", "mimetype=image/jpeg", QString::fromStdString(source)}));
    std::string bytes = ReadFileText(source);
    const size_t at = bytes.find("QQQQ");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, "\xe9t\xe9!"); // Latin-1, as old tools wrote it
    WriteFileText(source, bytes);
    WriteFileText(dir.File("s.ini"), "[General]\nTempPath=" + dir.File("tmp/") + "\n");
    std::string out, err;
    ASSERT_EQ(
        RunProgram(std::string(QUILLET_BIN_DIR) + "quillet-cli",
                   {"--settings", dir.File("s.ini"), "-q", "-f", "flac", "-o", dir.File("out.flac"), source},
                   &out, &err),
        0)
        << err;
    const auto info = Probe(dir.File("out.flac"));
    EXPECT_EQ(Tag(info, "title"), "été!");
    EXPECT_EQ(Tag(info, "comment"), std::string(1024, 'c'));
    EXPECT_FALSE(RunFfmpeg({"-i", dir.File("out.flac").c_str(), "-map", "0:v:0", "-c", "copy", "-f", "image2",
                            QString::fromStdString(dir.File("picture.jpg"))}));
}

// A window over a program directory of the test's own.
class FormatWindowTest : public ::testing::Test {
protected:
    void SetUp() override { SetAppDirectoryForTesting(dir.Path()); }
    void TearDown() override { SetAppDirectoryForTesting(""); }
    TempDir dir;
    MessageRecorder messages;
};

TEST_F(FormatWindowTest, NewFormatsOpenAsStoredAndTakeEveryTag) {
    const std::pair<const char*, const char*> stored[] = {
        {"5", "opus"}, {"7", "original"}, {"8", "mp3"}, {"-1", "mp3"}};
    for (const auto& [index, shown] : stored) {
        WriteFileText(dir.File("param.ini"), std::string("[General]\nFormat Index=") + index + "\n");
        CConverterDlg dlg;
        EXPECT_EQ(dlg.m_comboFormat.currentText(), shown) << index;
    }
    {
        CConverterDlg dlg;
        // Between the design's formats, so a field left as it was shows.
        const struct {
            int format;
            bool artistAlbum, yearGenre;
        } rows[] = {{FORMAT_WAV, false, false}, {FORMAT_FLAC, true, true},  {FORMAT_OGG, true, false},
                    {FORMAT_OPUS, true, true},  {FORMAT_WAV, false, false}, {FORMAT_ORIGINAL, true, true},
                    {FORMAT_M4A, true, true}};
        for (const auto& r : rows) {
            dlg.m_comboFormat.setCurrentIndex(r.format);
            EXPECT_EQ(dlg.m_editArtist.isEnabled(), r.artistAlbum) << r.format;
            EXPECT_EQ(dlg.m_editAlbum.isEnabled(), r.artistAlbum) << r.format;
            EXPECT_EQ(dlg.m_editYear.isEnabled(), r.yearGenre) << r.format;
            EXPECT_EQ(dlg.m_comboGenre.isEnabled(), r.yearGenre) << r.format;
        }
        EXPECT_EQ(dlg.m_comboFormat.currentText(), "m4a");
    }
    EXPECT_NE(ReadFileText(dir.File("param.ini")).find("Format Index=6\n"), std::string::npos);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(FormatWindowTest, SettingsPagesStoreWhatTheEncodersRead) {
    g_settings.Load();
    CMyPropertySheet sheet;
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    const struct {
        int page, id, index;
    } choices[] = {{5, IDC_FLAC_LEVEL, 0},
                   {6, IDC_OPUS_BITRATE, 0},
                   {6, IDC_OPUS_APPLICATION, 1},
                   {7, IDC_M4A_BITRATE, 9}};
    for (const auto& c : choices) {
        sheet.SetActivePage(c.page);
        auto* list = sheet.GetPage(c.page)->findChild<QComboBox*>(QString::number(c.id));
        ASSERT_NE(list, nullptr) << c.id;
        list->setCurrentIndex(c.index);
    }
    sheet.accept();
    EXPECT_EQ(g_settings.GetFlacCompressionLevel(), 0);
    EXPECT_EQ(g_settings.GetOpusBitrate(), 6000);
    EXPECT_EQ(g_settings.m_nOpusApplicationIndex, 1);
    EXPECT_EQ(g_settings.GetAacBitrate(), 320000);
}

} // namespace
