#include "OutputStage.h"

#include "Text.h"
#include "WavWriter.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libswresample/swresample.h>
}

namespace videoedit {

namespace {

// Frames go over in batches: waking the other thread for each frame would cost more than the work.
constexpr size_t kBatchItems = 32;
constexpr size_t kQueueItems = 4 * kBatchItems;
constexpr auto kPoll = std::chrono::milliseconds(20); // how soon a wait notices a stop request
constexpr auto kFlushInterval = std::chrono::milliseconds(250);
constexpr int kSilenceChunk = 4096;
constexpr int kDrainChunk = 4096;

} // namespace

OutputStage::OutputStage(const ExtractionJob& job, const std::atomic<bool>& stop, WavWriter& writer,
                         int64_t targetFrames, int64_t maxFrames)
    : m_job(job), m_stop(stop), m_writer(writer), m_targetFrames(targetFrames), m_maxFrames(maxFrames) {
    if (!job.sourceFormat) {
        av_channel_layout_default(&m_outLayout, job.channels);
        m_outFormat = job.bytesPerSample == 1 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
        StartMeter();
        return;
    }
    // The track's own sound: its channels in their layout, its samples at their depth. Frames already in
    // that format only change from planar to interleaved, bit for bit.
    const PcmFormat& pcm = job.pcm;
    if (pcm.channelMask == 0 || av_channel_layout_from_mask(&m_outLayout, pcm.channelMask) < 0 ||
        m_outLayout.nb_channels != pcm.channels)
        av_channel_layout_default(&m_outLayout, pcm.channels);
    m_outFormat = pcm.sample == PcmSample::Int16     ? AV_SAMPLE_FMT_S16
                  : pcm.sample == PcmSample::Float32 ? AV_SAMPLE_FMT_FLT
                                                     : AV_SAMPLE_FMT_S32; // the writer packs 24 bits
    StartMeter();
}

void OutputStage::StartMeter() {
    if (!m_job.meter)
        return;
    if (!m_job.meter->meter)
        m_job.meter->meter = std::make_unique<SoundMeter>(m_outLayout, m_outFormat, m_job.sampleRate);
    m_meter = m_job.meter->meter.get();
}

Loudness OutputStage::MeasuredLoudness() {
    return m_meter ? m_meter->Measure() : Loudness{};
}

void OutputStage::Commit(const uint8_t* out, int got) {
    const int64_t room = std::min(m_targetFrames, m_maxFrames) - static_cast<int64_t>(m_writer.Frames());
    const auto frames = static_cast<size_t>(std::clamp<int64_t>(got, 0, room));
    // The meter copies before the writer may reuse its buffer.
    if (m_meter)
        m_meter->Add(out, frames);
    m_writer.Commit(frames);
}

OutputStage::~OutputStage() {
    Abort();
    for (Item& item : m_queue)
        av_frame_free(&item.frame);
    for (AVFrame*& frame : m_used)
        av_frame_free(&frame);
    swr_free(&m_swr);
    av_channel_layout_uninit(&m_inLayout);
    av_channel_layout_uninit(&m_outLayout);
}

bool OutputStage::Start() {
    m_lastFlush = std::chrono::steady_clock::now();
    try {
        m_thread = std::thread(&OutputStage::Run, this);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool OutputStage::Stopping() const {
    return m_stop.load(std::memory_order_relaxed) || m_abort.load(std::memory_order_relaxed);
}

OutputStage::State OutputStage::GetState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool OutputStage::Push(Item item) {
    std::unique_lock lock(m_mutex);
    while (m_state == State::Running && m_queue.size() >= kQueueItems && !Stopping())
        m_changed.wait_for(lock, kPoll);
    if (m_state != State::Running || Stopping()) {
        lock.unlock();
        av_frame_free(&item.frame);
        return false;
    }
    m_queue.push_back(item);
    if (m_queue.size() == kBatchItems || item.end)
        m_changed.notify_all();
    std::vector<AVFrame*> used;
    used.swap(m_used);
    lock.unlock();
    // Frames go back to the decoder's buffer pool on the decoding thread: freeing them on the
    // resampling thread would make the two fight over the pool's and the allocator's locks.
    for (AVFrame*& frame : used)
        av_frame_free(&frame);
    return true;
}

bool OutputStage::PushFrame(AVFrame* frame, int offset) {
    return Push(Item{frame, offset, 0, false});
}

bool OutputStage::PushSilence(const AVFrame* like, int64_t samples) {
    AVFrame* format = av_frame_alloc();
    if (!format)
        return false;
    format->format = like->format;
    format->sample_rate = like->sample_rate;
    if (av_channel_layout_copy(&format->ch_layout, &like->ch_layout) < 0) {
        av_frame_free(&format);
        return false;
    }
    return Push(Item{format, 0, samples, false});
}

OutputStage::State OutputStage::Finish() {
    Push(Item{nullptr, 0, 0, true});
    if (m_thread.joinable())
        m_thread.join();
    return GetState();
}

void OutputStage::Abort() {
    {
        std::lock_guard lock(m_mutex);
        m_abort = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void OutputStage::Run() {
    std::deque<Item> batch;
    State state = State::Running;
    while (state == State::Running) {
        {
            std::unique_lock lock(m_mutex);
            // A slow producer's frames are taken after a poll period without waiting for a whole batch.
            bool waited = false;
            while (!Stopping() &&
                   !(m_queue.size() >= kBatchItems || (!m_queue.empty() && (waited || m_queue.back().end))))
                waited = m_changed.wait_for(lock, kPoll) == std::cv_status::timeout || waited;
            if (Stopping()) {
                m_state = State::Stopped;
                m_changed.notify_all();
                return;
            }
            batch.swap(m_queue);
            m_changed.notify_all(); // room for the producer
        }
        for (const Item& item : batch) {
            if (state == State::Running && Stopping())
                state = State::Stopped;
            if (state == State::Running) {
                state = Process(item);
                if (state == State::Running && item.end)
                    state = State::Done;
            }
        }
        std::lock_guard lock(m_mutex);
        for (const Item& item : batch)
            if (item.frame)
                m_used.push_back(item.frame);
        batch.clear();
    }
    std::lock_guard lock(m_mutex);
    m_state = state;
    m_changed.notify_all();
}

OutputStage::State OutputStage::Process(const Item& item) {
    if (item.end)
        return m_swr ? Drain() : State::Running;
    if (item.silence > 0)
        return FeedSilence(item.frame, item.silence);
    return Feed(item.frame, item.offset);
}

OutputStage::State OutputStage::Fail(std::string message) {
    m_message = std::move(message);
    return State::Failed;
}

OutputStage::State OutputStage::WriteFailed() {
    return Fail("Cannot write the WAV file " + Quoted(m_job.wavPath) + " (" + ErrnoText(m_writer.Error()) +
                ").");
}

OutputStage::State OutputStage::Configure(const AVFrame* frame) {
    AVChannelLayout layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || !av_channel_layout_check(&frame->ch_layout))
        av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
        return Fail("Out of memory while converting the audio of " + Quoted(m_job.sourcePath) + ".");
    const auto format = static_cast<AVSampleFormat>(frame->format);
    if (m_swr && format == m_inFormat && frame->sample_rate == m_inRate &&
        av_channel_layout_compare(&layout, &m_inLayout) == 0) {
        av_channel_layout_uninit(&layout);
        return State::Running;
    }
    // No real audio runs faster than this; a damaged file can claim billions of samples a second,
    // and building a resampler for that takes the machine for half a minute.
    constexpr int kHighestSourceRate = 768000;
    if (frame->sample_rate <= 0 || frame->sample_rate > kHighestSourceRate) {
        av_channel_layout_uninit(&layout);
        return Fail("The audio of " + Quoted(m_job.sourcePath) + " claims a sample rate of " +
                    std::to_string(frame->sample_rate) +
                    " Hz, which cannot be converted; the file may be damaged.");
    }
    if (m_swr) {
        // The stream changed its parameters: the old resampler gives out what it holds first.
        const State state = Drain();
        if (state != State::Running) {
            av_channel_layout_uninit(&layout);
            return state;
        }
        swr_free(&m_swr);
    }
    av_channel_layout_uninit(&m_inLayout);
    m_inLayout = layout;
    m_inFormat = format;
    m_inRate = frame->sample_rate;
    // ffmpeg's own defaults, so that the output keeps the phase of ffmpeg's resampling.
    int r = swr_alloc_set_opts2(&m_swr, &m_outLayout, m_outFormat, m_job.sampleRate, &m_inLayout, m_inFormat,
                                m_inRate, 0, nullptr);
    if (r >= 0)
        r = swr_init(m_swr);
    if (r < 0) {
        swr_free(&m_swr);
        return Fail("Cannot convert the audio of " + Quoted(m_job.sourcePath) + " to " +
                    std::to_string(m_job.sampleRate) + " Hz (" + AvErrorText(r) + ").");
    }
    return State::Running;
}

OutputStage::State OutputStage::Feed(const AVFrame* frame, int offset) {
    const State state = Configure(frame);
    if (state != State::Running)
        return state;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int bytes = av_get_bytes_per_sample(format);
    std::vector<const uint8_t*> in;
    if (av_sample_fmt_is_planar(format)) {
        in.resize(static_cast<size_t>(channels));
        for (int c = 0; c < channels; ++c)
            in[static_cast<size_t>(c)] = frame->extended_data[c] + static_cast<ptrdiff_t>(offset) * bytes;
    } else {
        in.push_back(frame->extended_data[0] + static_cast<ptrdiff_t>(offset) * bytes * channels);
    }
    return Convert(in.data(), frame->nb_samples - offset);
}

OutputStage::State OutputStage::FeedSilence(const AVFrame* like, int64_t samples) {
    State state = Configure(like);
    if (state != State::Running)
        return state;
    const auto format = static_cast<AVSampleFormat>(like->format);
    const int channels = like->ch_layout.nb_channels;
    const int planes = av_sample_fmt_is_planar(format) ? channels : 1;
    int lineSize = 0;
    const int size = av_samples_get_buffer_size(&lineSize, channels, kSilenceChunk, format, 1);
    if (size < 0)
        return Fail("Cannot convert the audio of " + Quoted(m_job.sourcePath) + " (" + AvErrorText(size) +
                    ").");
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    std::vector<uint8_t*> planePtrs(static_cast<size_t>(planes));
    for (int p = 0; p < planes; ++p)
        planePtrs[static_cast<size_t>(p)] = buffer.data() + static_cast<ptrdiff_t>(p) * lineSize;
    // Silence in the source's own format: 0x80 for unsigned 8-bit, 0 otherwise.
    av_samples_set_silence(planePtrs.data(), 0, kSilenceChunk, channels, format);
    std::vector<const uint8_t*> in(planePtrs.begin(), planePtrs.end());
    while (samples > 0) {
        if (Stopping())
            return State::Stopped;
        const int n = static_cast<int>(std::min<int64_t>(samples, kSilenceChunk));
        state = Convert(in.data(), n);
        if (state != State::Running)
            return state;
        samples -= n;
    }
    return State::Running;
}

OutputStage::State OutputStage::Convert(const uint8_t** in, int count) {
    const int maxOut = swr_get_out_samples(m_swr, count);
    if (maxOut < 0)
        return Fail("Cannot convert the audio of " + Quoted(m_job.sourcePath) + " (" + AvErrorText(maxOut) +
                    ").");
    uint8_t* out = m_writer.Reserve(static_cast<size_t>(maxOut) + 1);
    if (!out)
        return WriteFailed();
    const int got = swr_convert(m_swr, &out, maxOut + 1, in, count);
    if (got < 0)
        return Fail("Cannot convert the audio of " + Quoted(m_job.sourcePath) + " (" + AvErrorText(got) +
                    ").");
    Commit(out, got);
    return AfterWrite();
}

OutputStage::State OutputStage::Drain() {
    for (;;) {
        uint8_t* out = m_writer.Reserve(kDrainChunk);
        if (!out)
            return WriteFailed();
        const int got = swr_convert(m_swr, &out, kDrainChunk, nullptr, 0);
        if (got <= 0)
            return State::Running;
        Commit(out, got);
        const State state = AfterWrite();
        if (state != State::Running)
            return state;
    }
}

OutputStage::State OutputStage::AfterWrite() {
    if (m_writer.Error() != 0)
        return WriteFailed();
    const auto frames = static_cast<int64_t>(m_writer.Frames());
    if (frames >= m_targetFrames)
        return State::Done;
    if (frames >= m_maxFrames)
        return Fail("The range of " + Quoted(m_job.sourcePath) +
                    " is too long for one WAV file (4 GB at most).");
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastFlush >= kFlushInterval) {
        m_lastFlush = now;
        // Progress reports tell what is in the file, for a listener that looks at its size.
        if (m_writer.Flush() != 0)
            return WriteFailed();
        m_flushed.store(frames, std::memory_order_relaxed);
    }
    return State::Running;
}

} // namespace videoedit
