#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

struct AVCodecContext;
struct AVMD5;

// FLAC coded on several threads, into the stream one encoder would have made. FLAC frames stand on their
// own, so the input is cut into runs of whole frames, each run coded by the encoder of a worker thread,
// and the frames handed out in order with the frame numbers of one stream (header CRC-8 and frame CRC-16
// made anew). STREAMINFO for the whole (frame sizes, sample count, MD5 of the samples) is built here,
// from the MD5 taken of the input as it comes.
//
// Used by one thread (the stream's); the workers only code. Errors stick: once a run failed, Add and
// Finish return false.
class FlacRuns {
public:
    struct Frame {
        std::vector<uint8_t> bytes;
        int samples = 0;
    };
    using Sink = std::function<bool(const Frame&)>;

    // settings: the stream's opened FLAC encoder (packed S16 or S32 samples), copied for each worker.
    FlacRuns(const AVCodecContext& settings, int threads);
    ~FlacRuns(); // stops and joins the workers
    FlacRuns(const FlacRuns&) = delete;
    FlacRuns& operator=(const FlacRuns&) = delete;

    // Whether the workers' encoders could be opened.
    bool Ready() const { return m_ready; }
    // Interleaved samples in the encoder's format; whole runs go to the workers, and frames that are done
    // go to the sink, in order. Waits while enough runs are on their way.
    bool Add(const uint8_t* samples, int frames, const Sink& sink);
    // Codes what is left (its last frame may be short), waits for every run, hands out the rest.
    bool Finish(const Sink& sink);
    // After Finish: the 34 bytes of STREAMINFO for all frames handed out; from the encoder's own for the
    // fixed fields.
    std::vector<uint8_t> StreamInfo(const uint8_t* encoderStreamInfo) const;

    // A fixed-blocksize FLAC frame given another number; false for bytes that are not such a frame.
    static bool Renumber(const std::vector<uint8_t>& frame, uint32_t number, std::vector<uint8_t>& out);

private:
    struct Run {
        int64_t index = 0;
        std::vector<uint8_t> samples;
        int frames = 0;
    };
    void Work(AVCodecContext* codec);
    bool Code(AVCodecContext* codec, const Run& run, std::vector<Frame>& out);
    bool Submit(const Sink& sink, bool all);
    bool HandOut(const Sink& sink);
    void UpdateMd5(const uint8_t* samples, int frames);

    const int m_channels;
    const int m_bytes;     // per sample in the encoder's format
    const int m_bits;      // 16 or 24
    const int m_frameSize; // samples per FLAC frame
    const int m_runFrames; // samples per run: whole FLAC frames
    bool m_ready = false;
    std::vector<std::thread> m_workers;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Run> m_queue;
    std::map<int64_t, std::vector<Frame>> m_done;
    bool m_stop = false;
    std::atomic<bool> m_failed{false};

    Run m_filling;
    int64_t m_nextRun = 0;
    int64_t m_nextOut = 0;
    int64_t m_inFlight = 0;
    uint32_t m_nextFrame = 0;
    uint64_t m_samples = 0;
    uint32_t m_minFrame = 0, m_maxFrame = 0;
    AVMD5* m_md5 = nullptr;
    uint8_t m_digest[16] = {};
    std::vector<uint8_t> m_md5Buffer;
};
