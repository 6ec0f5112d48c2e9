#include "WmAudSDK.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// UTF-32 to UTF-8; false for surrogates and values beyond Unicode.
bool WideToUtf8(const wchar_t* text, std::string& out) {
    out.clear();
    for (; *text; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c < 0x80) {
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

WMRESULT ErrnoToResult(int err) {
    return err == ENOSPC || err == EFBIG || err == EDQUOT ? WM_E_DISK_FULL : WM_E_WRITE_FAULT;
}

class CAudioWriter final : public IWMAudioWriter {
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

private:
    enum class State { Configuring, Writing, Finished };

    CAudioWriter() = default;
    ~CAudioWriter();

    WMRESULT Start(const Profile& profile);
    WMRESULT Convert(const uint8_t* data, int frames);
    WMRESULT EncodeBuffered(bool padLast);
    WMRESULT EncodeSilentFrame();
    WMRESULT Encode(AVFrame* frame);
    WMRESULT Fail(WMRESULT result);
    WMRESULT CheckIo();
    void FreeCodec();
    bool CloseFile();

    static int WritePacket(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    std::atomic<uint32_t> m_refs{1};
    State m_state = State::Configuring;
    WMRESULT m_error = WM_S_OK; // the first failure; it sticks
    WMRESULT m_finishResult = WM_S_OK;

    std::string m_path;
    int m_fd = -1;
    bool m_createdFile = false;
    int m_ioErrno = 0;

    bool m_hasInput = false;
    WAVEFORMATEX m_input{};
    uint8_t m_partial[4] = {};
    unsigned m_partialBytes = 0;

    AVFormatContext* m_mux = nullptr;
    AVIOContext* m_io = nullptr;
    AVCodecContext* m_codec = nullptr;
    SwrContext* m_swr = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    uint8_t** m_converted = nullptr;
    int m_convertedCapacity = 0;
    int64_t m_nextPts = 0;
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
        delete self;
        return WM_E_CANNOT_CREATE;
    }
    *writer = self;
    return WM_S_OK;
}

CAudioWriter::~CAudioWriter() {
    FreeCodec();
    CloseFile();
}

WMRESULT CAudioWriter::QueryInterface(const WMGUID* iid, void** object) {
    if (!iid || !object)
        return WM_E_POINTER;
    if (IsSameGuid(*iid, IID_IUnknown) || IsSameGuid(*iid, IID_IWMAudioWriter)) {
        AddRef();
        *object = static_cast<IWMAudioWriter*>(this);
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

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, m_input.nChannels);
    int ret =
        swr_alloc_set_opts2(&m_swr, &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP, profile.sampleRate, &inLayout,
                            AV_SAMPLE_FMT_S16, static_cast<int>(m_input.nSamplesPerSec), 0, nullptr);
    if (ret < 0 || swr_init(m_swr) < 0)
        return WM_E_ENCODER;

    m_fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, profile.channels, m_codec->frame_size * 2);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_fifo || !m_frame || !m_packet)
        return WM_E_OUTOFMEMORY;
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = profile.sampleRate;
    m_frame->nb_samples = m_codec->frame_size;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout) < 0 ||
        av_frame_get_buffer(m_frame, 0) < 0)
        return WM_E_OUTOFMEMORY;

    if (avformat_alloc_output_context2(&m_mux, asf, nullptr, nullptr) < 0)
        return WM_E_ENCODER;
    // Bit-exact keeps the muxer from adding an "encoder" tag: the file carries no tags at all.
    m_mux->flags |= AVFMT_FLAG_BITEXACT | AVFMT_FLAG_CUSTOM_IO;
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer)
        return WM_E_OUTOFMEMORY;
    m_io = avio_alloc_context(ioBuffer, kIoBufferSize, 1, this, nullptr, &CAudioWriter::WritePacket,
                              &CAudioWriter::Seek);
    if (!m_io) {
        av_free(ioBuffer);
        return WM_E_OUTOFMEMORY;
    }
    m_mux->pb = m_io;
    AVStream* stream = avformat_new_stream(m_mux, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, m_codec) < 0)
        return WM_E_OUTOFMEMORY;
    stream->time_base = m_codec->time_base;
    if (avformat_write_header(m_mux, nullptr) < 0)
        return m_ioErrno ? ErrnoToResult(m_ioErrno) : WM_E_ENCODER;
    if (WMRESULT io = CheckIo(); io < 0)
        return io;

    // FFmpeg-based decoders drop the first frame: a silent one keeps the input's start.
    m_nextPts = 0;
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
    int needed = swr_get_out_samples(m_swr, frames);
    if (needed < 0)
        return Fail(WM_E_ENCODER);
    if (needed > m_convertedCapacity) {
        if (m_converted)
            av_freep(&m_converted[0]);
        av_freep(&m_converted);
        m_convertedCapacity = 0;
        if (av_samples_alloc_array_and_samples(&m_converted, nullptr, m_codec->ch_layout.nb_channels, needed,
                                               AV_SAMPLE_FMT_FLTP, 0) < 0)
            return Fail(WM_E_OUTOFMEMORY);
        m_convertedCapacity = needed;
    }
    const uint8_t* in[1] = {data};
    int got = swr_convert(m_swr, m_converted, m_convertedCapacity, data ? in : nullptr, frames);
    if (got < 0)
        return Fail(WM_E_ENCODER);
    if (got > 0 && av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_converted), got) < got)
        return Fail(WM_E_OUTOFMEMORY);
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
    if (frame) {
        frame->pts = m_nextPts;
        m_nextPts += frame->nb_samples;
    }
    if (avcodec_send_frame(m_codec, frame) < 0)
        return Fail(WM_E_ENCODER);
    for (;;) {
        int ret = avcodec_receive_packet(m_codec, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return WM_S_OK;
        if (ret < 0)
            return Fail(WM_E_ENCODER);
        m_packet->stream_index = 0;
        av_packet_rescale_ts(m_packet, m_codec->time_base, m_mux->streams[0]->time_base);
        ret = av_write_frame(m_mux, m_packet);
        av_packet_unref(m_packet);
        if (WMRESULT io = CheckIo(); io < 0)
            return io;
        if (ret < 0)
            return Fail(WM_E_ENCODER);
    }
}

