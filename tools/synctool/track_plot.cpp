// Track plots. Depends on the canvas and the grid constants; evaluates nothing itself (the
// sampler does), so what is drawn is exactly what the sampler's caller reads.
#include "tools/synctool/track_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/synctool/synctool_config.h"
#include "host/sync/track_text.h"

namespace {

constexpr cRgb kBackground{255, 255, 255};
constexpr cRgb kLaneShade{246, 247, 250};
constexpr cRgb kBeatLine{228, 228, 232};
constexpr cRgb kBarLine{185, 185, 195};
constexpr cRgb kZeroLine{150, 150, 150};
constexpr cRgb kSeparator{120, 120, 130};
constexpr cRgb kLabel{70, 70, 80};
constexpr cRgb kPalette[] = {{214, 39, 40}, {31, 119, 180}, {44, 160, 44}, {148, 103, 189},
                             {255, 127, 14}, {23, 190, 207}, {140, 86, 75}, {227, 119, 194}};
// Samples per pixel column at most; a longer stretch of time is sampled evenly.
constexpr int64_t kMaxSamplesPerColumn = 256;

double ms_per_beat() { return 60000.0 / kSyncBeatsPerMinute; }

std::string seconds_label(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2fs", ms / 1000.0);
    return text;
}

// Short scale labels: the exact value when it is short, else four significant digits.
std::string value_label(float v) {
    std::string exact = format_value(v);
    if (exact.size() <= 10) return exact;
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", static_cast<double>(v));
    return text;
}

cRgb darker(cRgb c) { return {static_cast<uint8_t>(c.r * 3 / 5), static_cast<uint8_t>(c.g * 3 / 5), static_cast<uint8_t>(c.b * 3 / 5)}; }

struct cColumnSpan {
    float first = 0, last = 0, low = 0, high = 0;
};

}  // namespace

cPlotLayout plot_layout(int track_count) {
    cPlotLayout layout;
    track_count = std::max(track_count, 1);
    layout.width = kPlotWidth;
    layout.height = kPlotTopMargin + track_count * kPlotLaneHeight + kPlotBottomMargin;
    layout.left = kPlotLeftMargin;
    layout.right = kPlotWidth - kPlotRightMargin - 1;
    for (int i = 0; i < track_count; ++i) {
        cPlotLane lane;
        lane.top = kPlotTopMargin + i * kPlotLaneHeight;
        lane.bottom = lane.top + kPlotLaneHeight - 1;
        // Room for the legend above the curve.
        lane.curve_top = lane.top + kPlotLanePadding + cPlotCanvas::text_height(2);
        lane.curve_bottom = lane.bottom - kPlotLanePadding;
        lane.colour = kPalette[i % std::size(kPalette)];
        layout.lanes.push_back(lane);
    }
    return layout;
}

int plot_column(const cPlotLayout& layout, int64_t from_ms, int64_t to_ms, double time_ms) {
    double span = static_cast<double>(std::max<int64_t>(to_ms - from_ms, 1));
    double f = (time_ms - static_cast<double>(from_ms)) / span;
    return layout.left + static_cast<int>(std::floor(f * (layout.right - layout.left) + 0.5));
}

