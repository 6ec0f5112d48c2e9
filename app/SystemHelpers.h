#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Stateless helpers for the program directory, files and folders, time display and the media runtime.
// Paths are UTF-8 byte strings with '/' as separator; directory paths returned here end with '/'.

// Directory of the running executable, ending with '/'.
std::string GetAppDirectory();

// True when the path names anything the file system can stat (a directory counts too); false for "".
bool FileExists(const std::string& path);

// True when the path names a directory (symbolic links followed). Never touches the current directory.
bool DirectoryExists(const std::string& path);

// Creates the directory and every missing parent. A relative path starts at the current directory.
// Returns true when every level exists at the end; levels made before a failure stay.
bool CreateDirectoryPath(const std::string& path);

// "HH:MM:SS.t" with the tenths truncated, hours not limited to two digits. Expects seconds >= 0.
std::string FormatTime(double seconds);

// Size of a file in bytes, or -1 when it cannot be opened. The result is a signed 32-bit count:
// a file of 2 GiB or more reports INT32_MAX (saturated), never a negative or wrapped size.
int32_t GetFileSizeBytes(const std::string& path);

// Size of a file in bytes, or -1 when it cannot be opened; for callers that need sizes past 2 GiB.
int64_t GetFileSize64(const std::string& path);

// Monotonic milliseconds as an unsigned 32-bit number: differences wrap correctly.
uint32_t GetTickCount32();

// All `size` bytes at offset `at` of an open file, read or written through interruptions and short
// transfers; false on an error (errno tells it) or, for reading, an end of file before them.
bool ReadFullyAt(int fd, void* data, size_t size, int64_t at);
bool WriteFullyAt(int fd, const void* data, size_t size, int64_t at);

// Media runtime check: 80 or more when the FFmpeg libraries loaded at run time are usable (same major
// versions as the build), 50 when they are not; -1 after a message when no version can be read.
int GetDirectXVersion();

// The Debian and Ubuntu packages of the FFmpeg libraries the program was built with, for messages that
// tell the user what to install: "libavformat59, libavcodec59 (or libavcodec-extra59), ...".
std::string FfmpegPackages();

// True when the media runtime can demux RealMedia and decode RealAudio.
bool IsRealPlayerInstalled();

// True when "WmAudSDK.so" lies in the program directory and the runtime has the WMA v2 encoder and
// the ASF muxer.
bool SupportsWmaOutput();
// Why WMA output is not available, for the user: what is missing and what to install; empty when it
// is available.
std::string WmaOutputMissing();

// Tests point the program directory somewhere else; an empty text restores the executable's.
void SetAppDirectoryForTesting(const std::string& dir);
