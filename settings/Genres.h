#pragma once

// The ID3v1 genre list with the Winamp extensions, in number order (the position is the genre byte).
constexpr int kGenreCount = 148;
extern const char* const kGenreNames[kGenreCount];
