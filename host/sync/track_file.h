// The ".track" file: int32 key count, then per key int32 row, float32 value and int8
// interpolation, all little-endian, no header. Encoding, checked decoding, and writing a set
// of files all-or-nothing (temporary names, renamed into place only when all are written).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/sync/sync_track.h"

std::string encode_track(const std::vector<cSyncKey>& keys);

// The keys of a file's bytes. False, with the reason in error, when the length does not
// match its key count (4 + 9 * count bytes) or the count is negative.
bool decode_track(const std::string& bytes, std::vector<cSyncKey>& keys, std::string& error);

// "_" + name + ".track"
std::string track_file_name(const std::string& name);
// The track name inside a file name: "path/_kick.track" gives "kick". A name that does not
// follow the pattern gives its file name without a ".track" ending.
std::string track_name_of_file(const std::string& path);

struct cTrackFileWrite {
    std::string name;     // file name within the directory
    std::string bytes;
};
struct cWriteOutcome {
    bool ok = false;
    int written = 0;      // files replaced or created
    int unchanged = 0;    // files that already held exactly these bytes (left untouched)
    std::string error;    // why nothing was written, when not ok
};

// Writes every file into directory (created when missing). Each file goes to a temporary
// name first; only when all of them are complete are they renamed into place, so a failure
// leaves every existing file as it was. Files already holding the same bytes are not touched.
cWriteOutcome write_track_files(const std::string& directory, const std::vector<cTrackFileWrite>& files);
