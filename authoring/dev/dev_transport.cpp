// Pause, seek, loop and offset over the sound module. The clock is the music: seeks and loops
// move the music itself (the loop is wrapped where the samples are fed to the output), and the
// module input subtracts the offset. Reports go to standard output as "# note: " lines; a seek
// outside the show is reported once until a seek lands inside again or on the other side.
#include "authoring/dev/dev_transport.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "host/app/av_offset.h"
#include "host/show/host_constants.h"
#include "authoring/dev/dev_format.h"
#include "host/modules/module_input.h"
#include "host/sound/sound_module_bass.h"

namespace {

constexpr double kBeatMs = 60000.0 / host_constants::beats_per_minute;

}  // namespace

cDevTransport::cDevTransport(cSoundModule_bass& sound, cModuleInput& input, double end_ms)
    : sound_(sound), input_(input), end_ms_(end_ms) {
    music_end_ms_ = sound_.length_ms();
    view_.av_offset_ms = input_.av_offset_ms();
}

double cDevTransport::last_ms() const {
    if (music_end_ms_ <= 0.0) return end_ms_;
    // The picture cannot go on past the music it is drawn against.
    return std::max(0.0, std::min(end_ms_, music_end_ms_ - view_.av_offset_ms));
}

bool cDevTransport::take_changed() {
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

double cDevTransport::now_ms() const {
    if (view_.paused && anchor_) return *anchor_;
    return sound_.position_exact_ms() - view_.av_offset_ms;
}

// ---- pause ----

void cDevTransport::toggle_pause() { set_paused(!view_.paused); }

void cDevTransport::set_paused(bool paused) {
    if (paused == view_.paused) return;
    if (paused) {
        sound_.pause();
        view_.paused = true;
        anchor_ = now_ms();  // read after the pause: where the music stands
    } else {
        if (view_.at_end) {
            // Playing on from the end means playing the show (or its loop) again.
            apply_seek(loop_on() ? *loop_start_ : 0.0);
            pending_seek_.reset();
            view_.at_end = false;
        } else if (pending_seek_) {
            apply_seek(*pending_seek_);
            pending_seek_.reset();
        }
        anchor_.reset();
        view_.paused = false;
        sound_.start();
    }
    changed_ = true;
}

// ---- seeks ----

void cDevTransport::step_beats(double beats) {
    const double from = pending_seek_ ? *pending_seek_ : now_ms();
    pending_seek_ = from + beats * kBeatMs;
}

void cDevTransport::seek_to(double show_ms) { pending_seek_ = show_ms; }

void cDevTransport::apply_seek(double show_ms, bool user) {
    double target = show_ms;
    const char* outside = nullptr;
    if (!(target >= 0.0)) {  // NaN lands at the start too
        outside = "before the start";
        target = 0.0;
    } else if (target > last_ms()) {
        outside = "past the end";
        target = last_ms();
    }
    if (user) {
        if (outside && outside != clamp_reported_) {
            std::cout << "# note: seek to " << (show_ms == show_ms ? format_music_time(show_ms) : "nan") << " is "
                      << outside << " of the show; going to " << format_music_time(target) << std::endl;
        }
        clamp_reported_ = outside;
    }
    sound_.set_position_ms(target + view_.av_offset_ms);
    if (view_.paused) anchor_ = target;
    view_.at_end = false;
    changed_ = true;
}

// ---- loop ----

void cDevTransport::mark_loop_start() {
    const double start = std::clamp(round_to_row(now_ms()), 0.0, last_ms());
    loop_start_ = start;
    if (loop_end_ && *loop_end_ <= start) {
        std::cout << "# note: the loop's end " << format_music_time(*loop_end_) << " is not after its new start; set a new end"
                  << std::endl;
        loop_end_.reset();
    }
    apply_loop();
}

void cDevTransport::mark_loop_end() {
    const double end = std::clamp(round_to_row(now_ms()), 0.0, last_ms());
    if (loop_start_ && end <= *loop_start_) {
        std::cout << "# note: a loop end at " << format_music_time(end) << " is not after the loop's start "
                  << format_music_time(*loop_start_) << "; the loop is unchanged" << std::endl;
        return;
    }
    if (!loop_start_) loop_start_ = 0.0;
    loop_end_ = end;
    apply_loop();
}

void cDevTransport::clear_loop() {
    if (!loop_start_ && !loop_end_) return;
    loop_start_.reset();
    loop_end_.reset();
    apply_loop();
}

void cDevTransport::set_loop(double start_ms, double end_ms) {
    if (!(end_ms > start_ms)) {
        clear_loop();
        return;
    }
    loop_start_ = std::clamp(start_ms, 0.0, last_ms());
    loop_end_ = std::clamp(end_ms, 0.0, last_ms());
    if (!loop_on()) {
        clear_loop();
        return;
    }
    apply_loop();
}

void cDevTransport::apply_loop() {
    view_.loop_on = loop_on();
    view_.loop_start_ms = loop_start_.value_or(0.0);
    view_.loop_end_ms = loop_end_.value_or(0.0);
    const double offset = view_.av_offset_ms;
    if (view_.loop_on) {
        sound_.set_loop_ms(*loop_start_ + offset, *loop_end_ + offset);
        std::cout << "# note: loop " << format_music_time(*loop_start_) << " - " << format_music_time(*loop_end_)
                  << std::endl;
    } else {
        sound_.set_loop_ms(0.0, 0.0);
        if (loop_start_) {
            std::cout << "# note: loop start " << format_music_time(*loop_start_) << "; the loop plays once its end is set"
                      << std::endl;
        } else {
            std::cout << "# note: loop off" << std::endl;
        }
    }
    changed_ = true;
}

// ---- offset ----

void cDevTransport::nudge_offset(int32_t delta_ms) { set_offset(view_.av_offset_ms + delta_ms); }

void cDevTransport::set_offset(int32_t offset_ms) {
    offset_ms = std::clamp(offset_ms, -kAvOffsetLimitMs, kAvOffsetLimitMs);
    const int32_t delta = offset_ms - view_.av_offset_ms;
    if (delta == 0) return;
    view_.av_offset_ms = offset_ms;
    input_.set_av_offset_ms(offset_ms);
    // The music stands where it is; only the picture's time moves.
    if (anchor_) *anchor_ -= delta;
    if (pending_seek_) *pending_seek_ -= delta;
    if (view_.loop_on) sound_.set_loop_ms(*loop_start_ + offset_ms, *loop_end_ + offset_ms);
    std::cout << "# note: A/V offset " << (offset_ms > 0 ? "+" : "") << offset_ms << " ms" << std::endl;
    changed_ = true;
}

// ---- the frame ----

void cDevTransport::pause_at_end() {
    sound_.pause();
    view_.paused = true;
    apply_seek(last_ms(), false);
    view_.at_end = true;
    std::cout << "# note: the end of the show (" << format_music_time(last_ms())
              << "): paused; Space plays it again from the start" << std::endl;
}

cFramePlan cDevTransport::plan_frame() {
    cFramePlan plan;
    bool jumped = false;
    if (pending_seek_) {
        apply_seek(*pending_seek_);
        pending_seek_.reset();
        jumped = true;
    }
    if (!view_.paused) {
        const double music_ms = sound_.position_exact_ms();
        const double show_ms = music_ms - view_.av_offset_ms;
        // The end is the picture's: with an offset the music is that much ahead or behind.
        if (loop_on() && show_ms >= *loop_end_) {
            apply_seek(*loop_start_, false);
            jumped = true;
        } else if (std::trunc(show_ms) > end_ms_ || (music_end_ms_ > 0.0 && music_ms >= music_end_ms_)) {
            pause_at_end();
            jumped = true;
        }
    }
    plan.time_ms = input_.time_ms();
    // A loop wrapped by the music itself shows as a time that went back.
    plan.prime = jumped || view_.paused || plan.time_ms < last_time_;
    last_time_ = plan.time_ms;
    return plan;
}
