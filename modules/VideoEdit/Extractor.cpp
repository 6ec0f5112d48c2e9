#include "Extractor.h"

#include "AudioTracks.h"
#include "MediaTimeline.h"
#include "OutputStage.h"
#include "Text.h"
#include "WavWriter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
#include <libavutil/time.h>
}

namespace videoedit {

namespace {

// Lossy decoders need some audio before the range to settle (overlap, bit reservoir).
constexpr double kPrerollSeconds = 0.5;
// How far back each seek goes when the one before landed after the start; then the file's beginning.
constexpr double kSeekBackSeconds[] = {kPrerollSeconds, 5, 30, 300};
// Packets this far before the start are not even decoded.
constexpr double kSkipBeforeSeconds = kPrerollSeconds + 1.0;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// A demuxer that keeps failing in one place is taken to be at the end of what can be read.
constexpr int kMaxConsecutiveReadErrors = 32;

std::string FormatSeconds(double s) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

bool ValidOutputFormat(int channels, int rate, int bytesPerSample) {
    return (channels == 1 || channels == 2) && rate >= 1000 && rate <= 384000 &&
           (bytesPerSample == 1 || bytesPerSample == 2);
}

struct MemorySource {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

int ReadMemory(void* opaque, uint8_t* buf, int size) {
    auto* m = static_cast<MemorySource*>(opaque);
    const size_t n = std::min(static_cast<size_t>(size), m->size - m->pos);
    if (n == 0)
        return AVERROR_EOF;
    std::memcpy(buf, m->data + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
    auto* m = static_cast<MemorySource*>(opaque);
    whence &= ~AVSEEK_FORCE;
    int64_t base = 0;
    if (whence == AVSEEK_SIZE)
        return static_cast<int64_t>(m->size);
    if (whence == SEEK_CUR)
        base = static_cast<int64_t>(m->pos);
    else if (whence == SEEK_END)
        base = static_cast<int64_t>(m->size);
    else if (whence != SEEK_SET)
        return AVERROR(EINVAL);
    const int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(m->size))
        return AVERROR(EINVAL);
    m->pos = static_cast<size_t>(target);
    return target;
}

// The hand-over format that keeps the track's sound: its rate, its channels (up to kPcmMaxChannels) and
// its samples' depth, from the parameters the stream probe found.
PcmFormat HandOverFormat(const AVCodecParameters* par) {
    PcmFormat f;
    f.sampleRate = par->sample_rate > 0 ? par->sample_rate : 48000;
    f.channels = std::clamp(par->ch_layout.nb_channels, 1, kPcmMaxChannels);
    const AVChannelLayout& layout = par->ch_layout;
    if (layout.order == AV_CHANNEL_ORDER_NATIVE && layout.nb_channels == f.channels &&
        av_channel_layout_check(&layout) && layout.u.mask <= 0xFFFFFFFFu)
        f.channelMask = static_cast<uint32_t>(layout.u.mask);
    const int bits = par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;
    auto format = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(par->format));
    if (format == AV_SAMPLE_FMT_NONE) {
        // Not decoded while probing: lossy codecs decode to floating point, others to integers.
        const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
        format = desc && (desc->props & AV_CODEC_PROP_LOSSY) ? AV_SAMPLE_FMT_FLT
                 : bits > 16                                 ? AV_SAMPLE_FMT_S32
                                                             : AV_SAMPLE_FMT_S16;
    }
    switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
        f.sample = PcmSample::Int16;
        break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S64:
        f.sample = bits > 0 && bits <= 24 ? PcmSample::Int24 : PcmSample::Int32;
        break;
    default:
        f.sample = PcmSample::Float32;
        break;
    }
    return f;
}

class Extraction {
public:
    Extraction(const ExtractionJob& job, const std::atomic<bool>& stop, const ProgressFn& progress)
        : m_job(job), m_stop(stop), m_progress(progress), m_memory{job.sourceData, job.sourceSize} {}
    ~Extraction();
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    ExtractionResult Run();

private:
    // Recount: the timestamps cannot be trusted; start again, counting samples from the beginning.
    enum class Step { Continue, Done, Retry, Recount, Stopped, Failed };

    static int Interrupt(void* opaque) { return static_cast<Extraction*>(opaque)->Stopping() ? 1 : 0; }
    bool Stopping() const { return m_stop.load(std::memory_order_relaxed); }

