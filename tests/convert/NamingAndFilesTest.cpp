#include "Id3v1Tag.h"
#include "JobFrame.h"
#include "OutputNaming.h"
#include "SystemHelpers.h"
#include "TempWav.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(OutputNaming, PlainNameFirstThenTheFirstFreeNumber) {
    TempDir dir;
    const std::string source = dir.File("clip.avi");
    EXPECT_EQ(MakeOutputPath(source, 0, 0, "/unused/"), dir.File("clip_OUTPUT.mp3"));
    WriteFileText(dir.File("clip_OUTPUT1.mp3"), "");
    EXPECT_EQ(MakeOutputPath(source, 0, 0, ""), dir.File("clip_OUTPUT.mp3")); // plain name still free
    WriteFileText(dir.File("clip_OUTPUT.mp3"), "");
    EXPECT_EQ(MakeOutputPath(source, 0, 0, ""), dir.File("clip_OUTPUT2.mp3"));
    QDir().mkpath(QString::fromStdString(dir.File("clip_OUTPUT2.mp3"))); // a folder of that name counts
    EXPECT_EQ(MakeOutputPath(source, 0, 0, ""), dir.File("clip_OUTPUT3.mp3"));
    EXPECT_EQ(MakeOutputPath(source, 3, 0, ""), dir.File("clip_OUTPUT.wma"));
    EXPECT_EQ(MakeOutputPath(source, 2, 1, dir.File("Out New/")), dir.File("Out New/clip_OUTPUT.ogg"));
}

TEST(OutputNaming, ADanglingLinkTakesItsName) {
    // Writing through it would create a file wherever the link points, e.g. in someone's home.
    TempDir dir;
    const std::string source = dir.File("clip.avi");
    ASSERT_EQ(symlink(dir.File("elsewhere/planted").c_str(), dir.File("clip_OUTPUT.mp3").c_str()), 0);
    EXPECT_EQ(MakeOutputPath(source, 0, 0, ""), dir.File("clip_OUTPUT1.mp3"));
}

TEST(OutputNaming, BaseNameDropsOnlyTheLastExtension) {
    EXPECT_EQ(SourceBaseName("/My.Files/movie.part1.mpg"), "movie.part1");
    EXPECT_EQ(SourceBaseName("/Video/README"), "README");
    EXPECT_EQ(SourceBaseName("/Vidéo/été 2024.mkv"), "été 2024");
    EXPECT_EQ(MakeOutputPath("/My.Files/movie.part1.mpg", 1, 0, ""), "/My.Files/movie.part1_OUTPUT.wav");
}

TEST(TempWav, PrivateLockedAndReplacedByAUniqueNameWhileInUse) {
    TempDir dir;
    auto first = CTempWavFile::Reserve(dir.Path());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Path(), dir.File("qlt_temp.wav"));
    struct stat st;
    ASSERT_EQ(stat(first->Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second job while the first holds the name: a name of its own.
    auto second = CTempWavFile::Reserve(dir.Path());
    ASSERT_TRUE(second);
    EXPECT_NE(second->Path(), first->Path());

    const std::string firstPath = first->Path();
    first.reset();
    EXPECT_FALSE(FileExists(firstPath)); // released reservations leave nothing behind
    EXPECT_TRUE(FileExists(second->Path()));
    second.reset();
    EXPECT_TRUE(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files).isEmpty());
}

TEST(TempWav, NeverFollowsALinkNorDeletesAFileNotItsOwn) {
    TempDir dir;
    const std::string victim = dir.File("victim.txt");
    WriteFileText(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), dir.File("qlt_temp.wav").c_str()), 0);
    auto reserved = CTempWavFile::Reserve(dir.Path());
    ASSERT_TRUE(reserved);
    EXPECT_NE(reserved->Path(), dir.File("qlt_temp.wav"));
    reserved.reset();
    EXPECT_EQ(ReadFileText(victim), "precious");

    // A file put in place of the reserved one after it was removed is someone else's.
    ASSERT_EQ(unlink(dir.File("qlt_temp.wav").c_str()), 0);
    auto own = CTempWavFile::Reserve(dir.Path());
    ASSERT_TRUE(own);
    ASSERT_EQ(own->Path(), dir.File("qlt_temp.wav"));
    own->Remove();
    WriteFileText(own->Path(), "another job's audio");
    own.reset();
    EXPECT_EQ(ReadFileText(dir.File("qlt_temp.wav")), "another job's audio");

    EXPECT_FALSE(CTempWavFile::Reserve(dir.File("missing/")));
}

