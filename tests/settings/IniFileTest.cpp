#include "IniFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(IniFile, ReadsValuesTrimmedWithoutQuotesAndIgnoresComments) {
    TempDir dir;
    WriteFileText(dir.File("a.ini"),
                  "[S]\n;Key=commented\n  Key  =  some value  \nEmpty=\nq='x y'\n[T]\nKey=other\n");
    CIniFile ini;
    ASSERT_TRUE(ini.Read(dir.File("a.ini")));
    EXPECT_EQ(ini.Get("s", "KEY"), "some value");
    EXPECT_EQ(ini.Get("S", "Empty"), "");
    EXPECT_EQ(ini.Get("S", "q"), "x y");
    EXPECT_EQ(ini.Get("T", "Key"), "other");
    EXPECT_FALSE(ini.Get("S", "Missing"));
    EXPECT_FALSE(ini.Get("U", "Key"));
    EXPECT_FALSE(ini.Read(dir.File("missing.ini")));
    EXPECT_TRUE(ini.Lines().empty());
}

TEST(IniFile, ValuesCannotBreakTheFileApart) {
    TempDir dir;
    CIniFile ini;
    ini.Set("General", "Artist", "Line one\n[mp3]\nBitreate Index=0");
    ASSERT_TRUE(ini.WriteAtomically(dir.File("a.ini")));
    CIniFile back;
    back.Read(dir.File("a.ini"));
    EXPECT_FALSE(back.Get("mp3", "Bitreate Index"));
    EXPECT_EQ(back.Lines().size(), 2u);
}

TEST(IniFile, WritesThroughASymbolicLink) {
    TempDir dir;
    WriteFileText(dir.File("real.ini"), "[S]\nk=1\n");
    ASSERT_EQ(symlink(dir.File("real.ini").c_str(), dir.File("link.ini").c_str()), 0);
    CIniFile ini;
    ini.Read(dir.File("link.ini"));
    ini.Set("S", "k", "2");
    ASSERT_TRUE(ini.WriteAtomically(dir.File("link.ini")));
    char target[256] = {};
    EXPECT_GT(readlink(dir.File("link.ini").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(ReadFileText(dir.File("real.ini")), "[S]\nk=2\n");
}

TEST(IniFile, ALoneCarriageReturnEndsALineSoLoadedValuesSaveBackUnchanged) {
    // Found by fuzzing: a value holding a lone "\r" was read with it but written with a blank.
    TempDir dir;
    WriteFileText(dir.File("a.ini"), "[General]\r\nArtist=A\rAlbum=B\r\rYear=1999\n[mp3]\rChannel Index=3");
    CIniFile ini;
    ASSERT_TRUE(ini.Read(dir.File("a.ini")));
    EXPECT_EQ(ini.Get("General", "Artist"), "A");
    EXPECT_EQ(ini.Get("General", "Album"), "B");
    EXPECT_EQ(ini.Get("General", "Year"), "1999");
    EXPECT_EQ(ini.Get("mp3", "Channel Index"), "3");
    ASSERT_TRUE(ini.WriteAtomically(dir.File("b.ini")));
    CIniFile back;
    ASSERT_TRUE(back.Read(dir.File("b.ini")));
    EXPECT_EQ(back.Lines(), ini.Lines());
}

TEST(IniFile, ValuesWithOuterBlanksOrQuotesReadBackAsSet) {
    // Found by fuzzing: a tag ending in a blank lost it on the way through the file.
    TempDir dir;
    CIniFile ini;
    const std::vector<std::string> values{
        "ends with a blank ",    " starts", "\"quoted\"", "'single'", "\"", "\t", "plain",
        "inner \"quotes\" stay", ""};
    for (size_t i = 0; i < values.size(); ++i)
        ini.Set("S", "k" + std::to_string(i), values[i]);
    ASSERT_TRUE(ini.WriteAtomically(dir.File("a.ini")));
    CIniFile back;
    ASSERT_TRUE(back.Read(dir.File("a.ini")));
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.Get("S", "k" + std::to_string(i)), values[i]) << i;
    EXPECT_EQ(back.Lines()[1], "k0=\"ends with a blank \"");
    EXPECT_EQ(back.Lines()[7], "k6=plain");
}