cPlotCanvas render_plot(const std::vector<std::string>& names, int64_t from_ms, int64_t to_ms,
                        const cPlotSampler& sampler) {
    cPlotLayout layout = plot_layout(static_cast<int>(names.size()));
    cPlotCanvas canvas(layout.width, layout.height, kBackground);
    const int columns = layout.right - layout.left + 1;
    const double span = static_cast<double>(to_ms - from_ms);

    // ---- lane backgrounds ----
    for (std::size_t i = 0; i < layout.lanes.size(); ++i) {
        if (i % 2 == 1) canvas.fill_rect(layout.left, layout.lanes[i].top, layout.right, layout.lanes[i].bottom, kLaneShade);
    }

    // ---- beat and bar lines, time labels ----
    const int grid_top = kPlotTopMargin, grid_bottom = layout.height - kPlotBottomMargin - 1;
    const double beat_px = ms_per_beat() / span * (columns - 1);
    const bool beats_visible = beat_px >= kPlotMinLineSpacing;
    int bar_step = 1;  // in bars; grows until bar lines are far enough apart
    while (beat_px * kToolBeatsPerBar * bar_step < kPlotMinLineSpacing) bar_step *= 2;
    int label_step = bar_step;
    while (beat_px * kToolBeatsPerBar * label_step < kPlotMinLabelSpacing) label_step *= 2;
    int64_t first_beat = static_cast<int64_t>(std::ceil(static_cast<double>(from_ms) / ms_per_beat()));
    int64_t last_beat = static_cast<int64_t>(std::floor(static_cast<double>(to_ms) / ms_per_beat()));
    int last_label_end = -1000000;
    for (int64_t beat = first_beat; beat <= last_beat; ++beat) {
        double ms = static_cast<double>(beat) * ms_per_beat();
        int x = plot_column(layout, from_ms, to_ms, ms);
        bool bar = beat % kToolBeatsPerBar == 0;
        int64_t bar_index = beat / kToolBeatsPerBar;
        if (bar && bar_index % bar_step == 0) {
            canvas.line(x, grid_top, x, grid_bottom, kBarLine);
        } else if (beats_visible) {
            canvas.line(x, grid_top, x, grid_bottom, kBeatLine);
        }
        if (bar && bar_index % label_step == 0) {
            std::string label = seconds_label(ms);
            int lx = x - cPlotCanvas::text_width(label, 1) / 2;
            if (lx > last_label_end + 8) {
                canvas.text(lx, grid_bottom + 8, label, kLabel, 1);
                last_label_end = lx + cPlotCanvas::text_width(label, 1);
            }
        }
    }
    char title[160];
    std::snprintf(title, sizeof title, "%lld .. %lld ms   %.0f bpm, lines on beats, darker on bars",
                  static_cast<long long>(from_ms), static_cast<long long>(to_ms), kSyncBeatsPerMinute);
    canvas.text(layout.left, 8, title, kLabel, 2);

    // ---- one lane per track ----
    for (std::size_t i = 0; i < names.size(); ++i) {
        const cPlotLane& lane = layout.lanes[i];
        const std::string& name = names[i];
        std::vector<cColumnSpan> spans(static_cast<std::size_t>(columns));
        float low = 0, high = 0;
        for (int c = 0; c < columns; ++c) {
            int64_t t0 = from_ms + static_cast<int64_t>(std::floor(span * c / columns));
            int64_t t1 = std::max(t0 + 1, from_ms + static_cast<int64_t>(std::floor(span * (c + 1) / columns)));
            if (c == columns - 1) t1 = to_ms + 1;
            int64_t step = std::max<int64_t>(1, (t1 - t0) / kMaxSamplesPerColumn);
            cColumnSpan& s = spans[static_cast<std::size_t>(c)];
            bool first = true;
            for (int64_t t = t0; t < t1; t += step) {
                float v = sampler.value(name, t);
                if (!std::isfinite(v)) continue;
                if (first) s.first = s.low = s.high = v;
                s.low = std::min(s.low, v);
                s.high = std::max(s.high, v);
                s.last = v;
                first = false;
            }
            if (c == 0) low = s.low, high = s.high;
            low = std::min(low, s.low);
            high = std::max(high, s.high);
        }
        if (high - low < 1e-6f) {
            float pad = std::max(0.5f, std::fabs(high) * 0.1f);
            low -= pad;
            high += pad;
        }
        auto row_of = [&](float v) {
            double f = (static_cast<double>(v) - low) / (static_cast<double>(high) - low);
            return lane.curve_bottom - static_cast<int>(std::lround(f * (lane.curve_bottom - lane.curve_top)));
        };
        if (low < 0 && high > 0) canvas.dashed_hline(layout.left, layout.right, row_of(0.0f), kZeroLine, 4);

        // The curve: each column spans the lowest to the highest value of its stretch of time
        // and joins the previous column, so steps and short pulses are never lost.
        int previous = row_of(spans[0].first);
        for (int c = 0; c < columns; ++c) {
            const cColumnSpan& s = spans[static_cast<std::size_t>(c)];
            int x = layout.left + c;
            int a = std::min({previous, row_of(s.high), row_of(s.first)});
            int b = std::max({previous, row_of(s.low), row_of(s.first)});
            canvas.fill_rect(x, a, x, b + 1, lane.colour);
            previous = row_of(s.last);
        }
        for (const cSyncKey& key : sampler.keys(name)) {
            double ms = key.row * 1000.0 / kToolRowsPerSecond;
            if (ms < static_cast<double>(from_ms) || ms > static_cast<double>(to_ms)) continue;
            int x = plot_column(layout, from_ms, to_ms, ms), y = row_of(key.value);
            canvas.fill_rect(x - 2, y - 2, x + 2, y + 2, darker(lane.colour));
        }

        // Legend and scale.
        canvas.text(layout.left + 6, lane.top + 6, name, lane.colour, 2);
        std::string top_label = value_label(high), bottom_label = value_label(low);
        canvas.text(layout.left - 6 - cPlotCanvas::text_width(top_label, 1), lane.curve_top - 3, top_label, kLabel, 1);
        canvas.text(layout.left - 6 - cPlotCanvas::text_width(bottom_label, 1), lane.curve_bottom - 3, bottom_label, kLabel, 1);
        canvas.line(0, lane.bottom, layout.width - 1, lane.bottom, kSeparator);
    }
    canvas.line(0, kPlotTopMargin - 1, layout.width - 1, kPlotTopMargin - 1, kSeparator);
    return canvas;
}