    Step Fail(std::string message);
    Step WriteFailed();
    Step OpenSource();
    void CloseSource();
    Step OpenDecoder(const AVCodec* codec);
    Step OpenWav();
    bool SeekTo(int64_t targetUs);
    Step Reopen();
    Step DecodeAttempt();
    Step ReceiveFrames();
    Step HandleFrame(AVFrame* frame);
    int64_t FramePosition(const AVFrame* frame);
    bool FarBeforeStart(const AVPacket* pkt) const;
    bool Stalled(const AVPacket* pkt);
    bool ClockStallsAtStart();
    bool CountPacket(AVPacket* pkt);
    void SetClock();
    Step Hand(AVFrame* frame, int offset);
    Step StageEnded();
    void ReportProgress();
    ExtractionResult Finish(Step step);

    ExtractionJob m_job; // its hand-over format is filled in once the source is open
    const std::atomic<bool>& m_stop;
    const ProgressFn& m_progress;
    MemorySource m_memory;
    std::string m_message;

    AVFormatContext* m_fmt = nullptr;
    AVIOContext* m_io = nullptr;
    AVCodecContext* m_dec = nullptr;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    int m_audio = -1;
    AVRational m_tb{1, 1};

    WavWriter m_writer;
    int64_t m_targetFrames = 0; // INT64_MAX: up to the end of the audio
    int64_t m_maxFrames = 0;    // what a WAV file can hold
    double m_totalSeconds = 0;
    std::unique_ptr<OutputStage> m_output;
    Loudness m_loudness;
    std::chrono::steady_clock::time_point m_lastProgress;
    int64_t m_reportedFrames = 0;

    MediaTimeline m_timeline;
    // Where the range starts on the stream's clock.
    int64_t m_rangeStartUs = 0;
    int64_t m_offsetTb = 0;
    // The clock frames are placed by, and the range's start on it: the stream's own, or when counting,
    // samples since the container's start.
    AVRational m_posTb{1, 1};
    int64_t m_offsetPos = 0;
    // Counting: every packet's place is the sum of the samples before it, from the first audio packet on.
    // Taken where a seek leaves timestamps that are only estimates (AVI's byte counts) or where they do
    // not advance at all.
    bool m_counting = false;
    int64_t m_countPos = AV_NOPTS_VALUE; // the next packet's first sample
    bool m_countKnown = true;            // false after a packet whose length cannot be told undecoded
    StalledClock m_clock;
    bool m_fresh = true;           // nothing read since the source was opened
    bool m_beginning = false;      // this attempt decodes from the beginning of the file
    int m_attemptFrames = 0;       // frames decoded in this attempt
    bool m_attemptSkipped = false; // packets skipped as far before the start in this attempt
    bool m_sawAudio = false;
    bool m_started = false; // the range's first sample has gone to the resampler
    int64_t m_nextPos = AV_NOPTS_VALUE;
    int m_posRate = 0;
};

Extraction::~Extraction() {
    m_output.reset(); // joins its thread, which uses the writer
    if (m_writer.IsOpen())
        m_writer.Close();
    av_packet_free(&m_pkt);
    av_frame_free(&m_frame);
    CloseSource();
}

void Extraction::CloseSource() {
    avcodec_free_context(&m_dec);
    avformat_close_input(&m_fmt);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    m_audio = -1;
}

Extraction::Step Extraction::Fail(std::string message) {
    m_message = std::move(message);
    return Step::Failed;
}

Extraction::Step Extraction::WriteFailed() {
    return Fail("Cannot write the WAV file " + Quoted(m_job.wavPath) + " (" + ErrnoText(m_writer.Error()) +
                ").");
}

Extraction::Step Extraction::OpenSource() {
    const std::string& path = m_job.sourcePath;
    if (!m_job.sourceData) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            return Fail("Cannot open the source file " + Quoted(path) + " (" + ErrnoText(errno) + ").");
        if (S_ISDIR(st.st_mode))
            return Fail(Quoted(path) + " is a folder, not a media file.");
        // Reading a pipe or a character device could block for ever.
        if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
            return Fail(Quoted(path) + " is not a regular file.");
    }

