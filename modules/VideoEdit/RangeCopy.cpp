#include "RangeCopy.h"

#include "AudioTracks.h"
#include "CopyOutput.h"
#include "MediaTimeline.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <sys/stat.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/vorbis_parser.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/mathematics.h>
}

namespace videoedit {

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// How far before what the decoder needs each seek goes when the one before landed too late; then the
// file's beginning.
constexpr double kSeekBackSeconds[] = {0.2, 2, 10, 60, 300};
constexpr int kMaxConsecutiveReadErrors = 32;
constexpr size_t kMaxHistory = 96;
const char* const kNoAudioInRange = "There is no audio to convert in the marked range.";

// Samples at 48 kHz of an Opus packet from its table of contents (RFC 6716, 3.1); 0 when not valid.
int OpusPacketSamples(const uint8_t* data, int size) {
    if (size < 1)
        return 0;
    static const int kSilk[4] = {480, 960, 1920, 2880};
    const int config = data[0] >> 3;
    const int frame = config < 12   ? kSilk[config & 3]
                      : config < 16 ? 480 << (config & 1)
                                    : 120 << (config & 3);
    int frames = 1;
    switch (data[0] & 3) {
    case 0:
        break;
    case 1:
    case 2:
        frames = 2;
        break;
    default:
        if (size < 2)
            return 0;
        frames = data[1] & 0x3F;
    }
    const int samples = frame * frames;
    return samples <= 5760 ? samples : 0;
}

// The block size of a FLAC frame from its header; 0 when it cannot be told.
int FlacBlockSize(const uint8_t* data, int size) {
    if (size < 6 || data[0] != 0xFF || (data[1] & 0xFE) != 0xF8)
        return 0;
    const int code = data[2] >> 4;
    if (code == 1)
        return 192;
    if (code >= 2 && code <= 5)
        return 576 << (code - 2);
    if (code >= 8)
        return 256 << (code - 8);
    if (code != 6 && code != 7)
        return 0;
    // The frame or sample number, UTF-8 coded, comes before the size.
    int at = 4;
    for (uint8_t lead = data[4]; lead & 0x80; lead = static_cast<uint8_t>(lead << 1))
        ++at;
    if (at == 5)
        at = 4; // a single byte: 0xxxxxxx
    at += 1;
    if (code == 6)
        return at < size ? data[at] + 1 : 0;
    return at + 1 < size ? (data[at] << 8 | data[at + 1]) + 1 : 0;
}

// The stream of an audio track as the track list numbers it; -1: no audio at all; -2: no such track.
int AudioStreamOfTrack(const AVFormatContext* fmt, int track) {
    const int stream = AudioTrackStream(fmt, track);
    if (stream >= 0)
        return stream;
    return ListAudioTracks(fmt).empty() ? -1 : -2;
}

bool NameHas(const AVFormatContext* fmt, const char* name) {
    return std::strstr(fmt->iformat->name, name) != nullptr;
}

// Opens a local media file (no other protocol, no pipe or device) with its stream information.
std::string OpenMedia(const std::string& path, const AVIOInterruptCB& interrupt, AVFormatContext** out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "Cannot open the source file " + Quoted(path) + " (" + ErrnoText(errno) + ").";
    if (S_ISDIR(st.st_mode))
        return Quoted(path) + " is a folder, not a media file.";
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return Quoted(path) + " is not a regular file.";
    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt)
        return "Out of memory while opening " + Quoted(path) + ".";
    fmt->interrupt_callback = interrupt;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int r = avformat_open_input(&fmt, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0)
        return r == AVERROR_INVALIDDATA
                   ? Quoted(path) + " is not a media file that can be read, or it is damaged."
                   : "Cannot open the source file " + Quoted(path) + " (" + AvErrorText(r) + ").";
    avformat_find_stream_info(fmt, nullptr);
    *out = fmt;
    return "";
}

