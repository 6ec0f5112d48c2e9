#pragma once

#include <QStringList>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Media helpers shared by the test programs: the ffmpeg command line, files as bytes, modules from the
// program directory, sample comparisons and the stream headers the encoders write.

// Runs the ffmpeg command line with the arguments (quiet, overwriting); true when it succeeded.
bool RunFfmpeg(const QStringList& args);

// A stereo 44.1 kHz test source of the given length with a tone, as the container the path's
// extension names (video sources get a small test picture).
bool MakeTestSource(const std::string& path, double seconds, bool withVideo = false);

// A film as tools make one with -map: a small video, an English track (a stereo chirp at 44.1 kHz, FLAC)
// and a German mono track (a sine at 48 kHz) titled `title`, coded as `secondCodec` and marked as the
// default track.
bool MakeTwoTrackFilm(const std::string& path, double seconds, const QString& secondCodec,
                      const QString& title);

// ffprobe's view of the first audio stream (codec_name, sample_rate, channels, bit_rate, ...) and
// every tag of the file, as "TAG:key" entries (keys as the file spells them); empty when ffprobe fails.
std::map<std::string, std::string> ProbeFile(const std::string& path);

// The whole file decoded at its own rate and channel count; frames -1 when it does not decode.
struct DecodedAudio {
    bool ok = false;
    int channels = 0, rate = 0;
    int64_t frames = -1;
    std::vector<int16_t> samples; // interleaved
    std::string error;
};
DecodedAudio DecodeWithFfmpeg(const std::string& path);

// Audio track `index` (0-based among the file's audio streams) decoded from the start of the file on
// its own timeline (silence where the track starts late, as a player places it), as raw little-endian
// samples of `format` ("s16le", "s32le") at the track's own rate and channels; empty when it fails.
std::string DecodeTrackRaw(const std::string& path, int index, const char* format);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
uint32_t ReadLE32(const std::string& bytes, size_t offset);
uint16_t ReadLE16(const std::string& bytes, size_t offset);

// A module opened from the program directory by file name, as the program opens it.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& fileName);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool IsLoaded() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }
    template <typename Fn> Fn Get(const char* name) const { return reinterpret_cast<Fn>(Symbol(name)); }

private:
    void* Symbol(const char* name) const;
    void* m_handle = nullptr;
    std::string m_error;
};

// A stereo test signal for ffmpeg's lavfi input: two gliding tones, different on each channel, so
// that any shift shows.
QString ChirpSource(int rate, double seconds, int channels = 2);

// Interleaved 16-bit stereo test signals: a tone pair with a little noise, and full-scale white noise
// (the hardest input for an encoder's output size). Deterministic for a seed.
std::vector<int16_t> MakeTone(size_t frames, uint32_t seed = 1);
std::vector<int16_t> MakeNoise(size_t frames, uint32_t seed = 1);

// Interleaved 16-bit samples (8-bit data is widened to 16 bits around 0).
struct Pcm {
    int channels = 2;
    std::vector<int16_t> samples;
    int64_t Frames() const { return static_cast<int64_t>(samples.size()) / channels; }
    int16_t At(int64_t frame, int channel) const {
        return samples[static_cast<size_t>(frame * channels + channel)];
    }
};

// The samples of a canonical WAV file: its data chunk, from byte 44.
Pcm ReadWavData(const std::string& path, int channels, int bytesPerSample);
// What ffmpeg's own accurate decoding of the range gives ("-ss S -i src -t D"); with seekInOutput,
// "-i src -ss S -t D", which decodes from the beginning and cuts by the decoded frames' timestamps.
Pcm FfmpegRange(const std::string& source, double start, double duration, int channels, int rate,
                int bytesPerSample = 2, bool seekInOutput = false);

// The shift of `ours` against `ref` with the least squared difference over a probe window of `ref`,
// searched in [minLag, maxLag] (ours[i + lag] ~ ref[i]).
int BestLag(const Pcm& ours, const Pcm& ref, int minLag, int maxLag, int64_t probeStart, int64_t probeFrames);
// RMS of (ours[i + lag] - ref[i]) over ref's frames [from, to), relative to the RMS of ref there.
double RelativeError(const Pcm& ours, const Pcm& ref, int lag, int64_t from, int64_t to);
double Rms(const Pcm& pcm, int channel, int64_t from, int64_t to);
int64_t LeadingSilentFrames(const Pcm& pcm);

// The frame headers of an MPEG-1 Layer III stream from its first byte (after an ID3v2 tag) on, up to
// the first byte that does not start a frame.
struct Mp3Frame {
    int kbps = 0, mode = 0, emphasis = 0; // mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool crc = false, privateBit = false, copyright = false, original = false;
    size_t offset = 0, length = 0;
};
std::vector<Mp3Frame> Mp3Frames(const std::vector<uint8_t>& file);

// The identification header of an Ogg Vorbis stream (the first packet, alone on the first page).
struct VorbisIdent {
    uint32_t rate = 0;
    int32_t maximum = 0, nominal = 0, minimum = 0;
};
VorbisIdent ReadVorbisIdent(const std::vector<uint8_t>& file);
