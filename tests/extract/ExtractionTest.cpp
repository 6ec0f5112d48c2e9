#include "MediaSupport.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kRate = 44100;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

int64_t Frames(double seconds, int rate = kRate) {
    return llround(seconds * rate);
}

// Runs fn in a child process (so it may change limits or identity) and returns its exit code.
int RunInChild(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The header must describe exactly the data that follows it.
::testing::AssertionResult HeaderMatchesFile(const std::string& path, int channels, int rate,
                                             int bytesPerSample) {
    const std::string bytes = ReadFileText(path);
    if (bytes.size() < 44)
        return ::testing::AssertionFailure() << "only " << bytes.size() << " bytes";
    const uint32_t data = ReadLE32(bytes, 40);
    const size_t pad = data & 1;
    if (bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 8, "WAVEfmt ") != 0 ||
        bytes.compare(36, 4, "data") != 0)
        return ::testing::AssertionFailure() << "not a canonical header";
    if (ReadLE32(bytes, 4) != bytes.size() - 8 || data + 44 + pad != bytes.size())
        return ::testing::AssertionFailure() << "sizes " << ReadLE32(bytes, 4) << "/" << data
                                             << " for a file of " << bytes.size() << " bytes";
    if (ReadLE16(bytes, 22) != channels || ReadLE32(bytes, 24) != static_cast<uint32_t>(rate) ||
        ReadLE16(bytes, 34) != bytesPerSample * 8 ||
        data % static_cast<uint32_t>(channels * bytesPerSample) != 0)
        return ::testing::AssertionFailure() << "wrong format fields";
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------------------------------
// Every container: a range holds, to the sample (to the millisecond where the container's clock counts
// milliseconds), the same span of a decode of the whole file from its start, audio that starts late
// padded with silence as a player places it.

// Streamed: to a pipe, so without duration or index. ByteClock: AVI whose audio chunks hold several
// frames, start anywhere in one and are timed by byte counts, as capture and editing tools of the AVI
// era write it (the raw stream muxed as bytes, then the header names its codec). Stalled: every audio
// timestamp 0.
enum Made { Plain, Streamed, ByteClock, Stalled };
const QString kVideo = "testsrc=s=160x120:r=25:d=4";

struct Container {
    const char* name;
    const char* file;
    const char* args; // the audio's (for ByteClock, the raw stream's) output options
    Made made;
    const char* videoCodec; // or none
    int sourceRate, sourceChannels;
    int tolerance; // output frames
    // ByteClock: the stream's bytes per second and WAVE format tag.
    int byteRate = 0, formatTag = 0;
};

bool MakeByteClockAvi(const Container& c, const std::string& raw, const std::string& avi) {
    if (!RunFfmpeg(QString("-f u8 -ar %1 -ac 1 -i").arg(c.byteRate).split(' ') +
                   QStringList{Q(raw), "-f", "lavfi", "-i", kVideo} +
                   QString("-map 1:v -map 0:a -c:v mpeg4 -c:a copy").split(' ') + QStringList{Q(avi)}))
        return false;
    std::string bytes = ReadFileText(avi);
    const size_t fmt = bytes.find("strf", bytes.find("auds")) + 8;
    // Format tag, channels, rate, block align 1, bits per sample 0.
    for (auto [at, v] : {std::pair{0, c.formatTag},
                         {2, c.sourceChannels},
                         {4, c.sourceRate & 0xffff},
                         {6, c.sourceRate >> 16},
                         {12, 1},
                         {14, 0}}) {
        bytes[fmt + at] = static_cast<char>(v & 0xff);
        bytes[fmt + at + 1] = static_cast<char>(v >> 8);
    }
    WriteFileText(avi, bytes);
    return true;
}

class ContainerAlignment : public ::testing::TestWithParam<Container> {};

TEST_P(ContainerAlignment, RangesMatchADecodeFromTheStart) {
    const Container& c = GetParam();
    TempDir dir;
    const std::string source = dir.File(c.file);
    const QStringList chirp{"-f", "lavfi", "-i", ChirpSource(c.sourceRate, 4, c.sourceChannels)};
    const QStringList args = QString(c.args).split(' ');
    if (c.made == ByteClock) {
        ASSERT_TRUE(RunFfmpeg(chirp + args + QStringList{Q(source + ".raw")}));
        ASSERT_TRUE(MakeByteClockAvi(c, source + ".raw", source));
    } else {
        QStringList extra;
        if (c.videoCodec)
            extra =
                QStringList{"-f", "lavfi", "-i", kVideo} + QString("-c:v %1").arg(c.videoCodec).split(' ');
        if (c.made == Stalled)
            extra += {"-bsf:a", "setts=ts=0"};
        if (c.made == Streamed)
            extra += {"-seekable", "0"};
        ASSERT_TRUE(RunFfmpeg(chirp + extra + args + QStringList{Q(source)}));
    }
    // Timestamps that never advance place nothing: the whole decode counts the samples.
    QStringList decode{"-i", Q(source), "-vn"};
    if (c.made != Stalled)
        decode += {"-af", "aresample=async=1:first_pts=0"};
    ASSERT_TRUE(RunFfmpeg(decode + QStringList{"-ac", "2", "-ar", "44100", "-map_metadata", "-1", "-bitexact",
                                               Q(dir.File("full.wav"))}));
    const Pcm full = ReadWavData(dir.File("full.wav"), 2, 2);

    // The last ranges lie past the end of the audio, or hold nothing: their WAV holds no sample.
    for (double start : {0.0, 2.37, 3.3, 6.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << c.name << " from " << start << " s");
        const double end = start == 2.0 ? 2.0 : std::min(start + 1, start < 4 ? 4.0 : 9.0);
        const std::string wav = dir.File("out.wav");
        ModuleRun run;
        ASSERT_TRUE(run.Extract(source, start, end, wav)) << run.Message();
        EXPECT_TRUE(HeaderMatchesFile(wav, 2, kRate, 2));
        const Pcm ours = ReadWavData(wav, 2, 2);
        EXPECT_EQ(ours.Frames(), start < 4 ? Frames(end - start) : 0);
        if (ours.Frames() == 0)
            continue;
        Pcm ref;
        const int64_t from = Frames(start);
        ref.samples.assign(full.samples.begin() + 2 * std::min(from, full.Frames()),
                           full.samples.begin() + 2 * std::min(from + Frames(end - start), full.Frames()));
        const int lag = BestLag(ours, ref, -600, 600, Frames(0.6), 4096);
        EXPECT_LE(std::abs(lag), c.tolerance);
        // Lossy decoders settle within a few frames of where decoding began; compare the rest.
        EXPECT_LT(RelativeError(ours, ref, lag, kRate / 20, ref.Frames()), c.tolerance > 1 ? 0.2 : 0.05);
    }
}

const int kMs = kRate / 1000 + 1;

INSTANTIATE_TEST_SUITE_P(
    Containers, ContainerAlignment,
    ::testing::Values(
        Container{"AviMp3ByteClock", "clip.avi", "-c:a libmp3lame -b:a 128k -f mp3", ByteClock, nullptr,
                  44100, 2, 1, 16000, 0x55},
        Container{"AviAc3Surround48k", "clip.avi", "-c:a ac3 -b:a 448k -f ac3", ByteClock, nullptr, 48000, 6,
                  1, 56000, 0x2000},
        Container{"AviAc3Stereo44k", "clip.avi", "-c:a ac3 -b:a 192k -f ac3", ByteClock, nullptr, 44100, 2, 1,
                  24000, 0x2000},
        Container{"AviMp3", "clip.avi", "-c:a libmp3lame", Plain, "mpeg4", 48000, 2, 1},
        Container{"Mp4Aac", "clip one.mp4", "-c:a aac", Plain, "libx264", 48000, 2, 1},
        Container{"MpegPsMp2", "clip.mpg", "-c:a mp2", Plain, "mpeg1video", 44100, 2, 1},
        Container{"StreamedMkvOpus", "clip.mkv", "-c:a libopus", Streamed, "mpeg4", 48000, 2, kMs},
        Container{"StreamedWebmVorbis", "clip.webm", "-c:a libvorbis", Streamed, nullptr, 44100, 2, kMs},
        Container{"WmaAsf", "clip.wma", "-c:a wmav2", Plain, nullptr, 44100, 2, kMs},
        Container{"Mp3", "clip.mp3", "-c:a libmp3lame", Plain, nullptr, 44100, 2, 1},
        Container{"Flac", "clip.flac", "-c:a flac", Plain, nullptr, 48000, 2, 1},
        Container{"MkvAudioStartsLate", "late.mkv", "-af asetpts=PTS+0.5/TB -c:a flac", Plain, "mpeg4", 48000,
                  2, kMs},
        Container{"MkvStalledClock", "clip.mkv", "-c:a libvorbis", Stalled, nullptr, 44100, 2, 1},
        // As FFmpeg writes RealAudio: every packet stamped 0, a duration of 0 in the header.
        Container{"RealMediaStalledClock", "clip.rm", "-c:a real_144 -f rm", Stalled, nullptr, 8000, 1, 1}),
    [](const ::testing::TestParamInfo<Container>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------
// Copies without re-encoding ("original"): a decoder that honours the copy's trimming gives exactly the
// source's samples of the range, as a decode of the whole source from its start places them (the same
// as above); codecs without trimming give the whole frames around the range.

// Decoded at the file's own rate and channels, placed on its timeline (audio before time 0 dropped,
// audio that starts late padded), as players place it.
Pcm DecodeOnTimeline(const std::string& path, int* rate) {
    auto info = ProbeFile(path);
    *rate = std::atoi(info["sample_rate"].c_str());
    Pcm pcm;
    pcm.channels = std::atoi(info["channels"].c_str());
    std::string out;
    if (RunProgram("ffmpeg",
                   {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-af",
                    "aresample=async=1:first_pts=0", "-f", "s16le", "-"},
                   &out) != 0 ||
        pcm.channels <= 0)
        return pcm;
    pcm.samples.resize(out.size() / 2);
    std::memcpy(pcm.samples.data(), out.data(), pcm.samples.size() * 2);
    return pcm;
}

Pcm Slice(const Pcm& pcm, int64_t from, int64_t frames) {
    Pcm part{pcm.channels, {}};
    from = std::clamp<int64_t>(from, 0, pcm.Frames());
    const int64_t to = std::clamp<int64_t>(from + frames, from, pcm.Frames());
    part.samples.assign(pcm.samples.begin() + from * pcm.channels, pcm.samples.begin() + to * pcm.channels);
    return part;
}

// ffprobe's figure for a stream (duration_ts, start_pts) or the file (start_time); 0 when absent.
double Probed(const std::string& path, const std::string& entries) {
    std::string out;
    RunProgram("ffprobe",
               {"-v", "error", "-select_streams", "a:0", "-show_entries", entries, "-read_intervals", "%+#4",
                "-of", "csv=p=0", path},
               &out);
    return std::atof(out.c_str());
}

// What an MP3's LAME tag states: the samples between the encoder delay and the padding.
int64_t LameTagSamples(const std::string& path) {
    const std::string b = ReadFileText(path);
    size_t tag = b.find("Xing");
    tag = tag == std::string::npos ? b.find("Info") : tag;
    if (tag == std::string::npos || tag + 144 > b.size())
        return -1;
    auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | static_cast<uint8_t>(b[at + i]);
        return static_cast<int64_t>(v);
    };
    const int64_t frames = be(tag + 8, 4), delayPadding = be(tag + 141, 3);
    return frames * 1152 - (delayPadding >> 12) - (delayPadding & 4095);
}

enum CopyCheck { Exact, ExactUntilPadding, WholeFrames };

struct CopySource {
    const char* name;
    const char* file;
    const char* args; // the audio's output options
    const char* videoCodec;
    const char* extension; // of the copy
    int rate, frame;       // the codec's samples per frame
    CopyCheck check;
};

void PrintTo(const CopySource& c, std::ostream* os) {
    *os << c.name;
}

class RangeCopies : public ::testing::TestWithParam<CopySource> {};

TEST_P(RangeCopies, HoldExactlyTheRangeOfADecodeFromTheStart) {
    const CopySource& c = GetParam();
    TempDir dir;
    const std::string source = dir.File(c.file);
    QStringList make{"-f", "lavfi", "-i", ChirpSource(c.rate, 4)};
    if (c.videoCodec)
        make += QStringList{"-f", "lavfi", "-i", kVideo} + QString("-c:v %1").arg(c.videoCodec).split(' ');
    ASSERT_TRUE(RunFfmpeg(make + QString(c.args).split(' ') + QStringList{Q(source)}));
    int rate = 0;
    Pcm full = DecodeOnTimeline(source, &rate);
    ASSERT_EQ(rate, c.rate);
    // ffmpeg plays the priming an MP4 edit list skips, not the padding its length leaves out.
    if (const double stated = Probed(source, "stream=duration_ts");
        c.check == ExactUntilPadding && stated > 0)
        full = Slice(full, 0, static_cast<int64_t>(stated));
    // Audio placed after time 0 (Matroska's rounded codec delay): a copy starts with its first sample.
    const int64_t audioStart =
        llround((Probed(source, "frame=pts_time") - Probed(source, "format=start_time")) * rate);

    // Non-round, the very start, past the very end, within one frame.
    for (auto [start, end] : {std::pair{1.2345, 2.71828}, {0.0, 0.5}, {3.3, 9.0}, {2.0, 2.01}}) {
        SCOPED_TRACE(testing::Message() << c.name << " " << start << " s to " << end << " s");
        const std::string copy = dir.File("copy") + c.extension;
        ModuleRun run;
        run.StartCopy(source, start, end, copy);
        ASSERT_TRUE(run.WaitForEnd());
        ASSERT_EQ(run.Finished(), 1) << run.Message();
        const int64_t from = std::max(Frames(start, rate), audioStart);
        const Pcm want = Slice(full, from, Frames(end, rate) - from);
        int copyRate = 0;
        const Pcm got = DecodeOnTimeline(copy, &copyRate);
        ASSERT_EQ(copyRate, rate);
        if (std::string(c.extension) != ".ac3") {
            EXPECT_EQ(ProbeFile(copy)["TAG:artist"], "Ärtist");
        }
        if (c.check == WholeFrames) {
            EXPECT_EQ(run.Message(), "whole frames: up to 32 ms more at each end");
            const int lag =
                want.Frames() > 4096 ? BestLag(got, want, 0, c.frame, want.Frames() / 2, 2048) : 0;
            EXPECT_GE(got.Frames() - lag, want.Frames()) << "less than the range";
            EXPECT_LT(got.Frames() - want.Frames(), 2 * c.frame) << "more than a frame at each end";
            if (want.Frames() > 4096) {
                EXPECT_LT(RelativeError(got, want, lag, c.frame, want.Frames()), 0.05);
            }
            continue;
        }
        EXPECT_EQ(run.Message(), "");
        const bool oneFrame = end - start < 0.02;
        if (c.check == ExactUntilPadding) {
            // ffmpeg plays an edit list's start but not its end: the stated length, and the samples
            // up to it. iTunSMPB states the same: the edit list's skip, the range, the rest.
            EXPECT_EQ(Probed(copy, "stream=duration_ts"), want.Frames());
            EXPECT_LT(got.Frames() - want.Frames(), c.frame);
            EXPECT_TRUE(Slice(got, 0, want.Frames()).samples == want.samples) << "samples differ";
            unsigned zero = 1, delay = 0, padding = 0;
            unsigned long long length = 0;
            std::sscanf(ProbeFile(copy)["TAG:iTunSMPB"].c_str(), "%x %x %x %llx", &zero, &delay, &padding,
                        &length);
            EXPECT_EQ(zero, 0u);
            EXPECT_EQ(delay, Probed(copy, "packet_side_data=skip_samples"));
            EXPECT_EQ(static_cast<int64_t>(length), want.Frames());
            EXPECT_EQ(static_cast<int64_t>(padding), got.Frames() - want.Frames());
        } else if (oneFrame && std::string(c.extension) == ".mp3") {
            // ffmpeg applies the start's skip of a frame that also ends the stream in part only.
            EXPECT_EQ(LameTagSamples(copy), want.Frames());
        } else if (oneFrame && std::string(c.extension) == ".ogg") {
            // ffmpeg places the packets of a first page that is also the last one as if untrimmed.
            EXPECT_EQ(Probed(copy, "stream=duration_ts"), want.Frames());
        } else {
            EXPECT_EQ(got.Frames(), want.Frames());
            EXPECT_TRUE(got.samples == want.samples) << "samples differ";
        }
    }
}

// As real files have them: AAC with its priming (the native encoder, without noise substitution, whose
// random noise differs with where decoding began), Opus with its pre-skip, MP3 with a LAME tag.
INSTANTIATE_TEST_SUITE_P(
    Codecs, RangeCopies,
    ::testing::Values(
        CopySource{"AacMp4", "clip.mp4", "-c:a aac -aac_pns 0", "libx264", ".m4a", 48000, 1024,
                   ExactUntilPadding},
        CopySource{"AacMov", "clip.mov", "-c:a aac -aac_pns 0", "mpeg4", ".m4a", 48000, 1024,
                   ExactUntilPadding},
        CopySource{"AacM4a", "clip.m4a", "-c:a aac -aac_pns 0", nullptr, ".m4a", 44100, 1024,
                   ExactUntilPadding},
        CopySource{"AacStreamedMkv", "clip.mkv", "-c:a aac -aac_pns 0 -seekable 0", "mpeg4", ".m4a", 48000,
                   1024, ExactUntilPadding},
        CopySource{"OpusOgg", "clip.opus", "-c:a libopus", nullptr, ".opus", 48000, 960, Exact},
        CopySource{"OpusWebm", "clip.webm", "-c:a libopus", nullptr, ".opus", 48000, 960, Exact},
        CopySource{"OpusMkv", "clip.mkv", "-c:a libopus", "mpeg4", ".opus", 48000, 960, Exact},
        CopySource{"Mp3LameTag", "clip.mp3", "-c:a libmp3lame", nullptr, ".mp3", 44100, 1152, Exact},
        CopySource{"VorbisOgg", "clip.ogg", "-c:a libvorbis", nullptr, ".ogg", 44100, 1024, Exact},
        CopySource{"VorbisWebm", "clip.webm", "-c:a libvorbis", nullptr, ".ogg", 48000, 1024, Exact},
        CopySource{"Flac24", "clip.flac", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24", nullptr,
                   ".flac", 96000, 4608, Exact},
        CopySource{"WavPcm", "clip.wav", "-c:a pcm_s16le", nullptr, ".wav", 44100, 1, Exact},
        CopySource{"Ac3Mkv", "clip.mkv", "-c:a ac3", "mpeg4", ".ac3", 48000, 1536, WholeFrames},
        CopySource{"Ac3Vob", "clip.vob", "-c:a ac3", "mpeg2video", ".ac3", 48000, 1536, WholeFrames}),
    [](const ::testing::TestParamInfo<CopySource>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------
// Output formats

TEST(OutputFormats, EveryRateChannelCountAndSampleWidth) {
    TempDir dir;
    const std::string source = dir.File("source.mp4");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 3), "-c:a", "aac", Q(source)}));
    const std::string wav = dir.File("out.wav");
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        for (int channels : {1, 2})
            for (int bytes : {1, 2}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz " << channels << " ch " << bytes << " B");
                ModuleRun run;
                ASSERT_TRUE(run.Extract(source, 0.5, 2.0, wav, channels, rate, bytes)) << run.Message();
                ASSERT_TRUE(HeaderMatchesFile(wav, channels, rate, bytes));
                const Pcm pcm = ReadWavData(wav, channels, bytes);
                EXPECT_EQ(pcm.Frames(), Frames(1.5, rate));
                for (int ch = 0; ch < channels; ++ch)
                    EXPECT_GT(Rms(pcm, ch, 0, pcm.Frames()), 3000);
                // Some resampled and narrowed outputs against ffmpeg's, for phase.
                if ((rate == 22050 && channels == 1 && bytes == 1) ||
                    (rate == 8000 && channels == 2 && bytes == 2) ||
                    (rate == 11025 && channels == 2 && bytes == 1)) {
                    const Pcm ref = FfmpegRange(source, 0.5, 1.5, channels, rate, bytes);
                    EXPECT_EQ(BestLag(pcm, ref, -100, 100, rate / 10, 2048), 0);
                    EXPECT_LT(RelativeError(pcm, ref, 0, rate / 10, ref.Frames() - rate / 10), 0.05);
                }
            }
}

