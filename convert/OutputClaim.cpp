#include "OutputClaim.h"

#include "JobFrame.h"
#include "OutputNaming.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string OpenError(const std::string& path, int error) {
    return Format("Error opening %s", path.c_str()) + " (" + std::strerror(error) + ")";
}

// Creates the file; false with errno when anything (a file, a folder, a link, dangling or not) has
// the name already, or the folder does not take it.
bool CreateNew(const std::string& path, struct stat& st) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool ok = fstat(fd, &st) == 0;
    const int error = errno;
    close(fd);
    errno = error;
    return ok;
}

} // namespace

std::shared_ptr<COutputClaim> COutputClaim::ClaimNumbered(const std::string& sourcePath, int format,
                                                          int outputPathType, const std::string& customFolder,
                                                          std::string* error, int track) {
    const std::string folder = OutputFolder(sourcePath, outputPathType, customFolder);
    const std::string base = SourceBaseName(sourcePath);
    const std::string ext = OutputExtension(format, sourcePath, track);
    return ClaimFirstFree([&](int n) { return OutputCandidate(folder, base, n, ext.c_str()); }, error);
}

std::shared_ptr<COutputClaim> COutputClaim::ClaimFirstFree(const std::function<std::string(int)>& candidate,
                                                           std::string* error) {
    for (int n = 0;; ++n) {
        const std::string path = candidate(n);
        struct stat st;
        if (CreateNew(path, st))
            return std::shared_ptr<COutputClaim>(new COutputClaim(path, st.st_dev, st.st_ino, true));
        if (errno != EEXIST || n == INT32_MAX) {
            if (error)
                *error = OpenError(path, errno);
            return nullptr;
        }
    }
}

std::shared_ptr<COutputClaim> COutputClaim::ClaimExact(const std::string& path, const std::string& sourcePath,
                                                       bool overwrite, std::string* error) {
    auto refuse = [&](const std::string& text) {
        if (error)
            *error = text;
        return nullptr;
    };
    struct stat target, source;
    for (;;) {
        if (stat(path.c_str(), &target) == 0) {
            if (stat(sourcePath.c_str(), &source) == 0 && target.st_dev == source.st_dev &&
                target.st_ino == source.st_ino)
                return refuse(path + " is the source file itself; it was not overwritten.");
            if (S_ISDIR(target.st_mode))
                return refuse(path + " is a folder.");
            if (!overwrite)
                return refuse(path + " exists already; it was not overwritten (--overwrite replaces it).");
            // Taken as it is: the writer opens it, and it stays whatever happens to the job.
            return std::shared_ptr<COutputClaim>(new COutputClaim(path, target.st_dev, target.st_ino, false));
        }
        if (CreateNew(path, target))
            return std::shared_ptr<COutputClaim>(new COutputClaim(path, target.st_dev, target.st_ino, true));
        // Made by someone else since the look (or a dangling link): look again.
        if (errno != EEXIST)
            return refuse(OpenError(path, errno));
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && stat(path.c_str(), &target) != 0)
            return refuse(path + " is a symbolic link that leads nowhere; it was not followed.");
    }
}

COutputClaim::~COutputClaim() {
    struct stat st;
    if (m_created && StillOurs(st) && S_ISREG(st.st_mode) && st.st_size == 0)
        unlink(m_path.c_str());
}

bool COutputClaim::StillOurs(struct stat& st) const {
    return lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino;
}

bool COutputClaim::Remove() {
    struct stat st;
    return StillOurs(st) && S_ISREG(st.st_mode) && unlink(m_path.c_str()) == 0;
}
