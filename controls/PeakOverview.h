#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The peak overview of a whole file's audio: for each bin of time, the lowest and the highest sample
// of all channels (full scale 32767), on the file's timeline (0 = the start of the file). One thread
// fills it while others draw it. Its memory stays under kMaxBins bins whatever the length: when a file
// runs longer than expected, the bins double in length and pairs of them merge.
class CPeakOverview {
public:
    struct Peak {
        int16_t lo = 0;
        int16_t hi = 0;
    };
    static constexpr int64_t kBaseSamplesPerBin = 256;
    static constexpr size_t kMaxBins = size_t{1} << 18; // 1 MiB of peaks

    // Writer side (one thread).
    // Starts over for audio at the rate, sizing the bins so that the expected length fits.
    void Reset(int sampleRate, double expectedSeconds);
    int64_t SamplesPerBin() const;
    // Merges peaks into the bins from `first` on; bins never written read as silence.
    void Store(size_t first, const Peak* peaks, size_t count);
    // Doubles the length of the bins (pairs merge).
    void Coarsen();
    // The overview is complete; hasAudio false when the file has no audio that could be read.
    void Finish(bool hasAudio);

    // Reader side (any thread).
    bool IsComplete() const { return m_bComplete.load(); }
    bool HasAudio() const { return m_bHasAudio.load(); }
    // Changes whenever the peaks do.
    uint64_t Version() const { return m_nVersion.load(); }
    // How far from the start the peaks have been read, in seconds.
    double CoveredSeconds() const;
    // The peak over [from, to) seconds; silence where nothing has been read.
    Peak PeakBetween(double from, double to) const;
    // Peaks of `count` consecutive spans of `span` seconds from `from`, for drawing (a span shorter than a
    // bin takes the bin it lies in). Returns how many of the spans begin within what has been read.
    size_t Spans(double from, double span, size_t count, std::vector<Peak>& out) const;
    // Bytes the peaks occupy.
    size_t MemoryBytes() const;

private:
    Peak Range(size_t first, size_t last) const; // lock held; [first, last)
    void Bump() { m_nVersion.fetch_add(1); }

    mutable std::mutex m_mutex;
    std::vector<Peak> m_bins;
    int m_nSampleRate = 0;
    int64_t m_nSamplesPerBin = kBaseSamplesPerBin;
    std::atomic<bool> m_bComplete{false};
    std::atomic<bool> m_bHasAudio{false};
    std::atomic<uint64_t> m_nVersion{0};
};
