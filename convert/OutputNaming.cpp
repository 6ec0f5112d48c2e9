#include "OutputNaming.h"

#include "AudioSettings.h"
#include "JobFrame.h"
#include "VideoEdit.h"

#include <iterator>

namespace {

constexpr size_t kNameMax = 255; // bytes in one file name on the file systems Linux writes

// The longest start of the text of at most `bytes` bytes that does not end inside a UTF-8 sequence
// (bytes that are not UTF-8 count one by one).
std::string CutBytes(const std::string& text, size_t bytes) {
    if (text.size() <= bytes)
        return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

std::string OutputExtension(int format, const std::string& sourcePath, int track) {
    if (format == FORMAT_ORIGINAL) {
        CCopyInfo info;
        return CVideoEdit::DescribeCopy(sourcePath, track, &info) ? info.extension : ".mka";
    }
    static const char* const kExtensions[] = {".mp3", ".wav", ".ogg", ".wma", ".flac", ".opus", ".m4a"};
    return format >= 0 && format < static_cast<int>(std::size(kExtensions)) ? kExtensions[format]
                                                                            : kExtensions[0];
}

std::string SourceBaseName(const std::string& sourcePath) {
    const std::string name = sourcePath.substr(sourcePath.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string OutputFolder(const std::string& sourcePath, int outputPathType, const std::string& customFolder) {
    return outputPathType == 1 ? customFolder : sourcePath.substr(0, sourcePath.rfind('/') + 1);
}

std::string OutputCandidate(const std::string& folder, const std::string& base, int n, const char* ext) {
    const std::string suffix = (n == 0 ? std::string("_OUTPUT") : Format("_OUTPUT%d", n)) + ext;
    return folder + CutBytes(base, kNameMax - suffix.size()) + suffix;
}

std::string PieceCandidate(const std::string& folder, const std::string& stem, int n,
                           const std::string& ext) {
    const std::string suffix = (n == 0 ? std::string() : Format("_OUTPUT%d", n)) + ext;
    return folder + CutBytes(stem, kNameMax - suffix.size()) + suffix;
}
