// Names and creation of temporary files beside a target. Depends on POSIX files (open with
// O_EXCL, link); never replaces or removes an existing file.
#include "host/sync/sibling_temp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

namespace {

constexpr const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;
// Names already taken are tried again with other letters; this many times at most.
constexpr int kAttempts = 100;

std::string candidate(const std::string& target) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::filesystem::path path(target);
    std::string name = "." + path.filename().string() + ".";
    for (std::size_t i = 0; i < kSuffixLength; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    return (path.parent_path() / name).string();
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
    for (std::size_t i = name.size() - kSuffixLength; i < name.size(); ++i) {
        char c = name[i];
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letter) return false;
    }
    target_name = name.substr(1, name.size() - kSuffixLength - 2);
    return true;
}
