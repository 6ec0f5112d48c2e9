#pragma once

#include "MediaTimeline.h"

#include <atomic>
#include <string>

struct AVFormatContext;

// The longest duration the window can show and mark (its slider counts tenths of a second in an int);
// a file that claims more has a header that lies, and its duration counts as unknown.
constexpr double kMaxMediaDuration = 2147483647.0 / 10;

// Why the path cannot be a source, or "" when it names a regular file: "No such file or directory" (or
// the system's other reason), "a folder", "not a regular file" (a FIFO or a device, whose reading
// could block for ever). Looks only at the kind of file; never opens it.
std::string SourceFileProblem(const std::string& path);

// avformat_open_input for a local regular file only ("file:" and no other protocol, so a playlist posing as
// a video reaches nothing else); a negative AVERROR on failure, *ctx then null.
int OpenLocalMedia(AVFormatContext** ctx, const std::string& path);

// The timeline of a media file (MediaTimeline.h) as its headers and its first audio packets tell it;
// false when the file cannot be read as media or is no regular file. A length that cannot be believed (beyond
// kMaxMediaDuration) reads as 0, unknown.
bool ProbeMediaTimeline(const std::string& path, MediaTimeline& timeline);

// Duration in seconds of a media file on its timeline, 0 when the headers tell none that can be
// believed (a stream written to a pipe, a header that lies), or a negative number when the file cannot
// be read as media (or is no regular file). Reads only the headers.
double ProbeMediaDuration(const std::string& path);

// Duration in seconds found by reading every audio packet to the end of the file: for files whose
// headers do not tell it. Audio whose timestamps do not advance is measured by counting its samples.
// 0 when there is no audio, its timing cannot be read, or `stop` became true.
double ScanMediaDuration(const std::string& path, const std::atomic<bool>& stop);
