#pragma once

#include "PeakOverview.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

// Reads the audio of a whole file into a peak overview on a thread of its own: one audio track only
// (AudioTracks.h numbering; 0 the default; past the stream probe, which finds where the timeline
// starts), every other stream left undecoded and, where the container allows, unread. The peaks lie on the
// file's timeline (MediaTimeline.h), as the preview and the extraction count it; audio whose timestamps do
// not advance is placed by counting its samples. The overview fills in as the file is read; a file without
// audio ends with an empty one.
class CWaveformReader {
public:
    CWaveformReader() = default;
    ~CWaveformReader();
    CWaveformReader(const CWaveformReader&) = delete;
    CWaveformReader& operator=(const CWaveformReader&) = delete;

    // Stops any earlier reading, then starts on the file with a fresh overview. In the background, the
    // thread runs at a lower priority than the program's others, so the preview always comes first.
    void Start(const std::string& path, int track = 0, bool background = true);
    // Stops the reading (at the next packet) and waits for the thread; the overview keeps what it has.
    void Stop();
    // The overview of the last Start (none before).
    std::shared_ptr<const CPeakOverview> Overview() const { return m_overview; }

    // Reads the whole file on the calling thread; false when it could not be opened or has no audio.
    static bool Read(const std::string& path, int track, CPeakOverview& overview,
                     const std::atomic<bool>& stop);

private:
    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_stop;
    std::shared_ptr<CPeakOverview> m_overview;
};
