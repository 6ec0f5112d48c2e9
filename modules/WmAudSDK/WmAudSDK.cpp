#include "WmAudSDK.h"
#include "../encoder_common/FfmpegOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Profile {
    int bitrate;
    int sampleRate;
    int channels;
};

// FFmpeg's WMA v2 encoder refuses anything below this.
constexpr int kMinCodedBitrate = 24000;
constexpr uint32_t kMaxBitrate = 320000;
// Large writes are converted in slices so the conversion buffer stays small.
constexpr int kSliceFrames = 16384;
constexpr int kIoBufferSize = 64 * 1024;

Profile PickProfile(uint32_t bitrate, uint32_t maxRate, uint32_t maxChannels, const WAVEFORMATEX& input) {
    Profile p;
    if (bitrate < 32000)
        p = {kMinCodedBitrate, 22050, 1};
    else if (bitrate < 48000)
        p = {static_cast<int>(bitrate), 32000, 2};
    else
        p = {static_cast<int>(bitrate), 44100, 2};
    // No point in coding more rate or channels than asked for or than the input has.
    p.sampleRate =
        static_cast<int>(std::min({static_cast<uint32_t>(p.sampleRate), maxRate, input.nSamplesPerSec}));
    p.channels = static_cast<int>(
        std::min({static_cast<uint32_t>(p.channels), maxChannels, static_cast<uint32_t>(input.nChannels)}));
    return p;
}

bool IsSameGuid(const WMGUID& a, const WMGUID& b) {
    return std::memcmp(&a, &b, sizeof(WMGUID)) == 0;
}

// Plain storage: a thread-local with a destructor would keep the module from ever being unloaded.
thread_local char t_errorText[256];

void KeepErrorText(const std::string& text) {
    std::snprintf(t_errorText, sizeof t_errorText, "%s", text.c_str());
}

// UTF-32 to UTF-8, with U+DC80..U+DCFF back to the bytes they stand for; false for other surrogates
// and values beyond Unicode.
bool WideToUtf8(const wchar_t* text, std::string& out) {
    out.clear();
    for (; *text; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c <= 0xDFFF)
                return false;
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c <= 0x10FFFF) {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            return false;
        }
    }
    return true;
}

WMRESULT ToResult(FfmpegError error) {
    switch (error) {
    case FfmpegError::None:
        return WM_S_OK;
    case FfmpegError::OutOfMemory:
        return WM_E_OUTOFMEMORY;
    case FfmpegError::DiskFull:
        return WM_E_DISK_FULL;
    case FfmpegError::WriteFault:
        return WM_E_WRITE_FAULT;
    default:
        return WM_E_ENCODER;
    }
}

class CAudioWriter final : public IWMAudioWriter, public IWMAudioWriterTags, private FfmpegOutput {
public:
    static WMRESULT Create(const std::string& path, CAudioWriter** writer);

    WMRESULT QueryInterface(const WMGUID* iid, void** object) override;
    uint32_t AddRef() override { return ++m_refs; }
    uint32_t Release() override;
    WMRESULT Unused3() override { return WM_E_NOTIMPL; }
    WMRESULT SetInputFormat(const WAVEFORMATEX* format) override;
    WMRESULT SetOutputFormat(uint32_t bitrate, uint32_t sampleRate, uint32_t channels,
                             uint32_t reserved) override;
    WMRESULT Unused6() override { return WM_E_NOTIMPL; }
    WMRESULT WriteSamples(const uint8_t* data, uint32_t bytes) override;
    WMRESULT Finish() override;
    WMRESULT SetTag(const char* name, const char* text) override;

private:
    enum class State { Configuring, Writing, Finished };

    CAudioWriter() = default;
    ~CAudioWriter() { av_dict_free(&m_tags); }

