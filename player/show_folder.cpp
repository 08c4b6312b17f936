// Finding the show folder from the player's own program, and where a show whose folder is
// read-only writes instead. Writes to the terminal only the one line that says where the logs
// went; never writes below a show installed under /usr.
#include "player/show_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "base/files/file_utils.h"
#include "base/log/console.h"
#include "player/player_config.h"

namespace {

using namespace player_config;

std::string parent_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string with_slash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The base directories' rule: a relative $XDG_STATE_HOME is invalid and is ignored.
std::string state_directory() {
    std::string base = environment(kStateHomeVariable);
    if (base.empty() || base[0] != '/') {
        const std::string home = environment("HOME");
        if (home.empty() || home[0] != '/') return {};
        base = with_slash(home) + kDefaultStateHome;
    }
    return with_slash(base) + kStateFolderName;
}

// Every missing folder on the way, the last one for the user alone.
bool make_directories(const std::string& path, std::string& reason) {
    std::string sofar;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        sofar = path.substr(0, end);
        start = end + 1;
        if (sofar.empty()) continue;
        if (::mkdir(sofar.c_str(), kStateFolderMode) != 0 && errno != EEXIST) {
            reason = std::strerror(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = "it is not a folder";
        return false;
    }
    if (::access(path.c_str(), W_OK) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

// The show writes its logs and module copies into its bin/ when it may: not below /usr, and
// bin/ (with its module cache, where there is one) open for writing.
bool may_write(const std::string& bin) {
    if (with_slash(bin).rfind(kSystemPrefix, 0) == 0) return false;
    if (::access(bin.c_str(), W_OK) != 0) return false;
    const std::string cache = with_slash(bin) + kModuleCacheFolder;
    return ::access(cache.c_str(), F_OK) != 0 || ::access(cache.c_str(), W_OK) == 0;
}

}  // namespace

void enter_program_directory() {
    char own[4096];
    const ssize_t length = ::readlink("/proc/self/exe", own, sizeof own - 1);
    if (length <= 0) return;
    set_current_directory(parent_of(std::string(own, static_cast<size_t>(length))));
}

cShowPlaces enter_show_folder() {
    cShowPlaces places;
    const std::string bin = current_directory();
    if (bin.empty()) {
        // Where the folder cannot be named, as the player always did: logs here, the show above.
        redirect_console();
        set_current_directory("..");
        places.show_directory = current_directory();
        places.module_cache_directory = absolute_path("bin/") + kModuleCacheFolder;
        return places;
    }
    places.show_directory = parent_of(bin);
    places.log_directory = bin;
    places.module_cache_directory = with_slash(bin) + kModuleCacheFolder;

    std::string note;
    if (!may_write(bin)) {
        places.in_state_directory = true;
        const std::string state = state_directory();
        std::string reason = "neither $XDG_STATE_HOME nor $HOME is an absolute path";
        if (!state.empty() && make_directories(state, reason)) {
            places.log_directory = state;
            places.module_cache_directory = with_slash(state) + kModuleCacheFolder;
            note = "# note: the show's folder \"" + places.show_directory + "\" is read-only; its logs and module copies go to \"" +
                   state + "\"";
            std::cout << note << std::endl;
        } else {
            // Without a place to write, the reports stay on the terminal and modules cannot be copied.
            places.log_directory.clear();
            std::cerr << "# WARNING: the show's folder \"" << places.show_directory << "\" is read-only and "
                      << (state.empty() ? std::string("there is no state folder") : "the state folder \"" + state + "\" cannot be made")
                      << " (" << reason << "); reports stay on this terminal" << std::endl;
        }
    }
    // The module manager copies into the cache and does not make it: a show as unpacked has none.
    // (A cache that cannot be made is reported by the copies that fail.)
    ::mkdir(places.module_cache_directory.c_str(), places.in_state_directory ? kStateFolderMode : kCacheFolderMode);
    if (!places.log_directory.empty() && set_current_directory(places.log_directory)) {
        redirect_console();
        if (!note.empty()) std::cout << note << std::endl;
    }
    set_current_directory(places.show_directory);
    return places;
}
