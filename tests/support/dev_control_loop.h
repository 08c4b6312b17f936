// The development mode's real control surface (cDevControl), answered by a frame loop of the
// test's own: the editor's tests and benchmark do not run the show's main loop (window, GL,
// audio device). Each turn does what the development mode's turn does with the surface: takes
// the requests, applies them to a play state whose clock moves with the wall clock while
// playing, hands a track source to the track tool's own parser and reports the outcome as the
// show reports a reload, publishes the state and delivers the events. Records every request it
// took, with the time; never touches a file.
#pragma once
#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "authoring/dev/dev_control_queue.h"
#include "host/sync/sync_config.h"
#include "host/sync/track_source.h"

struct cDevLoopOptions {
    int64_t show_end_ms = 88250;
    bool playing = false;  // the clock runs from the start
    bool echo = false;     // print every request taken as "# show: ..." on standard output
    std::chrono::milliseconds frame{16};
};

class cDevControlLoop {
public:
    using clock = std::chrono::steady_clock;

    struct cRequest {
        // "seek 1234", "pause 1", "toggle", "loop 100 200", "tracks", "preview NAME ROW=VALUE ...
        // [| NAME ...]" (every key of each track, the value as the float's shortest decimal)
        std::string text;
        std::string tracks;  // the source text of a "tracks" request
        clock::time_point at;
        std::vector<cDevTrackKeys> preview;  // the tracks of a "preview" request
    };

    explicit cDevControlLoop(cDevLoopOptions options = {}) : options_(options) {
        paused_ = !options.playing;
        control_.publish(state());
        thread_ = std::thread([this] { run(); });
    }
    ~cDevControlLoop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    cDevControlLoop(const cDevControlLoop&) = delete;
    cDevControlLoop& operator=(const cDevControlLoop&) = delete;

    iDevControl& control() { return control_; }
    int64_t show_end_ms() const { return options_.show_end_ms; }

    // What the development mode reports once it reloaded the source from disk: posted at the
    // next turn, delivered at its end.
    void report_tracks_reloaded(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(text);
    }
    // What the development mode reports when a file it reads is removed or cannot be taken:
    // posted at the next turn, delivered at its end.
    void report_reload_failed(const std::string& path, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.push_back({cDevEvent::reload_failed, path, text});
    }
    // Returns once a whole turn has run since the call: every request made before it is taken.
    void settle() {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t target = turns_ + 2;
        changed_.wait(lock, [&] { return stop_ || turns_ >= target; });
    }
    // Every request taken, once every request made before the call is taken.
    std::vector<cRequest> requests() {
        settle();
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // The requests taken so far; cheap enough between timed edits (requests() copies every text).
    std::size_t request_count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_.size();
    }
    clock::time_point last_request_time() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_.empty() ? clock::time_point{} : requests_.back().at;
    }
    // Waits until at least count requests were taken; false after timeout.
    bool wait_for_requests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
    }
    std::size_t listener_count() { return control_.listener_count(); }

