#pragma once

#include <QStringList>
#include <string>

// Runs the ffmpeg command line with the arguments (quiet, overwriting); true when it succeeded.
bool RunFfmpeg(const QStringList& args);

// A stereo 44.1 kHz test source of the given length with a tone, as the container the path's
// extension names (video sources get a small test picture).
bool MakeTestSource(const std::string& path, double seconds, bool withVideo = false);

// Decodes a file with the ffmpeg command line to interleaved 16-bit stereo 44.1 kHz samples.
// Returns the number of sample frames, or -1 when it does not decode.
long DecodedFrames(const std::string& path);

// A tag of the file's container as ffprobe shows it (empty when absent).
std::string ProbeTag(const std::string& path, const std::string& tag);
