// Names and creation of temporary files beside a target. Depends on POSIX files (open with
// O_EXCL, link); never replaces or removes an existing file.
#include "base/files/sibling_temp.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>

namespace {

constexpr const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;
// Names already taken are tried again with other letters; this many times at most.
constexpr int kAttempts = 100;

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// Six letters or digits, as mkstemp makes them, of which at least one is a capital or a digit:
// a person's own ".show.tracks.backup" is no temporary.
bool is_suffix(const std::string& text) {
    return text.size() == kSuffixLength && std::all_of(text.begin(), text.end(), is_letter) &&
           !std::all_of(text.begin(), text.end(), is_lower);
}

}  // namespace

std::string sibling_temp_candidate(const std::string& target) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string suffix;
    while (!is_suffix(suffix)) {
        suffix.clear();
        for (std::size_t i = 0; i < kSuffixLength; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
    }
    std::filesystem::path path(target);
    return (path.parent_path() / ("." + path.filename().string() + "." + suffix)).string();
}

namespace {

// Tries fresh names until make (which creates the file under a name, errno EEXIST when the
// name is taken) succeeds; each name is held in the registry before the file is made.
template <typename Make>
bool make_sibling(const std::string& target, std::string& path, const cTempRegistry* registry, int* slot, Make make) {
    int held = -1;
    for (int i = 0; i < kAttempts; ++i) {
        path = sibling_temp_candidate(target);
        if (registry && registry->hold) held = registry->hold(path);
        if (make(path)) {
            if (registry && registry->made) registry->made(path);
            if (slot) *slot = held;
            return true;
        }
        const int code = errno;
        if (registry && registry->release) registry->release(held);
        held = -1;
        errno = code;
        if (code != EEXIST) break;
    }
    if (slot) *slot = -1;
    return false;
}

}  // namespace

int create_sibling_temp(const std::string& target, mode_t mode, std::string& path, const cTempRegistry* registry,
                        int* slot) {
    int fd = -1;
    make_sibling(target, path, registry, slot, [&](const std::string& name) {
        fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        return fd >= 0;
    });
    return fd;
}

bool link_sibling_temp(const std::string& existing, const std::string& target, std::string& path,
                       const cTempRegistry* registry, int* slot) {
    return make_sibling(target, path, registry, slot,
                        [&](const std::string& name) { return ::link(existing.c_str(), name.c_str()) == 0; });
}

bool sibling_temp_target(const std::string& name, std::string& target_name) {
    // "." + at least one character + "." + the suffix
    if (name.size() < 3 + kSuffixLength || name[0] != '.' || name[name.size() - kSuffixLength - 1] != '.') return false;
    if (!is_suffix(name.substr(name.size() - kSuffixLength))) return false;
    target_name = name.substr(1, name.size() - kSuffixLength - 2);
    return true;
}