    m_fmt = avformat_alloc_context();
    if (!m_fmt)
        return Fail("Out of memory while opening " + Quoted(path) + ".");
    m_fmt->interrupt_callback = {&Extraction::Interrupt, this};
    std::string url;
    if (m_job.sourceData) {
        m_memory.pos = 0;
        auto* buffer = static_cast<uint8_t*>(av_malloc(32768));
        m_io = buffer ? avio_alloc_context(buffer, 32768, 0, &m_memory, &ReadMemory, nullptr, &SeekMemory)
                      : nullptr;
        if (!m_io) {
            av_free(buffer);
            return Fail("Out of memory while opening " + Quoted(path) + ".");
        }
        m_fmt->pb = m_io;
        m_fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else {
        // "file:" keeps a name such as "http:x.avi" a local file; no other protocol may be reached,
        // even by a playlist posing as a video.
        url = "file:" + path;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int r = avformat_open_input(&m_fmt, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) {
        m_fmt = nullptr; // freed by avformat_open_input
        if (Stopping())
            return Step::Stopped;
        if (r == AVERROR_INVALIDDATA)
            return Fail(Quoted(path) + " is not a media file that can be read, or it is damaged.");
        return Fail("Cannot open the source file " + Quoted(path) + " (" + AvErrorText(r) + ").");
    }
    // Failing to find every stream's parameters is not fatal; the audio stream may still be complete.
    avformat_find_stream_info(m_fmt, nullptr);
    if (Stopping())
        return Step::Stopped;

    const int audio = AudioTrackStream(m_fmt, m_job.track);
    const int tracks = static_cast<int>(ListAudioTracks(m_fmt).size());
    if (audio < 0 && tracks > 0)
        return Fail(Quoted(path) + " has no audio track " + std::to_string(m_job.track) + " (it has " +
                    std::to_string(tracks) + (tracks == 1 ? " audio track)." : " audio tracks)."));
    if (audio < 0)
        return Fail(Quoted(path) + " has no audio track.");
    r = audio;
    const AVCodec* codec = avcodec_find_decoder(m_fmt->streams[audio]->codecpar->codec_id);
    if (!codec)
        return Fail("The audio of " + Quoted(path) + " is in a format that cannot be decoded (" +
                    avcodec_get_name(m_fmt->streams[audio]->codecpar->codec_id) + ").");
    m_audio = r;
    m_tb = m_fmt->streams[m_audio]->time_base;
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i)
        m_fmt->streams[i]->discard = static_cast<int>(i) == m_audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    m_fresh = true;
    return OpenDecoder(codec);
}

Extraction::Step Extraction::OpenDecoder(const AVCodec* codec) {
    avcodec_free_context(&m_dec);
    m_dec = avcodec_alloc_context3(codec);
    if (!m_dec)
        return Fail("Out of memory while opening " + Quoted(m_job.sourcePath) + ".");
    int r = avcodec_parameters_to_context(m_dec, m_fmt->streams[m_audio]->codecpar);
    SetClock();
    m_dec->pkt_timebase = m_posTb;
    if (r >= 0)
        r = avcodec_open2(m_dec, codec, nullptr);
    if (r < 0)
        return Fail("The audio of " + Quoted(m_job.sourcePath) + " cannot be decoded (" + codec->name + ": " +
                    AvErrorText(r) + ").");
    return Step::Continue;
}

Extraction::Step Extraction::OpenWav() {
    int err = 0;
    if (m_job.wavFd >= 0) {
        err = m_writer.Attach(m_job.wavFd, m_job.channels, m_job.sampleRate, m_job.bytesPerSample);
    } else {
        // Truncating the source itself would destroy it.
        struct stat wav, src;
        if (!m_job.sourceData && stat(m_job.wavPath.c_str(), &wav) == 0 &&
            stat(m_job.sourcePath.c_str(), &src) == 0 && wav.st_dev == src.st_dev && wav.st_ino == src.st_ino)
            return Fail("The WAV file " + Quoted(m_job.wavPath) +
                        " is the source file itself; it was not overwritten.");
        err = m_job.sourceFormat
                  ? m_writer.Open(m_job.wavPath, m_job.pcm)
                  : m_writer.Open(m_job.wavPath, m_job.channels, m_job.sampleRate, m_job.bytesPerSample);
    }
    if (err != 0)
        return Fail("Cannot create the WAV file " + Quoted(m_job.wavPath) + " (" +
                    (err == WavWriter::kNotRegularFile ? std::string("not a regular file") : ErrnoText(err)) +
                    ").");
    return Step::Continue;
}

bool Extraction::SeekTo(int64_t targetUs) {
    m_fresh = false;
    if (!SeekAtOrBefore(m_fmt, m_audio, av_rescale_q(targetUs, AV_TIME_BASE_Q, m_tb), targetUs))
        return false;
    avcodec_flush_buffers(m_dec);
    return true;
}

Extraction::Step Extraction::Reopen() {
    const int audio = m_audio;
    CloseSource();
    const Step step = OpenSource();
    if (step != Step::Continue)
        return step;
    if (m_audio != audio)
        return Fail("Cannot read the source file " + Quoted(m_job.sourcePath) +
                    " (it changed while being read).");
    return Step::Continue;
}

int64_t Extraction::FramePosition(const AVFrame* frame) {
    if (frame->sample_rate != m_posRate) {
        m_posRate = frame->sample_rate;
        m_nextPos = AV_NOPTS_VALUE;
    }
    int64_t ts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) {
        const int64_t pos = m_nextPos;
        if (pos != AV_NOPTS_VALUE)
            m_nextPos += frame->nb_samples;
        return pos;
    }
    // The same rounding as ffmpeg's own: timestamps within a tick of the running sample count keep the
    // samples contiguous, so millisecond timestamps do not jitter the position.
    const AVRational rate{1, frame->sample_rate};
    return av_rescale_delta(m_posTb, ts - m_offsetPos, rate, frame->nb_samples, &m_nextPos, rate);
}

