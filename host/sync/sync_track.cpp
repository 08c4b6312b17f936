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
            // Of several keys on one row the last one holds from that row on.
            while (mid + 1 < track.key_count && track.keys[mid + 1].row == row) ++mid;
            return mid;
        }
    }
    return lo - 1;
}

double value_at(const cSyncTrack& track, double row) {
    if (track.key_count <= 0 || !track.keys) return 0.0;
    // Before the first key (NaN included). Said here, not left to the search, because rows
    // below the 32-bit range are pinned to its lowest row, where a first key may sit.
    if (!(row >= static_cast<double>(track.keys[0].row))) return track.keys[0].value;
    int32_t i = find_key(track, row_index(row));
    if (i < 0) return track.keys[0].value;
    if (i > track.key_count - 2) return track.keys[track.key_count - 1].value;

    const cSyncKey& k0 = track.keys[i];
    const cSyncKey& k1 = track.keys[i + 1];
    // The row difference is an integer difference; 64 bits keep it exact for any two rows.
    double span = static_cast<double>(static_cast<int64_t>(k1.row) - static_cast<int64_t>(k0.row));
    // Keys out of order (a file the reader does not check) make no segment: hold the key.
    if (span <= 0.0) return k0.value;
    double t = (row - static_cast<double>(k0.row)) / span;
    // The value difference is formed in single precision, everything after it in double;
    // only two values more than the float range apart need the double difference.
    float d_single = k1.value - k0.value;
    double d = std::isfinite(d_single) ? d_single : static_cast<double>(k1.value) - static_cast<double>(k0.value);
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
