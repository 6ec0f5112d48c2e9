#pragma once

#include <string>

// Duration in seconds of a media file as its container (or else its audio stream) tells it, or a
// negative number when the file cannot be read as media. Reads only the headers.
double ProbeMediaDuration(const std::string& path);
