#pragma once

#include <functional>
#include <string>

// ".mp3", ".wav", ".ogg", ".wma", ".flac", ".opus" or ".m4a" for an output format index; for "original"
// the extension of the container a copy of the source's audio track takes (".mka" when it cannot be
// told: the conversion then says why).
std::string OutputExtension(int format, const std::string& sourcePath = "", int track = 0);

// The output file for a source: folder + base name + "_OUTPUT" + extension, or with the first number
// n = 1, 2, ... that makes a name that does not exist yet ("%s%s_OUTPUT%d%s"). The folder is the
// source's own, or customFolder (ending with '/') when outputPathType is 1. `alsoTaken` names more
// names to pass over (those that conversions running at the same time are about to write).
std::string MakeOutputPath(const std::string& sourcePath, int format, int outputPathType,
                           const std::string& customFolder,
                           const std::function<bool(const std::string&)>& alsoTaken = {}, int track = 0);

// The source's file name without its extension (from the last dot on); a name without a dot whole.
std::string SourceBaseName(const std::string& sourcePath);
