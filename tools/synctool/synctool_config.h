// Fixed numbers and names of the track tool: where the show's track source lives, the end of
// the show, the layout of the key text and the size of plots. Only constants here.
// The musical grid itself (bpm, rows per beat, track file names) comes from host/sync.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/sync/sync_config.h"

// The human-edited source of every track of the show, relative to the repository root.
constexpr const char* kToolDefaultSource = "data/sync/show.tracks";

// The show ends by itself once the music passes this position; plots stop here by default.
constexpr int64_t kToolShowEndMs = 88250;

constexpr int32_t kToolRowsPerBeat = static_cast<int32_t>(kSyncRowsPerBeat);
constexpr double kToolRowsPerSecond = kSyncBeatsPerMinute / 60.0 * kSyncRowsPerBeat;
constexpr int32_t kToolBeatsPerBar = 4;

// Key lines as dump writes them: two spaces, the position padded to 9 characters, the value
// padded to 11, then the interpolation name. A longer token is followed by one space.
constexpr const char* kToolKeyIndent = "  ";
constexpr std::size_t kToolPositionWidth = 9;
constexpr std::size_t kToolValueWidth = 11;

// Track names become part of a file path that the show builds in a 260-character buffer.
constexpr std::size_t kToolMaxTrackNameLength = 128;

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
