#pragma once

#include <cstdio>
#include <string>

// Loads an encoder module from the program directory once; it stays loaded for the rest of the
// process, as later jobs use it again. Null when it cannot be loaded.
void* LoadEncoderModule(const char* fileName);

// The entry point's address, or null.
void* EncoderEntry(void* module, const char* name);

// Writes all bytes; false on a short write.
bool WriteAll(std::FILE* file, const void* data, size_t bytes);

// Closes the file; false when buffered bytes could not be written (a full disk shows up here).
bool CloseOutput(std::FILE*& file);

// " (reason)" for the system's last error (errno) as it stands, "" when there is none: read it right
// after the call that failed.
std::string SystemReason();

// The file name part of a path (after its last '/').
std::string FileNameOf(const std::string& path);