// The chosen track's stream and its copy plan, or a message.
std::string ChooseTrack(const AVFormatContext* fmt, const std::string& path, int track, int* index,
                        CopyPlan* plan) {
    *index = AudioStreamOfTrack(fmt, track);
    if (*index == -1)
        return Quoted(path) + " has no audio track.";
    if (*index < 0)
        return Quoted(path) + " has no audio track " + std::to_string(track) + ".";
    const AVCodecParameters* par = fmt->streams[*index]->codecpar;
    if (par->sample_rate <= 0)
        return "The audio of " + Quoted(path) + " cannot be copied (its sample rate is unknown).";
    if (!PlanCopy(par, plan))
        return "The audio of " + Quoted(path) + " (" + avcodec_get_name(par->codec_id) +
               ") cannot be put into any file on its own; choose another output format.";
    return "";
}

// The codec's name as people know it.
std::string CodecName(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_AC3:
        return "AC-3";
    case AV_CODEC_ID_EAC3:
        return "E-AC-3";
    case AV_CODEC_ID_OPUS:
        return "Opus";
    case AV_CODEC_ID_VORBIS:
        return "Vorbis";
    default:
        break;
    }
    const std::string name = avcodec_get_name(id);
    if (name.rfind("pcm_", 0) == 0)
        return "PCM";
    std::string upper;
    for (char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

double FrameSeconds(const AVCodecParameters* par) {
    int samples = par->frame_size;
    if (samples <= 0)
        samples = av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(par), 0);
    return samples > 0 ? static_cast<double>(samples) / par->sample_rate : 0;
}

class RangeCopy {
public:
    RangeCopy(const CopyJob& job, const std::atomic<bool>& stop, const ProgressFn& progress)
        : m_job(job), m_stop(stop), m_progress(progress) {}
    ~RangeCopy();
    RangeCopy(const RangeCopy&) = delete;
    RangeCopy& operator=(const RangeCopy&) = delete;

    ExtractionResult Run();

private:
    // Recount: the timestamps do not advance; start again, counting samples from the beginning.
    enum class Step { Continue, Done, Retry, Recount, Stopped, Failed };

    static int Interrupt(void* opaque) { return static_cast<RangeCopy*>(opaque)->Stopping() ? 1 : 0; }
    bool Stopping() const { return m_stop.load(std::memory_order_relaxed); }
    Step Fail(std::string message) {
        m_message = std::move(message);
        return Step::Failed;
    }

    Step OpenSource();
    void CloseSource();
    Step ReadFirst();
    void SetUpClock();
    bool SeekBefore(int64_t pos);
    Step Pass(bool fromStart);
    Step Read(AVPacket* pkt);
    int64_t Samples(const AVPacket* pkt);
    bool Place(AVPacket* pkt, bool first, PlacedPacket* out);
    bool Stalled(const AVPacket* pkt);
    Step Begin(PlacedPacket first, bool fromStart);
    Step Hand(PlacedPacket p);
    Step WriteHeld(bool last, int64_t end);
    void Report(int64_t pos);
    ExtractionResult Finish(Step step);

    static void Free(PlacedPacket& p) { av_packet_free(&p.pkt); }
    void DropPending() {
        for (AVPacket*& pkt : m_pending)
            av_packet_free(&pkt);
        m_pending.clear();
    }

    const CopyJob& m_job;
    const std::atomic<bool>& m_stop;
    const ProgressFn& m_progress;
    std::string m_message;

    AVFormatContext* m_fmt = nullptr;
    int m_index = -1;
    const AVStream* m_st = nullptr;
    AVRational m_tb{1, 1};
    int m_rate = 0;
    CopyPlan m_plan;
    std::unique_ptr<CopyOutput> m_output;
    std::deque<AVPacket*> m_pending; // read but not yet handled