    WMRESULT Start(const Profile& profile);
    WMRESULT Convert(const uint8_t* data, int frames);
    WMRESULT EncodeBuffered(bool padLast);
    WMRESULT EncodeSilentFrame();
    WMRESULT Encode(AVFrame* frame);
    WMRESULT Fail(WMRESULT result);
    // WM_S_OK for FfmpegError::None; otherwise the failure, kept as the writer's.
    WMRESULT Check(FfmpegError error);

    std::atomic<uint32_t> m_refs{1};
    State m_state = State::Configuring;
    WMRESULT m_error = WM_S_OK; // the first failure; it sticks
    WMRESULT m_finishResult = WM_S_OK;

    std::string m_path;
    bool m_createdFile = false;

    bool m_hasInput = false;
    WAVEFORMATEX m_input{};
    AVDictionary* m_tags = nullptr;
    uint8_t m_partial[4] = {};
    unsigned m_partialBytes = 0;
};

WMRESULT CAudioWriter::Create(const std::string& path, CAudioWriter** writer) {
    auto* self = new (std::nothrow) CAudioWriter;
    if (!self)
        return WM_E_OUTOFMEMORY;
    try {
        self->m_path = path;
    } catch (...) {
        delete self;
        return WM_E_OUTOFMEMORY;
    }
    struct stat st;
    self->m_createdFile = stat(path.c_str(), &st) != 0 && errno == ENOENT;
    self->m_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (self->m_fd < 0) {
        KeepErrorText(std::strerror(errno));
        delete self;
        return WM_E_CANNOT_CREATE;
    }
    *writer = self;
    return WM_S_OK;
}

WMRESULT CAudioWriter::QueryInterface(const WMGUID* iid, void** object) {
    if (!iid || !object)
        return WM_E_POINTER;
    if (IsSameGuid(*iid, IID_IUnknown) || IsSameGuid(*iid, IID_IWMAudioWriter)) {
        AddRef();
        *object = static_cast<IWMAudioWriter*>(this);
        return WM_S_OK;
    }
    if (IsSameGuid(*iid, IID_IWMAudioWriterTags)) {
        AddRef();
        *object = static_cast<IWMAudioWriterTags*>(this);
        return WM_S_OK;
    }
    *object = nullptr;
    return WM_E_NOINTERFACE;
}

uint32_t CAudioWriter::Release() {
    uint32_t left = --m_refs;
    if (left == 0) {
        // A writer given up without Finish (a cancelled job) still leaves a playable file.
        if (m_state == State::Writing)
            Finish();
        if (m_state == State::Configuring && CloseFile() && m_createdFile)
            unlink(m_path.c_str()); // never started: nothing of value in it
        delete this;
    }
    return left;
}

WMRESULT CAudioWriter::SetTag(const char* name, const char* text) {
    if (!name || !text)
        return WM_E_POINTER;
    if (m_state != State::Configuring)
        return WM_E_UNEXPECTED;
    static const char* const kNames[] = {"title", "artist", "album", "date", "genre", "track", "comment"};
    if (std::none_of(std::begin(kNames), std::end(kNames),
                     [&](const char* n) { return std::strcmp(n, name) == 0; }))
        return WM_E_INVALIDARG;
    // FFmpeg's ASF muxer names the others as Windows Media does; the year it would keep as "date".
    const char* key = std::strcmp(name, "date") == 0 ? "WM/Year" : name;
    return av_dict_set(&m_tags, key, *text ? text : nullptr, 0) < 0 ? WM_E_OUTOFMEMORY : WM_S_OK;
}

WMRESULT CAudioWriter::SetInputFormat(const WAVEFORMATEX* format) {
    if (!format)
        return WM_E_POINTER;
    if (m_state != State::Configuring)
        return WM_E_UNEXPECTED;
    const WAVEFORMATEX& f = *format;
    bool supported = f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16 &&
                     (f.nChannels == 1 || f.nChannels == 2) && f.nSamplesPerSec >= 8000 &&
                     f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * 2 &&
                     f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
    if (!supported)
        return WM_E_INVALID_FORMAT;
    m_input = f;
    m_hasInput = true;
    return WM_S_OK;
}

