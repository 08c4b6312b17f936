// Draws tracks over time into a canvas: one lane per track with its own value scale, beat
// and bar lines, key markers, time labels and the track's name as the lane's legend.
// Values come from a caller-supplied sampler, so the picture shows what the show reads.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/sync/sync_track.h"
#include "tools/synctool/plot_canvas.h"

struct cPlotSampler {
    // The value of a track at a music time, as the show sees it.
    std::function<float(const std::string& name, int64_t time_ms)> value;
    // The keys of a track (for markers); may return an empty list.
    std::function<std::vector<cSyncKey>(const std::string& name)> keys;
};

struct cPlotLane {
    int top = 0, bottom = 0;            // inclusive pixel rows of the lane
    int curve_top = 0, curve_bottom = 0;  // rows of the largest and smallest value
    cRgb colour;
};

struct cPlotLayout {
    int width = 0, height = 0;
    int left = 0, right = 0;            // inclusive pixel columns of the time axis
    std::vector<cPlotLane> lanes;
};

cPlotLayout plot_layout(int track_count);
// The column of a music time; times outside [from, to] map outside [left, right].
int plot_column(const cPlotLayout& layout, int64_t from_ms, int64_t to_ms, double time_ms);

cPlotCanvas render_plot(const std::vector<std::string>& names, int64_t from_ms, int64_t to_ms,
                        const cPlotSampler& sampler);
