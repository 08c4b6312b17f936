// Fuzzes the ".track" reader, fed from memory through the store's file callbacks, and the
// evaluation of whatever it read at many rows (extreme, fractional, on and between keys).
// Checks what must hold for any file: whole keys only, a closed file, agreement with the
// checked decoder, and values that stay finite and keep the end keys' values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "host/sync/sync_store.h"
#include "host/sync/track_file.h"

namespace {

// The one file the store can open: the fuzzer's input.
struct cMemoryFile {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    int opened = 0;
    int closed = 0;
};
cMemoryFile g_file;

FILE* open_memory(const char*, const char*) {
    ++g_file.opened;
    g_file.at = 0;
    return reinterpret_cast<FILE*>(&g_file);  // a handle only the callbacks below look into
}

std::size_t read_memory(void* buffer, std::size_t element_size, std::size_t element_count, FILE* handle) {
    cMemoryFile& file = *reinterpret_cast<cMemoryFile*>(handle);
    if (element_size == 0) return 0;
    std::size_t whole = std::min(element_count, (file.size - file.at) / element_size);
    std::memcpy(buffer, file.data + file.at, whole * element_size);
    file.at += whole * element_size;
    return whole;
}

void close_memory(FILE*) { ++g_file.closed; }

bool same_key(const cSyncKey& a, const cSyncKey& b) {
    return a.row == b.row && a.interpolation == b.interpolation && std::memcmp(&a.value, &b.value, sizeof a.value) == 0;
}

bool valid_kind(int32_t interpolation) { return interpolation >= kSyncStep && interpolation <= kSyncQuadratic; }

// Rows worth evaluating: the extremes of double and of the 32-bit row range, and around each
// of the first keys: just before, on, fractions after, and midway to the next one.
std::vector<double> rows_to_try(const cSyncTrack& track) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    constexpr double kLow = std::numeric_limits<int32_t>::min();
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    std::vector<double> rows = {-kInf, -1e300, kLow - 1.0, kLow - 0.5, kLow, kLow + 0.5, -1.0, -0.5, 0.0, 0.5,
                                1.0,   kHigh - 0.5, kHigh, kHigh + 0.5, kHigh + 1.0, 1e300, kInf, std::nan("")};
    const int32_t count = std::min<int32_t>(track.key_count, 64);
    for (int32_t i = 0; i < count; ++i) {
        const double row = track.keys[i].row;
        for (double offset : {-1.0, -0.5, -1e-9, 0.0, 1e-9, 0.25, 0.5, 0.999999}) rows.push_back(row + offset);
        if (i + 1 < track.key_count) rows.push_back((row + track.keys[i + 1].row) / 2.0);
    }
    return rows;
}

void check_values(const cSyncTrack& track) {
    const int32_t count = track.key_count;
    if (count == 0) {
        FUZZ_CHECK(value_at(track, 0.0) == 0.0, "a track without keys reads 0");
        return;
    }
    const cSyncKey* keys = track.keys.get();
    bool finite = true, ascending = true, zero_possible = false;
    double lowest = keys[0].value, highest = keys[0].value;
    for (int32_t i = 0; i < count; ++i) {
        finite = finite && std::isfinite(keys[i].value);
        lowest = std::min<double>(lowest, keys[i].value);
        highest = std::max<double>(highest, keys[i].value);
        if (!valid_kind(keys[i].interpolation)) zero_possible = true;
        if (i > 0) ascending = ascending && keys[i].row >= keys[i - 1].row;
    }
    // Rounding of the value difference in single precision may overshoot a key by a hair.
    const double slack = finite ? (highest - lowest) * 1e-6 : 0.0;
    const double first = keys[0].value, last = keys[count - 1].value;

    for (double row : rows_to_try(track)) {
        const double value = value_at(track, row);
        if (finite) {
            FUZZ_CHECK(std::isfinite(value), "finite keys give finite values");
            FUZZ_CHECK(std::isfinite(static_cast<float>(value)), "the value fits a float, as the device returns it");
            FUZZ_CHECK((value >= lowest - slack && value <= highest + slack) || (zero_possible && value == 0.0),
                       "values stay within the keys' values");
        }
        if (!ascending) continue;
        if (std::isnan(row) || row < keys[0].row) {
            FUZZ_CHECK(value == first || (std::isnan(value) && std::isnan(first)), "before the first key: its value");
        } else if (row >= keys[count - 1].row) {
            FUZZ_CHECK(value == last || (std::isnan(value) && std::isnan(last)), "from the last key on: its value");
        } else if (finite && row == std::floor(row)) {
            // On a key's row: the last key of that row holds, unless its kind reads 0.
            int32_t at = find_key(track, static_cast<int32_t>(row));
            FUZZ_CHECK(at >= 0 && at < count, "a row inside the keys finds a key");
            FUZZ_CHECK(keys[at].row <= row && (at + 1 == count || keys[at + 1].row > row),
                       "the key found is the last at or below the row");
            if (keys[at].row == row) {
                double expected = valid_kind(keys[at].interpolation) ? keys[at].value : 0.0;
                FUZZ_CHECK(value == expected, "on a key's row: that key's value");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    g_file = cMemoryFile{data, size, 0, 0, 0};
    std::unique_ptr<cSyncStore> store = create_store("fuzz/");
    FUZZ_CHECK(store != nullptr, "the store is made");
    store->open = open_memory;
    store->read = read_memory;
    store->close = close_memory;

    const cSyncTrack* track = get_track(*store, "input");
    FUZZ_CHECK(track != nullptr && get_track(*store, "input") == track, "one track per name");
    FUZZ_CHECK(g_file.opened == 1 && g_file.closed == 1, "the file is read once and closed");
    FUZZ_CHECK(track->key_count >= 0, "no negative key count");
    FUZZ_CHECK((track->key_count == 0) == !track->keys, "keys exist exactly when counted");
    FUZZ_CHECK(track->key_count == 0 || size >= 4 + 9 * static_cast<std::size_t>(track->key_count),
               "only keys that are in the file");

    // Where the checked decoder accepts the file, the show's reader sees the same keys, and
    // encoding them gives the file back.
    std::vector<cSyncKey> decoded;
    std::string error;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (decode_track(bytes, decoded, error)) {
        FUZZ_CHECK(decoded.size() == static_cast<std::size_t>(track->key_count), "reader and decoder agree on the count");
        for (std::size_t i = 0; i < decoded.size(); ++i)
            FUZZ_CHECK(same_key(decoded[i], track->keys[i]), "reader and decoder agree on every key");
        FUZZ_CHECK(encode_track(decoded) == bytes, "encoding gives the file back");
    } else {
        FUZZ_CHECK(!error.empty(), "a refusal says why");
    }
    check_values(*track);
    return 0;
}