    // The clock: every packet's place is the first packet's (m_origin) plus the samples before it.
    int64_t m_firstTs = AV_NOPTS_VALUE;
    int64_t m_origin = 0;    // where the stream's first packet's samples start
    int64_t m_firstKept = 0; // the first sample the source's decoder keeps
    bool m_exactClock = true;
    int64_t m_tolerance = 1; // a timestamp this close to the running count is the count
    int64_t m_grid = 0;      // every packet starts on a multiple of this after the first
    bool m_countOnly = false;
    bool m_canSeek = false;
    int64_t m_running = 0;
    bool m_haveRunning = false;
    StalledClock m_clock;
    AVVorbisParseContext* m_vorbis = nullptr;

    int64_t m_start = 0, m_end = 0; // the range on the clock
    double m_totalSeconds = 0;
    std::deque<PlacedPacket> m_history;
    PlacedPacket m_held;
    bool m_started = false;
    bool m_done = false;
    int64_t m_copiedEnd = 0; // where the audio copied so far ends
    std::chrono::steady_clock::time_point m_lastProgress;
};

RangeCopy::~RangeCopy() {
    for (PlacedPacket& p : m_history)
        Free(p);
    Free(m_held);
    DropPending();
    av_vorbis_parse_free(&m_vorbis);
    m_output.reset();
    CloseSource();
}

void RangeCopy::CloseSource() {
    avformat_close_input(&m_fmt);
    m_st = nullptr;
}

RangeCopy::Step RangeCopy::OpenSource() {
    std::string problem = OpenMedia(m_job.sourcePath, {&RangeCopy::Interrupt, this}, &m_fmt);
    if (Stopping())
        return Step::Stopped;
    if (problem.empty())
        problem = ChooseTrack(m_fmt, m_job.sourcePath, m_job.track, &m_index, &m_plan);
    if (!problem.empty())
        return Fail(problem);
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i)
        m_fmt->streams[i]->discard = static_cast<int>(i) == m_index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    m_st = m_fmt->streams[m_index];
    m_tb = m_st->time_base;
    m_rate = m_st->codecpar->codec_id == AV_CODEC_ID_OPUS ? 48000 : m_st->codecpar->sample_rate;
    return Step::Continue;
}

// Like ffmpeg: damaged data is skipped; a demuxer that cannot get past it ends the input.
RangeCopy::Step RangeCopy::Read(AVPacket* pkt) {
    if (!m_pending.empty()) {
        av_packet_move_ref(pkt, m_pending.front());
        av_packet_free(&m_pending.front());
        m_pending.pop_front();
        return Step::Continue;
    }
    for (int errors = 0;;) {
        if (Stopping())
            return Step::Stopped;
        const int r = av_read_frame(m_fmt, pkt);
        if (r >= 0) {
            if (pkt->stream_index == m_index)
                return Step::Continue;
            av_packet_unref(pkt);
            errors = 0;
            continue;
        }
        if (Stopping() || r == AVERROR_EXIT)
            return Step::Stopped;
        if (m_fmt->pb && m_fmt->pb->error < 0 && m_fmt->pb->error != AVERROR_EOF)
            return Fail("Cannot read the source file " + Quoted(m_job.sourcePath) + " (" +
                        AvErrorText(m_fmt->pb->error) + ").");
        if (r != AVERROR_EOF && r != AVERROR(EAGAIN) && ++errors <= kMaxConsecutiveReadErrors &&
            !(m_fmt->pb && avio_feof(m_fmt->pb)))
            continue;
        return Step::Done;
    }
}

