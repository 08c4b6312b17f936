// inotify behind the watcher. A folder is watched for files closed after writing, moved in or
// out, and deleted, and for going away itself. Every change also updates the folder's
// snapshot (name -> size and time), which is what a lost queue or a folder that comes back is
// compared against. Reports go to the console as one line each.
#include "authoring/dev/file_watcher.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

constexpr uint32_t kFileEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
constexpr uint32_t kFolderEvents = IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

cFileWatcher::cFileWatcher(double settle_seconds, double max_settle_seconds, double rewatch_seconds)
    : settle_(settle_seconds), max_settle_(max_settle_seconds), rewatch_(rewatch_seconds) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        std::cerr << "# WARNING: files cannot be watched (" << std::strerror(errno) << "); nothing is reloaded"
                  << std::endl;
    }
}

cFileWatcher::~cFileWatcher() {
    if (fd_ >= 0) ::close(fd_);
}

std::map<std::string, cFileStamp> cFileWatcher::snapshot(const std::string& folder) {
    std::map<std::string, cFileStamp> files;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return files;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const cFileStamp stamp = regular_file_stamp(folder + "/" + name);
        if (stamp.exists) files[name] = stamp;
    }
    ::closedir(dir);
    return files;
}

void cFileWatcher::watch(const std::string& folder) {
    if (fd_ < 0) return;
    folders_.push_back(cFolder{});
    cFolder& added = folders_.back();
    added.path = folder;
    while (added.path.size() > 1 && added.path.back() == '/') added.path.pop_back();
    add_watch(added, 0.0, false);
    if (added.wd < 0) {
        std::cout << "# note: \"" << added.path << "\" is not there; it is watched once it is" << std::endl;
        added.reported_gone = true;
    }
}

void cFileWatcher::add_watch(cFolder& folder, double now, bool returning) {
    struct stat info {};
    if (::stat(folder.path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        folder.retry_at = now + rewatch_;
        return;
    }
    const int wd = ::inotify_add_watch(fd_, folder.path.c_str(), kFileEvents | kFolderEvents | IN_ONLYDIR);
    if (wd < 0) {
        folder.retry_at = now + rewatch_;
        return;
    }
    // A folder watched again under a number another folder still holds (the same folder given
    // twice) shares its events; both see them.
    folder.wd = wd;
    if (returning) {
        std::cout << "# note: watching \"" << folder.path << "\" again" << std::endl;
        rescan(folder, now);  // what changed while it was away
    } else {
        folder.files = snapshot(folder.path);
    }
    folder.reported_gone = false;
}

void cFileWatcher::lose(cFolder& folder, double now, const char* how) {
    if (folder.wd >= 0) ::inotify_rm_watch(fd_, folder.wd);
    folder.wd = -1;
    folder.retry_at = now + rewatch_;
    if (!folder.reported_gone) {
        std::cerr << "# WARNING: \"" << folder.path << "\" " << how
                  << "; its files are not watched until it is back, and what was loaded from them stays in use"
                  << std::endl;
        folder.reported_gone = true;
    }
}

void cFileWatcher::note(const std::string& path, cFileChange::kind_t kind, double now) {
    ++noted_;
    if (pending_.empty()) first_pending_ = now;
    pending_[path] = kind;
    last_event_ = now;
}

void cFileWatcher::rescan(cFolder& folder, double now) {
    std::map<std::string, cFileStamp> current = snapshot(folder.path);
    for (const auto& [name, stamp] : current) {
        auto old = folder.files.find(name);
        if (old == folder.files.end() || !same_size_and_mtime(old->second, stamp)) {
            note(folder.path + "/" + name, cFileChange::written, now);
        }
    }
    for (const auto& [name, stamp] : folder.files) {
        if (current.count(name) == 0) note(folder.path + "/" + name, cFileChange::removed, now);
    }
    folder.files = std::move(current);
}

void cFileWatcher::read_events(double now) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            return;  // EAGAIN: nothing more waiting
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                std::cout << "# note: more file changes at once than the system could queue; comparing the folders"
                          << std::endl;
                for (cFolder& folder : folders_) {
                    if (folder.wd >= 0) rescan(folder, now);
                }
                continue;
            }
            for (cFolder& folder : folders_) {
                if (folder.wd < 0 || folder.wd != event->wd) continue;
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    lose(folder, now, event->mask & IN_MOVE_SELF ? "was renamed or moved" : "was removed");
                    continue;
                }
                if (event->len == 0 || (event->mask & IN_ISDIR)) continue;
                const std::string name = event->name;
                const std::string path = folder.path + "/" + name;
                if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
                    folder.files[name] = regular_file_stamp(path);
                    note(path, cFileChange::written, now);
                } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                    folder.files.erase(name);
                    note(path, cFileChange::removed, now);
                }
            }
        }
    }
}

std::vector<cFileChange> cFileWatcher::poll(double now) {
    std::vector<cFileChange> settled;
    if (fd_ < 0) return settled;
    // What is read now happened since the previous poll. After a quiet poll it counts from that
    // poll, so a save is handed out in the first frame after it. After a poll that read changes
    // too the folders are busy (a burst, however long each frame takes), and it counts from
    // now: a burst is handed out once it is over, each file once.
    const bool busy = noted_ != 0;
    noted_ = 0;
    read_events(last_poll_ < 0.0 || busy ? now : last_poll_);
    last_poll_ = now;
    for (cFolder& folder : folders_) {
        if (folder.wd < 0 && now >= folder.retry_at) add_watch(folder, now, !folder.files.empty() || folder.reported_gone);
    }
    if (pending_.empty()) return settled;
    if (now - last_event_ < settle_ && now - first_pending_ < max_settle_) return settled;
    for (const auto& [path, kind] : pending_) settled.push_back({kind, path});
    pending_.clear();
    return settled;
}
