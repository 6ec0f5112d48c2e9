#include "EncoderLibrary.h"
#include "Id3v1Tag.h"
#include "JobFrame.h"
#include "OutputClaim.h"
#include "OutputNaming.h"
#include "PcmReader.h"
#include "SystemHelpers.h"
#include "TempWav.h"
#include "TestSupport.h"

#include <QDir>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Claimed(const std::string& source, int format, int type = 0, const std::string& folder = "") {
    std::string error;
    auto claim = COutputClaim::ClaimNumbered(source, format, type, folder, &error);
    if (!claim)
        return error;
    WriteFileText(claim->Path(), "kept"); // a claim left empty goes with it
    return claim->Path();
}

} // namespace

// The plain name first, then the first free number; anything at a name takes it (a folder, a dangling
// link). Names are bytes and fit in 255, cut between characters.
TEST(OutputNaming, PlainNameFirstThenTheFirstFreeNumberWithinTheNameLimit) {
    TempDir dir;
    const std::string source = dir.File("clip.avi");
    WriteFileText(dir.File("clip_OUTPUT1.mp3"), "");
    EXPECT_EQ(Claimed(source, 0), dir.File("clip_OUTPUT.mp3"));
    QDir().mkpath(QString::fromStdString(dir.File("clip_OUTPUT2.mp3")));
    ASSERT_EQ(symlink(dir.File("elsewhere/planted").c_str(), dir.File("clip_OUTPUT3.mp3").c_str()), 0);
    EXPECT_EQ(Claimed(source, 0), dir.File("clip_OUTPUT4.mp3"));
    EXPECT_FALSE(FileExists(dir.File("elsewhere/planted")));
    QDir().mkpath(QString::fromStdString(dir.File("Out New")));
    EXPECT_EQ(Claimed(source, 2, 1, dir.File("Out New/")), dir.File("Out New/clip_OUTPUT.ogg"));
    EXPECT_EQ(OutputCandidate("/v/", SourceBaseName("/My.Files/movie.part1.mpg"), 0, ".wav"),
              "/v/movie.part1_OUTPUT.wav");
    EXPECT_EQ(Claimed(dir.File("README"), 3), dir.File("README_OUTPUT.wma"));
    const std::string notUtf8 = dir.File("bad\xff\xfe name.mkv");
    EXPECT_EQ(Claimed(notUtf8, 4), dir.File("bad\xff\xfe name_OUTPUT.flac"));
    // 300 bytes of "é": the name keeps whole characters up to the limit, numbered or not.
    std::string longBase;
    for (int i = 0; i < 150; ++i)
        longBase += "é";
    for (int n : {0, 12}) {
        const std::string name = FileNameOf(OutputCandidate("/x/", longBase, n, ".opus"));
        EXPECT_GE(name.size(), 254u);
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(name.starts_with("éé") && name.find("é_OUTPUT") != std::string::npos) << name;
    }
    EXPECT_EQ(Claimed(dir.File(longBase + ".mkv"), 5).size(), dir.Path().size() + 254);
    EXPECT_NE(Claimed(source, 0, 1, dir.File("missing/")).find("Error opening " + dir.File("missing/")),
              std::string::npos);
}

// The name is the job's the moment it is chosen: runs in other processes that choose at the same
// moment (all choose, then all write) each get a name of their own.
TEST(OutputNaming, ProcessesChoosingAtOnceGetNamesOfTheirOwn) {
    TempDir dir;
    const std::string source = dir.File("x.flac");
    int chosen[2], go[2];
    ASSERT_EQ(pipe(chosen), 0);
    ASSERT_EQ(pipe(go), 0);
    constexpr int kRuns = 6;
    std::vector<pid_t> children;
    for (int i = 0; i < kRuns; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            auto claim = COutputClaim::ClaimNumbered(source, 2, 0, "", nullptr);
            char byte = 1;
            [[maybe_unused]] ssize_t n = write(chosen[1], &byte, 1);
            n = read(go[0], &byte, 1); // until every run has chosen
            if (claim)
                WriteFileText(claim->Path(), std::to_string(i));
            _exit(claim ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(go[0]);
    for (int i = 0; i < kRuns; ++i) {
        char byte;
        ASSERT_EQ(read(chosen[0], &byte, 1), 1);
    }
    close(go[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    close(chosen[0]);
    close(chosen[1]);
    std::set<std::string> contents;
    for (const std::string& name : FilesIn(dir.Path()))
        contents.insert(ReadFileText(dir.File(name)));
    EXPECT_EQ(contents.size(), static_cast<size_t>(kRuns)) << "two runs wrote into one file";
    EXPECT_EQ(FilesIn(dir.Path()).size(), static_cast<size_t>(kRuns));
}

// A name the user gives: never the source under any other name, an existing file only when told to
// overwrite it, and a claim that was never written leaves nothing behind.
TEST(OutputNaming, AnExactNameIsNeverTheSourceAndReplacesOnlyWhenAsked) {
    TempDir dir;
    const std::string source = dir.File("s.flac");
    WriteFileText(source, "source");
    WriteFileText(dir.File("other.mp3"), "other");
    ASSERT_EQ(symlink(source.c_str(), dir.File("link.flac").c_str()), 0);
    ASSERT_EQ(link(source.c_str(), dir.File("hard.flac").c_str()), 0);
    QDir().mkpath(QString::fromStdString(dir.File("sub")));
    std::string error;
    for (const std::string& same :
         {source, dir.File("link.flac"), dir.File("hard.flac"), dir.File("sub/../s.flac")})
        for (bool overwrite : {false, true}) {
            EXPECT_FALSE(COutputClaim::ClaimExact(same, source, overwrite, &error)) << same;
            EXPECT_NE(error.find("is the source file itself"), std::string::npos) << error;
        }
    EXPECT_FALSE(COutputClaim::ClaimExact(dir.File("other.mp3"), source, false, &error));
    EXPECT_NE(error.find("--overwrite"), std::string::npos) << error;
    EXPECT_FALSE(COutputClaim::ClaimExact(dir.File("sub"), source, true, &error));
    auto replaced = COutputClaim::ClaimExact(dir.File("other.mp3"), source, true, &error);
    ASSERT_TRUE(replaced);
    EXPECT_FALSE(replaced->Created());
    EXPECT_EQ(ReadFileText(source), "source");
    {
        auto unused = COutputClaim::ClaimExact(dir.File("new.mp3"), source, false, &error);
        ASSERT_TRUE(unused && unused->Created());
        EXPECT_TRUE(FileExists(dir.File("new.mp3")));
    }
    EXPECT_FALSE(FileExists(dir.File("new.mp3"))) << "an unused claim posing as a result";
    replaced.reset();
    EXPECT_EQ(ReadFileText(dir.File("other.mp3")), "other") << "a file taken over is never removed";
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

    // Left by runs that were killed: no lock holds them, so they go; a held one and others' files stay.
    TempDir stale;
    auto held = CTempWavFile::Reserve(stale.Path());
    for (const char* name : {"qlt_temp_999999_3.wav", "qlt_temp_1_1.wav.keep", "qlt_temp.wav"})
        WriteFileText(stale.File(name), "stale");
    EXPECT_EQ(CTempWavFile::RemoveStale(stale.Path()), 1);
    held.reset();
    EXPECT_EQ(FilesIn(stale.Path()), (std::vector<std::string>{"qlt_temp_1_1.wav.keep"}));
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