// The stream's first packets fix the clock: where the samples of the first one start, and where the
// first sample its decoder keeps lies, placed as the decoder places it (after the source's own skipped
// samples: AAC priming, Opus pre-skip, an MP3 encoder delay).
RangeCopy::Step RangeCopy::ReadFirst() {
    const AVCodecParameters* par = m_st->codecpar;
    // A Vorbis stream's first packet decodes to nothing: the second one's time is the first sample's.
    const size_t count = par->codec_id == AV_CODEC_ID_VORBIS ? 2 : 1;
    std::deque<AVPacket*> read;
    std::swap(read, m_pending);
    while (read.size() < count) {
        AVPacket* pkt = av_packet_alloc();
        if (!pkt)
            return Fail("Out of memory while opening " + Quoted(m_job.sourcePath) + ".");
        const Step step = Read(pkt);
        if (step == Step::Continue) {
            read.push_back(pkt);
            continue;
        }
        av_packet_free(&pkt);
        if (step != Step::Done) {
            m_pending = std::move(read);
            return step;
        }
        break;
    }
    m_pending = std::move(read);
    if (m_pending.empty())
        return Fail("No audio could be read from " + Quoted(m_job.sourcePath) + "; the file may be damaged.");
    const AVPacket* first = m_pending.front();
    m_firstTs = first->pts != AV_NOPTS_VALUE ? first->pts : first->dts;
    int64_t skip = 0;
    size_t size = 0;
    if (const uint8_t* side = av_packet_get_side_data(first, AV_PKT_DATA_SKIP_SAMPLES, &size);
        side && size >= 4)
        skip = AV_RL32(side);
    else if (par->codec_id == AV_CODEC_ID_OPUS && par->extradata_size >= 19)
        skip = AV_RL16(par->extradata + 10);
    int64_t firstOutputTs = m_firstTs;
    if (count == 2 && m_pending.size() == 2 && m_pending.back()->pts != AV_NOPTS_VALUE) {
        AVVorbisParseContext* parser = av_vorbis_parse_init(par->extradata, par->extradata_size);
        if (parser) {
            av_vorbis_parse_reset(parser);
            skip = std::max(0, av_vorbis_parse_frame(parser, first->data, first->size));
            av_vorbis_parse_free(&parser);
            firstOutputTs = m_pending.back()->pts - av_rescale_q(skip, AVRational{1, m_rate}, m_tb);
        }
    }
    if (m_firstTs == AV_NOPTS_VALUE) {
        m_countOnly = true; // no clock at all: the samples are counted from the file's start
        m_firstTs = 0;
        m_firstKept = skip;
    } else {
        m_firstKept = av_rescale_q(firstOutputTs + av_rescale_q(skip, AVRational{1, m_rate}, m_tb), m_tb,
                                   AVRational{1, m_rate});
    }
    m_origin = m_firstKept - skip;
    return Step::Continue;
}

void RangeCopy::SetUpClock() {
    const AVCodecParameters* par = m_st->codecpar;
    // One tick of the stream's clock, in samples.
    const int64_t tick = av_rescale_rnd(m_rate, m_tb.num, m_tb.den, AV_ROUND_UP);
    m_exactClock = tick <= 1;
    m_tolerance = std::max<int64_t>(1, tick);
    switch (par->codec_id) {
    case AV_CODEC_ID_OPUS:
        m_grid = 120; // 2.5 ms, the shortest frame
        break;
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_DTS:
        m_grid = par->frame_size > 0 ? par->frame_size : 0;
        break;
    default:
        m_grid = 0;
    }
    // A millisecond clock places a packet only to within a tick; on a grid of frames coarser than two
    // ticks the nearest frame start is the place.
    if (!m_exactClock && m_grid <= 2 * tick)
        m_grid = 0;
    // AVI gives audio the time of its byte count, which is off by part of a frame: the samples are counted.
    m_countOnly = m_countOnly || NameHas(m_fmt, "avi");
    // Containers whose timestamps stay exact after a seek; the others are read from their start (raw
    // streams and AVI estimate a position from the byte offset).
    const bool seekable = NameHas(m_fmt, "mov") || NameHas(m_fmt, "ogg") || NameHas(m_fmt, "flac") ||
                          NameHas(m_fmt, "wav") || NameHas(m_fmt, "w64") || NameHas(m_fmt, "matroska") ||
                          NameHas(m_fmt, "mpegts") || std::strcmp(m_fmt->iformat->name, "mpeg") == 0;
    m_canSeek = seekable && !m_countOnly && (m_exactClock || m_grid > 0);
    if (par->codec_id == AV_CODEC_ID_VORBIS)
        m_vorbis = av_vorbis_parse_init(par->extradata, par->extradata_size);
}

