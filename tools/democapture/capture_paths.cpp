// Locating the show and checking the output places of a capture. Uses std::filesystem, POSIX
// open/unlink and the atomic writer of base/files; writes nothing but short-lived probe files,
// the reserved partial file and the files it is asked to write whole.
#include "tools/democapture/capture_paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/partial_files.h"

namespace fs = std::filesystem;
using namespace capture_config;

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

bool unwritable(int error_number) {
    return error_number == EROFS || error_number == EACCES || error_number == EPERM || error_number == ENOSPC ||
           error_number == EDQUOT;
}

// Creates a new file exclusively; on failure, reason holds the system's text and the answer
// says whether the place cannot take files at all (read-only, no permission, full).
ePlace create_exclusive(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = std::strerror(errno);
        return unwritable(errno) ? ePlace::unwritable : ePlace::refused;
    }
    ::close(fd);
    return ePlace::usable;
}

// Outermost first.
std::vector<std::string> created_folders;

}  // namespace

std::string absolute_from_here(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) absolute = path;
    return absolute.lexically_normal().string();
}

std::string default_show_directory() {
    std::error_code ec;
    const fs::path tool = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return absolute_from_here(default_show_from_tool);
    return (tool.parent_path() / default_show_from_tool).lexically_normal().string();
}

bool check_show_directory(const std::string& dir, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = "the show directory " + quoted(dir) + " does not exist";
        return false;
    }
    if (!fs::is_directory(fs::path(dir) / show_data_directory, ec)) {
        error = "the show directory " + quoted(dir) + " has no " + show_data_directory + "/ folder";
        return false;
    }
    if (!fs::is_regular_file(fs::path(dir) / show_music_path, ec)) {
        error = "the show directory " + quoted(dir) + " has no music " + quoted(show_music_path) +
                ", and the music is the only clock of the show";
        return false;
    }
    return true;
}

ePlace prepare_out_directory(const std::string& dir, std::string& error) {
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
        error = "the output " + quoted(dir) + " exists and is not a directory";
        return ePlace::refused;
    }
    std::vector<std::string> missing;  // innermost first
    fs::path folder = fs::path(dir).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();  // "out/"
    for (; !folder.empty() && folder != folder.parent_path() && !fs::exists(folder, ec); folder = folder.parent_path()) {
        missing.push_back(folder.string());
    }
    fs::create_directories(dir, ec);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (fs::is_directory(*it)) created_folders.push_back(*it);
    }
    if (ec || !fs::is_directory(dir)) {
        error = "cannot create the output directory " + quoted(dir) + ": " + ec.message();
        return unwritable(ec.value()) ? ePlace::unwritable : ePlace::refused;
    }
    const std::string probe = partial_name_for((fs::path(dir) / "probe").string());
    std::string reason;
    const ePlace place = create_exclusive(probe, reason);
    if (place != ePlace::usable) {
        error = "cannot write into the output directory " + quoted(dir) + ": " + reason;
        return place;
    }
    ::unlink(probe.c_str());
    return ePlace::usable;
}

void remove_empty_created_folders() {
    for (auto it = created_folders.rbegin(); it != created_folders.rend(); ++it) ::rmdir(it->c_str());
    created_folders.clear();
}

ePlace prepare_video_target(const std::string& file, std::string& partial, std::string& error) {
    std::error_code ec;
    const fs::path target(file);
    if (fs::is_directory(target, ec)) {
        error = "the video " + quoted(file) + " is a directory";
        return ePlace::refused;
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) {
        error = "cannot write the video " + quoted(file) + ": the folder " + quoted(folder.string()) +
                " does not exist";
        return ePlace::refused;
    }
    partial = partial_name_for(file);
    std::string reason;
    const ePlace place = create_exclusive(partial, reason);
    if (place != ePlace::usable) {
        error = "cannot write the video " + quoted(file) + ": " + reason;
        partial.clear();
    }
    return place;
}

std::string partial_name_for(const std::string& path) {
    const fs::path target(path);
    // Hidden, marked with the process id, and with the target's extension kept last so tools
    // that look at extensions still see what it is.
    const std::string name = "." + target.stem().string() + partial_marker + std::to_string(::getpid()) +
                             target.extension().string();
    return (target.parent_path() / name).string();
}

const cAtomicWriteOptions& capture_write_options() {
    static const cTempRegistry registry{partial_files::hold, partial_files::release, partial_files::made};
    static const cAtomicWriteOptions options = [] {
        cAtomicWriteOptions o;
        o.create_mode = 0644;
        o.keep_mode = false;
        o.registry = &registry;
        return o;
    }();
    return options;
}

bool write_file_in_place(const std::string& path, const uint8_t* data, size_t bytes, std::string& error) {
    int code = 0;
    if (write_file_atomically(path, std::string_view(reinterpret_cast<const char*>(data), bytes), code,
                              capture_write_options())) {
        return true;
    }
    error = "cannot write " + quoted(path) + ": " + std::strerror(code);
    return false;
}
