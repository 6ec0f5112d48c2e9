#include "Id3v2Tag.h"

#include "OutputTags.h"

#include <string>

namespace {

constexpr uint8_t kUtf8 = 3;

void PutSyncsafe(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (7 * (3 - i)) & 0x7F);
}

void AddFrame(std::vector<uint8_t>& tag, const char* id, const std::vector<uint8_t>& body) {
    const size_t at = tag.size();
    tag.insert(tag.end(), id, id + 4);
    tag.resize(tag.size() + 6); // size, then two bytes of flags (none)
    PutSyncsafe(tag, at + 4, static_cast<uint32_t>(body.size()));
    tag.insert(tag.end(), body.begin(), body.end());
}

void AddText(std::vector<uint8_t>& tag, const char* id, const std::string& text) {
    if (text.empty())
        return;
    std::vector<uint8_t> body{kUtf8};
    body.insert(body.end(), text.begin(), text.end());
    AddFrame(tag, id, body);
}

} // namespace

std::vector<uint8_t> BuildId3v2Tag(const OutputTags& tags) {
    std::vector<uint8_t> tag{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    AddText(tag, "TIT2", tags.title);
    AddText(tag, "TPE1", tags.artist);
    AddText(tag, "TALB", tags.album);
    AddText(tag, "TDRC", tags.year);
    AddText(tag, "TCON", tags.genre);
    AddText(tag, "TRCK", tags.track);
    if (!tags.comment.empty()) {
        // Language, an empty description, then the text.
        std::vector<uint8_t> body{kUtf8, 'e', 'n', 'g', 0};
        body.insert(body.end(), tags.comment.begin(), tags.comment.end());
        AddFrame(tag, "COMM", body);
    }
    if (!tags.cover.data.empty()) {
        std::vector<uint8_t> body{kUtf8};
        body.insert(body.end(), tags.cover.mime.begin(), tags.cover.mime.end());
        body.insert(body.end(), {0, 3, 0}); // end of the MIME type, front cover, empty description
        body.insert(body.end(), tags.cover.data.begin(), tags.cover.data.end());
        AddFrame(tag, "APIC", body);
    }
    if (tag.size() == 10)
        return {};
    PutSyncsafe(tag, 6, static_cast<uint32_t>(tag.size() - 10));
    return tag;
}
