// The track store: every sync track asked for so far, created on first request and read
// from its ".track" file through the store's file callbacks. Tracks are never removed or
// reloaded. Reports nothing: a track without a readable file simply has no keys.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/sync/sync_track.h"

// The file callbacks; create_store installs the C library's fopen, fread and fclose.
// Tests may install their own to watch or falsify what the reader sees.
using SyncOpenFn = FILE* (*)(const char* path, const char* mode);
using SyncReadFn = std::size_t (*)(void* buffer, std::size_t element_size, std::size_t element_count, FILE* file);
using SyncCloseFn = void (*)(FILE* file);

struct cSyncStore {
    std::string base_path;                            // prefix of every track file path
    std::vector<std::unique_ptr<cSyncTrack>> tracks;  // in order of first request
    SyncOpenFn open = nullptr;
    SyncReadFn read = nullptr;
    SyncCloseFn close = nullptr;
};

// A store on base_path (kept as given) with the C library's file callbacks and no tracks;
// null when it cannot be allocated.
std::unique_ptr<cSyncStore> create_store(const char* base_path);

// Index of the track named exactly name (byte-wise, case-sensitive); -1 if none.
int32_t find_track(const cSyncStore& store, const char* name);

// The track of that name; the first request creates it and reads its file. Always the
// same object for the same name. Null only for a null name.
cSyncTrack* get_track(cSyncStore& store, const char* name);

// Reads base path + "_" + name + ".track" into the track's keys. False (the track keeps
// no keys) when the path is too long, the file cannot be opened, or it holds no whole key.
bool read_track_file(const cSyncStore& store, cSyncTrack& track);