int64_t RangeCopy::Samples(const AVPacket* pkt) {
    AVCodecParameters* par = m_st->codecpar;
    switch (par->codec_id) {
    case AV_CODEC_ID_OPUS:
        return OpusPacketSamples(pkt->data, pkt->size);
    case AV_CODEC_ID_VORBIS:
        return m_vorbis ? std::max(0, av_vorbis_parse_frame(m_vorbis, pkt->data, pkt->size)) : 0;
    case AV_CODEC_ID_FLAC:
        if (const int n = FlacBlockSize(pkt->data, pkt->size); n > 0)
            return n;
        break;
    case AV_CODEC_ID_AAC:
        // Whatever the container says of the last frame, the decoder gives a whole one.
        return par->frame_size > 0 ? par->frame_size : 1024;
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_DTS:
        if (const int n = av_get_audio_frame_duration2(par, pkt->size); n > 0)
            return n;
        break;
    default:
        break;
    }
    if (m_exactClock && pkt->duration > 0)
        return av_rescale_q(pkt->duration, m_tb, AVRational{1, m_rate});
    if (const int n = av_get_audio_frame_duration2(par, pkt->size); n > 0)
        return n;
    return pkt->duration > 0 ? av_rescale_q(pkt->duration, m_tb, AVRational{1, m_rate}) : 0;
}

// Audio packets in a row whose timestamps do not move on (RealMedia stamps them all 0): the file's clock
// cannot place a range.
bool RangeCopy::Stalled(const AVPacket* pkt) {
    return !m_countOnly && m_clock.Take(pkt->pts, pkt->size);
}

// Places a packet on the clock; false when its place cannot be told here (after a seek: read from
// the start instead).
bool RangeCopy::Place(AVPacket* pkt, bool first, PlacedPacket* out) {
    const int64_t dur = Samples(pkt);
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    int64_t c = 0;
    if (first) {
        c = 0; // read from the start: the stream's first packet
    } else if (m_countOnly && m_haveRunning) {
        c = m_running;
    } else if (ts != AV_NOPTS_VALUE) {
        const int64_t raw = av_rescale_q(ts - m_firstTs, m_tb, AVRational{1, m_rate});
        if (m_haveRunning && std::llabs(raw - m_running) <= m_tolerance) {
            c = m_running; // contiguous: a rounded timestamp does not move the samples
        } else if (m_exactClock || m_haveRunning) {
            c = raw; // a gap
        } else if (m_grid > 0) {
            c = m_grid * llround(static_cast<double>(raw) / static_cast<double>(m_grid));
            if (std::llabs(c - raw) > m_tolerance)
                return false;
        } else {
            return false;
        }
    } else if (m_haveRunning) {
        c = m_running;
    } else {
        return false;
    }
    m_running = c + dur;
    m_haveRunning = dur > 0;
    out->pkt = pkt;
    out->pos = m_origin + c;
    out->dur = dur;
    size_t size = 0;
    const uint8_t* side = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
    out->trimEnd = side && size >= 8 ? std::min<int64_t>(AV_RL32(side + 4), dur) : 0;
    return true;
}

bool RangeCopy::SeekBefore(int64_t pos) {
    const int64_t ts = m_firstTs + av_rescale_q(pos - m_origin, AVRational{1, m_rate}, m_tb);
    return SeekAtOrBefore(m_fmt, m_index, ts, av_rescale_q(ts, m_tb, AV_TIME_BASE_Q));
}