void Extraction::SetClock() {
    const int rate = m_fmt->streams[m_audio]->codecpar->sample_rate;
    m_counting = m_counting && rate > 0;
    m_posTb = m_counting ? AVRational{1, rate} : m_tb;
    m_offsetPos = m_counting ? llround(m_job.start * rate) : m_offsetTb;
    m_countPos = AV_NOPTS_VALUE;
    m_countKnown = true;
}

bool Extraction::Stalled(const AVPacket* pkt) {
    return m_clock.Take(pkt->pts, pkt->size);
}

// A seek goes by timestamps, so with timestamps that do not move it lands anywhere (at the last
// packet, say); the first packets tell before any seek.
bool Extraction::ClockStallsAtStart() {
    m_fresh = false;
    return AudioClockStalls(m_fmt, m_audio, m_pkt);
}

// Gives the packet its place by count; false when it lies so far before the start that it need not be
// decoded.
bool Extraction::CountPacket(AVPacket* pkt) {
    if (m_countPos == AV_NOPTS_VALUE) {
        // The first audio packet sits where its timestamp says, against the container's start.
        const int64_t first = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        m_countPos =
            first == AV_NOPTS_VALUE
                ? 0
                : std::max<int64_t>(0, av_rescale_q(first, m_tb, m_posTb) -
                                           av_rescale_q(m_timeline.startUs, AV_TIME_BASE_Q, m_posTb));
    }
    pkt->duration = 0;
    if (!m_countKnown) {
        // Placed by the decoded samples before it.
        pkt->pts = pkt->dts = AV_NOPTS_VALUE;
        return true;
    }
    pkt->pts = pkt->dts = m_countPos;
    const int samples = av_get_audio_frame_duration2(m_fmt->streams[m_audio]->codecpar, pkt->size);
    if (samples <= 0) {
        m_countKnown = false;
        return true;
    }
    m_countPos += samples;
    const int64_t skipBefore =
        av_rescale_q(static_cast<int64_t>(kSkipBeforeSeconds * AV_TIME_BASE), AV_TIME_BASE_Q, m_posTb);
    if (!m_started && m_countPos < m_offsetPos - skipBefore) {
        m_attemptSkipped = true;
        m_sawAudio = true;
        return false;
    }
    return true;
}

bool Extraction::FarBeforeStart(const AVPacket* pkt) const {
    if (pkt->pts == AV_NOPTS_VALUE)
        return false;
    const int64_t endUs =
        av_rescale_q(pkt->pts - m_offsetTb + std::max<int64_t>(pkt->duration, 0), m_tb, AV_TIME_BASE_Q);
    return endUs < -static_cast<int64_t>(kSkipBeforeSeconds * AV_TIME_BASE);
}

