#pragma once

// Where the pieces of one source come from: ranges typed as text, the source's own chapters, a cue sheet
// beside it, or the silences of its sound. Every time is seconds on the source's timeline
// (MediaTimeline.h), as the marks count them.
//
// Plain functions without shared state: any thread may call them. They never throw on bad input (only
// std::bad_alloc): a table that cannot be read gives false and a message for the user that names the
// file and, for a cue sheet, the line; the source itself stays usable.

#include <string>
#include <vector>

struct Piece {
    double start = 0;
    double end = 0;   // may be +infinity: to the end of the source
    std::string name; // UTF-8; may be empty (the caller names it "Piece k")
};

// A time as the command line takes it, like ffmpeg: seconds ("12.5") or [hh:]mm:ss[.fff] ("1:02:03.25",
// "02:03"); minutes and seconds after a colon below 60. False for anything else or a negative time.
bool ParseClock(const std::string& text, double& seconds);

// "START-END" with ParseClock times; an empty END runs to the end of the source (+infinity). False when
// a time does not parse or the end lies before the start.
bool ParseRange(const std::string& text, Piece& piece);

// The chapters of a media file (Matroska, MP4/M4B/MOV, Ogg and whatever else libavformat reads them
// from), in order, titles as names. A chapter without an end ends where the next one starts (the last
// where the source ends). True with no pieces when the file has no chapters; false with a message when
// it cannot be opened or its table holds nothing usable (every chapter empty or outside the file).
bool ReadChapters(const std::string& path, std::vector<Piece>& pieces, std::string& problem);

// What a cue sheet says beyond its tracks.
struct CueSheet {
    std::vector<Piece> pieces;    // one per TRACK: from its INDEX 01 to the next track's INDEX 01
    std::string title, performer; // of the whole sheet
};

// Parses a cue sheet's text (UTF-8, with or without a byte order mark, or Latin-1 where it is not UTF-8).
// Times are mm:ss:ff with frames of 1/75 s. A pregap (INDEX 00) stays with the track before it, as CD
// rippers append gaps, so the pieces follow each other without a hole. A track's PERFORMER that differs
// from the sheet's goes in front of its title ("Performer - Title"). The last track ends at +infinity.
// Only sheets of one FILE are taken. `name` names the sheet in messages.
bool ParseCueSheet(const std::string& text, const std::string& name, CueSheet& sheet, std::string& problem);
bool ReadCueSheet(const std::string& path, CueSheet& sheet, std::string& problem);

// The cue sheet beside a source: same folder, same base name, ".cue" (or ".CUE"); "" when there is none.
std::string CueSheetBeside(const std::string& sourcePath);

// Proposes pieces between silences from a level envelope: levels[i] is the loudest sample (0 to 1 of
// full scale) over [i * span, (i + 1) * span) seconds. Silence is a run of spans below thresholdDb (dBFS)
// lasting at least shortestSilence seconds; each stretch of sound between two silences (or the ends) is
// a piece, the silences left out. Sound shorter than kShortestPiece (a click) makes no piece.
constexpr double kDefaultSilenceDb = -40.0;
constexpr double kDefaultShortestSilence = 1.0;
constexpr double kShortestPiece = 0.1;
std::vector<Piece> SplitAtSilence(const std::vector<float>& levels, double span, double thresholdDb,
                                  double shortestSilence);