private:
    cDevLoopOptions options_;
    cDevControl control_;
    std::thread thread_;

    std::mutex mutex_;  // guards the five below
    std::condition_variable wake_, changed_;
    std::vector<cRequest> requests_;
    std::vector<std::string> reports_;
    std::vector<cDevEvent> failures_;
    uint64_t turns_ = 0;
    bool stop_ = false;

    // ---- the loop's thread (and the constructor, before it starts) ----
    bool paused_ = true;
    int64_t anchor_ms_ = 0;  // the time when paused, or when the clock last started
    clock::time_point anchor_at_ = clock::now();
    bool loop_on_ = false;
    int64_t loop_start_ms_ = 0, loop_end_ms_ = 0;
    uint64_t frame_ = 0;

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            lock.unlock();
            turn();
            lock.lock();
            ++turns_;
            changed_.notify_all();
            wake_.wait_for(lock, options_.frame, [this] { return stop_; });
        }
        changed_.notify_all();
    }

    void turn() {
        std::vector<std::string> reports;
        std::vector<cDevEvent> failures;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            reports.swap(reports_);
            failures.swap(failures_);
        }
        for (std::string& text : reports) control_.post({cDevEvent::tracks_reloaded, kSyncSourcePath, std::move(text)});
        for (cDevEvent& failure : failures) control_.post(std::move(failure));
        bool changed = false;
        for (cDevRequest& request : control_.take_requests()) changed = apply(request) || changed;
        // The show pauses at its end instead of ending.
        if (!paused_ && now_ms() >= options_.show_end_ms) {
            anchor(options_.show_end_ms);
            paused_ = true;
            changed = true;
        }
        if (changed) control_.post({cDevEvent::state_changed, "", ""});
        ++frame_;
        control_.publish(state());
        control_.deliver();
    }

    // True when the play state changed.
    bool apply(cDevRequest& request) {
        switch (request.kind) {
            case cDevRequest::seek:
                record("seek " + std::to_string(request.first_ms), "");
                anchor(std::clamp<int64_t>(request.first_ms, 0, options_.show_end_ms));
                return true;
            case cDevRequest::pause:
                record(std::string("pause ") + (request.paused ? "1" : "0"), "");
                anchor(now_ms());
                paused_ = request.paused;
                return true;
            case cDevRequest::toggle_pause:
                record("toggle", "");
                anchor(now_ms());
                paused_ = !paused_;
                return true;
            case cDevRequest::loop:
                record("loop " + std::to_string(request.first_ms) + " " + std::to_string(request.second_ms), "");
                loop_start_ms_ = std::clamp<int64_t>(request.first_ms, 0, options_.show_end_ms);
                loop_end_ms_ = std::clamp<int64_t>(request.second_ms, 0, options_.show_end_ms);
                loop_on_ = loop_end_ms_ > loop_start_ms_;
                return true;
            case cDevRequest::tracks: take_tracks(std::move(request.text)); return false;
            case cDevRequest::preview: {
                std::string text = preview_text(request.keys);
                record(std::move(text), "", std::move(request.keys));
                return false;
            }
        }
        return false;
    }

    // Reported as the show reports a source it applied, or one the track compiler refused.
    void take_tracks(std::string text) {
        cParsedSource parsed = parse_track_source(text);
        if (parsed.ok()) {
            control_.post({cDevEvent::tracks_reloaded, kSyncSourcePath, text});
        } else {
            const cSourceProblem& p = parsed.problems.front();
            control_.post({cDevEvent::reload_failed, kSyncSourcePath,
                           "line " + std::to_string(p.line) + ":" + std::to_string(p.column) + ": " + p.message});
        }
        record("tracks", std::move(text));
    }

    static std::string preview_text(const std::vector<cDevTrackKeys>& tracks) {
        std::string text = "preview";
        char number[32];
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            text += (i ? " | " : " ") + tracks[i].name;
            for (const cSyncKey& key : tracks[i].keys) {
                auto [end, ec] = std::to_chars(number, number + sizeof number, key.value);
                text += " " + std::to_string(key.row) + "=" + std::string(number, ec == std::errc() ? end : number);
            }
        }
        return text;
    }

    void record(std::string text, std::string tracks, std::vector<cDevTrackKeys> preview = {}) {
        if (options_.echo) {
            std::printf("# show: %s\n", text.c_str());
            std::fflush(stdout);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({std::move(text), std::move(tracks), clock::now(), std::move(preview)});
        }
        changed_.notify_all();
    }

    int64_t now_ms() const {
        if (paused_) return anchor_ms_;
        const int64_t ms =
            anchor_ms_ + std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - anchor_at_).count();
        if (loop_on_ && anchor_ms_ < loop_end_ms_ && ms >= loop_end_ms_) {
            return loop_start_ms_ + (ms - loop_start_ms_) % (loop_end_ms_ - loop_start_ms_);
        }
        return std::min(ms, options_.show_end_ms);
    }
    void anchor(int64_t ms) {
        anchor_ms_ = ms;
        anchor_at_ = clock::now();
    }
    cDevState state() const {
        cDevState s;
        s.music_ms = now_ms();
        s.paused = paused_;
        s.loop_on = loop_on_;
        s.loop_start_ms = loop_on_ ? loop_start_ms_ : 0;
        s.loop_end_ms = loop_on_ ? loop_end_ms_ : 0;
        s.frame = frame_;
        return s;
    }
};
