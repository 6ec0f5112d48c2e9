#pragma once

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

// The output file of one job, claimed when its name is chosen. Claiming creates the file (empty, with
// O_EXCL, never through a symbolic link), so the name is this job's the moment it is chosen: another
// job of this process or of any other process that wants the same name finds it taken and moves on to
// the next number, and nothing can slip in between the choice and the writing. The writers then open
// the claimed file by its path as before (truncating an empty file changes nothing).
//
// A claim that ends up unused (the job was refused, cancelled or failed before writing anything) must
// not pose as a result: when the last holder lets go and the file is still the claimed one and still
// empty, it is removed. Remove() drops it whatever it holds, for output that cannot be finished.
// A claim is shared by the launching side, the job and its encoder thread; its operations are safe from
// any of their threads. Errors are returned as a text that names the path and the system's reason.
class COutputClaim {
public:
    // The name MakeOutputPath would choose (beside the source, or in customFolder when outputPathType is
    // 1), created at once; a name that is taken when the file is created is passed over for the next
    // number. Null on failure, with the reason in *error ("Error opening <path> (<reason>)"). `track`
    // is the audio track whose codec names an "original" copy's extension.
    static std::shared_ptr<COutputClaim> ClaimNumbered(const std::string& sourcePath, int format,
                                                       int outputPathType, const std::string& customFolder,
                                                       std::string* error, int track = 0);

    // The first free name of candidate(0), candidate(1), ..., created at once. Null on failure, with the
    // reason in *error.
    static std::shared_ptr<COutputClaim> ClaimFirstFree(const std::function<std::string(int)>& candidate,
                                                        std::string* error);

    // A name the user gave. A missing file is created; an existing one is taken only with `overwrite`
    // (and then only when it is not a folder). Never the source itself, under any name (a symbolic or
    // hard link, "../"): device and inode are compared. Null on refusal, with the reason in *error.
    static std::shared_ptr<COutputClaim> ClaimExact(const std::string& path, const std::string& sourcePath,
                                                    bool overwrite, std::string* error);

    ~COutputClaim(); // removes the file if it is still the claimed one and empty
    COutputClaim(const COutputClaim&) = delete;
    COutputClaim& operator=(const COutputClaim&) = delete;

    const std::string& Path() const { return m_path; }
    // Whether the claim made the file (false for an existing file taken with overwrite).
    bool Created() const { return m_created; }
    // Removes the file when the path still names the claimed file and it is a plain file; never anything
    // else put at the path since. True when it was removed.
    bool Remove();

private:
    COutputClaim(std::string path, dev_t dev, ino_t ino, bool created)
        : m_path(std::move(path)), m_dev(dev), m_ino(ino), m_created(created) {}
    // lstat of the path, when it still names the claimed file.
    bool StillOurs(struct stat& st) const;

    std::string m_path;
    dev_t m_dev;
    ino_t m_ino;
    bool m_created;
};