TEST(OutputFormats, HeaderIsCanonicalOddDataIsPaddedAndAnExistingFileKeepsItsMode) {
    TempDir dir;
    const std::string source = dir.File("source.flac");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 3), Q(source)}));
    const std::string wav = dir.File("out.wav");
    ModuleRun run;
    ASSERT_TRUE(run.Extract(source, 0, 1, wav)) << run.Message();
    std::string bytes = ReadFileText(wav);
    const unsigned char expected[44] = {'R',  'I',  'F',  'F',  0x34, 0xB1, 0x02, 0x00, 'W',  'A',  'V',
                                        'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                                        0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04,
                                        0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0x10, 0xB1, 0x02, 0x00};
    ASSERT_EQ(bytes.size(), 44u + 176400u);
    EXPECT_EQ(bytes.substr(0, 44), std::string(reinterpret_cast<const char*>(expected), 44));

    WriteFileText(wav, std::string(300000, 'x')); // a longer file is truncated
    ASSERT_EQ(chmod(wav.c_str(), 0600), 0);
    ASSERT_TRUE(run.Extract(source, 0.5, 2.0, wav, 1, 22050, 1)) << run.Message();
    bytes = ReadFileText(wav);
    ASSERT_EQ(bytes.size(), 44u + 33075u + 1u);
    EXPECT_TRUE(HeaderMatchesFile(wav, 1, 22050, 1));
    EXPECT_EQ(bytes.back(), '\0');
    struct stat st;
    ASSERT_EQ(stat(wav.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// ---------------------------------------------------------------------------------------------------
// Timing edge cases

TEST(RangeEdges, DamagedAndTruncatedSourcesGiveWhatCanBeDecoded) {
    TempDir dir;
    const std::string source = dir.File("clip.mp3");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 6), "-c:a", "libmp3lame", Q(source)}));
    std::string bytes = ReadFileText(source);
    std::string damaged = bytes;
    uint32_t seed = 12345;
    for (size_t i = damaged.size() * 4 / 10; i < damaged.size() * 5 / 10; ++i) {
        seed = seed * 1664525u + 1013904223u;
        damaged[i] = static_cast<char>(seed >> 24);
    }
    WriteFileText(dir.File("damaged.mp3"), damaged);
    WriteFileText(dir.File("truncated.mp3"), bytes.substr(0, bytes.size() / 2));

    ModuleRun run;
    ASSERT_TRUE(run.Extract(dir.File("damaged.mp3"), 0, 6, dir.File("damaged.wav"))) << run.Message();
    const Pcm damagedPcm = ReadWavData(dir.File("damaged.wav"), 2, 2);
    EXPECT_GT(damagedPcm.Frames(), Frames(4.5));
    EXPECT_GT(Rms(damagedPcm, 0, Frames(5), damagedPcm.Frames()), 3000)
        << "the audio after the damage is lost";

    ASSERT_TRUE(run.Extract(dir.File("truncated.mp3"), 0, 6, dir.File("truncated.wav"))) << run.Message();
    const Pcm truncated = ReadWavData(dir.File("truncated.wav"), 2, 2);
    EXPECT_NEAR(static_cast<double>(truncated.Frames()), static_cast<double>(Frames(3)), Frames(0.2));
}

