#include "AudioSettings.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QDir>
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

TEST_F(SettingsTest, FirstRunTakesDefaultsAndWritesAllKeysInOrder) {
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_nOutputPathType, 0);
    EXPECT_EQ(s.m_szOutputPath.str(), CAudioSettings::DefaultOutputPath());
    EXPECT_EQ(s.m_szTempPath.str(), CAudioSettings::DefaultTempPath());
    EXPECT_EQ(s.m_szArtist.str(), "Unknown Artist");
    EXPECT_EQ(s.m_szAlbum.str(), "Unknown Album");
    EXPECT_EQ(s.m_szYear.str(), "2005");
    EXPECT_EQ(s.GetMp3Bitrate(), 128);
    EXPECT_EQ(s.GetMp3MaxBitrate(), 128);
    EXPECT_EQ(s.GetWavChannels(), 2);
    EXPECT_EQ(s.GetWavBytesPerSample(), 1);
    EXPECT_EQ(s.GetWavSampleRate(), 11025);
    EXPECT_EQ(s.GetOggMinBitrate(), 128000);
    EXPECT_EQ(s.GetOggNominalBitrate(), 128000);
    EXPECT_EQ(s.GetOggMaxBitrate(), 128000);
    EXPECT_EQ(s.GetWmaBitrate(), 128000);
    EXPECT_EQ(CAudioSettings::DefaultOutputPath().back(), '/');
    EXPECT_NE(CAudioSettings::DefaultTempPath().find("/.cache/quillet/"), std::string::npos);

    s.Save();
    const std::string expected =
        "[General]\nOutputPathType=0\nOutputPath=" + CAudioSettings::DefaultOutputPath() +
        "\nTempPath=" + CAudioSettings::DefaultTempPath() +
        "\nFormat Index=0\nArtist=Unknown Artist\nAlbum=Unknown Album\nYear=2005\n"
        "Genre Index=0\n"
        "[mp3]\nChannel Index=0\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n"
        "VBR Bitrate Index=8\n"
        "[wav]\nChannel Index=1\nBits per sample=0\nSample Index=1\n"
        "[ogg]\nMinimum Bitrate Index=7\nNorminal Bitrate Index=7\n"
        "Maximum Bitrate Index=7\nMode Index=0\n"
        "[wma]\nBitreate Index=8\n"
        "[flac]\nCompression Level=5\n[opus]\nBitrate Index=9\nApplication Index=0\n[m4a]\nBitrate Index=5\n";
    EXPECT_EQ(ReadFileText(Ini()), expected);
}

TEST_F(SettingsTest, ValidateBoundsStoredIndices) {
    WriteFileText(Ini(), "[General]\nFormat Index=7\nGenre Index=148\nOutputPathType=-3\n"
                         "[mp3]\nBitreate Index=14\nVBR Bitrate Index=9\nChannel Index=abc\n"
                         "VBR Quality Index=12junk\nQuality Index=99999999999\n"
                         "[wav]\nSample Index=9\nChannel Index=0\n"
                         "[ogg]\nMinimum Bitrate Index=0\nMaximum Bitrate Index=12\n"
                         "[wma]\nBitreate Index=9\n");
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_nFormatIndex, 0);
    EXPECT_EQ(s.m_nGenreIndex, 0);
    EXPECT_EQ(s.m_nOutputPathType, 0);
    EXPECT_EQ(s.GetMp3Bitrate(), 128);
    EXPECT_EQ(s.GetMp3MaxBitrate(), 160);  // index 9 in section mp3
    EXPECT_EQ(s.GetWmaBitrate(), 160000);  // the same key name and index in section wma
    EXPECT_EQ(s.m_nMp3ChannelIndex, 0);    // not a number: the default
    EXPECT_EQ(s.m_nMp3VbrQualityIndex, 0); // 12 is out of range
    EXPECT_EQ(s.m_nMp3QualityIndex, 0);    // too large for an int
    EXPECT_EQ(s.GetWavSampleRate(), 11025);
    EXPECT_EQ(s.GetWavChannels(), 1);
    EXPECT_EQ(s.GetOggMinBitrate(), 0);
    EXPECT_EQ(s.GetOggMaxBitrate(), 128000);

    WriteFileText(Ini(), "[General]\nGenre Index=147\n[mp3]\nVBR Quality Index=10\n");
    s.Load();
    EXPECT_EQ(s.m_nGenreIndex, 147);
    EXPECT_EQ(s.m_nMp3VbrQualityIndex, 10);
    WriteFileText(Ini(), "[General]\nGenre Index=-1\n");
    s.Load();
    EXPECT_EQ(s.m_nGenreIndex, 0);
}

TEST_F(SettingsTest, OutOfRangeValuesAreRewrittenAtSave) {
    WriteFileText(Ini(), "[General]\nFormat Index=7\n");
    CAudioSettings s;
    s.Load();
    s.Save();
    CAudioSettings again;
    again.LoadFrom(Ini());
    EXPECT_EQ(ReadFileText(Ini()).find("Format Index=7"), std::string::npos);
    EXPECT_NE(ReadFileText(Ini()).find("Format Index=0\n"), std::string::npos);
    // Negative numbers keep their sign when written.
    s.m_nGenreIndex = -5;
    s.Save();
    EXPECT_NE(ReadFileText(Ini()).find("Genre Index=-5\n"), std::string::npos);
}

