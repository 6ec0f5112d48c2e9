#include "Id3v1Tag.h"
#include "JobFrame.h"
#include "OutputNaming.h"
#include "PcmReader.h"
#include "TempWav.h"
#include "TestSupport.h"

#include <QDir>
#include <cstring>
#include <fcntl.h>
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

// The hand-over of step 1 to step 2: a 24-bit 5.1 file of 5 GB of samples (sparse) read back past 4 GB
// as RF64, its samples widened and found by Seek, the header one ffprobe reads too; a WAV with the
// chunks ffmpeg writes (LIST) read the same way; a file that is no WAV refused with a reason.
TEST(PcmReader, RF64Past4GiBWidened24BitAndOtherWavFiles) {
    TempDir dir;
    const std::string path = dir.File("hand-over.wav");
    const PcmFormat format{96000, 6, 0x3F, PcmSample::Int24};
    const uint64_t frames = (5ull << 30) / 18;
    uint8_t header[kPcmHeaderBytes];
    BuildPcmHeader(header, format, frames * 18);
    uint8_t first[18], last[18];
    for (int i = 0; i < 18; ++i) {
        first[i] = static_cast<uint8_t>(i + 1);
        last[i] = static_cast<uint8_t>(0xF0 - i);
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pwrite(fd, header, sizeof header, 0), static_cast<ssize_t>(sizeof header));
    EXPECT_EQ(pwrite(fd, first, 18, kPcmHeaderBytes), 18);
    EXPECT_EQ(pwrite(fd, last, 18, static_cast<off_t>(kPcmHeaderBytes + (frames - 1) * 18)), 18);
    close(fd);

    CPcmReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error();
    EXPECT_EQ(reader.Format(), format);
    EXPECT_EQ(reader.Frames(), static_cast<int64_t>(frames));
    EXPECT_EQ(reader.Delivered(), PcmSample::Int32);
    EXPECT_EQ(reader.Bits(), 24);
    int32_t samples[12] = {};
    ASSERT_EQ(reader.Read(samples, 1), 1u);
    EXPECT_EQ(samples[0], 0x03020100);
    EXPECT_EQ(samples[5], 0x12111000);
    ASSERT_TRUE(reader.Seek(static_cast<int64_t>(frames) - 1));
    ASSERT_EQ(reader.Read(samples, 2), 1u); // the last frame, then the end
    EXPECT_EQ(samples[0], static_cast<int32_t>(0xEEEFF000));
    EXPECT_EQ(reader.Read(samples, 2), 0u);
    EXPECT_FALSE(reader.Seek(static_cast<int64_t>(frames) + 1));
    reader.AddConsumed(frames - 1);
    EXPECT_EQ(reader.GetPerMille(), 999); // truncated: 1000 only once every frame went on
    reader.AddConsumed(1);
    EXPECT_EQ(reader.GetPerMille(), 1000);
    std::string probe;
    RunProgram("ffprobe",
               {"-v", "error", "-show_entries", "stream=codec_name,channel_layout,duration_ts", "-of",
                "csv=p=0", path},
               &probe);
    EXPECT_EQ(probe, "pcm_s24le,5.1," + std::to_string(frames) + "\n");

    const std::string wav = dir.File("ffmpeg.wav");
    ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=r=8000:d=1", "-metadata",
                                    "title=x", "-c:a", "pcm_s16le", wav}),
              0);
    ASSERT_TRUE(reader.Open(wav)) << reader.Error();
    EXPECT_EQ(reader.Format(), (PcmFormat{8000, 1, 0, PcmSample::Int16}));
    std::vector<int16_t> tone(8000);
    ASSERT_EQ(reader.Read(tone.data(), tone.size()), 8000u);
    const std::string bytes = ReadFileText(wav);
    EXPECT_EQ(std::memcmp(tone.data(), bytes.data() + bytes.size() - 16000, 16000), 0);

    WriteFileText(dir.File("text.wav"), std::string("RIFF....WAVEdata\0\0\0\0", 20));
    EXPECT_FALSE(reader.Open(dir.File("text.wav")));
    EXPECT_EQ(reader.Error(), "samples before their format");
}
