// The whole-file reader: stat, open (without blocking for a plain file), read in slices.
#include "base/files/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::string cReadOutcome::reason() const {
    switch (failure) {
        case none: return {};
        case missing: return "it does not exist";
        case directory: return "it is a directory";
        case not_regular: return "it is not a regular file";
        default: return std::strerror(code);
    }
}

namespace {

cReadOutcome read_failure(cReadOutcome::eFailure failure, int code) { return {failure, code}; }

// What a look at the path says before it is opened.
cReadOutcome look_at(const std::string& path, const cReadOptions& options) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return read_failure(errno == ENOENT ? cReadOutcome::missing : cReadOutcome::cannot_look, errno);
    }
    if (S_ISDIR(info.st_mode)) return read_failure(cReadOutcome::directory, EISDIR);
    if (!S_ISREG(info.st_mode) && !options.streams_too) return read_failure(cReadOutcome::not_regular, 0);
    return {};
}

}  // namespace

cReadOutcome read_whole_file(const std::string& path, std::string& out, const cReadOptions& options) {
    cReadOutcome look = look_at(path, options);
    if (!look.ok()) return look;
    // A plain file is opened without blocking, so one that became a pipe meanwhile does not hold
    // the caller; a stream that was asked for is opened as it comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (options.streams_too ? 0 : O_NONBLOCK));
    if (fd < 0) return read_failure(errno == ENOENT ? cReadOutcome::missing : cReadOutcome::cannot_open, errno);
    struct stat info {};
    cReadOutcome opened;
    if (::fstat(fd, &info) != 0) opened = read_failure(cReadOutcome::cannot_read, errno);
    else if (S_ISDIR(info.st_mode)) opened = read_failure(cReadOutcome::directory, EISDIR);
    else if (!S_ISREG(info.st_mode) && !options.streams_too) opened = read_failure(cReadOutcome::not_regular, 0);
    if (!opened.ok()) {
        ::close(fd);
        return opened;
    }
    std::string bytes;
    if (S_ISREG(info.st_mode)) {
        bytes.reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(info.st_size), options.max_bytes)));
    }
    char buffer[65536];
    while (bytes.size() < options.max_bytes) {
        if (options.cancelled && options.cancelled->load()) {
            ::close(fd);
            return read_failure(cReadOutcome::cancelled, ECANCELED);
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, options.max_bytes - bytes.size()));
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            return read_failure(cReadOutcome::cannot_read, code);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    out.swap(bytes);
    return {};
}

bool read_whole_file(const std::string& path, std::string& out, std::string& reason) {
    const cReadOutcome outcome = read_whole_file(path, out, cReadOptions{});
    reason = outcome.reason();
    return outcome.ok();
}

std::string unreadable_reason(const std::string& path) {
    const cReadOutcome look = look_at(path, {});
    if (!look.ok()) return look.reason();
    // Opened without blocking, so a file that became a pipe meanwhile does not hold the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}
