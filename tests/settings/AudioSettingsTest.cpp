#include "AudioSettings.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Each test gets its own program directory, so "param.ini" is the test's own.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetAppDirectoryForTesting(dir.Path()); }
    void TearDown() override { SetAppDirectoryForTesting(""); }
    std::string Ini() const { return dir.File("param.ini"); }

    TempDir dir;
};

} // namespace

TEST_F(SettingsTest, FirstRunWritesEveryKeyInOrderWithItsDefault) {
    CAudioSettings s;
    s.Load();
    s.Save();
    EXPECT_EQ(
        ReadFileText(Ini()),
        "[General]\nOutputPathType=0\nOutputPath=" + CAudioSettings::DefaultOutputPath() +
            "\nTempPath=" + CAudioSettings::DefaultTempPath() +
            "\nFormat Index=0\nArtist=Unknown Artist\nAlbum=Unknown Album\nYear=2005\nGenre Index=0\n"
            "[mp3]\nChannel Index=0\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n"
            "VBR Bitrate Index=8\n[wav]\nChannel Index=1\nBits per sample=0\nSample Index=1\n"
            "[ogg]\nMinimum Bitrate Index=7\nNorminal Bitrate Index=7\nMaximum Bitrate Index=7\n"
            "Mode Index=0\n[wma]\nBitreate Index=8\n[flac]\nCompression Level=5\nSound Index=0\n[opus]\n"
            "Bitrate Index=9\nApplication Index=0\nSound Index=0\n[m4a]\nBitrate Index=5\nSound Index=0\n");
}

TEST_F(SettingsTest, StoredValuesAreBoundedWhenLoadedAndRewrittenAtSave) {
    std::string umlauts;
    for (int i = 0; i < 35; ++i)
        umlauts += "\xC3\xBC"; // ü, two bytes each
    WriteFileText(Ini(),
                  "[General]\nFormat Index=8\nGenre Index=148\nOutputPathType=-3\n"
                  "OutputPath=relative/out/\nTempPath=/var/tmp/q\nArtist=" +
                      std::string(40, 'x') + "\nAlbum=" + umlauts +
                      "\nYear=20051\n[mp3]\nBitreate Index=14\nVBR Bitrate Index=9\nChannel Index=abc\n"
                      "VBR Quality Index=12junk\nQuality Index=99999999999\n"
                      "[wav]\nSample Index=9\n[ogg]\nMinimum Bitrate Index=0\n[wma]\nBitreate Index=9\n");
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_nFormatIndex + s.m_nGenreIndex + s.m_nOutputPathType, 0);
    EXPECT_EQ(s.m_szOutputPath.str(), CAudioSettings::DefaultOutputPath()); // folders are absolute
    EXPECT_EQ(s.m_szTempPath.str(), "/var/tmp/q/");                         // and end with a slash
    EXPECT_EQ(s.m_szArtist.str(), std::string(30, 'x'));
    EXPECT_EQ(s.m_szAlbum.str(), umlauts.substr(0, 60)); // 30 characters, none split
    EXPECT_EQ(s.m_szYear.str(), "2005");
    EXPECT_EQ(s.GetMp3Bitrate() + s.GetMp3MaxBitrate(), 128 + 160); // index 9 of the maximum in section mp3
    EXPECT_EQ(s.GetWmaBitrate(), 160000); // the same key name and index in section wma
    EXPECT_EQ(s.m_nMp3ChannelIndex + s.m_nMp3VbrQualityIndex + s.m_nMp3QualityIndex, 0); // junk, too large
    EXPECT_EQ(s.GetWavSampleRate(), 11025); // reset to its default item, not to the last
    EXPECT_EQ(s.GetOggMinBitrate(), 0);
    s.Save();
    const std::string text = ReadFileText(Ini());
    EXPECT_NE(text.find("Format Index=0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Year=2005\n"), std::string::npos) << text;

    WriteFileText(Ini(), "[General]\nGenre Index=147\n[mp3]\nVBR Quality Index=10\n");
    s.Load();
    EXPECT_EQ(s.m_nGenreIndex, 147);
    EXPECT_EQ(s.m_nMp3VbrQualityIndex, 10);
}