RangeCopy::Step RangeCopy::Pass(bool fromStart) {
    for (PlacedPacket& p : m_history)
        Free(p);
    m_history.clear();
    m_haveRunning = false;
    m_clock.Reset();
    if (m_vorbis)
        av_vorbis_parse_reset(m_vorbis);
    const CopyOutput& out = *m_output;
    const int64_t need = out.PrerollSamples();
    bool first = true;
    for (;;) {
        AVPacket* pkt = av_packet_alloc();
        if (!pkt)
            return Fail("Out of memory while copying the audio of " + Quoted(m_job.sourcePath) + ".");
        const Step read = Read(pkt);
        if (read != Step::Continue) {
            av_packet_free(&pkt);
            if (read != Step::Done)
                return read;
            break;
        }
        if (Stalled(pkt)) {
            av_packet_free(&pkt);
            if (!m_started)
                return Step::Recount;
            m_countOnly = true; // too late to start again: the rest is counted on
            continue;
        }
        PlacedPacket p;
        if (!Place(pkt, first && fromStart, &p)) {
            av_packet_free(&pkt);
            if (fromStart)
                return Fail(
                    "The audio of " + Quoted(m_job.sourcePath) +
                    " has packets without timestamps and lengths; it cannot be copied. Choose another "
                    "output format.");
            return Step::Retry;
        }
        // A seek must land where the decoder still has everything it needs before the range.
        if (first && !fromStart && p.pos > m_origin &&
            p.pos > m_start - need -
                        (out.PrerollPackets() + out.HistoryPackets() + 1) * std::max<int64_t>(p.dur, 1)) {
            Free(p);
            return Step::Retry;
        }
        first = false;
        Step step = Step::Continue;
        if (!m_started) {
            if (p.End() <= m_start && p.pos < m_end) {
                m_history.push_back(p);
                if (m_history.size() > kMaxHistory) {
                    Free(m_history.front());
                    m_history.pop_front();
                }
                continue;
            }
            step = Begin(p, fromStart);
        } else {
            step = Hand(p);
        }
        if (step != Step::Continue)
            return step;
        if (m_done)
            return Step::Done;
        Report(p.pos);
    }
    // The end of the audio before the end of the range.
    if (m_started && m_held.pkt) {
        const Step step = WriteHeld(true, std::min(m_end, m_held.End() - m_held.trimEnd));
        if (step != Step::Continue)
            return step;
    }
    return Step::Done;
}

// The packet holding the range's first sample: the copy starts as many packets before it as the
// decoder needs.
RangeCopy::Step RangeCopy::Begin(PlacedPacket first, bool fromStart) {
    const CopyOutput& out = *m_output;
    const int n = static_cast<int>(m_history.size());
    const bool atBeginning = fromStart || (n == 0 ? first.pos : m_history.front().pos) == m_origin;
    // After a seek, Vorbis gives its first packet a length told without the packet before it: that one
    // is history only.
    const int earliest = atBeginning || m_st->codecpar->codec_id != AV_CODEC_ID_VORBIS ? 0 : 1;
    int k0 = -1;
    for (int k = n - out.PrerollPackets(); k >= 0; --k) {
        const int64_t pos = k == n ? first.pos : m_history[static_cast<size_t>(k)].pos;
        if ((k == n || k >= earliest) && pos <= m_start - out.PrerollSamples()) {
            k0 = k;
            break;
        }
    }
    if (k0 < 0) {
        // Not enough before it: fine at the stream's beginning, else look from further back.
        if (!atBeginning) {
            Free(first);
            return Step::Retry;
        }
        k0 = 0;
    }
    std::vector<const PlacedPacket*> before;
    for (int k = std::max(0, k0 - out.HistoryPackets()); k < k0; ++k)
        before.push_back(&m_history[static_cast<size_t>(k)]);
    const PlacedPacket& head = k0 < n ? m_history[static_cast<size_t>(k0)] : first;
    if (std::string problem = m_output->Begin(head, before); !problem.empty()) {
        Free(first);
        return Fail(problem);
    }
    m_started = true;
    std::deque<PlacedPacket> copy;
    for (int k = 0; k < n; ++k) {
        if (k < k0)
            Free(m_history[static_cast<size_t>(k)]);
        else
            copy.push_back(m_history[static_cast<size_t>(k)]);
    }
    m_history.clear();
    copy.push_back(first);
    Step step = Step::Continue;
    while (!copy.empty()) {
        PlacedPacket p = copy.front();
        copy.pop_front();
        if (step == Step::Continue && !m_done)
            step = Hand(p);
        else
            Free(p);
    }
    return step;
}