Extraction::Step Extraction::DecodeAttempt() {
    m_attemptFrames = 0;
    m_attemptSkipped = false;
    m_nextPos = AV_NOPTS_VALUE;
    m_posRate = 0;
    m_clock.Reset();
    int readErrors = 0;
    for (;;) {
        if (Stopping())
            return Step::Stopped;
        int r = av_read_frame(m_fmt, m_pkt);
        m_fresh = false;
        if (r == AVERROR(EAGAIN)) {
            av_usleep(1000);
            continue;
        }
        if (r < 0) {
            if (Stopping() || r == AVERROR_EXIT)
                return Step::Stopped;
            if (m_fmt->pb && m_fmt->pb->error < 0 && m_fmt->pb->error != AVERROR_EOF)
                return Fail("Cannot read the source file " + Quoted(m_job.sourcePath) + " (" +
                            AvErrorText(m_fmt->pb->error) + ").");
            // Damaged data: like ffmpeg, keep what could be read; a demuxer that cannot get past the
            // damage ends the input.
            if (r != AVERROR_EOF && ++readErrors <= kMaxConsecutiveReadErrors &&
                !(m_fmt->pb && avio_feof(m_fmt->pb)))
                continue;
            break;
        }
        readErrors = 0;
        ReportProgress();
        if (m_pkt->stream_index != m_audio) {
            av_packet_unref(m_pkt);
            continue;
        }
        if (!m_counting && !m_started && Stalled(m_pkt)) {
            av_packet_unref(m_pkt);
            return Step::Recount;
        }
        if (m_counting ? !CountPacket(m_pkt) : !m_started && FarBeforeStart(m_pkt)) {
            m_attemptSkipped = true;
            m_sawAudio = true;
            av_packet_unref(m_pkt);
            continue;
        }
        // A packet the decoder rejects is skipped, as ffmpeg does.
        avcodec_send_packet(m_dec, m_pkt);
        av_packet_unref(m_pkt);
        const Step step = ReceiveFrames();
        if (step != Step::Continue)
            return step;
    }
    avcodec_send_packet(m_dec, nullptr);
    const Step step = ReceiveFrames();
    if (step != Step::Continue)
        return step;
    // A seek that found nothing may have landed past the audio; look again from further back.
    if (!m_started && !m_beginning && m_attemptFrames == 0 && !m_attemptSkipped)
        return Step::Retry;
    return Step::Done;
}

Extraction::Step Extraction::ReceiveFrames() {
    for (;;) {
        const int r = avcodec_receive_frame(m_dec, m_frame);
        if (r < 0)
            return Step::Continue; // needs input, drained, or a decoding error to skip
        const Step step = HandleFrame(m_frame);
        av_frame_unref(m_frame);
        if (step != Step::Continue)
            return step;
    }
}

Extraction::Step Extraction::HandleFrame(AVFrame* frame) {
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0)
        return Step::Continue;
    m_sawAudio = true;
    if (m_started)
        return Hand(frame, 0);

    ++m_attemptFrames;
    int64_t pos = FramePosition(frame);
    if (pos == AV_NOPTS_VALUE) {
        // Without timestamps the position is known only when counting from the beginning.
        if (!m_beginning)
            return Step::Retry;
        pos = -llround(m_job.start * frame->sample_rate);
        m_nextPos = pos + frame->nb_samples;
    }
    if (m_attemptFrames == 1 && !m_attemptSkipped && pos > 0 && !m_beginning)
        return Step::Retry; // the seek landed after the start
    if (pos + frame->nb_samples <= 0)
        return Step::Continue; // pre-roll
    m_started = true;
    if (pos > 0) {
        // The audio begins after the start of the range: silence up to its first sample.
        if (!m_output->PushSilence(frame, pos))
            return StageEnded();
    }
    return Hand(frame, pos < 0 ? static_cast<int>(-pos) : 0);
}

Extraction::Step Extraction::Hand(AVFrame* frame, int offset) {
    AVFrame* copy = av_frame_alloc();
    if (!copy)
        return Fail("Out of memory while decoding " + Quoted(m_job.sourcePath) + ".");
    av_frame_move_ref(copy, frame);
    if (!m_output->PushFrame(copy, offset))
        return StageEnded();
    return Step::Continue;
}

// The output stage stops taking frames once it has all it needs, or cannot go on.
Extraction::Step Extraction::StageEnded() {
    switch (m_output->GetState()) {
    case OutputStage::State::Running:
        return Fail("Out of memory while decoding " + Quoted(m_job.sourcePath) + ".");
    case OutputStage::State::Done:
        return Step::Done;
    case OutputStage::State::Failed:
        return Step::Failed; // its message is taken when the stage has ended
    case OutputStage::State::Stopped:
        break;
    }
    return Step::Stopped;
}

