#pragma once

// What a source file says about itself: its tags and its front cover, read once for the outputs that
// carry them over.
//
// Tags come from the file's own metadata; the chosen audio track's metadata fills what the file leaves
// out (Ogg keeps its comments with the stream). A track's "title" counts only when the file has one
// audio track: in a film with several it names the track ("Commentary"), not the content.
// Every text is valid UTF-8 on one line (a comment keeps its line breaks), at most kMaxTagChars
// characters: a text that is not UTF-8 is read as Latin-1, control characters are dropped, and an
// absurdly long one is cut. The cover is an attached picture, the front cover when the file names one;
// it is kept only when its bytes are a JPEG or PNG picture of at most kMaxCoverBytes.
//
// The functions may run on any thread; a damaged file gives what could be read, never an exception
// other than std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct AVFormatContext;
struct AVStream;

struct SourceCover {
    std::vector<uint8_t> data; // empty when the source has no usable cover
    std::string mime;          // "image/jpeg" or "image/png"
    int width = 0, height = 0; // pixels; 0 when unknown
};

struct SourceTags {
    std::string title, artist, album, date, genre, track, comment;
    SourceCover cover;
};

constexpr size_t kMaxTagChars = 1024;
constexpr size_t kMaxCoverBytes = 12u << 20;

// The tags of the file and of its audio stream `audioStream` (-1: the file's only).
SourceTags ReadSourceTags(const AVFormatContext* fmt, int audioStream);

// Opens a local file and reads the tags that go with audio track `track` (0: the default). False when
// the file cannot be read as media; tags is then empty.
bool ReadSourceTags(const std::string& path, int track, SourceTags& tags);

// The attached picture that stands for the file's front cover: the one the file marks "Cover (front)",
// else one named as a cover, else the first; null when there is none. The one choice of the preview's
// picture and of the outputs' covers.
const AVStream* FrontCoverStream(const AVFormatContext* fmt);

// Text as the outputs take it: valid UTF-8 (Latin-1 where the bytes are not UTF-8), without control
// characters (line breaks kept when multiLine, else made blanks), trimmed and cut to maxChars.
std::string CleanTagText(std::string_view text, size_t maxChars = kMaxTagChars, bool multiLine = false);

// "image/jpeg" or "image/png" when the bytes start as such a picture, else "".
const char* PictureMime(const uint8_t* data, size_t size);
