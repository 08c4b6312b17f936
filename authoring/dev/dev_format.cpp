// Music times as text. Uses the sync subsystem's grid and its position words.
#include "authoring/dev/dev_format.h"

#include <cmath>
#include <cstdio>

#include "host/sync/sync_config.h"
#include "host/sync/track_text.h"

namespace {

constexpr double kRowsPerSecond = kSyncBeatsPerMinute / 60.0 * kSyncRowsPerBeat;

}  // namespace

std::string format_music_time(double ms) {
    const bool negative = ms < 0.0;
    const auto whole = static_cast<long long>(std::floor(std::fabs(ms)));
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld:%02lld.%03lld", negative ? "-" : "", whole / 60000, whole / 1000 % 60,
                  whole % 1000);
    return text;
}

std::string format_beat_row(double ms) {
    return format_position(static_cast<int32_t>(std::floor(ms * kRowsPerSecond / 1000.0)));
}

double round_to_row(double ms) { return std::round(ms * kRowsPerSecond / 1000.0) * 1000.0 / kRowsPerSecond; }
