#include "Id3v1Tag.h"
#include "JobFrame.h"
#include "OutputNaming.h"
#include "TempWav.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(OutputNaming, PlainNameFirstThenTheFirstFreeNumber) {
    TempDir dir;
    const std::string source = dir.File("clip.avi");
    WriteFileText(dir.File("clip_OUTPUT1.mp3"), "");
    EXPECT_EQ(MakeOutputPath(source, 0, 0, "/unused/"), dir.File("clip_OUTPUT.mp3")); // plain name still free
    WriteFileText(dir.File("clip_OUTPUT.mp3"), "");
    // A folder of the name counts as taken, and so does a dangling link (writing through it would
    // create a file wherever it points).
    QDir().mkpath(QString::fromStdString(dir.File("clip_OUTPUT2.mp3")));
    ASSERT_EQ(symlink(dir.File("elsewhere/planted").c_str(), dir.File("clip_OUTPUT3.mp3").c_str()), 0);
    EXPECT_EQ(MakeOutputPath(source, 0, 0, ""), dir.File("clip_OUTPUT4.mp3"));
    EXPECT_EQ(MakeOutputPath(source, 2, 1, dir.File("Out New/")), dir.File("Out New/clip_OUTPUT.ogg"));
    EXPECT_EQ(MakeOutputPath("/My.Files/movie.part1.mpg", 1, 0, ""), "/My.Files/movie.part1_OUTPUT.wav");
    EXPECT_EQ(MakeOutputPath("/Vidéo/README", 3, 0, ""), "/Vidéo/README_OUTPUT.wma");
}

TEST(TempWav, PrivateLockedNeverThroughALinkAndRemovedOnlyIfItsOwn) {
    TempDir dir;
    auto first = CTempWavFile::Reserve(dir.Path()), second = CTempWavFile::Reserve(dir.Path());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Path(), dir.File("qlt_temp.wav"));
    EXPECT_NE(second->Path(), first->Path()) << "a second job while the first holds the name: one of its own";
    struct stat st;
    ASSERT_EQ(stat(first->Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    first.reset();
    second.reset();
    EXPECT_TRUE(FilesIn(dir.Path()).empty()) << "released reservations leave nothing behind";
    // A link planted at the name is passed over, and its target left alone.
    WriteFileText(dir.File("victim.txt"), "precious");
    ASSERT_EQ(symlink(dir.File("victim.txt").c_str(), dir.File("qlt_temp.wav").c_str()), 0);
    EXPECT_NE(CTempWavFile::Reserve(dir.Path())->Path(), dir.File("qlt_temp.wav"));
    EXPECT_EQ(ReadFileText(dir.File("victim.txt")), "precious");
    // A file put in place of the reserved one after it was removed is someone else's.
    ASSERT_EQ(unlink(dir.File("qlt_temp.wav").c_str()), 0);
    auto own = CTempWavFile::Reserve(dir.Path());
    own->Remove();
    WriteFileText(own->Path(), "another job's audio");
    own.reset();
    EXPECT_EQ(ReadFileText(dir.File("qlt_temp.wav")), "another job's audio");
    EXPECT_FALSE(CTempWavFile::Reserve(dir.File("missing/")));
}

TEST(TempWavSource, ReadsWholeValuesFromByte44AndCountsBelowAThousand) {
    TempDir dir;
    WriteFileText(dir.File("a.wav"), std::string(44, 'H') + "\x01\x02\x03\x04\x7f"); // an odd trailing byte
    CTempWavSource src;
    int16_t values[8] = {};
    ASSERT_TRUE(src.Open(dir.File("a.wav")));
    EXPECT_EQ(src.Read(values, 8), 2u);
    EXPECT_EQ(values[1], 0x0403);
    ASSERT_TRUE(src.Open(dir.File("a.wav")));
    EXPECT_EQ(src.ReadBytes(values, 16), 5u); // the byte reader passes the odd byte on
    WriteFileText(dir.File("b.wav"), std::string(44 + 176400, '\0'));
    ASSERT_TRUE(src.Open(dir.File("b.wav")));
    std::vector<int16_t> buf(4608);
    for (size_t n; (n = src.Read(buf.data(), buf.size())) != 0;)
        src.AddConsumed(n * 2);
    EXPECT_EQ(src.GetPerMille(), 999);
}

TEST(Id3v1Tag, TitleRuleSpacePaddingLatin1AndGenreByte) {
    const auto tag = BuildId3v1Tag("song_OUTPUT2.mp3", "", "An Album", "05", 147);
    EXPECT_EQ(std::string(tag.data(), tag.size()), "TAGsong_" + std::string(55, ' ') + "An Album" +
                                                       std::string(22, ' ') + "05  Quillet" +
                                                       std::string(23, ' ') + "\x93");
    auto title = [](const std::string& name, const std::string& artist = "") {
        return std::string(BuildId3v1Tag(name, artist, "", "", 0).data() + 3, 33);
    };
    EXPECT_EQ(title("x.mp3"), std::string(33, ' '));
    EXPECT_EQ(title(std::string(35, 'a') + "_OUTPUT.mp3"), std::string(30, 'a') + "   ");
    // Accented names lose exactly their suffix and are written as Latin-1; others become '?'.
    EXPECT_EQ(title("été_OUTPUT.mp3", "日本"), "\xE9t\xE9" + std::string(27, ' ') + "?? ");
}
