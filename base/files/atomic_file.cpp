// The atomic writer: temporaries from sibling_temp.h, write/fsync/fchmod, rename, and
// renameat2 or link for a placement that replaces nothing. Never removes a file it did not make.
#include "base/files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "base/files/file_utils.h"

namespace {

// Moves temporary to destination unless something is there already, in one step. Where the
// file system cannot rename without replacing, a hard link does the same (it fails on an
// existing name) and the temporary name is dropped after it. False with errno set.
bool place_without_replacing(const std::string& temporary, const std::string& destination) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    if (::link(temporary.c_str(), destination.c_str()) != 0) return false;
    ::unlink(temporary.c_str());
    return true;
}

}  // namespace

cAtomicFile::cAtomicFile(std::string target, const cAtomicWriteOptions& options)
    : target_(std::move(target)), options_(options) {}

cAtomicFile::~cAtomicFile() { discard(); }

cAtomicFile::cAtomicFile(cAtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      options_(other.options_),
      temp_(std::move(other.temp_)),
      fd_(other.fd_),
      slot_(other.slot_),
      error_(other.error_) {
    other.temp_.clear();
    other.fd_ = -1;
    other.slot_ = -1;
}

cAtomicFile& cAtomicFile::operator=(cAtomicFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        options_ = other.options_;
        temp_ = std::move(other.temp_);
        fd_ = other.fd_;
        slot_ = other.slot_;
        error_ = other.error_;
        other.temp_.clear();
        other.fd_ = -1;
        other.slot_ = -1;
    }
    return *this;
}

bool cAtomicFile::fail() {
    error_ = errno;
    return false;
}

// The temporary is gone or in place: nothing of it is held any more.
void cAtomicFile::forget() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    temp_.clear();
    if (slot_ >= 0 && options_.registry && options_.registry->release) options_.registry->release(slot_);
    slot_ = -1;
}

bool cAtomicFile::create() {
    discard();
    const mode_t mode = options_.exact_mode >= 0 ? static_cast<mode_t>(options_.exact_mode) : options_.create_mode;
    fd_ = create_sibling_temp(target_, mode, temp_, options_.registry, &slot_);
    if (fd_ < 0) {
        error_ = errno;
        temp_.clear();
        return false;
    }
    // The mode is given to the file itself, never through the umask.
    int keep = options_.exact_mode;
    struct stat info {};
    if (keep < 0 && options_.keep_mode && ::stat(target_.c_str(), &info) == 0) keep = static_cast<int>(info.st_mode & 07777);
    if (keep >= 0 && ::fchmod(fd_, static_cast<mode_t>(keep)) != 0) {
        fail();
        discard();
        return false;
    }
    return true;
}

bool cAtomicFile::link_from(const std::string& existing) {
    discard();
    if (!link_sibling_temp(existing, target_, temp_, options_.registry, &slot_)) {
        error_ = errno;
        temp_.clear();
        return false;
    }
    return true;
}

bool cAtomicFile::write(const char* data, size_t size) {
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    return write_all(fd_, data, size) || fail();
}

bool cAtomicFile::close(cFileStamp* stamp) {
    if (fd_ < 0) {
        if (!temp_.empty()) return true;  // a linked temporary, or one already closed
        error_ = EBADF;
        return false;
    }
    bool ok = !options_.durable || ::fsync(fd_) == 0;
    struct stat info {};
    if (ok && stamp) {
        ok = ::fstat(fd_, &info) == 0;
        if (ok) *stamp = file_stamp_of(info);
    }
    if (!ok) fail();
    // A full disk can also show only at close (on network file systems).
    if (::close(fd_) != 0 && ok) ok = fail();
    fd_ = -1;
    return ok;
}

bool cAtomicFile::commit(bool replace) {
    if (temp_.empty()) {
        error_ = EBADF;
        return false;
    }
    if (fd_ >= 0 && !close()) return false;
    const bool placed = replace ? std::rename(temp_.c_str(), target_.c_str()) == 0
                                : place_without_replacing(temp_, target_);
    if (!placed) return fail();
    forget();
    return true;
}

void cAtomicFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    forget();
}

std::string cAtomicFile::release() {
    std::string path = temp_;
    forget();
    return path;
}

bool write_file_atomically(const std::string& path, std::string_view bytes, int& error_code,
                           const cAtomicWriteOptions& options) {
    cAtomicFile file(path, options);
    const bool ok = file.create() && file.write(bytes) && file.commit();
    error_code = ok ? 0 : file.error();
    if (ok && options.durable) sync_folder_of(path);
    return ok;
}

void sync_folder_of(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
