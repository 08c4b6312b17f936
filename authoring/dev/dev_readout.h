// The development mode's on-screen read-out: music time, beat and row, frame time and rate,
// the transport's state, the last reload's result and the images drawn as stand-ins, in the host's small bitmap font over a
// dark box in the picture's top left corner. Drawn by the host after the modules, on the
// window only (never in captures), through the graphics context with a program of its own.
// Main thread only, with the GL context current.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "authoring/dev/dev_transport.h"

class gfxContext;

class cDevReadout {
public:
    explicit cDevReadout(gfxContext& gfx);

    void toggle() { visible_ = !visible_; }
    bool visible() const { return visible_; }

    // Once per drawn frame, at its start (seconds of a monotonic clock).
    void count_frame(double now);
    // The result of the last reload, shown for a few seconds (errors in red).
    void show_result(const std::string& path, const std::string& message, bool ok, double now);
    // The images that could not be loaded and are drawn as stand-ins ("PATH: REASON"), shown
    // in red until they are gone from the list.
    void set_stand_ins(std::vector<std::string> stand_ins) { stand_ins_ = std::move(stand_ins); }
    // Whether the shown result has just expired, so a paused picture needs drawing again.
    bool result_expired(double now);
    // The mean frame time of the last whole averaging period; 0 until there is one.
    double frame_ms() const { return frame_ms_; }

    // The lines as they are drawn, for tests and tools.
    struct cLine {
        std::string text;
        const float* colour;
    };
    std::vector<cLine> lines(const cTransportView& view, int32_t time_ms, double now) const;

    // Draws onto the window; leaves the render state, the program and the viewport as it found
    // them.
    void draw(const cTransportView& view, int32_t time_ms, double now);

private:
    void add_text(const std::string& text, int32_t x, int32_t y, std::vector<float>& out) const;

    gfxContext& gfx_;
    bool visible_ = true;
    bool ready_ = false;  // the program compiled
    // Frame statistics over the current period, and the figures of the last whole one.
    double period_start_ = -1.0;
    double last_frame_ = -1.0;
    int32_t period_frames_ = 0;
    double frame_ms_ = 0.0;
    double fps_ = 0.0;
    // The last reload's result.
    std::string result_;
    bool result_ok_ = true;
    double result_until_ = -1.0;
    std::vector<std::string> stand_ins_;
    std::vector<float> quads_;  // reused each frame
};
