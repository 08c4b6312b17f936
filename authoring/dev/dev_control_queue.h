// The development mode's implementation of iDevControl: requests from any thread wait in a
// queue that the main loop takes between frames, a newer request replacing the waiting ones it
// supersedes (seeks, pauses, loops, track sources), so the queue never holds more than one of
// each kind (a waiting preview takes the newer keys of the tracks it names); the state is a copy the loop publishes once per frame; events are posted by the
// loop and delivered to the subscribers between frames, on the main thread. No GL and no files; every lock is held only for a copy or a swap, and
// no lock a request takes is held while a listener runs.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "authoring/control/dev_control.h"

// One queued request, as iDevControl received it.
struct cDevRequest {
    enum kind_t { seek, pause, toggle_pause, loop, tracks, preview };
    kind_t kind = seek;
    int64_t first_ms = 0;   // seek: the time; loop: the start
    int64_t second_ms = 0;  // loop: the end
    bool paused = false;    // pause
    std::string text;       // tracks: the source text
    std::vector<cDevTrackKeys> keys;  // preview: the tracks, each named once
};

class cDevControl final : public iDevControl {
public:
    // ---- iDevControl: any thread ----
    void request_seek(int64_t music_ms) override;
    void request_pause(bool paused) override;
    void request_toggle_pause() override;
    void request_loop(int64_t start_ms, int64_t end_ms) override;
    void request_tracks(std::string source_text) override;
    void request_preview(std::vector<cDevTrackKeys> tracks) override;
    cDevState state() const override;
    int subscribe(std::function<void(const cDevEvent&)> listener) override;
    // Once it returns, the listener is not called again, and no call of it is under way
    // (unless it is called from the listener itself, on the main thread).
    void unsubscribe(int id) override;
    // The listeners subscribed now (for tests: a tool that stopped leaves none behind).
    std::size_t listener_count() { std::lock_guard<std::mutex> guard(listeners_lock_); return listeners_.size(); }

    // ---- the main loop, between frames ----
    // The requests waiting, oldest first (at most one per kind: the last seek, the pause state
    // the pauses and toggles came to, the last loop, the last track source); the queue is
    // empty afterwards.
    std::vector<cDevRequest> take_requests();
    void publish(const cDevState& state);
    // Queues an event for the next deliver.
    void post(cDevEvent event);
    // Hands every posted event to every listener subscribed at that moment, in order. A
    // listener that throws is reported and does not stop the others.
    void deliver();

private:
    using cListener = std::shared_ptr<const std::function<void(const cDevEvent&)>>;

    void queue(cDevRequest request);

    std::mutex requests_lock_;
    std::vector<cDevRequest> requests_;
    mutable std::mutex state_lock_;
    cDevState state_;
    std::mutex listeners_lock_;
    std::map<int, cListener> listeners_;
    int next_id_ = 1;
    // Held while listeners run: unsubscribe waits for a delivery under way to end.
    std::recursive_mutex delivery_lock_;
    std::vector<cDevEvent> posted_;  // main thread only
};
