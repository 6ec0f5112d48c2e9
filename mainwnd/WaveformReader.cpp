#include "WaveformReader.h"

#include "AudioTracks.h"
#include "MediaTimeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

using Peak = CPeakOverview::Peak;

int Interrupt(void* stop) {
    return static_cast<const std::atomic<bool>*>(stop)->load(std::memory_order_relaxed) ? 1 : 0;
}

template <typename T> int16_t To16(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        if (!(v == v))
            return 0; // NaN
        return static_cast<int16_t>(std::lround(std::clamp<double>(v, -1.0, 1.0) * 32767.0));
    } else if constexpr (std::is_same_v<T, uint8_t>) {
        return static_cast<int16_t>((static_cast<int>(v) - 128) * 256);
    } else {
        return static_cast<int16_t>(v >> (8 * sizeof(T) - 16));
    }
}

// Lowest and highest of the values, merged into the peak.
template <typename T> void Scan(const void* data, size_t first, size_t count, Peak& peak) {
    const T* p = static_cast<const T*>(data) + first;
    T lo = p[0], hi = p[0];
    for (size_t i = 1; i < count; ++i) {
        lo = std::min(lo, p[i]);
        hi = std::max(hi, p[i]);
    }
    peak.lo = std::min(peak.lo, To16(lo));
    peak.hi = std::max(peak.hi, To16(hi));
}

using ScanFn = void (*)(const void*, size_t, size_t, Peak&);

ScanFn ScannerFor(int format) {
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format))) {
    case AV_SAMPLE_FMT_U8:
        return &Scan<uint8_t>;
    case AV_SAMPLE_FMT_S16:
        return &Scan<int16_t>;
    case AV_SAMPLE_FMT_S32:
        return &Scan<int32_t>;
    case AV_SAMPLE_FMT_S64:
        return &Scan<int64_t>;
    case AV_SAMPLE_FMT_FLT:
        return &Scan<float>;
    case AV_SAMPLE_FMT_DBL:
        return &Scan<double>;
    default:
        return nullptr;
    }
}

// Gathers the peaks of decoded frames into bins and hands them to the overview in batches, so the
// readers of the overview seldom wait for its lock.
class PeakSink {
public:
    PeakSink(CPeakOverview& overview, int rate)
        : m_overview(overview), m_rate(rate), m_spb(overview.SamplesPerBin()) {}

