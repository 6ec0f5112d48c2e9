#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

// The temporary WAV of one job. It is created private to the user (mode 0600), never through a
// symbolic link, and locked for as long as the job or its encoder thread holds it, so that a second
// job (of this process or another) takes a name of its own instead of overwriting this one's audio.
class CTempWavFile {
public:
    static constexpr const char* kName = "qlt_temp.wav";

    // Reserves "qlt_temp.wav" in the folder (which ends with '/'), or a unique name beside it when
    // that one is in use, is not a plain file of this user, or is a symbolic link. Null on failure.
    static std::shared_ptr<CTempWavFile> Reserve(const std::string& folder);

    // Removes the temporary WAVs in the folder that no job holds any more: those of runs that ended
    // without cleaning up (killed, the terminal closed). A file counts as held while its lock is;
    // only plain files of this user named as Reserve names them are looked at. Returns how many went.
    static int RemoveStale(const std::string& folder);

    ~CTempWavFile(); // removes the file and releases the lock
    CTempWavFile(const CTempWavFile&) = delete;
    CTempWavFile& operator=(const CTempWavFile&) = delete;

    const std::string& Path() const { return m_path; }

    // Deletes the file if the path still names the file reserved here; never someone else's.
    void Remove();

private:
    CTempWavFile(int fd, std::string path, dev_t dev, ino_t ino)
        : m_fd(fd), m_path(std::move(path)), m_dev(dev), m_ino(ino) {}

    int m_fd;
    std::string m_path;
    dev_t m_dev;
    ino_t m_ino;
};