// Packets go out one behind, so the last one is known to be the last when it is written.
RangeCopy::Step RangeCopy::Hand(PlacedPacket p) {
    if (p.pos >= m_end) {
        Free(p);
        return WriteHeld(true, std::min(m_end, m_held.End() - m_held.trimEnd));
    }
    if (m_held.pkt) {
        const Step step = WriteHeld(false, 0);
        if (step != Step::Continue) {
            Free(p);
            return step;
        }
    }
    m_held = p;
    if (p.End() >= m_end)
        return WriteHeld(true, std::min(m_end, p.End() - p.trimEnd));
    return Step::Continue;
}

RangeCopy::Step RangeCopy::WriteHeld(bool last, int64_t end) {
    if (!m_held.pkt)
        return Step::Continue;
    const std::string problem = m_output->Write(m_held, last, end);
    m_copiedEnd = last ? end : m_held.End();
    Free(m_held);
    m_held = PlacedPacket();
    if (last)
        m_done = true;
    return problem.empty() ? Step::Continue : Fail(problem);
}

void RangeCopy::Report(int64_t pos) {
    if (!m_progress || Stopping())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastProgress < kProgressInterval)
        return;
    m_lastProgress = now;
    m_progress(std::max(0.0, static_cast<double>(pos - m_start) / m_rate), m_totalSeconds);
}

ExtractionResult RangeCopy::Finish(Step step) {
    if (m_output) {
        if (step == Step::Stopped && m_held.pkt) {
            // A stopped copy plays up to where it got.
            if (WriteHeld(true, m_held.End() - m_held.trimEnd) == Step::Failed)
                step = Step::Failed;
            if (step == Step::Failed)
                m_output->Abandon();
        }
        if (step == Step::Done && !m_started)
            step = Fail(kNoAudioInRange);
        if (step == Step::Failed) {
            // Kept only when it can still be made a file that plays.
            if (!m_output->Begun() || !m_output->Finish().empty())
                m_output->Abandon();
        } else if (std::string problem = m_output->Finish(); !problem.empty()) {
            m_output->Abandon();
            step = Fail(problem);
        }
    }
    ExtractionResult result;
    result.outcome = step == Step::Done      ? ExtractionOutcome::Finished
                     : step == Step::Stopped ? ExtractionOutcome::Stopped
                                             : ExtractionOutcome::Failed;
    if (result.outcome == ExtractionOutcome::Failed)
        result.message = m_message.empty()
                             ? "The audio of " + Quoted(m_job.sourcePath) + " could not be copied."
                             : m_message;
    if (result.outcome == ExtractionOutcome::Finished)
        result.seconds = static_cast<double>(std::max<int64_t>(0, m_copiedEnd - m_start)) / m_rate;
    if (result.outcome == ExtractionOutcome::Finished && m_plan.kind == CopyKind::WholeFrames) {
        const int64_t samples = std::max<int64_t>(m_output->LongestPacket(), 1);
        const auto ms = static_cast<long long>((samples * 1000 + m_rate - 1) / m_rate);
        result.message = "whole frames: up to " + std::to_string(ms) + " ms more at each end";
    }
    return result;
}

