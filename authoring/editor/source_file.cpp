// Whole-file reads of the track source and its replacement over the text an edit was based on.
// Depends on the atomic writer of base/files (the temporaries, flushed) and on POSIX and Linux
// files (renameat2's exchange of two names, read leases to learn whether a file is open for
// writing). Never leaves a partial file under the source's or the backup's name, and never
// removes a file it did not write or check.
#include "authoring/editor/source_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "base/files/atomic_file.h"
#include "base/files/file_utils.h"
#include "base/files/sibling_temp.h"

namespace {

std::string errno_text(int code) { return std::strerror(code); }

int64_t nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

std::string folder_of(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Whether another program has the file open for writing: a read lease is refused then. fd must
// be open for reading only. A file system without leases, or a file of another user's, cannot
// tell; it counts as not being written. No owner is set for the descriptor, so breaking the
// lease (a writer opening meanwhile) sends this process no signal; the writer waits the few
// microseconds until the lease is given up.
bool written_elsewhere(int fd) {
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

bool read_all(int fd, std::string& out) {
    out.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

// bytes into a new file beside path, with exactly mode and flushed to the disk; the file is
// left for the caller to place or remove. False (reason in error) when it cannot be written.
bool write_beside(cAtomicFile& file, const std::string& bytes, cFileStamp& stamp, std::string& error) {
    if (!file.create()) {
        error = "cannot create a temporary file in \"" + folder_of(file.target()) + "\": " + errno_text(file.error());
        return false;
    }
    if (!file.write(bytes) || !file.close(&stamp)) {
        error = "cannot write \"" + file.target() + "\": " + errno_text(file.error());
        file.discard();
        return false;
    }
    return true;
}

cAtomicWriteOptions exactly(mode_t mode) {
    cAtomicWriteOptions options;
    options.exact_mode = static_cast<int>(mode);
    options.durable = true;
    return options;
}

// A file is removed only when it is the one it is thought to be.
void remove_if(const std::string& path, const cFileStamp& expected) {
    if (path.empty() || !expected.exists) return;
    cFileStamp now = file_stamp(path);
    if (now.exists && now.inode == expected.inode && now.device == expected.device) ::unlink(path.c_str());
}

// An exchange of names leaves, as the last news of the source's name, its move away. Closing a
// descriptor opened for writing tells those who watch the folder (the show's reload) that the
// name holds a file again; nothing in the file changes.
void announce(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
}

bool exchange(const std::string& a, const std::string& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

}  // namespace

bool read_source_file(const std::string& path, cSourceRead& read, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read \"" + path + "\": " + errno_text(errno);
        return false;
    }
    struct stat before {}, after {};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        ::close(fd);
        error = "\"" + path + "\" is not a plain file";
        return false;
    }
    read.changing = written_elsewhere(fd);
    if (!read_all(fd, read.text) || ::fstat(fd, &after) != 0) {
        int saved = errno;
        ::close(fd);
        error = "cannot read \"" + path + "\": " + errno_text(saved);
        return false;
    }
    ::close(fd);
    read.stamp = file_stamp_of(after);
    read.changing = read.changing || !(file_stamp_of(before) == read.stamp);
    // The later of the two times: a program may set the modification time back, but the
    // change time is the system's own.
    int64_t changed = std::max(read.stamp.mtime_ns, read.stamp.ctime_ns);
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    read.age_seconds = static_cast<double>(nanoseconds(now) - changed) / 1e9;
    return true;
}

bool read_source_file(const std::string& path, std::string& text, std::string& error) {
    cSourceRead read;
    if (!read_source_file(path, read, error)) return false;
    text = std::move(read.text);
    return true;
}

// ---- the replacement ----
cSourceReplacement::cSourceReplacement(const std::string& path) : path_(path) {}

cSourceReplacement::~cSourceReplacement() {
    if (placed_ && !finished_) finish();
    if (prepared_ && !placed_) remove_if(temp_, ours_);
}

bool cSourceReplacement::prepare(const std::string& text, const std::string& based_on, std::string& error) {
    struct stat info {};
    mode_t mode = 0644;
    if (::stat(path_.c_str(), &info) == 0) mode = info.st_mode & 07777;
    // The backup is bytes of its own, written from the text the edit was based on (which was on
    // disk, whole, when the edit began): a second name for the source's file would change with
    // it when a program writes the source in place.
    cAtomicFile backup(path_ + ".bak", exactly(mode));
    cFileStamp backup_stamp;
    if (!write_beside(backup, based_on, backup_stamp, error)) return false;
    if (!backup.commit()) {
        error = "cannot write \"" + backup.target() + "\": " + errno_text(backup.error());
        return false;
    }
    cAtomicFile replacement(path_, exactly(mode));
    if (!write_beside(replacement, text, ours_, error)) return false;
    temp_ = replacement.release();
    based_on_ = based_on;
    prepared_ = true;
    return true;
}

bool cSourceReplacement::holds_based_on(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string bytes;
    bool same = !written_elsewhere(fd) && read_all(fd, bytes) && bytes == based_on_;
    ::close(fd);
    return same;
}

cSourceReplacement::cPut cSourceReplacement::put(std::string& error) {
    if (!prepared_ || placed_) {
        error = "nothing is prepared";
        return cPut::failed;
    }
    // The new file and the source trade names in one step, so the displaced file is still at
    // hand: an outside save that landed after the edit's check is there, and goes back.
    if (exchange(temp_, path_)) {
        exchanged_ = true;
        placed_ = true;
        announce(path_);
        displaced_ = file_stamp(temp_);
        if (holds_based_on(temp_)) return cPut::done;
        swap_back();
        return cPut::changed_outside;
    }
    if (errno == ENOENT) {
        // The source was removed since the check; that is a change too.
        return cPut::changed_outside;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        error = "cannot rename \"" + temp_ + "\" to \"" + path_ + "\": " + errno_text(errno);
        return cPut::failed;
    }
    // A file system without the exchange: the source is checked, keeps a second name, is
    // replaced, and is checked again through that name; only what lands between the check and
    // the rename, microseconds apart, can go unseen.
    std::string held;
    if (!holds_based_on(path_)) return cPut::changed_outside;
    if (!link_sibling_temp(path_, path_, held)) held.clear();
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
        error = "cannot rename \"" + temp_ + "\" to \"" + path_ + "\": " + errno_text(errno);
        if (!held.empty()) ::unlink(held.c_str());
        return cPut::failed;
    }
    placed_ = true;
    temp_ = held;
    displaced_ = file_stamp(held);
    if (held.empty() || holds_based_on(held)) return cPut::done;
    swap_back();
    return cPut::changed_outside;
}

void cSourceReplacement::swap_back() {
    const std::string displaced = temp_;
    finished_ = true;
    if (displaced.empty()) return;
    if (exchanged_) {
        // Only when the source's name still holds the new text: a save that landed since is newer.
        if (file_stamp(path_).inode == ours_.inode && exchange(displaced, path_)) announce(path_);
        remove_if(displaced, ours_);
    } else if (file_stamp(path_).inode == ours_.inode) {
        std::rename(displaced.c_str(), path_.c_str());
    }
    // A file at the displaced name that is not the new text holds another program's save; it
    // is kept under a name of its own.
    cFileStamp left = file_stamp(displaced);
    if (left.exists && left.inode != ours_.inode) {
        std::string kept = path_ + ".outside-save." + std::to_string(::getpid()) + "." + std::to_string(left.inode);
        if (std::rename(displaced.c_str(), kept.c_str()) == 0) {
            std::cerr << "# WARNING: a save of \"" << path_ << "\" by another program, made while the editor wrote it, "
                      << "is kept as \"" << kept << "\"" << std::endl;
        }
    }
}

void cSourceReplacement::take_back() {
    if (!placed_ || finished_) return;
    finished_ = true;
    // The displaced file held the text the edit was based on (it was checked) and goes back,
    // unless another program has saved at the source's name since: that save is newer.
    if (file_stamp(path_).inode == ours_.inode) {
        if (exchanged_ && exchange(temp_, path_)) {
            announce(path_);
            remove_if(temp_, ours_);
        } else if (!exchanged_) {
            std::rename(temp_.c_str(), path_.c_str());
        }
    }
    remove_if(temp_, displaced_);
    sync_folder_of(path_);
}

void cSourceReplacement::finish() {
    if (!placed_ || finished_) return;
    finished_ = true;
    // The displaced file held based_on, of which the backup is a copy.
    remove_if(temp_, displaced_);
    sync_folder_of(path_);
}

bool replace_source_file(const std::string& path, const std::string& text, const std::string& based_on,
                         std::string& error) {
    cSourceReplacement replacement(path);
    if (!replacement.prepare(text, based_on, error)) return false;
    switch (replacement.put(error)) {
        case cSourceReplacement::cPut::done:
            replacement.finish();
            return true;
        case cSourceReplacement::cPut::changed_outside:
            error = "\"" + path + "\" was changed by another program meanwhile; that change stays";
            return false;
        case cSourceReplacement::cPut::failed:
            break;
    }
    return false;
}
