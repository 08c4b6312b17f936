// File stamps from stat. POSIX only; never opens the file.
#include "base/files/file_stamp.h"

namespace {

int64_t nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

cFileStamp file_stamp_of(const struct stat& info) {
    return {true,
            static_cast<uint64_t>(info.st_dev),
            static_cast<uint64_t>(info.st_ino),
            static_cast<int64_t>(info.st_size),
            nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

cFileStamp file_stamp(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return file_stamp_of(info);
}

cFileStamp regular_file_stamp(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return file_stamp_of(info);
}

bool same_size_and_mtime(const cFileStamp& a, const cFileStamp& b) {
    return a.exists == b.exists && a.size == b.size && a.mtime_ns == b.mtime_ns;
}