// Loudness and fades live in a section of their own, written only while they differ from the default,
// so a user who never sets them keeps the design's file; hand-edited values are held to their ranges.
TEST_F(SettingsTest, SoundSectionHoldsOnlyWhatDiffersFromTheDefault) {
    CAudioSettings s;
    s.Load();
    s.m_sound.normalize = true;
    s.m_sound.targetLufs = -19.5;
    s.m_sound.fadeInMs = 300;
    s.Save();
    EXPECT_NE(ReadFileText(Ini()).find("[Sound]\nLoudness Target=-19.5\nFade In=300\n"), std::string::npos)
        << ReadFileText(Ini());
    CAudioSettings t;
    t.Load();
    EXPECT_TRUE(t.m_sound.normalize);
    EXPECT_EQ(t.m_sound.targetLufs, -19.5);
    EXPECT_EQ(t.m_sound.truePeakDbtp, -1.0);
    EXPECT_EQ(t.m_sound.fadeInMs + t.m_sound.fadeOutMs, 300);
    t.m_sound = SoundOptions{};
    t.Save();
    EXPECT_EQ(ReadFileText(Ini()).find("Loudness"), std::string::npos) << ReadFileText(Ini());

    WriteFileText(Ini(), "[Sound]\nLoudness Target=+3\nTrue Peak=abc\nFade In=-20\nFade Out=99999999\n");
    t.Load();
    EXPECT_EQ(t.m_sound.targetLufs, SoundOptions::kMaxTarget);
    EXPECT_EQ(t.m_sound.truePeakDbtp, -1.0);
    EXPECT_EQ(t.m_sound.fadeInMs, 0);
    EXPECT_EQ(t.m_sound.fadeOutMs, SoundOptions::kMaxFadeMs);
}

TEST_F(SettingsTest, UnknownKeysAndSectionsSurviveAndKeysStayInPlace) {
    WriteFileText(Ini(), "; written by hand\r\n[Other]\r\nfoo = bar\r\n\r\n[mp3]\r\nExtra=1\r\n"
                         "bitreate index = 3\r\n\r\n[General]\r\nArtist=\"Quoted Name\"\r\n");
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_nMp3BitrateIndex, 3); // names compare without regard to case
    EXPECT_EQ(s.m_szArtist.str(), "Quoted Name");
    s.m_nMp3BitrateIndex = 10;
    s.m_nGenreIndex = -5;
    s.Save();
    const std::string text = ReadFileText(Ini());
    EXPECT_EQ(text.rfind("; written by hand\n[Other]\nfoo = bar\n\n[mp3]\nExtra=1\nBitreate Index=10\n", 0),
              0u)
        << text;
    // Missing keys join their section; missing sections come at the end, in the order of writing.
    EXPECT_NE(text.find("Bitreate Index=10\nChannel Index=0\nQuality Index=0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Genre Index=-5\n"), std::string::npos) << text;
    EXPECT_LT(text.find("[General]"), text.find("[wma]"));
}

TEST_F(SettingsTest, SavingIsWholeOrNothingAndKeepsTheFilesMode) {
    WriteFileText(Ini(), std::string(100000, '#') + "\n");
    ASSERT_EQ(chmod(Ini().c_str(), 0640), 0);
    CAudioSettings s;
    s.Load();
    ASSERT_TRUE(s.SaveTo(Ini()));
    struct stat st;
    ASSERT_EQ(stat(Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const std::string original = ReadFileText(Ini());
    EXPECT_EQ(original.rfind(std::string(100000, '#') + "\n[General]\n", 0), 0u);

    // A folder the user may not write to: the old file stays whole, and nothing is left beside it.
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    s.m_nFormatIndex = 2;
    EXPECT_EQ(RunUnprivileged([&] { return s.SaveTo(Ini()) ? 1 : 0; }), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(ReadFileText(Ini()), original);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"param.ini"});
    EXPECT_FALSE(s.SaveTo(dir.File("missing/param.ini")));
}