TEST(RangeEdges, FormatChangesMidStreamAreFollowed) {
    TempDir dir;
    // ADTS frames concatenate: stereo 48 kHz, then mono 22050 Hz, then stereo 48 kHz again.
    const std::string stereo = dir.File("stereo.aac"), mono = dir.File("mono.aac");
    ASSERT_TRUE(
        RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 2), "-c:a", "aac", "-f", "adts", Q(stereo)}));
    ASSERT_TRUE(
        RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(22050, 2, 1), "-c:a", "aac", "-f", "adts", Q(mono)}));
    const std::string source = dir.File("changing.aac");
    WriteFileText(source, ReadFileText(stereo) + ReadFileText(mono) + ReadFileText(stereo));
    const std::string wav = dir.File("out.wav");
    ModuleRun run;
    ASSERT_TRUE(run.Extract(source, 0, 6, wav)) << run.Message();
    const Pcm pcm = ReadWavData(wav, 2, 2);
    EXPECT_EQ(pcm.Frames(), Frames(6));
    for (int second = 0; second < 6; ++second)
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_GT(Rms(pcm, ch, Frames(second) + Frames(0.1), Frames(second + 1) - Frames(0.1)), 3000)
                << "second " << second << ", channel " << ch;
}

// ---------------------------------------------------------------------------------------------------
// Failures