WMRESULT CAudioWriter::SetOutputFormat(uint32_t bitrate, uint32_t sampleRate, uint32_t channels,
                                       uint32_t reserved) {
    if (m_state != State::Configuring || !m_hasInput)
        return WM_E_UNEXPECTED;
    if (bitrate == 0 || bitrate > kMaxBitrate || sampleRate < 8000 || sampleRate > 48000 || channels < 1 ||
        channels > 2 || reserved != 0)
        return WM_E_INVALIDARG;
    WMRESULT result = Start(PickProfile(bitrate, sampleRate, channels, m_input));
    if (result < 0) {
        // Back to a clean unconfigured writer; the caller may try another format.
        FreeCodec();
        if (m_fd >= 0 && ftruncate(m_fd, 0) == 0)
            lseek(m_fd, 0, SEEK_SET);
        m_error = WM_S_OK;
        m_ioErrno = 0;
        return result;
    }
    m_state = State::Writing;
    return WM_S_OK;
}

WMRESULT CAudioWriter::Start(const Profile& profile) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    const AVOutputFormat* asf = av_guess_format("asf", nullptr, nullptr);
    if (!encoder || !asf)
        return WM_E_ENCODER;

    m_codec = avcodec_alloc_context3(encoder);
    if (!m_codec)
        return WM_E_OUTOFMEMORY;
    m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_codec->sample_rate = profile.sampleRate;
    av_channel_layout_default(&m_codec->ch_layout, profile.channels);
    m_codec->bit_rate = profile.bitrate;
    m_codec->time_base = AVRational{1, profile.sampleRate};
    m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_codec, encoder, nullptr) < 0)
        return WM_E_ENCODER;

    if (WMRESULT r = ToResult(PrepareBuffers(m_input.nChannels, static_cast<int>(m_input.nSamplesPerSec)));
        r < 0)
        return r;
    // Bit-exact keeps the muxer from adding an "encoder" tag: the file carries the given tags only.
    if (WMRESULT r = ToResult(OpenMuxer(asf, kIoBufferSize, AVFMT_FLAG_BITEXACT)); r < 0)
        return r;
    if (m_tags && av_dict_copy(&m_mux->metadata, m_tags, 0) < 0)
        return WM_E_OUTOFMEMORY;
    m_flushEachPacket = true; // the header's duration counts what ASF was given, not what was written
    if (WMRESULT r = ToResult(WriteHeader(nullptr)); r < 0)
        return r;

    // FFmpeg-based decoders drop the first frame: a silent one keeps the input's start.
    m_sentFrames = 0;
    return EncodeSilentFrame();
}

WMRESULT CAudioWriter::WriteSamples(const uint8_t* data, uint32_t bytes) {
    if (m_state != State::Writing)
        return WM_E_UNEXPECTED;
    if (m_error < 0)
        return m_error;
    if (bytes == 0)
        return WM_S_OK;
    if (!data)
        return WM_E_POINTER;

    const unsigned blockAlign = m_input.nBlockAlign;
    if (m_partialBytes > 0) {
        unsigned take = std::min(blockAlign - m_partialBytes, bytes);
        std::memcpy(m_partial + m_partialBytes, data, take);
        m_partialBytes += take;
        data += take;
        bytes -= take;
        if (m_partialBytes < blockAlign)
            return WM_S_OK;
        m_partialBytes = 0;
        if (WMRESULT r = Convert(m_partial, 1); r < 0)
            return r;
    }
    uint32_t frames = bytes / blockAlign;
    while (frames > 0) {
        int slice = static_cast<int>(std::min<uint32_t>(frames, kSliceFrames));
        if (WMRESULT r = Convert(data, slice); r < 0)
            return r;
        data += static_cast<size_t>(slice) * blockAlign;
        bytes -= static_cast<uint32_t>(slice) * blockAlign;
        frames -= static_cast<uint32_t>(slice);
    }
    std::memcpy(m_partial, data, bytes);
    m_partialBytes = bytes;
    return WM_S_OK;
}