TEST_F(SettingsTest, FoldersAreAbsoluteAndEndWithASlash) {
    WriteFileText(Ini(), "[General]\nOutputPath=relative/out/\nTempPath=/var/tmp/q\n");
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_szOutputPath.str(), CAudioSettings::DefaultOutputPath());
    EXPECT_EQ(s.m_szTempPath.str(), "/var/tmp/q/");
    WriteFileText(Ini(), "[General]\nOutputPath=\nTempPath=\x01\x02\n");
    s.Load();
    EXPECT_EQ(s.m_szOutputPath.str(), CAudioSettings::DefaultOutputPath());
    EXPECT_EQ(s.m_szTempPath.str(), CAudioSettings::DefaultTempPath());
}

TEST_F(SettingsTest, LongTextsAreCutToTheirCapacity) {
    const std::string accents(40, 'x');
    std::string umlauts;
    for (int i = 0; i < 35; ++i)
        umlauts += "\xC3\xBC"; // ü, two bytes each
    WriteFileText(Ini(), "[General]\nArtist=" + accents + "\nAlbum=" + umlauts +
                             "\nYear=20051\nOutputPath=/" + std::string(1500, 'p') + "\n");
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_szArtist.str(), std::string(30, 'x'));
    EXPECT_EQ(s.m_szAlbum.str(), umlauts.substr(0, 60)); // 30 characters, none split
    EXPECT_EQ(s.m_szYear.str(), "2005");
    EXPECT_EQ(s.m_szOutputPath.str().size(), 1023u);
    s.m_szArtist = std::string(31, 'y');
    EXPECT_EQ(s.m_szArtist.str(), std::string(30, 'y'));
}

TEST_F(SettingsTest, UnknownKeysAndSectionsSurviveAndKeysStayInPlace) {
    WriteFileText(Ini(), "; written by hand\r\n[Other]\r\nfoo = bar\r\n\r\n[mp3]\r\nExtra=1\r\n"
                         "bitreate index = 3\r\n\r\n[General]\r\nArtist=\"Quoted Name\"\r\n");
    CAudioSettings s;
    s.Load();
    EXPECT_EQ(s.m_nMp3BitrateIndex, 3); // names compare without regard to case
    EXPECT_EQ(s.m_szArtist.str(), "Quoted Name");
    s.m_nMp3BitrateIndex = 10;
    s.Save();
    const std::string text = ReadFileText(Ini());
    EXPECT_EQ(text.rfind("; written by hand\n[Other]\nfoo = bar\n\n[mp3]\nExtra=1\nBitreate Index=10\n", 0),
              0u)
        << text;
    // Missing keys join their section; missing sections come at the end, in the order of writing.
    EXPECT_NE(text.find("Bitreate Index=10\nChannel Index=0\nQuality Index=0\n"), std::string::npos) << text;
    EXPECT_LT(text.find("[General]"), text.find("[wav]"));
    EXPECT_LT(text.find("[wav]"), text.find("[ogg]"));
    EXPECT_LT(text.find("[ogg]"), text.find("[wma]"));
}

TEST_F(SettingsTest, UnwritableFolderLosesTheRunButNeverTheFile) {
    CAudioSettings s;
    s.Load();
    s.Save();
    const std::string original = ReadFileText(Ini());
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    ASSERT_EQ(chmod(Ini().c_str(), 0444), 0);
    s.m_nFormatIndex = 2;
    EXPECT_EQ(RunUnprivileged([&] { return s.SaveTo(Ini()) ? 1 : 0; }), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(ReadFileText(Ini()), original);
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A folder that does not exist at all: no crash, nothing written.
    EXPECT_FALSE(s.SaveTo(dir.File("missing/param.ini")));
}

TEST_F(SettingsTest, SaveReplacesTheWholeFileAndKeepsItsMode) {
    WriteFileText(Ini(), std::string(100000, '#') + "\n");
    ASSERT_EQ(chmod(Ini().c_str(), 0640), 0);
    CAudioSettings s;
    s.Load();
    ASSERT_TRUE(s.SaveTo(Ini()));
    struct stat st;
    ASSERT_EQ(stat(Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const std::string text = ReadFileText(Ini());
    EXPECT_EQ(text.rfind(std::string(100000, '#') + "\n[General]\n", 0), 0u);
}

TEST(SettingsLists, IndicesTurnIntoEncoderValues) {
    EXPECT_EQ(CAudioSettings::Mp3BitrateFromIndex(0), 32);
    EXPECT_EQ(CAudioSettings::Mp3BitrateFromIndex(13), 320);
    EXPECT_EQ(CAudioSettings::Mp3BitrateFromIndex(14), 128);
    EXPECT_EQ(CAudioSettings::Mp3BitrateFromIndex(-1), 128);
    EXPECT_EQ(CAudioSettings::WavSampleRateFromIndex(0), 8000);
    EXPECT_EQ(CAudioSettings::WavSampleRateFromIndex(8), 48000);
    EXPECT_EQ(CAudioSettings::WavSampleRateFromIndex(9), 44100);
    EXPECT_EQ(CAudioSettings::OggBitrateFromIndex(2), 40000);
    EXPECT_EQ(CAudioSettings::OggBitrateFromIndex(9), 196000);
    EXPECT_EQ(CAudioSettings::OggBitrateFromIndex(11), 350000);
    EXPECT_EQ(CAudioSettings::OggBitrateFromIndex(12), 0);
    EXPECT_EQ(CAudioSettings::WmaBitrateFromIndex(0), 22000);
    EXPECT_EQ(CAudioSettings::WmaBitrateFromIndex(2), 36000);
    EXPECT_EQ(CAudioSettings::WmaBitrateFromIndex(10), 128000);
}
