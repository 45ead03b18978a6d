#include "platform/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <mutex>
#include <utility>

namespace platform {

namespace {

// One temporary file name per process and file: one write at a time.
std::mutex g_replaceLock;

// The file a write of path replaces: path itself, or the end of its chain of symbolic links.
// Empty, with errno ELOOP, when the links go round or run too long.
std::string FinalTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return path;
        }
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) {
            break;
        }
        target.resize(static_cast<size_t>(n));
        if (target.front() != '/') {
            const auto slash = path.rfind('/');
            target = slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
        }
        path = std::move(target);
    }
    errno = ELOOP;
    return {};
}

bool WriteAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The folder of path and the name in it.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Removes the temporary files that writes of the file name killed in the middle left behind:
// those whose process has gone (name.tmp<pid>).
void RemoveStaleTemporaries(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string prefix = name + ".tmp";
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view entry = e->d_name;
        if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix) {
            continue;
        }
        const std::string_view digits = entry.substr(prefix.size());
        long pid = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
        if (ec != std::errc() || end != digits.data() + digits.size() || pid <= 0) {
            continue;
        }
        if (pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
            ::unlinkat(::dirfd(dir), e->d_name, 0);
        }
    }
    ::closedir(dir);
}

// The refusals of a replacement that come before any writing: 0, or their errno. The file's
// state is left in old and exists.
int CheckTarget(const std::string& path, struct stat& old, bool& exists) {
    exists = ::stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        return EISDIR;
    }
    if (exists && (old.st_mode & 0222) == 0) {
        return EACCES;
    }
    if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace

int CheckReplaceable(const std::string& linkPath) {
    const std::string path = FinalTarget(linkPath);
    if (path.empty()) {
        return ELOOP;
    }
    struct stat old {};
    bool exists = false;
    if (const int err = CheckTarget(path, old, exists)) {
        return err;
    }
    // The temporary file and the rename need the folder.
    const std::string folder = SplitPath(path).first;
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return errno == EACCES ? EPERM : errno;
    }
    return 0;
}

int ReplaceFileAtomically(const std::string& linkPath, std::string_view data) {
    std::lock_guard<std::mutex> lock(g_replaceLock);
    const std::string path = FinalTarget(linkPath);
    if (path.empty()) {
        return ELOOP;
    }
    struct stat old {};
    bool exists = false;
    if (const int err = CheckTarget(path, old, exists)) {
        return err;
    }
    const auto [folder, name] = SplitPath(path);
    RemoveStaleTemporaries(folder, name);
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        return errno;
    }
    if (exists) {
        // Keep the owner and group the file had (only root can give them away; for anyone
        // else the file was theirs already), then its permissions, which a change of owner
        // may have cut.
        const bool ownerKept = ::fchown(fd, old.st_uid, old.st_gid) == 0;
        (void)ownerKept;  // not root: the file was this user's already
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    int err = 0;
    if (!WriteAll(fd, data) || ::fsync(fd) != 0) {
        err = errno != 0 ? errno : EIO;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(tmp.c_str());
        return err;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);  // the rename itself reaches the disk
        ::close(dirFd);
    }
    return 0;
}

}  // namespace platform
