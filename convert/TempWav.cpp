#include "TempWav.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens and locks the path; on success fills fd, dev and ino. `exclusive` insists on a new file. A
// file that opens but is not to be had (someone else's, locked, or removed by another run's clean-up
// before it was locked) fails with EEXIST, like a name that is taken.
bool OpenLocked(const std::string& path, bool exclusive, int& fd, struct stat& st) {
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : 0);
    fd = open(path.c_str(), flags, 0600);
    if (fd < 0)
        return false;
    struct stat now;
    // A plain file of ours, locked, and still the file the path names (not unlinked under us).
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                    flock(fd, LOCK_EX | LOCK_NB) == 0 && stat(path.c_str(), &now) == 0 &&
                    now.st_dev == st.st_dev && now.st_ino == st.st_ino && fchmod(fd, 0600) == 0;
    if (!ok) {
        close(fd);
        fd = -1;
        errno = EEXIST;
    }
    return ok;
}

} // namespace

std::shared_ptr<CTempWavFile> CTempWavFile::Reserve(const std::string& folder) {
    int fd = -1;
    struct stat st;
    std::string path = folder + kName;
    if (OpenLocked(path, false, fd, st))
        return std::shared_ptr<CTempWavFile>(new CTempWavFile(fd, path, st.st_dev, st.st_ino));
    for (int n = 1; n <= 1000; ++n) {
        path = folder + "qlt_temp_" + std::to_string(getpid()) + "_" + std::to_string(n) + ".wav";
        if (OpenLocked(path, true, fd, st))
            return std::shared_ptr<CTempWavFile>(new CTempWavFile(fd, path, st.st_dev, st.st_ino));
        if (errno != EEXIST)
            break; // a folder that cannot take files at all
    }
    return nullptr;
}

int CTempWavFile::RemoveStale(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != kName && !(name.starts_with("qlt_temp_") && name.ends_with(".wav")))
            continue;
        const std::string path = folder + name;
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Locked by us, it is no one's; still the file the name gives, it may go.
        struct stat st, now;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
            now.st_ino == st.st_ino && unlink(path.c_str()) == 0)
            ++removed;
        close(fd);
    }
    closedir(dir);
    return removed;
}

CTempWavFile::~CTempWavFile() {
    Remove();
    close(m_fd);
}

void CTempWavFile::Remove() {
    struct stat st;
    if (lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino)
        unlink(m_path.c_str());
}
