// Names and creation of temporary files beside a target. Depends on POSIX files (open with
// O_EXCL, link); never replaces or removes an existing file.
#include "host/sync/sibling_temp.h"

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

std::string candidate(const std::string& target) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string suffix;
    while (!is_suffix(suffix)) {
        suffix.clear();
        for (std::size_t i = 0; i < kSuffixLength; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
    }
    std::filesystem::path path(target);
    return (path.parent_path() / ("." + path.filename().string() + "." + suffix)).string();
}

}  // namespace

int create_sibling_temp(const std::string& target, mode_t mode, std::string& path) {
    for (int i = 0; i < kAttempts; ++i) {
        path = candidate(target);
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool link_sibling_temp(const std::string& existing, const std::string& target, std::string& path) {
    for (int i = 0; i < kAttempts; ++i) {
        path = candidate(target);
        if (::link(existing.c_str(), path.c_str()) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

bool sibling_temp_target(const std::string& name, std::string& target_name) {
    // "." + at least one character + "." + the suffix
    if (name.size() < 3 + kSuffixLength || name[0] != '.' || name[name.size() - kSuffixLength - 1] != '.') return false;
    if (!is_suffix(name.substr(name.size() - kSuffixLength))) return false;
    target_name = name.substr(1, name.size() - kSuffixLength - 2);
    return true;
}
