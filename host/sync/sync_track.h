// Sync track records (keys on the musical row grid) and their evaluation: the key search
// and the four interpolation kinds. Plain data and pure functions over it; nothing here
// reads files (sync_store.cpp does) or allocates.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

// How the value goes on from a key to the next one. Any other number makes that segment 0.
enum eSyncInterpolation : int32_t {
    kSyncStep = 0,       // hold the key's value until the next key
    kSyncLinear = 1,
    kSyncSmooth = 2,     // ease in and out: (3 - 2t) t^2
    kSyncQuadratic = 3,  // ease in: t^2
};

struct cSyncKey {
    int32_t row = 0;
    float value = 0.0f;
    int32_t interpolation = kSyncStep;
};

struct cSyncTrack {
    std::string name;                  // exactly as first requested
    std::unique_ptr<cSyncKey[]> keys;  // null until the track's file has been read
    int32_t key_count = 0;             // 0 for a track without a (readable) file
};

// Index of the key at row (the last of several keys on that row), or else of the last key
// below row; -1 when row lies before the first key or the track has no keys. Keys are
// expected in increasing row order; other orders give some index but never read outside the
// keys.
int32_t find_key(const cSyncTrack& track, int32_t row);

// The track's value at a fractional row: 0 without keys, the first key's value before it,
// the last key's value at or after it, otherwise the earlier key's interpolation. Finite
// whenever the keys' values are, whatever the rows and the values' distance.
double value_at(const cSyncTrack& track, double row);
