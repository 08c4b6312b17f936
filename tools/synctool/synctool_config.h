// Fixed numbers and names of the track tool: where the show's track source lives, the end of
// the show and the size of plots. Only constants here.
// The musical grid and the key text (bpm, rows per beat, track file names) come from host/sync,
// the beats to the bar and the end of the show from the host's constants.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/show/host_constants.h"
#include "host/sync/sync_config.h"

// The human-edited source of every track of the show, relative to the repository root.
constexpr const char* kToolDefaultSource = kSyncSourcePath;

// The show ends by itself once the music passes this position; plots stop here by default.
constexpr int64_t kToolShowEndMs = host_constants::show_end_ms;

constexpr int32_t kToolRowsPerBeat = kSyncRowsPerBeatInt;
constexpr double kToolRowsPerSecond = kSyncBeatsPerMinute / 60.0 * kSyncRowsPerBeat;
constexpr int32_t kToolBeatsPerBar = host_constants::beats_per_bar;

// Compile stops listing problems after this many; the count is still reported.
constexpr int kToolMaxReportedErrors = 25;

// Plot geometry in pixels: one lane per track, stacked, with margins for labels.
constexpr int kPlotWidth = 1600;
constexpr int kPlotLaneHeight = 140;
constexpr int kPlotTopMargin = 28;
constexpr int kPlotBottomMargin = 26;
constexpr int kPlotLeftMargin = 84;
constexpr int kPlotRightMargin = 16;
constexpr int kPlotLanePadding = 14;       // between a lane's edge and its curve's extremes
constexpr int kPlotMinLineSpacing = 4;     // beat or bar lines closer than this are left out
constexpr int kPlotMinLabelSpacing = 70;   // time labels closer than this are left out
constexpr int kPlotMaxTracks = 16;
