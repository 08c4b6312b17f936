// The bridge's queue and thread. Depends on the control surface, the session and the event
// hub; the show's listener holds its lock only for a push, the thread never while it publishes.
#include "authoring/editor/show_event_bridge.h"

#include <nlohmann/json.hpp>

#include "authoring/editor/editor_config.h"
#include "authoring/editor/editor_session.h"
#include "authoring/editor/event_stream.h"
#include "host/sync/sync_config.h"

void cShowEventBridge::start() {
    thread_ = std::thread([this] { run(); });
    session_.set_state_listener([this] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_pending_ = true;
        }
        wake_.notify_one();
    });
    subscription_ = dev_.subscribe([this](const cDevEvent& event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        wake_.notify_one();
    });
    subscribed_ = true;
}

void cShowEventBridge::stop() {
    if (subscribed_) {
        dev_.unsubscribe(subscription_);
        session_.set_state_listener(nullptr);
    }
    subscribed_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

// Wakes for an event, a change of the session's state, or the player's periodic push.
void cShowEventBridge::run() {
    const auto period = std::chrono::milliseconds(editor_config::player_push_ms);
    next_player_ = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        wake_.wait_until(lock, next_player_, [this] { return stop_ || state_pending_ || !events_.empty(); });
        if (stop_) break;
        std::deque<cDevEvent> events;
        events.swap(events_);
        const bool state_pending = state_pending_;
        state_pending_ = false;
        lock.unlock();
        forward(events, state_pending);
        lock.lock();
    }
}

// Every change of the tracks goes to the pages from here.
void cShowEventBridge::forward(const std::deque<cDevEvent>& events, bool state_pending) {
    if (state_pending) session_.publish_state();
    bool player_changed = false;
    for (const cDevEvent& event : events) {
        if (event.kind == cDevEvent::tracks_reloaded) session_.check_disk();
        // The show's word about a file the editor itself removed is not news to the pages.
        if (event.kind == cDevEvent::reload_failed && !session_.removed_by_editor(event.path)) {
            hub_.publish("notice", nlohmann::json{{"text", "the show could not apply \"" + event.path + "\": " + event.text},
                                                  {"error", true}}
                                       .dump());
            // A source saved with an error: the pages show it, with its problems.
            if (event.path == kSyncSourcePath) session_.check_disk();
        }
        if (event.kind == cDevEvent::state_changed) player_changed = true;
    }
    // A save the show has not reported (or one still settling then) is taken from here.
    session_.poll_disk();
    const auto now = std::chrono::steady_clock::now();
    if (player_changed || now >= next_player_) {
        if (hub_.stream_count() > 0) hub_.publish("player", player_json(dev_.state()).dump());
        next_player_ = now + std::chrono::milliseconds(editor_config::player_push_ms);
    }
}