WMRESULT CAudioWriter::CheckIo() {
    if (m_ioErrno)
        return Fail(ErrnoToResult(m_ioErrno));
    if (m_io && m_io->error < 0)
        return Fail(WM_E_WRITE_FAULT);
    return WM_S_OK;
}

WMRESULT CAudioWriter::Fail(WMRESULT result) {
    if (m_error >= 0)
        m_error = result;
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
            if (av_write_trailer(m_mux) < 0)
                Fail(WM_E_ENCODER);
            avio_flush(m_io);
            CheckIo();
        }
    }
    FreeCodec();
    if (!CloseFile())
        Fail(WM_E_WRITE_FAULT);
    m_finishResult = m_error;
    return m_finishResult;
}

void CAudioWriter::FreeCodec() {
    if (m_mux) {
        m_mux->pb = nullptr;
        avformat_free_context(m_mux);
        m_mux = nullptr;
    }
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    avcodec_free_context(&m_codec);
    swr_free(&m_swr);
    if (m_fifo) {
        av_audio_fifo_free(m_fifo);
        m_fifo = nullptr;
    }
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    if (m_converted)
        av_freep(&m_converted[0]);
    av_freep(&m_converted);
    m_convertedCapacity = 0;
}

// False when the file was open and closing it reported an error (data may be lost).
bool CAudioWriter::CloseFile() {
    if (m_fd < 0)
        return true;
    int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0;
}

int CAudioWriter::WritePacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<CAudioWriter*>(opaque);
    int left = size;
    while (left > 0) {
        ssize_t n = write(self->m_fd, buffer, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self->m_ioErrno = n < 0 ? errno : ENOSPC;
            return AVERROR(self->m_ioErrno);
        }
        buffer += n;
        left -= static_cast<int>(n);
    }
    return size;
}

int64_t CAudioWriter::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<CAudioWriter*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        return fstat(self->m_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    off_t pos = lseek(self->m_fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return pos < 0 ? AVERROR(errno) : static_cast<int64_t>(pos);
}

} // namespace

WMAUDSDK_API long WMAudioCreateWriter(const wchar_t* path, IWMAudioWriter** writer) {
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
