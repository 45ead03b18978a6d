// Tells when a file may have changed, from the kernel (inotify) instead of a look every so often.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Watches one file by its name in its folder, so that a file replaced by a rename (as this
// program's writers and most editors save) is seen as well as one written in place, moved away or
// removed. When the name is a symbolic link, the file its links end at is watched too (a save
// through the link replaces that file, in its own folder). Fd() becomes readable when events wait;
// Drain() reads them. A change made on a file system that does not report changes (a network
// share) never arrives: the owner keeps a slow look of its own as well.
class FileWatch {
public:
    explicit FileWatch(std::string path);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // The kernel watches the file's folder; false when it could not (no folder, no inotify).
    bool Active() const { return m_fd >= 0 && !m_watched.empty(); }
    // Readable when events wait; -1 when not active.
    int Fd() const { return m_fd; }
    // Reads every waiting event without blocking. True when one may concern the file: it was
    // written and closed, replaced by a rename, moved away or removed, or the kernel dropped
    // events. Then the watch follows the links anew.
    bool Drain();

private:
    struct Watched {
        int wd;
        std::string name;
    };
    // Watches the folder of the path and of the file its links end at.
    void Arm();

    std::string m_path;
    int m_fd = -1;
    std::vector<Watched> m_watched;
};

}  // namespace platform
