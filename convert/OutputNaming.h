#pragma once

#include <string>

// ".mp3", ".wav", ".ogg", ".wma", ".flac", ".opus" or ".m4a" for an output format index; for "original"
// the extension of the container a copy of the source's audio track takes (".mka" when it cannot be
// told: the conversion then says why).
std::string OutputExtension(int format, const std::string& sourcePath = "", int track = 0);

// The source's file name without its extension (from the last dot on); a name without a dot whole.
std::string SourceBaseName(const std::string& sourcePath);

// Where the output goes: the source's own folder, or customFolder (ending with '/') when outputPathType
// is 1.
std::string OutputFolder(const std::string& sourcePath, int outputPathType, const std::string& customFolder);

// Candidate n for an output name: folder + base + "_OUTPUT" + extension for n = 0, and
// "%s%s_OUTPUT%d%s" for n = 1, 2, ... Names are bytes, taken as they are; a base that would make the
// file name longer than a file system takes (255 bytes) is shortened, never inside a UTF-8 sequence.
std::string OutputCandidate(const std::string& folder, const std::string& base, int n, const char* ext);

// Candidate n for a piece's output: folder + stem + extension for n = 0, and stem + "_OUTPUT%d" + extension
// for n = 1, 2, ... (the design's numbering); a stem too long for a file name is shortened as above.
std::string PieceCandidate(const std::string& folder, const std::string& stem, int n, const std::string& ext);
