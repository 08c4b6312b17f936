// POSIX implementation of the file utilities (getcwd, opendir/fnmatch, open/read/write,
// rename/renameat2/link, unlink, stat, strerror).
#include "file_utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "base/log/console.h"

std::string current_directory() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return {};
    return buffer;
}

bool set_current_directory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::string absolute_path(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!path.empty() && path[0] == '/') return path;
    std::string cwd = current_directory();
    if (cwd.empty()) return {};
    if (cwd.back() != '/') cwd += '/';
    // "./x" and "." name the current directory itself
    while (path.rfind("./", 0) == 0) path.erase(0, 2);
    if (path == ".") path.clear();
    return cwd + path;
}

std::vector<std::string> split(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> pieces;
    std::string current;
    for (char c : text) {
        if (delimiters.find(c) != std::string::npos) {
            pieces.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    pieces.push_back(current);
    return pieces;
}

std::string file_name_of(const std::string& path) { return split(path, "\\/").back(); }

std::string extension_of(const std::string& path) { return split(path, ".").back(); }

void find_files(const std::string& pattern, std::vector<std::string>& out) {
    std::string normal = pattern;
    std::replace(normal.begin(), normal.end(), '\\', '/');
    size_t slash = normal.rfind('/');
    std::string directory = slash == std::string::npos ? "." : normal.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? normal : normal.substr(slash + 1);

    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return;
    std::vector<std::string> found;
    while (dirent* entry = ::readdir(dir)) {
        if (::fnmatch(mask.c_str(), entry->d_name, 0) != 0) continue;
        struct stat info {};
        std::string full = directory + (directory.back() == '/' ? "" : "/") + entry->d_name;
        if (::stat(full.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
        found.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
}

bool write_all(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) {  // no progress and no reason: give up rather than spin
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool write_all(int fd, const std::string& bytes) { return write_all(fd, bytes.data(), bytes.size()); }

namespace {

void report_failure(const char* prefix, int code) {
    if (code != 0) std::cerr << prefix << error_text(code) << std::flush;
}

// Copies every byte from one descriptor to the other; false with errno set on failure.
bool copy_bytes(int from, int to) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!write_all(to, buffer, static_cast<size_t>(got))) return false;
    }
}

// Creates "<destination>.<pid>-<n>.partial", a name no other file has (O_EXCL), for a copy
// still being written; the process umask applies to mode as for any new file. The descriptor,
// or -1 with errno set.
int create_partial_file(const std::string& destination, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = destination + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".partial";
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Moves the finished temporary file to destination unless something is there already, in one
// step: a file created there meanwhile is never replaced. Where the file system cannot rename
// without replacing, a hard link does the same (it fails on an existing name) and the temporary
// name is dropped after it. False with errno set (EEXIST for an existing destination).
bool place_without_replacing(const std::string& temporary, const std::string& destination) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    if (::link(temporary.c_str(), destination.c_str()) != 0) return false;
    ::unlink(temporary.c_str());
    return true;
}

}  // namespace

bool copy_file(const std::string& source, const std::string& destination, bool overwrite) {
    int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        report_failure("## ERROR: copy failed: ", errno);
        return false;
    }
    struct stat info {};
    if (::fstat(from, &info) != 0 || S_ISDIR(info.st_mode)) {
        int code = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(from);
        report_failure("## ERROR: copy failed: ", code);
        return false;
    }
    // A quick refusal; what keeps a file created from now on is the placement below.
    if (!overwrite && ::access(destination.c_str(), F_OK) == 0) {
        ::close(from);
        report_failure("## ERROR: copy failed: ", EEXIST);
        return false;
    }
    // Write beside the destination under a name of its own and put it in place in one step, so
    // that a reader (or a library still mapped from the old file) never sees a half-written
    // copy, and no file already there (a user's "x.partial" included) is truncated.
    std::string temporary;
    int to = create_partial_file(destination, info.st_mode & 0777, temporary);
    if (to < 0) {
        int code = errno;
        ::close(from);
        report_failure("## ERROR: copy failed: ", code);
        return false;
    }
    bool ok = copy_bytes(from, to);
    int code = ok ? 0 : errno;
    ::close(from);
    if (::close(to) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok) {
        ok = overwrite ? ::rename(temporary.c_str(), destination.c_str()) == 0
                       : place_without_replacing(temporary, destination);
        if (!ok) code = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        report_failure("## ERROR: copy failed: ", code);
    }
    return ok;
}

bool delete_file(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    report_failure("## ERROR: delete failed: ", errno);
    return false;
}

int64_t file_time(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        std::cerr << "## ERROR: Problem getting file time" << std::endl;
        return 0;
    }
    return static_cast<int64_t>(info.st_mtime);
}

int64_t file_size(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        std::cerr << "## ERROR: Problem getting file size" << std::endl;
        return 0;
    }
    return static_cast<int64_t>(info.st_size);
}

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string error_text(int32_t code) {
    if (code == 0) return {};
    return std::string(std::strerror(code)) + "\n";
}

bool read_file(const std::string& path, std::string& out) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    // A directory cannot be read as a file; treat it like a file that does not open.
    FILE* file = S_ISDIR(info.st_mode) ? nullptr : std::fopen(path.c_str(), "rb");
    if (!file) {
        assert_failed("wtf");
        return false;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size == 0) {
        std::fclose(file);
        std::cerr << "read empty file..." << std::endl;
        return false;
    }
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        assert_failed("wtf");
        return false;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (got != bytes.size()) return false;
    out.swap(bytes);
    return true;
}

std::string unreadable_reason(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? "it does not exist" : std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) return "it is a directory";
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    // Opened without blocking, so a file that became a pipe meanwhile does not hold the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

bool read_whole_file(const std::string& path, std::string& out, std::string& reason) {
    reason = unreadable_reason(path);
    if (!reason.empty()) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = fd < 0 ? std::strerror(errno) : "it is not a regular file";
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    out.swap(bytes);
    return true;
}
