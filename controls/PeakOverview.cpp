#include "PeakOverview.h"

#include <algorithm>
#include <cmath>

namespace {

CPeakOverview::Peak Merge(CPeakOverview::Peak a, CPeakOverview::Peak b) {
    return {std::min(a.lo, b.lo), std::max(a.hi, b.hi)};
}

} // namespace

void CPeakOverview::Reset(int sampleRate, double expectedSeconds) {
    std::lock_guard lock(m_mutex);
    m_nSampleRate = std::max(1, sampleRate);
    m_nSamplesPerBin = kBaseSamplesPerBin;
    const double expectedSamples =
        std::isfinite(expectedSeconds) ? std::max(0.0, expectedSeconds) * m_nSampleRate : 0;
    while (expectedSamples / static_cast<double>(m_nSamplesPerBin) > static_cast<double>(kMaxBins))
        m_nSamplesPerBin *= 2;
    m_bins.clear();
    m_bins.shrink_to_fit();
    m_bins.reserve(
        std::min(kMaxBins, static_cast<size_t>(expectedSamples / static_cast<double>(m_nSamplesPerBin)) + 1));
    m_bComplete = false;
    m_bHasAudio = false;
    Bump();
}

int64_t CPeakOverview::SamplesPerBin() const {
    std::lock_guard lock(m_mutex);
    return m_nSamplesPerBin;
}

void CPeakOverview::Store(size_t first, const Peak* peaks, size_t count) {
    if (count == 0)
        return;
    std::lock_guard lock(m_mutex);
    const size_t end = std::min(first + count, kMaxBins);
    if (first >= end)
        return;
    if (end > m_bins.size()) {
        // Grown by hand, so that the capacity never runs far past the bins in use.
        if (end > m_bins.capacity())
            m_bins.reserve(std::min(kMaxBins, std::max(end, m_bins.capacity() * 2)));
        m_bins.resize(end);
    }
    for (size_t i = first; i < end; ++i)
        m_bins[i] = Merge(m_bins[i], peaks[i - first]);
    Bump();
}

void CPeakOverview::Coarsen() {
    std::lock_guard lock(m_mutex);
    m_nSamplesPerBin *= 2;
    const size_t n = (m_bins.size() + 1) / 2;
    for (size_t i = 0; i < n; ++i)
        m_bins[i] = 2 * i + 1 < m_bins.size() ? Merge(m_bins[2 * i], m_bins[2 * i + 1]) : m_bins[2 * i];
    m_bins.resize(n);
    Bump();
}

void CPeakOverview::Finish(bool hasAudio) {
    m_bHasAudio = hasAudio;
    m_bComplete = true;
    Bump();
}

double CPeakOverview::CoveredSeconds() const {
    std::lock_guard lock(m_mutex);
    if (m_nSampleRate <= 0)
        return 0;
    return static_cast<double>(m_bins.size()) * static_cast<double>(m_nSamplesPerBin) / m_nSampleRate;
}

CPeakOverview::Peak CPeakOverview::Range(size_t first, size_t last) const {
    Peak p;
    last = std::min(last, m_bins.size());
    for (size_t i = first; i < last; ++i)
        p = Merge(p, m_bins[i]);
    return p;
}

CPeakOverview::Peak CPeakOverview::PeakBetween(double from, double to) const {
    std::lock_guard lock(m_mutex);
    if (m_nSampleRate <= 0 || !(to > from))
        return {};
    const double perBin = static_cast<double>(m_nSamplesPerBin) / m_nSampleRate;
    const double first = std::max(0.0, std::floor(from / perBin));
    const double last = std::ceil(to / perBin);
    if (last <= first)
        return {};
    return Range(static_cast<size_t>(first), static_cast<size_t>(std::min(last, 1e15)));
}

size_t CPeakOverview::Spans(double from, double span, size_t count, std::vector<Peak>& out) const {
    out.assign(count, Peak{});
    std::lock_guard lock(m_mutex);
    if (m_nSampleRate <= 0 || !(span > 0))
        return 0;
    const double binsPerSecond = static_cast<double>(m_nSampleRate) / static_cast<double>(m_nSamplesPerBin);
    size_t covered = 0;
    for (size_t i = 0; i < count; ++i) {
        const double t0 = from + span * static_cast<double>(i);
        const double b0 = std::floor(t0 * binsPerSecond);
        if (b0 < 0)
            continue;
        if (b0 >= static_cast<double>(m_bins.size()))
            break;
        const double b1 = std::max(b0 + 1, std::floor((t0 + span) * binsPerSecond));
        out[i] = Range(static_cast<size_t>(b0), static_cast<size_t>(std::min(b1, 1e15)));
        covered = i + 1;
    }
    return covered;
}

size_t CPeakOverview::MemoryBytes() const {
    std::lock_guard lock(m_mutex);
    return m_bins.capacity() * sizeof(Peak);
}
