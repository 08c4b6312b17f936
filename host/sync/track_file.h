// The ".track" file: int32 key count, then per key int32 row, float32 value and int8
// interpolation, all little-endian, no header. Encoding, checked decoding, and writing a set
// of files all-or-nothing (temporary names, renamed into place only when all are written, and
// the replaced ones put back when a rename fails half-way).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/files/atomic_file.h"
#include "host/sync/sync_track.h"

std::string encode_track(const std::vector<cSyncKey>& keys);

// The keys of a file's bytes. False, with the reason in error, when the length does not
// match its key count (4 + 9 * count bytes) or the count is negative.
bool decode_track(const std::string& bytes, std::vector<cSyncKey>& keys, std::string& error);

// "_" + name + ".track"
std::string track_file_name(const std::string& name);
// Whether name, a bare file name, is a track file's: "_" + a name + ".track".
bool is_track_file_name(const std::string& name);
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

// A set of track files replaced together, in two steps, so that a caller can put other files
// in place between them. prepare writes each changed file beside its target (a new file gets
// the mode any new file gets; a replaced one keeps its own); commit renames them all into place
// and, when a rename fails half-way, puts back the files it had replaced. Temporaries left when
// the object goes (a failure, a commit never made) are removed.
class cTrackFileSet {
public:
    cTrackFileSet() = default;
    ~cTrackFileSet();
    cTrackFileSet(const cTrackFileSet&) = delete;
    cTrackFileSet& operator=(const cTrackFileSet&) = delete;

    // Writes the changed files of the set into directory (created when missing); nothing
    // under a name the show reads changes. Files already holding the same bytes are left alone.
    cWriteOutcome prepare(const std::string& directory, const std::vector<cTrackFileWrite>& files);
    // After a prepare that succeeded: every file in place, or (not ok) every file as it was.
    cWriteOutcome commit();

private:
    struct cPending {
        cAtomicFile file;         // the new bytes, beside the target
        std::string final_path;
        bool replaces = false;    // a file was there before
        std::string held;         // the replaced file under a second name, kept until the commit is done
    };
    std::vector<cPending> pending_;
    cWriteOutcome outcome_;
    void discard();
};

// Writes every file into directory (created when missing): a prepare and a commit of one set.
// A failure leaves every existing file as it was. Files already holding the same bytes are
// not touched.
cWriteOutcome write_track_files(const std::string& directory, const std::vector<cTrackFileWrite>& files);