// Sources that cannot be read name the file; requests that cannot be carried out say why. Neither
// finishes, nor touches the WAV file.
TEST(ExtractionFailures, UnreadableSourcesAndUnworkableRequestsFailWithTheReason) {
    TempDir dir;
    const std::string garbage = dir.File("garbage clip.avi");
    std::string noise(65536, '\0');
    uint32_t seed = 99;
    for (char& ch : noise) {
        seed = seed * 1664525u + 1013904223u;
        ch = static_cast<char>(seed >> 24);
    }
    WriteFileText(garbage, noise);
    const std::string silentFilm = dir.File("silent film.mp4"), clip = dir.File("clip.wav");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", kVideo, "-c:v", "mpeg4", Q(silentFilm)}));
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 1), Q(clip)}));
    const std::string folder = dir.File("a folder.avi");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    struct Case {
        std::string source;
        double start, end;
        int channels, rate, bytes;
        std::string expected;
        bool copy = false; // the "original" output instead
    };
    for (const Case& c :
         {Case{dir.File("missing clip.avi"), 0, 2, 2, 44100, 2, ""}, Case{garbage, 0, 2, 2, 44100, 2, ""},
          Case{silentFilm, 0, 2, 2, 44100, 2, ""}, Case{folder, 0, 2, 2, 44100, 2, ""},
          Case{clip, 2, 1, 2, 44100, 2, "is not valid"}, Case{clip, 0, 1, 6, 44100, 2, "channels"},
          Case{clip, 0, 1, 2, 12, 2, "Hz"}, Case{clip, 0, 1, 2, 44100, 3, "bytes per sample"},
          Case{clip, 5, 6, 0, 0, 0, "There is no audio to convert in the marked range.", true}}) {
        const std::string expected = c.expected.empty() ? "\"" + c.source + "\"" : c.expected;
        SCOPED_TRACE(expected);
        const std::string wav = dir.File("out.wav");
        ModuleRun run;
        if (c.copy)
            run.StartCopy(c.source, c.start, c.end, wav);
        else
            run.Start(c.source, c.start, c.end, wav, c.channels, c.rate, c.bytes);
        ASSERT_TRUE(run.WaitForEnd());
        EXPECT_EQ(run.Failed(), 1);
        EXPECT_EQ(run.Finished(), 0);
        EXPECT_NE(run.Message().find(expected), std::string::npos) << run.Message();
        EXPECT_FALSE(FileExists(wav));
    }
}

