// Compiling a track source text into the "_NAME.track" files: parse, then write every file
// all-or-nothing. The one code path of "synctool compile" and of the tools that edit the
// source while the show plays. Reports nothing itself; callers print the outcome.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/sync/track_file.h"
#include "host/sync/track_source.h"

struct cCompileOutcome {
    cParsedSource parsed;             // problems non-empty: nothing was written
    cWriteOutcome write;              // the file writer's outcome (only when the source is good)
    std::size_t keys = 0;             // keys of every track together
    bool ok() const { return parsed.ok() && write.ok; }
};

// Parses text and, when it has no problem, writes one file per track into directory.
cCompileOutcome compile_track_text(std::string_view text, const std::string& directory);
// The writing half, for a caller that has parsed (and checked) the source already: one file
// per track of a problem-free parse, all-or-nothing.
cWriteOutcome write_compiled_tracks(const cParsedSource& parsed, const std::string& directory);
// The files of a problem-free parse, one per track, for a caller that writes them itself.
std::vector<cTrackFileWrite> compiled_track_files(const cParsedSource& parsed);

// What the development mode's start found in the track folder and did there.
struct cTrackFolderRepair {
    std::string read_error;                // why the source could not be read (nothing compiled)
    cParsedSource parsed;                  // of the source; problems: the track files were left alone
    cWriteOutcome write;                   // compiling it again: written = the files that differed
    std::vector<std::string> removed;      // stale temporaries removed, bare names, sorted
};
// Removes the temporaries a writer stopped half-way left in directory (of the track files, of
// the source and of its backup), then compiles the source at source_path again where a track
// file in directory differs from it. Run before the show reads a track; reports nothing itself.
cTrackFolderRepair repair_track_folder(const std::string& source_path, const std::string& directory);

// The "_NAME.track" files in directory that belong to no track of tracks, sorted by name.
// The show still reads them, so callers warn about them.
std::vector<std::string> stray_track_files(const std::string& directory, const std::vector<cSourceTrack>& tracks);
