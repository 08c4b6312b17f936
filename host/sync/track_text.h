// The words of the track source: interpolation names, key positions ("BEAT:ROW" or "rROW"),
// values, and the one canonical way dump writes a key line. Pure string work, shared by the
// source parser and the dumper; it reads no files and never throws.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/sync/sync_track.h"

// "step", "linear", "smooth", "quadratic" for 0..3; empty for any other code.
std::string_view interpolation_name(int32_t code);
// The code of an interpolation name (exact, lower case); nullopt for an unknown name.
std::optional<int32_t> interpolation_code(std::string_view name);

// Why a position or value token was refused; empty text means it was accepted.
struct cTokenError {
    std::string text;
};

// "12:3" is beat 12, row 3 of that beat (row 99); the row within the beat is 0..7 and the
// beat may be negative ("-1:4" is row -4). "r99" is row 99 as it stands. The row must fit
// 32 bits.
std::optional<int32_t> parse_position(std::string_view token, cTokenError& error);
// A decimal number that fits a 32-bit float: "0.5", "-3", "1e-3", ".25", "+2". Refuses
// nan, inf and values beyond the float range.
std::optional<float> parse_value(std::string_view token, cTokenError& error);

// Canonical texts: "BEAT:ROW" with ROW in 0..7; the shortest decimal (no exponent) that
// reads back as the same float.
std::string format_position(int32_t row);
std::string format_value(float value);
// "  12:3     0.5        linear" (widths from sync_config.h). A key whose
// interpolation code has no name gets "code<N>", which the parser refuses on purpose.
std::string format_key_line(const cSyncKey& key);
// "track NAME"
std::string format_track_header(std::string_view name);

// Track names become file names ("_" + name + ".track"), so they are kept to letters,
// digits, "_" and "-".
bool is_valid_track_name(std::string_view name);
