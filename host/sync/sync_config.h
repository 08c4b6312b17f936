// Fixed numbers of the sync subsystem: the musical grid, where track files live and how
// long a track file path may be. Only constants here; nothing that allocates or reads files.
#pragma once
#include <cstddef>

#include "host/show/host_constants.h"

// The show's music runs at 180 beats per minute with 8 rows per beat: 24 rows per second.
constexpr double kSyncBeatsPerMinute = host_constants::beats_per_minute;
constexpr double kSyncRowsPerBeat = host_constants::rows_per_beat;

// Where the host keeps its track files, relative to the show directory. A track named
// "kick" is read from kSyncBasePath + "_kick.track".
constexpr const char* kSyncBasePath = host_constants::sync_base_path;
constexpr const char* kSyncTrackPrefix = "_";
constexpr const char* kSyncTrackSuffix = ".track";

// Track file paths are built in a buffer of this many characters, terminator included.
// A longer path names no file: its track simply has no keys.
constexpr std::size_t kSyncTrackPathCapacity = 260;

// Bytes of one key in a ".track" file: row (int32), value (float32), interpolation (int8);
// the file starts with a 4-byte key count.
constexpr std::size_t kSyncKeyCountBytes = 4;
constexpr std::size_t kSyncKeyBytes = 9;

// ---- the track source (the text form of every track, "data/sync/show.tracks") ----
// The human-edited source of every track of the show, relative to the show directory.
constexpr const char* kSyncSourcePath = "data/sync/show.tracks";
constexpr int kSyncRowsPerBeatInt = static_cast<int>(kSyncRowsPerBeat);

// Key lines in their canonical form: two spaces, the position padded to 9 characters, the
// value padded to 11, then the interpolation name. A longer token is followed by one space.
constexpr const char* kSyncKeyIndent = "  ";
constexpr std::size_t kSyncPositionWidth = 9;
constexpr std::size_t kSyncValueWidth = 11;

// Track names become part of a file path that the show builds in a 260-character buffer.
constexpr std::size_t kSyncMaxTrackNameLength = 128;