TEST(ExtractionFailures, WavThatCannotBeCreatedIsNamed) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string source = dir.File("clip.wav");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 1), Q(source)}));
    ASSERT_EQ(chmod(source.c_str(), 0644), 0);

    const std::string inMissingFolder = dir.File("no such folder/out.wav");
    ModuleRun run;
    run.Start(source, 0, 1, inMissingFolder);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(run.Failed(), 1);
    EXPECT_EQ(run.Finished(), 0);
    EXPECT_NE(run.Message().find("\"" + inMissingFolder + "\""), std::string::npos) << run.Message();

    // A link planted at the WAV path is never followed: its target stays as it was.
    const std::string victim = dir.File("victim.txt");
    WriteFileText(victim, "keep me");
    const std::string link = dir.File("link.wav");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    run.Start(source, 0, 1, link);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(run.Failed(), 1);
    EXPECT_EQ(ReadFileText(victim), "keep me");

    // Nor does a FIFO at the path hold the extraction up.
    const std::string fifo = dir.File("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    run.Start(source, 0, 1, fifo);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(run.Failed(), 1);
    EXPECT_NE(run.Message().find("not a regular file"), std::string::npos) << run.Message();
    // Joined before the fork: the child would inherit the record of an unjoined thread.
    run.Stop();

    const std::string readOnly = dir.File("read-only");
    ASSERT_EQ(mkdir(readOnly.c_str(), 0555), 0);
    const std::string wav = readOnly + "/out.wav";
    const int code = RunUnprivileged([&] {
        ModuleRun child;
        child.Start(source, 0, 1, wav);
        if (!child.WaitForEnd())
            return 10;
        if (child.Failed() != 1 || child.Finished() != 0)
            return 11;
        return child.Message().find("\"" + wav + "\"") != std::string::npos ? 0 : 12;
    });
    EXPECT_EQ(code, 0);
}

