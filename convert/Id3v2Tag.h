#pragma once

#include <cstdint>
#include <vector>

struct OutputTags;

// The ID3v2.4 tag that opens an MP3 file, before its first frame: the texts in UTF-8 frames (TIT2,
// TPE1, TALB, TDRC, TCON, TRCK, COMM) without the 30-character limit of ID3v1, and the cover as an APIC
// frame of type 3 (front cover). Empty texts are left out; a tag without any frame is not written
// (empty result). Players read it first; the ID3v1 tag at the end stays for those that do not.
std::vector<uint8_t> BuildId3v2Tag(const OutputTags& tags);