WMRESULT CAudioWriter::Convert(const uint8_t* data, int frames) {
    if (WMRESULT r = Check(Resample(data, frames)); r < 0)
        return r;
    return EncodeBuffered(false);
}

// Encodes every whole frame in the buffer; with padLast, a partial last frame too, padded with silence.
WMRESULT CAudioWriter::EncodeBuffered(bool padLast) {
    const int frameSize = m_codec->frame_size;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (padLast && av_audio_fifo_size(m_fifo) > 0)) {
        if (av_frame_make_writable(m_frame) < 0)
            return Fail(WM_E_OUTOFMEMORY);
        int got = av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_frame->data), frameSize);
        if (got < 0)
            return Fail(WM_E_ENCODER);
        if (got < frameSize)
            av_samples_set_silence(m_frame->data, got, frameSize - got, m_codec->ch_layout.nb_channels,
                                   AV_SAMPLE_FMT_FLTP);
        if (WMRESULT r = Encode(m_frame); r < 0)
            return r;
    }
    return WM_S_OK;
}

WMRESULT CAudioWriter::EncodeSilentFrame() {
    if (av_frame_make_writable(m_frame) < 0)
        return Fail(WM_E_OUTOFMEMORY);
    av_samples_set_silence(m_frame->data, 0, m_codec->frame_size, m_codec->ch_layout.nb_channels,
                           AV_SAMPLE_FMT_FLTP);
    return Encode(m_frame);
}

// Sends one frame (nullptr: end of stream) and writes whatever packets come out.
WMRESULT CAudioWriter::Encode(AVFrame* frame) {
    return Check(SendFrame(frame));
}

WMRESULT CAudioWriter::Check(FfmpegError error) {
    return error == FfmpegError::None ? WM_S_OK : Fail(ToResult(error));
}

WMRESULT CAudioWriter::Fail(WMRESULT result) {
    if (m_error >= 0)
        m_error = result;
    KeepErrorText(ErrorText());
    return m_error;
}

WMRESULT CAudioWriter::Finish() {
    if (m_state == State::Finished)
        return m_finishResult;
    if (m_state != State::Writing)
        return WM_E_UNEXPECTED;
    m_state = State::Finished;

    if (m_error >= 0) {
        // A partial sample frame at the very end cannot be played; it is dropped.
        m_partialBytes = 0;
        if (Convert(nullptr, 0) >= 0 && EncodeBuffered(true) >= 0 && EncodeSilentFrame() >= 0 &&
            Encode(nullptr) >= 0) {
            Check(WriteTrailer());
        }
    }
    if (m_error == WM_E_DISK_FULL || m_error == WM_E_WRITE_FAULT)
        FinishAfterWriteError(); // so that what was written plays
    FreeCodec();
    if (!CloseFile())
        Fail(WM_E_WRITE_FAULT);
    m_finishResult = m_error;
    return m_finishResult;
}

} // namespace

WMAUDSDK_API const char* WMAudioErrorText() {
    return t_errorText;
}

WMAUDSDK_API long WMAudioCreateWriter(const wchar_t* path, IWMAudioWriter** writer) {
    t_errorText[0] = '\0';
    if (!path || !writer)
        return WM_E_POINTER;
    *writer = nullptr;
    std::string utf8;
    try {
        if (!WideToUtf8(path, utf8) || utf8.empty())
            return WM_E_INVALIDARG;
    } catch (...) {
        return WM_E_OUTOFMEMORY;
    }
    CAudioWriter* created = nullptr;
    WMRESULT result = CAudioWriter::Create(utf8, &created);
    if (result < 0)
        return result;
    *writer = created;
    return WM_S_OK;
}
