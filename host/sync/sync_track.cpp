// Key search and interpolation of a sync track. Runs several times per frame for every
// track a scene asks for, so it allocates nothing and never touches the file system.
#include "host/sync/sync_track.h"

#include <cmath>
#include <limits>

namespace {

// floor(row) as a row index. Rows beyond the 32-bit range (and NaN) are pinned to its ends,
// where they land before the first or after the last key, instead of an undefined cast.
int32_t row_index(double row) {
    constexpr double kHighest = static_cast<double>(std::numeric_limits<int32_t>::max());
    constexpr double kLowest = static_cast<double>(std::numeric_limits<int32_t>::min());
    double whole = std::floor(row);
    if (whole >= kHighest) return std::numeric_limits<int32_t>::max();
    if (whole > kLowest) return static_cast<int32_t>(whole);
    return std::numeric_limits<int32_t>::min();
}

}  // namespace

int32_t find_key(const cSyncTrack& track, int32_t row) {
    if (track.key_count <= 0 || !track.keys) return -1;
    int32_t lo = 0;
    int32_t hi = track.key_count;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;  // (lo + hi) / 2 without the overflow
        int32_t at = track.keys[mid].row;
        if (at < row) {
            lo = mid + 1;
        } else if (at > row) {
            hi = mid;
        } else {
            return mid;
        }
    }
    return lo - 1;
}

double value_at(const cSyncTrack& track, double row) {
    if (track.key_count <= 0 || !track.keys) return 0.0;
    int32_t i = find_key(track, row_index(row));
    if (i < 0) return track.keys[0].value;
    if (i > track.key_count - 2) return track.keys[track.key_count - 1].value;

    const cSyncKey& k0 = track.keys[i];
    const cSyncKey& k1 = track.keys[i + 1];
    // The row difference is an integer difference; 64 bits keep it exact for any two rows.
    double span = static_cast<double>(static_cast<int64_t>(k1.row) - static_cast<int64_t>(k0.row));
    double t = (row - static_cast<double>(k0.row)) / span;
    // The value difference is formed in single precision, everything after it in double.
    float d = k1.value - k0.value;
    switch (k0.interpolation) {
        case kSyncStep:
            return k0.value;
        case kSyncLinear:
            return k0.value + d * t;
        case kSyncSmooth:
            return k0.value + d * (3.0 - 2.0 * t) * (t * t);
        case kSyncQuadratic:
            // t raised to the power 2.0, as the one rounded product: what an optimised build
            // makes of std::pow(t, 2.0) anyway. The library's pow, which an unoptimised build
            // calls, can be a last bit off, and the debug and release players would disagree.
            return k0.value + d * (t * t);
        default:
            return 0.0;
    }
}
