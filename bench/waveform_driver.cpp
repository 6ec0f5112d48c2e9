// Reads a file's waveform overview the way the main window does (on a thread of its own, at the
// normal priority here so that it competes fairly with the anchor), for benchmarks:
//   waveform_driver <source> [--split]
// Prints the seconds covered, the bins' memory and the peak of the loudest bin; exits 1 when the file
// has no audio that could be read. With --split, also the time Split at Silence takes on the overview
// read (the window's way: it reuses the waveform) against the time the reading took.
#include "PieceList.h"
#include "WaveformReader.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: waveform_driver <source> [--split]\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    CWaveformReader reader;
    reader.Start(argv[1], 0, false);
    const auto overview = reader.Overview();
    // As the window does: look at it now and then while it fills in.
    while (!overview->IsComplete())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    reader.Stop();
    const double reading = std::chrono::duration<double>(Clock::now() - begin).count();
    if (argc > 2 && std::string(argv[2]) == "--split") {
        const auto start = Clock::now();
        const auto pieces = SplitOverviewAtSilence(*overview, kDefaultSilenceDb, kDefaultShortestSilence);
        const double split = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("overview read in %.2f s; split at silence in %.3f s (%zu pieces), %.4f of the reading\n",
                    reading, split, pieces.size(), split / reading);
    }
    const double covered = overview->CoveredSeconds();
    const CPeakOverview::Peak peak = overview->PeakBetween(0, covered);
    std::printf("covered %.3f s, %zu bytes of peaks, peak %d..%d\n", covered, overview->MemoryBytes(),
                peak.lo, peak.hi);
    return overview->HasAudio() ? 0 : 1;
}
