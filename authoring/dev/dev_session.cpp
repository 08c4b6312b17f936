// The development mode's loop. Order of one turn: messages, requests, file changes, the
// transport's plan, the frame (prime frame, render pass, read-out, music refill, swap), the
// state for the tools, their events. Information to standard output, problems to standard
// error, as everywhere; the reloaders' lines are written here, from their outcomes.
//
// [SECTION] set-up   [SECTION] keys   [SECTION] the turn   [SECTION] changes and requests
#include "authoring/dev/dev_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>

#include "gfx/context/gfx_context.h"
#include "host/app/demo_host.h"
#include "host/show/host_constants.h"
#include "authoring/dev/dev_config.h"
#include "authoring/dev/dev_signals.h"
#include "host/modules/module_input.h"
#include "host/sync/sync_config.h"
#include "host/sync/track_file.h"

using namespace dev_config;

namespace {

double monotonic_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- [SECTION] set-up ----

cDevSession::cDevSession(cDemoHost& host, const cDevOptions& options)
    : host_(host),
      options_(options),
      transport_(host.sound, *host.input, host_constants::show_end_ms),
      readout_(*static_cast<gfxContext*>(host.gfx)),
      watcher_(kSettleSeconds, kMaxSettleSeconds, kRewatchSeconds),
      tracks_(*host.sync),
      assets_(*static_cast<gfxContext*>(host.gfx)),
      modules_(*host.modules, host.input, kLibraryStableSeconds, kLibraryGoneSeconds, options.library_probe_program) {
    host_procedure_ = host_.window.procedure;
    host_procedure_context_ = host_.window.procedure_context;
    host_.window.procedure = window_procedure;
    host_.window.procedure_context = this;
    for (const char* folder : kWatchedDirectories) watcher_.watch(folder);
    catch_end_signals();
}

cDevSession::~cDevSession() {
    if (host_.window.procedure_context != this) return;
    host_.window.procedure = host_procedure_;
    host_.window.procedure_context = host_procedure_context_;
}

void cDevSession::start() {
    std::cout << "# info: development mode: Space pauses; Left/Right a beat (Shift: a bar), Page Up/Down 8 bars, Home "
                 "the start; [ ] loop start and end, \\ no loop; , . A/V offset; F1 the read-out"
              << std::endl;
    host_.sound.start();
}

int cDevSession::run() {
    start();
    while (run_frame()) {
    }
    const int number = end_signal();
    if (number == 0) return 0;  // ended from the window
    std::cout << "# note: " << end_signal_text(number) << ": the show ends with status " << 128 + number
              << std::endl;
    end_by_signal_at_exit(number);
    return 128 + number;
}

// ---- [SECTION] keys ----

int cDevSession::window_procedure(cWindow& window, const cWindowMessage& message) {
    static_cast<cDevSession*>(window.procedure_context)->handle_message(message);
    if (message.kind == cWindowMessage::resized) window.request_repaint();
    return 0;
}

void cDevSession::handle_message(const cWindowMessage& message) {
    if (end_asked_) return;  // what is left in the queue comes too late
    if (message_ends_show(message)) {
        end_asked_ = true;
        return;
    }
    const bool shift = (message.modifiers & kKeyModifierShift) != 0;
    switch (message.kind) {
        case cWindowMessage::key_down:
            switch (message.key) {
                case kKeySpace: transport_.toggle_pause(); break;
                case kKeyLeft: transport_.step_beats(shift ? -kBeatsPerBar : -1.0); break;
                case kKeyRight: transport_.step_beats(shift ? kBeatsPerBar : 1.0); break;
                case kKeyPageUp: transport_.step_beats(-kBeatsPerBar * kBarsPerPage); break;
                case kKeyPageDown: transport_.step_beats(kBeatsPerBar * kBarsPerPage); break;
                case kKeyHome: transport_.seek_to(0.0); break;
                case kKeyF1:
                    readout_.toggle();
                    dirty_ = true;
                    break;
                default: break;
            }
            break;
        case cWindowMessage::character:
            switch (message.key) {
                case '[': transport_.mark_loop_start(); break;
                case ']': transport_.mark_loop_end(); break;
                case '\\': transport_.clear_loop(); break;
                case ',': transport_.nudge_offset(-kAvOffsetStepMs); break;
                case '.': transport_.nudge_offset(kAvOffsetStepMs); break;
                default: break;
            }
            break;
        case cWindowMessage::resized:
        case cWindowMessage::paint:
        case cWindowMessage::focus_gained: dirty_ = true; break;
        default: break;
    }
}

// ---- [SECTION] the turn ----

bool cDevSession::run_frame() {
    const double start = monotonic_now();
    host_.window.dispatch_messages();
    if (end_asked_ || end_signal() != 0) return false;
    apply_requests();
    apply_changes(start);
    if (readout_.result_expired(start)) dirty_ = true;

    const cFramePlan plan = transport_.plan_frame();
    if (transport_.take_changed()) {
        dirty_ = true;
        control_.post(cDevEvent{cDevEvent::state_changed, "", ""});
    }
    drew_ = !transport_.paused() || dirty_;
    if (drew_) {
        draw_frame(plan, start);
        dirty_ = false;
        ++frames_;
        last_time_ms_ = plan.time_ms;
    } else {
        host_.sound.update();
    }
    publish(last_time_ms_);
    control_.deliver();

    // Without vertical synchronisation frames would follow each other as fast as the machine
    // allows; while paused the loop only looks for input and changes.
    const double spent = monotonic_now() - start;
    if (!drew_) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
    } else if (spent < kUnsyncedFrameSeconds) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kPacedFrameSeconds - spent));
    }
    return true;
}