    // A frame whose first sample lies `seconds` after the start of the file.
    void AddFrame(const AVFrame* frame, double seconds) {
        const ScanFn scan = ScannerFor(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        if (!scan || channels <= 0 || frame->nb_samples <= 0 || frame->sample_rate <= 0)
            return;
        const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
        const int n = frame->nb_samples;
        // Positions on the overview's clock: samples of the frame scaled to the overview's rate.
        const double scale = static_cast<double>(frame->sample_rate) / m_rate;
        const double start = seconds * m_rate;
        int k = start < 0 ? static_cast<int>(std::min<double>(n, std::ceil(-start * scale))) : 0;
        while (k < n) {
            const auto bin =
                static_cast<int64_t>(std::floor((start + k / scale) / static_cast<double>(m_spb)));
            if (bin >= static_cast<int64_t>(CPeakOverview::kMaxBins)) {
                Flush();
                m_overview.Coarsen();
                m_spb = m_overview.SamplesPerBin();
                continue;
            }
            const double binEnd = (static_cast<double>(bin + 1) * static_cast<double>(m_spb) - start) * scale;
            const int end = std::clamp(static_cast<int>(std::ceil(binEnd)), k + 1, n);
            Peak& peak = Slot(static_cast<size_t>(bin));
            if (planar) {
                for (int c = 0; c < channels; ++c)
                    scan(frame->extended_data[c], static_cast<size_t>(k), static_cast<size_t>(end - k), peak);
            } else {
                scan(frame->extended_data[0], static_cast<size_t>(k) * channels,
                     static_cast<size_t>(end - k) * channels, peak);
            }
            k = end;
        }
        const auto now = std::chrono::steady_clock::now();
        if (m_pending.size() >= kBatchBins || now - m_lastFlush > std::chrono::milliseconds(100))
            Flush();
    }

    void Flush() {
        m_overview.Store(m_first, m_pending.data(), m_pending.size());
        m_pending.clear();
        m_lastFlush = std::chrono::steady_clock::now();
    }

private:
    static constexpr size_t kBatchBins = 16384;
    static constexpr size_t kLargestGap = 4096;

    Peak& Slot(size_t bin) {
        if (m_pending.empty()) {
            m_first = bin;
        } else if (bin < m_first || bin > m_first + m_pending.size() + kLargestGap) {
            Flush();
            m_first = bin;
        }
        if (bin >= m_first + m_pending.size())
            m_pending.resize(bin - m_first + 1);
        return m_pending[bin - m_first];
    }

    CPeakOverview& m_overview;
    const int m_rate;
    int64_t m_spb;
    size_t m_first = 0;
    std::vector<Peak> m_pending;
    std::chrono::steady_clock::time_point m_lastFlush = std::chrono::steady_clock::now();
};

struct Resources {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    ~Resources() {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }
};

enum class Pass { Done, Stalled };

// One reading of the file. Frames are placed on the file's timeline by their timestamps or, when
// `counting`, one after the other from where the first packet lies; a pass by timestamps ends early as
// Stalled when the timestamps do not advance.
Pass ReadPass(const std::string& path, int track, CPeakOverview& overview, const std::atomic<bool>& stop,
              bool counting, bool& sawAudio) {
    Resources r;
    r.fmt = avformat_alloc_context();
    if (!r.fmt)
        return Pass::Done;
    r.fmt->interrupt_callback = {&Interrupt, const_cast<std::atomic<bool>*>(&stop)};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // "file:" keeps a name such as "http:x.avi" a local file.
    const int opened = avformat_open_input(&r.fmt, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return Pass::Done;
    // The stream probe also finds where the file's timeline starts.
    avformat_find_stream_info(r.fmt, nullptr);
    const int audio = AudioTrackStream(r.fmt, track);
    const AVCodec* codec =
        audio >= 0 ? avcodec_find_decoder(r.fmt->streams[audio]->codecpar->codec_id) : nullptr;
    if (!codec || stop)
        return Pass::Done;
    for (unsigned i = 0; i < r.fmt->nb_streams; ++i)
        r.fmt->streams[i]->discard = static_cast<int>(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const AVStream* st = r.fmt->streams[audio];
    r.dec = avcodec_alloc_context3(codec);
    if (!r.dec || avcodec_parameters_to_context(r.dec, st->codecpar) < 0)
        return Pass::Done;
    r.dec->pkt_timebase = st->time_base;
    if (avcodec_open2(r.dec, codec, nullptr) < 0 || r.dec->sample_rate <= 0)
        return Pass::Done;
    r.pkt = av_packet_alloc();
    r.frame = av_frame_alloc();
    if (!r.pkt || !r.frame)
        return Pass::Done;

    const MediaTimeline timeline = TimelineOf(r.fmt);
    overview.Reset(r.dec->sample_rate, timeline.length);
    PeakSink sink(overview, r.dec->sample_rate);
    StalledClock clock;

    double next = 0; // where the next frame begins when it has no timestamp, or when counting
    bool placed = false;
    auto drain = [&] {
        while (avcodec_receive_frame(r.dec, r.frame) >= 0) {
            const int64_t ts = r.frame->best_effort_timestamp;
            const double at = ts != AV_NOPTS_VALUE && !counting ? timeline.Seconds(ts, st->time_base) : next;
            sink.AddFrame(r.frame, at);
            sawAudio = true;
            if (r.frame->sample_rate > 0)
                next = at + static_cast<double>(r.frame->nb_samples) / r.frame->sample_rate;
            av_frame_unref(r.frame);
        }
    };
    while (!stop.load(std::memory_order_relaxed)) {
        const int read = av_read_frame(r.fmt, r.pkt);
        if (read == AVERROR(EAGAIN))
            continue;
        if (read < 0)
            break; // the end, or as far as a damaged file reads
        if (r.pkt->stream_index == audio) {
            if (counting && !placed && r.pkt->pts != AV_NOPTS_VALUE)
                next = std::max(0.0, timeline.Seconds(r.pkt->pts, st->time_base));
            placed = true;
            if (!counting && clock.Take(r.pkt->pts, r.pkt->size)) {
                av_packet_unref(r.pkt);
                return Pass::Stalled;
            }
            if (avcodec_send_packet(r.dec, r.pkt) >= 0)
                drain(); // a damaged packet is skipped
        }
        av_packet_unref(r.pkt);
    }
    if (!stop.load()) {
        avcodec_send_packet(r.dec, nullptr);
        drain();
    }
    sink.Flush();
    return Pass::Done;
}

} // namespace

CWaveformReader::~CWaveformReader() {
    Stop();
}

void CWaveformReader::Start(const std::string& path, int track, bool background) {
    Stop();
    m_overview = std::make_shared<CPeakOverview>();
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::thread([overview = m_overview, stop = m_stop, path, track, background] {
        pthread_setname_np(pthread_self(), "quillet-peaks");
        if (background)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10); // best effort
        Read(path, track, *overview, *stop);
    });
}

void CWaveformReader::Stop() {
    if (m_stop)
        m_stop->store(true);
    if (m_thread.joinable())
        m_thread.join();
}

bool CWaveformReader::Read(const std::string& path, int track, CPeakOverview& overview,
                           const std::atomic<bool>& stop) {
    av_log_set_level(AV_LOG_QUIET);
    bool sawAudio = false;
    if (ReadPass(path, track, overview, stop, false, sawAudio) == Pass::Stalled) {
        sawAudio = false;
        ReadPass(path, track, overview, stop, true, sawAudio);
    }
    overview.Finish(sawAudio);
    return sawAudio;
}
