// The development mode's transport: pause, seek, loop and the A/V offset of the playing show,
// over the sound module (the clock) and the module input (the time modules see). Requests come
// between frames from keys and tools; a seek is applied once per frame, however many steps
// asked for it. Times here are show times, the times modules see: music time minus the offset.
// Main thread only; never draws and never touches files.
#pragma once
#include <cstdint>
#include <optional>

class cSoundModule_bass;
class cModuleInput;

// What the read-out and the tools show of the transport.
struct cTransportView {
    bool paused = false;
    bool at_end = false;            // paused because the show reached its end
    bool loop_on = false;
    double loop_start_ms = 0.0;     // meaningful while loop_on
    double loop_end_ms = 0.0;
    int32_t av_offset_ms = 0;
};

// What the next frame needs to know.
struct cFramePlan {
    int32_t time_ms = 0;  // what the modules see now
    // The time jumped (a seek or a wrap) or stands still (paused): draw the frame one step
    // before first, so what depends on the previous frame looks as in a play-through.
    bool prime = false;
};

class cDevTransport {
public:
    // end_ms: the last time of the show; it pauses there instead of ending.
    cDevTransport(cSoundModule_bass& sound, cModuleInput& input, double end_ms);

    void toggle_pause();
    void set_paused(bool paused);
    // Forward (positive) or back by beats of the music, from where the last step went or else
    // from now. Applied by the next plan_frame.
    void step_beats(double beats);
    void seek_to(double show_ms);
    // Loop start or end at the current time, rounded to the nearest row. An end without a
    // start loops from the beginning; an end not after the start is refused; a start at or
    // after the end clears the end.
    void mark_loop_start();
    void mark_loop_end();
    void clear_loop();
    // end <= start clears it; both are kept within the show.
    void set_loop(double start_ms, double end_ms);
    void nudge_offset(int32_t delta_ms);
    void set_offset(int32_t offset_ms);

    // Once per frame before drawing: applies the pending seek, pauses at the end of the show,
    // wraps a loop that the music did not wrap itself (set behind the playing time).
    cFramePlan plan_frame();

    const cTransportView& view() const { return view_; }
    bool paused() const { return view_.paused; }
    // Whether anything in view() or the time changed by request since the last call.
    bool take_changed();
    // The show time with its fraction (while paused after a seek: exactly where it went).
    double now_ms() const;
    double end_ms() const { return end_ms_; }
    // Where the show stops now: its end, or the end of the music less the offset if earlier.
    double last_ms() const;

private:
    // user: a seek somebody asked for, whose landing outside the show is reported.
    void apply_seek(double show_ms, bool user = true);
    void apply_loop();
    void pause_at_end();
    bool loop_on() const { return loop_start_ && loop_end_ && *loop_end_ > *loop_start_; }

    cSoundModule_bass& sound_;
    cModuleInput& input_;
    double end_ms_;
    double music_end_ms_;
    cTransportView view_;
    std::optional<double> pending_seek_;
    std::optional<double> anchor_;  // paused: the exact show time it stands at
    std::optional<double> loop_start_;
    std::optional<double> loop_end_;
    int32_t last_time_ = 0;
    const char* clamp_reported_ = nullptr;  // which end the last seek was held at, when it was
    bool changed_ = true;
};
