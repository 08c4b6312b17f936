// Names, positions and values of the track source, read and written in one canonical form.
// Depends on <charconv> only; formats and parses, never reads files or throws.
#include "host/sync/track_text.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "host/sync/sync_config.h"

namespace {

constexpr std::string_view kInterpolationNames[] = {"step", "linear", "smooth", "quadratic"};

// A whole token as a signed 64-bit integer; nullopt when any character is left over.
std::optional<int64_t> parse_integer(std::string_view token) {
    int64_t value = 0;
    const char* first = token.data();
    const char* last = first + token.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (token.empty() || ec != std::errc() || end != last) return std::nullopt;
    return value;
}

std::string padded(std::string text, std::size_t width) {
    text.append(text.size() < width ? width - text.size() : 1, ' ');
    return text;
}

}  // namespace

std::string_view interpolation_name(int32_t code) {
    if (code < 0 || code >= static_cast<int32_t>(std::size(kInterpolationNames))) return {};
    return kInterpolationNames[code];
}

std::optional<int32_t> interpolation_code(std::string_view name) {
    for (int32_t code = 0; code < static_cast<int32_t>(std::size(kInterpolationNames)); ++code) {
        if (kInterpolationNames[code] == name) return code;
    }
    return std::nullopt;
}

std::optional<int32_t> parse_position(std::string_view token, cTokenError& error) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t row = 0;
    if (!token.empty() && token[0] == 'r') {
        std::optional<int64_t> whole = parse_integer(token.substr(1));
        if (!whole) {
            error.text = "'" + std::string(token) + "' is not a row (rROW, for example r96)";
            return std::nullopt;
        }
        row = *whole;
    } else {
        std::size_t colon = token.find(':');
        if (colon == std::string_view::npos) {
            error.text = "'" + std::string(token) + "' is not a position (BEAT:ROW such as 12:0, or rROW such as r96)";
            return std::nullopt;
        }
        std::optional<int64_t> beat = parse_integer(token.substr(0, colon));
        std::string_view row_text = token.substr(colon + 1);
        std::optional<int64_t> in_beat = parse_integer(row_text);
        bool digits_only = !row_text.empty() && row_text[0] != '-' && row_text[0] != '+';
        if (!beat || !in_beat || !digits_only) {
            error.text = "'" + std::string(token) + "' is not a position (BEAT:ROW such as 12:0, or rROW such as r96)";
            return std::nullopt;
        }
        if (*in_beat >= kSyncRowsPerBeatInt) {
            error.text = "row " + std::string(row_text) + " of a beat must be 0 to " + std::to_string(kSyncRowsPerBeatInt - 1) +
                         " in '" + std::string(token) + "'";
            return std::nullopt;
        }
        // Beats far outside any show would overflow the multiplication; the range test below
        // then refuses them anyway.
        if (*beat < kMin || *beat > kMax) {
            error.text = "position '" + std::string(token) + "' lies outside the 32-bit row range";
            return std::nullopt;
        }
        row = *beat * kSyncRowsPerBeatInt + *in_beat;
    }
    if (row < kMin || row > kMax) {
        error.text = "position '" + std::string(token) + "' lies outside the 32-bit row range";
        return std::nullopt;
    }
    return static_cast<int32_t>(row);
}

std::optional<float> parse_value(std::string_view token, cTokenError& error) {
    std::string_view digits = token;
    // from_chars takes no leading "+", but people write it.
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-' && digits[1] != '+') digits.remove_prefix(1);
    float value = 0.0f;
    const char* first = digits.data();
    const char* last = first + digits.size();
    auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (digits.empty() || end != last || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        error.text = "'" + std::string(token) + "' is not a number";
        return std::nullopt;
    }
    if (ec == std::errc::result_out_of_range) {
        error.text = "'" + std::string(token) + "' is outside the range of a 32-bit float";
        return std::nullopt;
    }
    if (!std::isfinite(value)) {
        error.text = "'" + std::string(token) + "' is not a finite number";
        return std::nullopt;
    }
    return value;
}

std::string format_position(int32_t row) {
    // Floor division, so that negative rows read "-1:4" (beat -1, row 4) and round-trip.
    int64_t wide = row;
    int64_t beat = wide >= 0 ? wide / kSyncRowsPerBeatInt : -((-wide + kSyncRowsPerBeatInt - 1) / kSyncRowsPerBeatInt);
    int64_t in_beat = wide - beat * kSyncRowsPerBeatInt;
    return std::to_string(beat) + ":" + std::to_string(in_beat);
}

std::string format_value(float value) {
    char buffer[128];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
    if (ec != std::errc()) return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    return std::string(buffer, end);
}

std::string format_key_line(const cSyncKey& key) {
    std::string_view name = interpolation_name(key.interpolation);
    std::string kind = name.empty() ? "code" + std::to_string(key.interpolation) : std::string(name);
    return std::string(kSyncKeyIndent) + padded(format_position(key.row), kSyncPositionWidth) +
           padded(format_value(key.value), kSyncValueWidth) + kind;
}

std::string format_track_header(std::string_view name) { return "track " + std::string(name); }

bool is_valid_track_name(std::string_view name) {
    if (name.empty() || name.size() > kSyncMaxTrackNameLength) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}
