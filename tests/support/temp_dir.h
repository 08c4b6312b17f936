// A fresh directory under /tmp for one test, removed with everything in it at the end.
#pragma once
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/files/file_read.h"

class cTempDir {
public:
    cTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "demotest-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        path_ = made ? made : "";
    }
    ~cTempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    cTempDir(const cTempDir&) = delete;
    cTempDir& operator=(const cTempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes bytes to a file below the directory (creating parent directories).
    std::string write(const std::string& name, const std::string& bytes) const {
        std::string full = *this / name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << bytes;
        return full;
    }

private:
    std::string path_;
};

// Reads a whole file; empty when it cannot be read.
inline std::string slurp(const std::string& path) {
    std::string bytes;
    read_whole_file(path, bytes, cReadOptions{});
    return bytes;
}

// The names of the entries of a folder, sorted.
inline std::vector<std::string> file_names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
