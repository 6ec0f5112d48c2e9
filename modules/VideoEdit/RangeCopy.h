#pragma once

#include "Extractor.h"

#include <atomic>
#include <string>

namespace videoedit {

struct CopyTags {
    std::string title, artist, album, year, genre;
};

struct CopyJob {
    std::string sourcePath;
    double start = 0;
    double end = 0; // may be +infinity: up to the end of the audio
    int track = 0;  // 1-based over the audio streams; 0 the default one
    std::string outputPath;
    CopyTags tags;
};

// What a copy of a track gives: the container (by its extension), and whether decoders play exactly the
// range or whole frames around it.
struct CopyDescription {
    std::string extension; // ".m4a", ".mp3", ".opus", ".ogg", ".flac", ".wav", ".ac3", ...
    std::string codec;     // the codec's name as people know it: "AAC", "MP3", "AC-3", "PCM", ...
    bool exact = false;
    double frameSeconds = 0; // the track's frame length: at most this much more at each end when not exact
};

// Reads the source's headers; "" and the description, or a message for the user.
std::string DescribeCopy(const std::string& path, int track, CopyDescription* out);

// Copies the track's packets of the range into outputPath. Runs on the calling thread and returns soon
// after `stop` becomes true; a stopped copy leaves a file that plays up to where it got, or none when
// nothing was copied yet. Finished: message holds a note for the user when the copy is not exact to the
// sample ("whole frames: ..."), else "". Failed: the reason; the output is kept only when it could be
// finished as a playable file.
ExtractionResult RunCopy(const CopyJob& job, const std::atomic<bool>& stop, const ProgressFn& progress);

} // namespace videoedit
