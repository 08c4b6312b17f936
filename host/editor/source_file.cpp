// Whole-file read and the atomic, durable replacement of the track source with its backup.
// Depends on POSIX files (mkstemp, fsync, rename). Never leaves a partial file under the
// source's or the backup's name.
#include "host/editor/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/files/file_utils.h"

namespace {

std::string errno_text(int code) { return std::strerror(code); }

// Makes a rename in the folder durable.
void sync_folder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// bytes into a temporary file beside path, then renamed onto path; with durable, flushed to the
// disk before the rename and the rename itself made durable.
bool put_atomically(const std::string& path, const std::string& bytes, mode_t mode, bool durable, std::string& error) {
    std::filesystem::path target(path);
    std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    std::string temp = (std::filesystem::path(folder) / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot create a temporary file in \"" + folder + "\": " + errno_text(errno);
        return false;
    }
    bool ok = write_all(fd, bytes) && ::fchmod(fd, mode) == 0 && (!durable || ::fsync(fd) == 0);
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        error = "cannot write \"" + path + "\": " + errno_text(saved);
        return false;
    }
    if (durable) sync_folder(folder);
    return true;
}

// The file at path under the name backup as well, replacing what backup held.
bool link_backup(const std::string& path, const std::string& backup) {
    std::string temp = backup + ".partial";
    ::unlink(temp.c_str());
    if (::link(path.c_str(), temp.c_str()) != 0) return false;
    if (std::rename(temp.c_str(), backup.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

}  // namespace

bool read_source_file(const std::string& path, std::string& text, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read \"" + path + "\": " + errno_text(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = "\"" + path + "\" is not a plain file";
        return false;
    }
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int saved = errno;
            ::close(fd);
            error = "cannot read \"" + path + "\": " + errno_text(saved);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    text = std::move(out);
    return true;
}

bool replace_source_file(const std::string& path, const std::string& text, const std::string& previous,
                         std::string& error) {
    struct stat info {};
    mode_t mode = 0644;
    if (::stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
    // The backup needs no flush of its own: the previous source's bytes are on the disk already,
    // and the flush of the folder after the new source's rename covers its name too.
    std::string backup = path + ".bak";
    if (!link_backup(path, backup) && !put_atomically(backup, previous, mode, false, error)) return false;
    return put_atomically(path, text, mode, true, error);
}