void Extraction::ReportProgress() {
    if (!m_progress || !m_output)
        return;
    const int64_t frames = m_output->FlushedFrames();
    if (frames <= m_reportedFrames || Stopping())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastProgress < kProgressInterval)
        return;
    m_lastProgress = now;
    m_reportedFrames = frames;
    m_progress(static_cast<double>(frames) / m_job.sampleRate, std::max(m_totalSeconds, 0.0));
}

ExtractionResult Extraction::Finish(Step step) {
    if (m_output) {
        // A complete input lets the stage give out its last samples; anything else ends it at once.
        if (step == Step::Done) {
            const OutputStage::State state = m_output->Finish();
            if (state == OutputStage::State::Stopped)
                step = Step::Stopped;
            else if (state == OutputStage::State::Failed)
                step = Step::Failed;
        } else {
            m_output->Abort();
        }
        if (step == Step::Failed && m_message.empty())
            m_message = m_output->Message();
        if (step == Step::Done)
            m_loudness = m_output->MeasuredLoudness();
        m_output.reset();
    }
    if (step == Step::Done && m_writer.IsOpen() && m_writer.Close() != 0)
        step = WriteFailed();
    if (m_writer.IsOpen())
        m_writer.Close();
    ExtractionResult result;
    result.outcome = step == Step::Done      ? ExtractionOutcome::Finished
                     : step == Step::Stopped ? ExtractionOutcome::Stopped
                                             : ExtractionOutcome::Failed;
    if (result.outcome == ExtractionOutcome::Finished)
        result.loudness = m_loudness;
    if (result.outcome == ExtractionOutcome::Failed)
        result.message = m_message.empty()
                             ? "The audio of " + Quoted(m_job.sourcePath) + " could not be extracted."
                             : m_message;
    return result;
}

ExtractionResult Extraction::Run() {
    if (!m_job.presetError.empty()) {
        m_message = m_job.presetError;
        return Finish(Step::Failed);
    }
    std::string invalid = ValidateJob(m_job);
    if (!invalid.empty()) {
        m_message = std::move(invalid);
        return Finish(Step::Failed);
    }
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_pkt || !m_frame)
        return Finish(Fail("Out of memory while opening " + Quoted(m_job.sourcePath) + "."));

    Step step = OpenSource();
    if (step != Step::Continue)
        return Finish(step);
    if (m_job.sourceFormat) {
        m_job.pcm = HandOverFormat(m_fmt->streams[m_audio]->codecpar);
        m_job.channels = m_job.pcm.channels;
        m_job.sampleRate = m_job.pcm.sampleRate;
        m_job.bytesPerSample = m_job.pcm.BytesPerSample();
    }

    m_timeline = TimelineOf(m_fmt);
    const int64_t containerStart = m_timeline.startUs;
    m_rangeStartUs = llround(m_job.start * AV_TIME_BASE) + containerStart;
    m_offsetTb = av_rescale_q(m_rangeStartUs, AV_TIME_BASE_Q, m_tb);
    // AVI gives audio read after a seek the time of its byte count, which is off by part of a frame.
    // A range that starts near the beginning is decoded from there, which tells a stalled clock anyway.
    const bool seeks =
        m_rangeStartUs - static_cast<int64_t>(kSeekBackSeconds[0] * AV_TIME_BASE) > containerStart;
    m_counting = std::strcmp(m_fmt->iformat->name, "avi") == 0 || (seeks && ClockStallsAtStart());
    SetClock();
    m_dec->pkt_timebase = m_posTb;

    const double length = m_job.end - m_job.start;
    // A range longer than any file (or without an end) runs to the end of the audio.
    m_targetFrames = length * m_job.sampleRate < 9e18 ? llround(length * m_job.sampleRate) : INT64_MAX;
    m_totalSeconds = length;
    if (m_timeline.length > 0)
        m_totalSeconds = std::min(length, std::max(0.0, m_timeline.length - m_job.start));

    step = OpenWav();
    if (step != Step::Continue)
        return Finish(step);
    m_maxFrames =
        static_cast<int64_t>(m_writer.MaxDataBytes() / static_cast<uint64_t>(m_writer.BlockAlign()));
    if (std::isfinite(m_totalSeconds) && m_totalSeconds * m_job.sampleRate > static_cast<double>(m_maxFrames))
        return Finish(Fail("The range of " + Quoted(m_job.sourcePath) +
                           " is too long for one WAV file (4 GB at most)."));
    if (m_targetFrames == 0)
        return Finish(Step::Done);
    m_output = std::make_unique<OutputStage>(m_job, m_stop, m_writer, m_targetFrames, m_maxFrames);
    if (!m_output->Start())
        return Finish(Fail("Cannot start the extraction of " + Quoted(m_job.sourcePath) + "."));
    m_lastProgress = std::chrono::steady_clock::now();

    step = Step::Retry;
    for (double back : kSeekBackSeconds) {
        if (m_counting)
            break;
        const int64_t targetUs = m_rangeStartUs - static_cast<int64_t>(back * AV_TIME_BASE);
        if (targetUs <= containerStart)
            break; // the beginning is close enough to decode from
        if (!SeekTo(targetUs))
            break;
        m_beginning = false;
        step = DecodeAttempt();
        if (step != Step::Retry)
            break;
    }
    while (step == Step::Retry || step == Step::Recount) {
        m_counting = m_counting || step == Step::Recount;
        if (!m_fresh) {
            step = Reopen();
            if (step != Step::Continue)
                return Finish(step);
        }
        SetClock();
        m_dec->pkt_timebase = m_posTb;
        m_beginning = true;
        step = DecodeAttempt();
    }
    if (step == Step::Done && !m_sawAudio)
        step =
            Fail("No audio could be decoded from " + Quoted(m_job.sourcePath) + "; the file may be damaged.");
    return Finish(step);
}

} // namespace

