#include "platform/FileWatch.h"

#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace platform {

namespace {

// A save in place ends with the file's close; a save by rename moves the new file over the name.
constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;

// The folder and the name of path ("." for a bare name).
std::pair<std::string, std::string> Split(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

FileWatch::FileWatch(std::string path) : m_path(std::move(path)) {
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0)
        Arm();
}

FileWatch::~FileWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void FileWatch::Arm() {
    std::vector<std::string> paths = {m_path};
    char resolved[PATH_MAX];
    if (::realpath(m_path.c_str(), resolved) != nullptr && m_path != resolved)
        paths.emplace_back(resolved);
    std::vector<Watched> now;
    for (const std::string& p : paths) {
        const auto [folder, name] = Split(p);
        // The same folder gives the same watch; its mask is set anew.
        const int wd = ::inotify_add_watch(m_fd, folder.c_str(), kEvents | IN_ONLYDIR);
        if (wd >= 0)
            now.push_back({wd, name});
    }
    for (const Watched& old : m_watched) {
        const bool kept =
            std::any_of(now.begin(), now.end(), [&](const Watched& w) { return w.wd == old.wd; });
        if (!kept)
            ::inotify_rm_watch(m_fd, old.wd);
    }
    m_watched = std::move(now);
}

bool FileWatch::Drain() {
    if (m_fd < 0)
        return false;
    bool concerned = false;
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
            const std::string name = e->len > 0 ? e->name : "";
            const bool ours = std::any_of(m_watched.begin(), m_watched.end(),
                                          [&](const Watched& w) { return w.wd == e->wd; });
            // Dropped events, or a watched folder that went away (its watch ended): anything may
            // have happened to the file. A watch this one let go of ends too, and means nothing.
            if ((e->mask & IN_Q_OVERFLOW) != 0 || ((e->mask & IN_IGNORED) != 0 && ours)) {
                concerned = true;
                continue;
            }
            concerned =
                concerned || std::any_of(m_watched.begin(), m_watched.end(), [&](const Watched& w) {
                    return w.wd == e->wd && w.name == name;
                });
        }
    }
    if (concerned)
        Arm();
    return concerned;
}

}  // namespace platform
