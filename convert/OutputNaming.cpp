#include "OutputNaming.h"

#include "AudioSettings.h"
#include "JobFrame.h"
#include "SystemHelpers.h"
#include "VideoEdit.h"

#include <iterator>
#include <sys/stat.h>

namespace {

// A name is taken by anything in the folder, a dangling symbolic link included: writing through one
// would create a file wherever the link points.
bool NameTaken(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
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

std::string MakeOutputPath(const std::string& sourcePath, int format, int outputPathType,
                           const std::string& customFolder,
                           const std::function<bool(const std::string&)>& alsoTaken, int track) {
    const std::string folder =
        outputPathType == 1 ? customFolder : sourcePath.substr(0, sourcePath.rfind('/') + 1);
    const std::string base = SourceBaseName(sourcePath);
    const std::string ext = OutputExtension(format, sourcePath, track);
    std::string candidate = folder + base + "_OUTPUT" + ext;
    for (int n = 1; NameTaken(candidate) || (alsoTaken && alsoTaken(candidate)); ++n)
        candidate = Format("%s%s_OUTPUT%d%s", folder.c_str(), base.c_str(), n, ext.c_str());
    return candidate;
}
