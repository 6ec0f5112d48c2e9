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
#include <cmath>
#include <gtest/gtest.h>

namespace {

// ffprobe's flat view of the first audio stream and the file, keys in lower case.
std::map<std::string, std::string> Probe(const std::string& path) {
    std::string out;
    RunProgram("ffprobe",
               {"-v", "error", "-select_streams", "a:0", "-show_entries",
                "stream=sample_rate,channels,bit_rate,duration_ts:stream_tags:format=bit_rate:format_tags",
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

const Row kRows[] = {
    {"flac", "[flac]\nCompression Level=1\n", 44100, "", 0, 0},
    {"opus", "[opus]\nBitrate Index=6\nApplication Index=1\n", 48000, "format.bit_rate", 48000, 0.25},
    {"m4a", "[m4a]\nBitrate Index=0\n", 44100, "streams.stream.0.bit_rate", 64000, 0.15},
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