double cDevSession::prime_step_ms() const {
    const double measured = readout_.frame_ms();
    if (measured <= 0.0) return kDefaultFrameMs;
    return std::clamp(measured, 1.0, kMaxPrimeStepMs);
}

void cDevSession::draw_frame(const cFramePlan& plan, double now) {
    readout_.count_frame(now);
    const auto before = static_cast<int32_t>(plan.time_ms - std::lround(prime_step_ms()));
    if (plan.prime && before >= 0) {
        // Drawn and then cleared by the frame itself: never seen, but what the modules keep
        // from one frame to the next is now what a play-through would have left.
        host_.input->hold_time(before);
        host_.render_pass();
        host_.input->release_time();
    }
    host_.render_pass();
    readout_.draw(transport_.view(), plan.time_ms, now);
    host_.sound.update();
    host_.window.swap_buffers();
}

void cDevSession::publish(int32_t time_ms) {
    const cTransportView& view = transport_.view();
    cDevState state;
    state.music_ms = time_ms;
    state.paused = view.paused;
    state.loop_on = view.loop_on;
    state.loop_start_ms = view.loop_on ? static_cast<int64_t>(std::floor(view.loop_start_ms)) : 0;
    state.loop_end_ms = view.loop_on ? static_cast<int64_t>(std::floor(view.loop_end_ms)) : 0;
    state.av_offset_ms = view.av_offset_ms;
    state.frame = frames_;
    control_.publish(state);
}

// ---- [SECTION] changes and requests ----

void cDevSession::report(const cReloadOutcome& outcome, double now) {
    tell_console(outcome);
    if (outcome.message.empty()) return;
    readout_.show_result(outcome.path, outcome.message, outcome.ok, now);
    dirty_ = true;
    if (!outcome.ok) control_.post(cDevEvent{cDevEvent::reload_failed, outcome.path, outcome.message});
}

void cDevSession::apply_requests() {
    // What the track worker has finished goes in first, so a source handed over below never
    // takes effect in the frame that hands it over: its reading and parsing never hold a frame.
    for (cTrackUpdate& update : tracks_.poll(monotonic_now())) {
        report(update.outcome, monotonic_now());
        if (update.source_in_effect) {
            control_.post(cDevEvent{cDevEvent::tracks_reloaded, kSyncSourcePath, std::move(update.source_text)});
        }
    }
    for (cDevRequest& request : control_.take_requests()) {
        switch (request.kind) {
            case cDevRequest::seek: transport_.seek_to(static_cast<double>(request.first_ms)); break;
            case cDevRequest::pause: transport_.set_paused(request.paused); break;
            case cDevRequest::toggle_pause: transport_.toggle_pause(); break;
            case cDevRequest::loop:
                transport_.set_loop(static_cast<double>(request.first_ms), static_cast<double>(request.second_ms));
                break;
            case cDevRequest::tracks:
                tracks_.submit_text(std::move(request.text), std::string(kSyncSourcePath) + " (from a tool)");
                break;
            case cDevRequest::preview:
                tracks_.preview(request.keys);
                dirty_ = true;  // a paused show draws the previewed values too
                break;
        }
    }
}

void cDevSession::apply_changes(double now) {
    dispatch_changes(watcher_.poll(now), now);
    // The burst of programs and models under way, spread over frames; the rebuilt libraries
    // that have settled; the images decoded meanwhile, a few rows a frame.
    for (const cReloadOutcome& outcome : assets_.step(kReloadWorkSeconds)) report(outcome, now);
    for (const cReloadOutcome& outcome : modules_.poll(now)) report(outcome, now);
    for (const cReloadOutcome& outcome : assets_.poll_images()) report(outcome, now);
    if (assets_.take_stand_ins_changed()) {
        readout_.set_stand_ins(assets_.stand_ins());
        dirty_ = true;
    }
}

void cDevSession::dispatch_changes(const std::vector<cFileChange>& changes, double now) {
    std::array<std::vector<cFileChange>, std::tuple_size_v<decltype(reloaders_)>> taken;
    for (const cFileChange& change : changes) {
        const auto taker = std::find_if(reloaders_.begin(), reloaders_.end(),
                                        [&](const iFileReloader* reloader) { return reloader->takes(change.path); });
        if (taker != reloaders_.end()) taken[static_cast<size_t>(taker - reloaders_.begin())].push_back(change);
    }
    for (size_t i = 0; i < reloaders_.size(); ++i) {
        if (taken[i].empty()) continue;
        for (const cReloadOutcome& outcome : reloaders_[i]->files_changed(taken[i], now)) report(outcome, now);
    }
}
