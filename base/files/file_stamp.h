// What one look at a file tells about whether it changed: its identity (device and inode), its
// size and its modification and change times. For the watchers that wait until a file stays
// the same and for the writers that check a file is still the one they saw. Reads no bytes.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <string>

struct cFileStamp {
    bool exists = false;  // false: nothing there (or, from regular_file_stamp, no plain file)
    uint64_t device = 0, inode = 0;
    int64_t size = -1, mtime_ns = -1, ctime_ns = -1;
    bool operator==(const cFileStamp&) const = default;
};

// The stamp of a file of any kind (a link is followed).
cFileStamp file_stamp(const std::string& path);
// The same for a plain file; anything else (a folder, a pipe) has the empty stamp.
cFileStamp regular_file_stamp(const std::string& path);
cFileStamp file_stamp_of(const struct stat& info);

// A write shows in the size or the modification time; a file put in place by a rename, a
// change of permissions or of links shows only in the identity or the change time. For those
// that wait on a writer and nothing else.
bool same_size_and_mtime(const cFileStamp& a, const cFileStamp& b);
