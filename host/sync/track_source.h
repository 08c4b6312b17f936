// The human-edited track source: "track NAME" header lines, each followed by key lines
// "POSITION VALUE INTERPOLATION"; "#" starts a comment, blank lines are ignored.
// Parsing collects every problem with its line and column; it never writes files.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/sync/sync_track.h"

struct cSourceTrack {
    std::string name;
    int line = 0;                  // of the "track" header, 1-based
    std::vector<cSyncKey> keys;    // strictly increasing rows
    std::vector<int> key_lines;    // the 1-based line of each key, in the order of keys
};

struct cSourceProblem {
    int line = 0;                  // 1-based
    int column = 0;                // 1-based, of the offending token (1 for a whole line)
    std::string message;
};

struct cParsedSource {
    std::vector<cSourceTrack> tracks;       // in source order
    std::vector<cSourceProblem> problems;   // empty when the source is good
    bool ok() const { return problems.empty(); }
};

cParsedSource parse_track_source(std::string_view text);

// The lines of one track that dump reproduces: its header and key lines with comments and
// trailing blanks removed, each ended by "\n". Empty when the source has no such track.
std::string canonical_track_lines(std::string_view text, std::string_view track_name);

// Dump's text of one track: its header line, then one canonical key line per key.
std::string format_track(std::string_view name, const std::vector<cSyncKey>& keys);
