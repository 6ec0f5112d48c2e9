// Reads a file's waveform overview the way the main window does (on a thread of its own, at the
// normal priority here so that it competes fairly with the anchor), for benchmarks:
//   waveform_driver <source>
// Prints the seconds covered, the bins' memory and the peak of the loudest bin; exits 1 when the file
// has no audio that could be read.
#include "WaveformReader.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: waveform_driver <source>\n");
        return 2;
    }
    CWaveformReader reader;
    reader.Start(argv[1], 0, false);
    const auto overview = reader.Overview();
    // As the window does: look at it now and then while it fills in.
    while (!overview->IsComplete())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    reader.Stop();
    const double covered = overview->CoveredSeconds();
    const CPeakOverview::Peak peak = overview->PeakBetween(0, covered);
    std::printf("covered %.3f s, %zu bytes of peaks, peak %d..%d\n", covered, overview->MemoryBytes(),
                peak.lo, peak.hi);
    return overview->HasAudio() ? 0 : 1;
}
