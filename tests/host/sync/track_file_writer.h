// Writes ".track" files for tests: little-endian key count, then 9 bytes per key. The count
// can be given apart from the keys, and bytes can be cut off, to make broken files.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

struct cTestKey {
    int32_t row;
    float value;
    int32_t interpolation;  // written as one signed byte
};

inline void append_int32(std::string& bytes, int32_t number) {
    uint32_t bits = static_cast<uint32_t>(number);
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((bits >> shift) & 0xff);
}

// The bytes of a track file; count defaults to the number of keys.
inline std::string track_bytes(const std::vector<cTestKey>& keys, std::optional<int32_t> count = std::nullopt) {
    std::string bytes;
    append_int32(bytes, count.value_or(static_cast<int32_t>(keys.size())));
    for (const cTestKey& key : keys) {
        append_int32(bytes, key.row);
        int32_t value_bits;
        std::memcpy(&value_bits, &key.value, sizeof value_bits);
        append_int32(bytes, value_bits);
        bytes += static_cast<char>(static_cast<int8_t>(key.interpolation));
    }
    return bytes;
}

// Writes the file of the track called name under dir's "data/sync/"; returns its path.
inline std::string write_track(const cTempDir& dir, const std::string& name, const std::string& bytes) {
    return dir.write("data/sync/_" + name + ".track", bytes);
}
