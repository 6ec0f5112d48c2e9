#pragma once

#include <array>
#include <string>

constexpr size_t kId3v1Size = 128;

// The 128-byte ID3v1 tag appended to an MP3 file: "TAG", then title, artist, album, year and comment,
// each padded with spaces (never zero bytes) and converted to Latin-1, then the genre byte. The title
// is the output file name without its last 11 characters ("_OUTPUT.mp3"), the comment "Quillet".
// That title whole: the output file name without its last 11 characters.
std::string Mp3FileTitle(const std::string& outputFileName);

std::array<char, kId3v1Size> BuildId3v1Tag(const std::string& outputFileName, const std::string& artist,
                                           const std::string& album, const std::string& year, int genreIndex);
