// POSIX implementation of the file utilities (getcwd, opendir/fnmatch, open/read/write,
// unlink, stat, strerror); the copy goes through the atomic writer (atomic_file.h).
#include "file_utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "base/files/atomic_file.h"
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
    // Written beside the destination and put in place in one step, so that a reader (or a
    // library still mapped from the old file) never sees a half-written copy, and no file
    // already there is truncated. The copy has the source's permissions.
    cAtomicWriteOptions options;
    options.create_mode = info.st_mode & 0777;
    options.keep_mode = false;
    cAtomicFile copy(destination, options);
    bool ok = copy.create();
    int code = ok ? 0 : copy.error();
    if (ok && !copy_bytes(from, copy.fd())) {
        ok = false;
        code = errno;
    }
    ::close(from);
    if (ok && !copy.commit(overwrite)) {
        ok = false;
        code = copy.error();
    }
    if (!ok) {
        copy.discard();
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
    std::string bytes;
    const cReadOutcome outcome = read_whole_file(path, bytes, cReadOptions{});
    // Silent where the file is not there to look at, or fails half-way through.
    if (outcome.failure == cReadOutcome::missing || outcome.failure == cReadOutcome::cannot_look ||
        outcome.failure == cReadOutcome::cannot_read) {
        return false;
    }
    if (!outcome.ok()) {
        assert_failed("wtf");
        return false;
    }
    if (bytes.empty()) {
        std::cerr << "read empty file..." << std::endl;
        return false;
    }
    out.swap(bytes);
    return true;
}
