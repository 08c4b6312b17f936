// A stand-in for the player's development mode, for the editor's tests and benchmark: the real
// one is the show's main loop, which these programs do not run. It records every request (with
// the time it arrived), keeps a play state whose clock moves with the wall clock while playing,
// and hands events to its listeners from its own "frame" thread every 16 ms, between frames,
// as the real one does on the main thread.
#pragma once
#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "authoring/dev/dev_control.h"

class cDevControlStandIn final : public iDevControl {
public:
    using clock = std::chrono::steady_clock;

    struct cRequest {
        // "seek 1234", "pause 1", "toggle", "loop 100 200", "tracks", "preview NAME ROW=VALUE ...
        // [| NAME ...]" (every key of each track, the value as the float's shortest decimal)
        std::string text;
        std::string tracks;      // the source text of a "tracks" request
        clock::time_point at;
        std::vector<cDevTrackKeys> preview;
    };

    // echo: also print every request as one line "# stand-in: ..." on standard output.
    explicit cDevControlStandIn(int64_t show_end_ms = 88250, bool echo = false) : end_ms_(show_end_ms), echo_(echo) {
        frames_ = std::thread([this] { run_frames(); });
    }
    ~cDevControlStandIn() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        frames_.join();
    }

    void request_seek(int64_t music_ms) override {
        std::lock_guard<std::mutex> lock(mutex_);
        anchor_locked(std::clamp<int64_t>(music_ms, 0, end_ms_));
        record_locked("seek " + std::to_string(music_ms), {});
        event_locked({cDevEvent::state_changed, {}, {}});
    }
    void request_pause(bool paused) override {
        std::lock_guard<std::mutex> lock(mutex_);
        anchor_locked(now_ms_locked());
        state_.paused = paused;
        record_locked(std::string("pause ") + (paused ? "1" : "0"), {});
        event_locked({cDevEvent::state_changed, {}, {}});
    }
    void request_toggle_pause() override {
        std::lock_guard<std::mutex> lock(mutex_);
        anchor_locked(now_ms_locked());
        state_.paused = !state_.paused;
        record_locked("toggle", {});
        event_locked({cDevEvent::state_changed, {}, {}});
    }
    void request_loop(int64_t start_ms, int64_t end_ms) override {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.loop_on = end_ms > start_ms;
        state_.loop_start_ms = state_.loop_on ? start_ms : 0;
        state_.loop_end_ms = state_.loop_on ? end_ms : 0;
        record_locked("loop " + std::to_string(start_ms) + " " + std::to_string(end_ms), {});
        event_locked({cDevEvent::state_changed, {}, {}});
    }
    void request_tracks(std::string source_text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_locked("tracks", std::move(source_text));
    }
    void request_preview(std::vector<cDevTrackKeys> tracks) override {
        std::string text = "preview";
        char number[32];
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            text += (i ? " | " : " ") + tracks[i].name;
            for (const cSyncKey& key : tracks[i].keys) {
                auto [end, ec] = std::to_chars(number, number + sizeof number, key.value);
                text += " " + std::to_string(key.row) + "=" + std::string(number, ec == std::errc() ? end : number);
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        record_locked(std::move(text), {});
        requests_.back().preview = std::move(tracks);
    }
    cDevState state() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        cDevState s = state_;
        s.music_ms = now_ms_locked();
        return s;
    }
    int subscribe(std::function<void(const cDevEvent&)> listener) override {
        std::lock_guard<std::mutex> lock(mutex_);
        listeners_[++last_id_] = std::move(listener);
        return last_id_;
    }
    // Waits for a delivery in progress, so no listener runs after it returns (the real one
    // delivers and unsubscribes on one thread).
    void unsubscribe(int id) override {
        std::lock_guard<std::mutex> delivering(deliver_mutex_);
        std::lock_guard<std::mutex> lock(mutex_);
        listeners_.erase(id);
    }

    // ---- for the test ----
    // What the real development mode reports after it reloaded the source from disk.
    void report_tracks_reloaded(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        event_locked({cDevEvent::tracks_reloaded, "data/sync/show.tracks", text});
    }
    // What it reports when a file it reads is removed or cannot be taken.
    void report_reload_failed(const std::string& path, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        event_locked({cDevEvent::reload_failed, path, text});
    }
    void set_playing(bool playing) {
        std::lock_guard<std::mutex> lock(mutex_);
        anchor_locked(now_ms_locked());
        state_.paused = !playing;
    }
    std::vector<cRequest> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // Cheap enough to ask between timed edits (requests() copies every source text).
    std::size_t request_count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_.size();
    }
    clock::time_point last_request_time() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_.empty() ? clock::time_point{} : requests_.back().at;
    }
    // Waits until there are at least count requests; false after timeout.
    bool wait_for_requests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
    }
    int listener_count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(listeners_.size());
    }

private:
    int64_t end_ms_;
    bool echo_;
    mutable std::mutex mutex_;
    std::mutex deliver_mutex_;
    std::condition_variable changed_;
    cDevState state_{0, true, false, 0, 0, 0, 0};
    clock::time_point anchor_at_ = clock::now();
    std::vector<cRequest> requests_;
    std::deque<cDevEvent> events_;
    std::map<int, std::function<void(const cDevEvent&)>> listeners_;
    int last_id_ = 0;
    bool stop_ = false;
    std::thread frames_;

    int64_t now_ms_locked() const {
        if (state_.paused) return state_.music_ms;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - anchor_at_).count();
        int64_t ms = state_.music_ms + elapsed;
        if (state_.loop_on && state_.music_ms < state_.loop_end_ms && ms >= state_.loop_end_ms) {
            ms = state_.loop_start_ms + (ms - state_.loop_start_ms) % (state_.loop_end_ms - state_.loop_start_ms);
        }
        return std::min(ms, end_ms_);
    }
    void anchor_locked(int64_t ms) {
        state_.music_ms = ms;
        anchor_at_ = clock::now();
    }
    void record_locked(std::string text, std::string tracks) {
        if (echo_) {
            std::printf("# stand-in: %s\n", text.c_str());
            std::fflush(stdout);
        }
        requests_.push_back({std::move(text), std::move(tracks), clock::now(), {}});
        changed_.notify_all();
    }
    void event_locked(cDevEvent event) { events_.push_back(std::move(event)); }

    void run_frames() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            changed_.wait_for(lock, std::chrono::milliseconds(16), [this] { return stop_; });
            ++state_.frame;
            std::deque<cDevEvent> events;
            events.swap(events_);
            lock.unlock();
            {
                std::lock_guard<std::mutex> delivering(deliver_mutex_);
                std::map<int, std::function<void(const cDevEvent&)>> listeners;
                {
                    std::lock_guard<std::mutex> relock(mutex_);
                    listeners = listeners_;
                }
                for (const cDevEvent& e : events) {
                    for (auto& [id, listener] : listeners) listener(e);
                }
            }
            lock.lock();
        }
    }
};