TEST(ExtractionFailures, FullDiskMidWayFailsAndLeavesAConsistentFile) {
    TempDir dir;
    const std::string source = dir.File("clip.flac");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(44100, 6), Q(source)}));
    const std::string wav = dir.File("out.wav");
    // A file size limit stands in for a full disk: writes past it fail with EFBIG.
    const int code = RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200003, 200003};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 20;
        ModuleRun run;
        run.Start(source, 0, 6, wav);
        if (!run.WaitForEnd())
            return 21;
        if (run.Failed() != 1 || run.Finished() != 0)
            return 22;
        return run.Message().find("\"" + wav + "\"") != std::string::npos ? 0 : 23;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(HeaderMatchesFile(wav, 2, kRate, 2));
    EXPECT_LE(ReadFileText(wav).size(), 200003u);
    EXPECT_GT(ReadFileText(wav).size(), 100000u);
}

// ---------------------------------------------------------------------------------------------------
// Stopping

// Stop, Reset, Destroy and a new extraction each end a running one at once (a hang fails the
// deadline), leave its WAV closed and consistent, and let no event of it follow.
TEST(Stopping, EveryWayOfEndingARunEndsItAtOnce) {
    TempDir dir;
    const std::string source = MakeLongSource(dir.Path()), wav = dir.File("out.wav");
    const std::string second = dir.File("second.wav");
    for (const std::string way : {"stop", "reset", "destroy", "new run"}) {
        SCOPED_TRACE(way);
        ModuleRun run;
        run.HoldAtFirstProgress();
        // A small output format keeps what is written before the end small.
        EXPECT_EQ(run.Start(source, 0, 3600, wav, 1, 8000, 1), 1);
        ASSERT_TRUE(run.WaitForProgress());
        auto ended = std::async(std::launch::async, [&] {
            if (way == "stop")
                run.Stop();
            else if (way == "reset")
                run.Reset();
            else if (way == "destroy")
                run.Destroy();
            else
                return run.Extract(source, 1000, 1001, second);
            return true;
        });
        ASSERT_EQ(ended.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_TRUE(ended.get()) << run.Message();
        EXPECT_FALSE(ProcessHoldsOpen(wav));
        EXPECT_TRUE(HeaderMatchesFile(wav, 1, 8000, 1));
        const size_t size = ReadFileText(wav).size();
        EXPECT_GT(size, 44u);
        EXPECT_LT(size, 44u + 3600u * 8000u);
        if (way == "new run") {
            EXPECT_EQ(ReadWavData(second, 2, 2).Frames(), Frames(1));
            continue;
        }
        EXPECT_EQ(run.Finished() + run.Failed(), 0);
        if (way == "stop") {
            const auto progress = run.ProgressValues();
            ASSERT_FALSE(progress.empty());
            EXPECT_GT(progress.front().first, 0);
            EXPECT_NEAR(progress.front().second, 3600, 5);
            const int events = run.Events();
            run.Stop(); // a second stop, and a stop with nothing running, do nothing
            EXPECT_EQ(run.Events(), events);
        } else if (way == "reset") {
            // Without a source the next extraction can only fail.
            EXPECT_EQ(run.ExtractOnly(second), 0);
            ASSERT_TRUE(run.WaitForEnd());
            EXPECT_EQ(run.Message(), "No source file was chosen for the extraction.");
        }
    }
}

// A copy stopped in its middle is a file that plays up to where it got: the MP4's index is written.
TEST(Stopping, AStoppedCopyPlaysAsFarAsItGot) {
    TempDir dir;
    const std::string source = MakeLongSource(dir.Path()), copy = dir.File("copy.m4a");
    ModuleRun run;
    run.HoldAtFirstProgress();
    EXPECT_EQ(run.StartCopy(source, 0, 3600, copy), 1);
    ASSERT_TRUE(run.WaitForProgress());
    run.Stop();
    EXPECT_EQ(run.Finished() + run.Failed(), 0);
    EXPECT_FALSE(ProcessHoldsOpen(copy));
    const DecodedAudio decoded = DecodeWithFfmpeg(copy);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_GT(decoded.frames, 0);
    EXPECT_LT(decoded.frames, Frames(3600, 48000));
    EXPECT_EQ(Probed(copy, "stream=duration_ts"), decoded.frames) << "the length the file states";
}

// ---------------------------------------------------------------------------------------------------

TEST(Registration, EveryComponentWorksInThisRuntime) {
    for (const char* name : {"viscomwave.so", "VideoEdit.so", "RealMediaSplitter.so", "QuickTime.so"}) {
        const LoadedModule lib(name);
        const auto registerServer = lib.Get<long (*)()>("DllRegisterServer");
        ASSERT_NE(registerServer, nullptr) << name << lib.Error();
        EXPECT_GE(registerServer(), 0) << name;
    }
}

} // namespace