ExtractionResult RangeCopy::Run() {
    if (m_job.sourcePath.empty())
        return Finish(Fail("No source file was chosen for the extraction."));
    if (!std::isfinite(m_job.start) || m_job.start < 0 || std::isnan(m_job.end) || m_job.end < m_job.start)
        return Finish(Fail("The range of " + Quoted(m_job.sourcePath) + " is not valid."));
    if (m_job.outputPath.empty())
        return Finish(Fail("No output file was given for the audio of " + Quoted(m_job.sourcePath) + "."));
    Step step = OpenSource();
    if (step == Step::Continue)
        step = ReadFirst();
    if (step != Step::Continue)
        return Finish(step);
    SetUpClock();

    // The range on the program's one timeline: time 0 is the container's start.
    const MediaTimeline timeline = TimelineOf(m_fmt);
    const int64_t zero = av_rescale_q(timeline.startUs, AV_TIME_BASE_Q, AVRational{1, m_rate});
    const double length = m_job.end - m_job.start;
    m_start = std::max<int64_t>(zero + llround(m_job.start * m_rate), m_firstKept);
    m_end = length * m_rate < 4e18 ? zero + llround(m_job.start * m_rate) + llround(length * m_rate)
                                   : INT64_MAX / 4;
    // MP4's edit list states where the audio ends; ffmpeg's own demuxer leaves that to the player.
    if (NameHas(m_fmt, "mov") && m_st->duration > 0 && m_st->duration != AV_NOPTS_VALUE)
        m_end = std::min(m_end, m_firstKept + av_rescale_q(m_st->duration, m_tb, AVRational{1, m_rate}));
    if (m_start >= m_end)
        return Finish(Fail(kNoAudioInRange));
    m_totalSeconds = length;
    if (timeline.length > 0)
        m_totalSeconds = std::min(length, std::max(0.0, timeline.length - m_job.start));

    m_output = CopyOutput::Create(m_plan);
    if (std::string problem =
            m_output->Open(m_job.outputPath, m_job.sourcePath, m_st, m_rate, m_job.tags, m_start, m_end);
        !problem.empty())
        return Finish(Fail(problem));
    m_lastProgress = std::chrono::steady_clock::now();

    step = Step::Retry;
    const int64_t need = m_output->PrerollSamples();
    for (double back : kSeekBackSeconds) {
        if (!m_canSeek || m_start >= m_end)
            break;
        const int64_t target = m_start - need - llround(back * m_rate);
        if (target <= m_origin)
            break; // the beginning is close enough
        DropPending();
        if (!SeekBefore(target))
            break;
        step = Pass(false);
        if (step != Step::Retry)
            break;
    }
    for (int pass = 0; step == Step::Retry || step == Step::Recount; ++pass) {
        m_countOnly = m_countOnly || step == Step::Recount;
        if (m_pending.empty() || pass > 0) {
            // Back to the beginning, with the first packet waiting again.
            DropPending();
            CloseSource();
            step = OpenSource();
            if (step == Step::Continue)
                step = ReadFirst();
            if (step != Step::Continue)
                return Finish(step);
            m_output->Rebind(m_st);
        }
        step = Pass(true);
    }
    return Finish(step);
}

} // namespace

std::string DescribeCopy(const std::string& path, int track, CopyDescription* out) {
    AVFormatContext* fmt = nullptr;
    std::string problem = OpenMedia(path, {nullptr, nullptr}, &fmt);
    int index = -1;
    CopyPlan plan;
    if (problem.empty())
        problem = ChooseTrack(fmt, path, track, &index, &plan);
    if (problem.empty()) {
        const AVCodecParameters* par = fmt->streams[index]->codecpar;
        out->extension = plan.extension;
        out->codec = CodecName(par->codec_id);
        out->exact = plan.kind != CopyKind::WholeFrames;
        out->frameSeconds = FrameSeconds(par);
    }
    avformat_close_input(&fmt);
    return problem;
}

ExtractionResult RunCopy(const CopyJob& job, const std::atomic<bool>& stop, const ProgressFn& progress) {
    RangeCopy copy(job, stop, progress);
    return copy.Run();
}

} // namespace videoedit
