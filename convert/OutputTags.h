#pragma once

#include "SourceTags.h" // modules/shared: what the source says about itself

#include <string>

class CAudioSettings;

// The texts and the cover an output file carries: the window's Artist, Album, Year and Genre where the
// user set them, the source's own tags elsewhere. A window field that is empty, or still at its first-run
// default ("Unknown Artist", "Unknown Album", "2005", Blues), counts as not set where the source has
// that tag. The title is the source's where it has one, else the format's own (from the output's name);
// track number and comment are the source's. Every text is valid UTF-8 (a settings text that is not is
// read as Latin-1); the window's are at most its 30 characters, the source's are not cut further.
struct OutputTags {
    std::string title, artist, album, year, genre, track, comment;
    SourceCover cover;
};

OutputTags MergeOutputTags(const SourceTags& source, const CAudioSettings& settings,
                           const std::string& fallbackTitle);

struct PieceTags;
// A piece's tags over the merged ones: its title and track number, and its album unless the window's
// Album is set (not empty, not at its first-run default).
void ApplyPieceTags(OutputTags& tags, const PieceTags& piece, const CAudioSettings& settings);

// For the encoder thread of the current job: reads the job's source (its chosen track) and merges with
// the settings. A source that cannot be read gives the window's fields alone.
OutputTags JobOutputTags(const std::string& fallbackTitle);