TEST(TempWavSource, ReadsWholeValuesFromByte44) {
    TempDir dir;
    std::string data(44, 'H');
    for (int i = 0; i < 5; ++i)
        data += std::string("\x01\x02", 2);
    data += '\x7f'; // odd trailing byte
    WriteFileText(dir.File("a.wav"), data);
    CTempWavSource src;
    ASSERT_TRUE(src.Open(dir.File("a.wav")));
    int16_t values[8] = {};
    EXPECT_EQ(src.Read(values, 8), 5u);
    EXPECT_EQ(values[0], 0x0201);
    EXPECT_EQ(src.Read(values, 8), 0u);

    ASSERT_TRUE(src.Open(dir.File("a.wav")));
    char bytes[16];
    EXPECT_EQ(src.ReadBytes(bytes, 16), 11u); // the byte reader passes the odd byte on

    WriteFileText(dir.File("short.wav"), "RIFF");
    ASSERT_TRUE(src.Open(dir.File("short.wav")));
    EXPECT_EQ(src.Read(values, 8), 0u);
    EXPECT_FALSE(src.Open(dir.File("missing.wav")));
}

TEST(TempWavSource, ProgressStaysBelowThousandAtTheEnd) {
    TempDir dir;
    WriteFileText(dir.File("a.wav"), std::string(44 + 176400, '\0'));
    CTempWavSource src;
    ASSERT_TRUE(src.Open(dir.File("a.wav")));
    std::vector<int16_t> buf(4608);
    size_t n, total = 0;
    while ((n = src.Read(buf.data(), buf.size())) != 0) {
        src.AddConsumed(n * 2);
        total += n * 2;
    }
    EXPECT_EQ(total, 176400u);
    EXPECT_EQ(src.GetPerMille(), 999);
}

TEST(Id3v1Tag, TitleRuleSpacePaddingAndGenreByte) {
    auto tag = BuildId3v1Tag("song_OUTPUT2.mp3", "", "An Album", "2005", 147);
    const std::string t(tag.data(), tag.size());
    EXPECT_EQ(t.substr(0, 3), "TAG");
    EXPECT_EQ(t.substr(3, 30), "song_" + std::string(25, ' '));
    EXPECT_EQ(t.substr(33, 30), std::string(30, ' '));
    EXPECT_EQ(t.substr(63, 30), "An Album" + std::string(22, ' '));
    EXPECT_EQ(t.substr(93, 4), "2005");
    EXPECT_EQ(t.substr(97, 30), "Quillet" + std::string(23, ' '));
    EXPECT_EQ(static_cast<unsigned char>(t[127]), 147);
    EXPECT_EQ(t.find('\0'), std::string::npos);

    EXPECT_EQ(std::string(BuildId3v1Tag("_OUTPUT.mp3", "", "", "", 0).data() + 3, 30), std::string(30, ' '));
    EXPECT_EQ(std::string(BuildId3v1Tag("x.mp3", "", "", "", 0).data() + 3, 30), std::string(30, ' '));
    const std::string longName = std::string(35, 'a') + "_OUTPUT.mp3";
    EXPECT_EQ(std::string(BuildId3v1Tag(longName, "", "", "", 0).data() + 3, 30), std::string(30, 'a'));
    // Accented names lose exactly their suffix and are written as Latin-1; others become '?'.
    EXPECT_EQ(std::string(BuildId3v1Tag("été_OUTPUT.mp3", "日本", "", "", 0).data() + 3, 33),
              "\xE9t\xE9" + std::string(27, ' ') + "??" + std::string(1, ' '));
}