std::string ValidateJob(const ExtractionJob& job) {
    if (job.sourcePath.empty() && !job.sourceData)
        return "No source file was chosen for the extraction.";
    if (!std::isfinite(job.start) || job.start < 0 || std::isnan(job.end) || job.end < job.start)
        return "The range from " + FormatSeconds(job.start) + " s to " + FormatSeconds(job.end) + " s of " +
               Quoted(job.sourcePath) + " is not valid.";
    if (job.wavPath.empty() && job.wavFd < 0)
        return "No WAV file was given for the audio of " + Quoted(job.sourcePath) + ".";
    if (!job.sourceFormat && !ValidOutputFormat(job.channels, job.sampleRate, job.bytesPerSample))
        return "Cannot write " + Quoted(job.wavPath) + " with " + std::to_string(job.channels) +
               " channels, " + std::to_string(job.sampleRate) + " Hz and " +
               std::to_string(job.bytesPerSample) + " bytes per sample.";
    return "";
}

bool SeekAtOrBefore(AVFormatContext* fmt, int audio, int64_t ts, int64_t us) {
    // Matroska's cues usually index the video alone: a seek by the audio reads every cluster up to the
    // target, so it goes by the video's key frames, as players seek.
    int r = -1;
    if (std::strstr(fmt->iformat->name, "matroska")) {
        for (unsigned i = 0; r < 0 && i < fmt->nb_streams; ++i) {
            const AVStream* st = fmt->streams[i];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
                (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
                continue;
            const int64_t t = av_rescale_q(us, AV_TIME_BASE_Q, st->time_base);
            r = avformat_seek_file(fmt, static_cast<int>(i), INT64_MIN, t, t, 0);
        }
    }
    if (r < 0)
        r = avformat_seek_file(fmt, audio, INT64_MIN, ts, ts, 0);
    if (r < 0)
        r = avformat_seek_file(fmt, -1, INT64_MIN, us, us, 0);
    // Some containers index only the video's key frames; seeking by them moves the audio as well.
    for (unsigned i = 0; r < 0 && i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (static_cast<int>(i) == audio || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const int64_t t = av_rescale_q(us, AV_TIME_BASE_Q, st->time_base);
        r = avformat_seek_file(fmt, static_cast<int>(i), INT64_MIN, t, t, 0);
    }
    return r >= 0;
}

ExtractionResult RunExtraction(const ExtractionJob& job, const std::atomic<bool>& stop,
                               const ProgressFn& progress) {
    Extraction extraction(job, stop, progress);
    return extraction.Run();
}

} // namespace videoedit
