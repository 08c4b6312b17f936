// The control surface's queue, snapshot and event delivery. Standard library threads only.
#include "authoring/dev/dev_control_queue.h"

#include <exception>
#include <iterator>
#include <iostream>
#include <utility>

// A request replaces the waiting ones it makes pointless, and goes to the end: the last seek,
// the last loop and the last track source are all that count, and a pause decides the state
// whatever pauses and toggles came before it. So at most one request of each kind waits (the
// queue is bounded by the number of kinds), and the loop applies each at most once a frame.
void cDevControl::queue(cDevRequest request) {
    std::lock_guard<std::mutex> guard(requests_lock_);
    auto last_of = [&](auto wanted) {
        for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
            if (wanted(it->kind)) return std::next(it).base();
        }
        return requests_.end();
    };
    auto pausing = [](cDevRequest::kind_t kind) { return kind == cDevRequest::pause || kind == cDevRequest::toggle_pause; };
    if (request.kind == cDevRequest::preview) {
        // Tracks of the waiting preview that the newer one does not name keep their keys.
        auto waiting = last_of([](cDevRequest::kind_t kind) { return kind == cDevRequest::preview; });
        if (waiting != requests_.end()) {
            for (cDevTrackKeys& older : waiting->keys) {
                bool named = false;
                for (const cDevTrackKeys& newer : request.keys) named = named || newer.name == older.name;
                if (!named) request.keys.push_back(std::move(older));
            }
            requests_.erase(waiting);
        }
    } else if (request.kind == cDevRequest::toggle_pause) {
        auto waiting = last_of(pausing);
        if (waiting != requests_.end()) {
            // Toggling a waiting toggle cancels both; toggling a waiting pause turns it round.
            const bool cancels = waiting->kind == cDevRequest::toggle_pause;
            request.kind = cDevRequest::pause;
            request.paused = !waiting->paused;
            requests_.erase(waiting);
            if (cancels) return;
        }
    } else {
        const cDevRequest::kind_t kind = request.kind;
        std::erase_if(requests_, [&](const cDevRequest& waiting) {
            return kind == cDevRequest::pause ? pausing(waiting.kind) : waiting.kind == kind;
        });
    }
    requests_.push_back(std::move(request));
}

void cDevControl::request_seek(int64_t music_ms) {
    cDevRequest request;
    request.kind = cDevRequest::seek;
    request.first_ms = music_ms;
    queue(std::move(request));
}

void cDevControl::request_pause(bool paused) {
    cDevRequest request;
    request.kind = cDevRequest::pause;
    request.paused = paused;
    queue(std::move(request));
}

void cDevControl::request_toggle_pause() {
    cDevRequest request;
    request.kind = cDevRequest::toggle_pause;
    queue(std::move(request));
}

void cDevControl::request_loop(int64_t start_ms, int64_t end_ms) {
    cDevRequest request;
    request.kind = cDevRequest::loop;
    request.first_ms = start_ms;
    request.second_ms = end_ms;
    queue(std::move(request));
}

void cDevControl::request_tracks(std::string source_text) {
    cDevRequest request;
    request.kind = cDevRequest::tracks;
    request.text = std::move(source_text);
    queue(std::move(request));
}

void cDevControl::request_preview(std::vector<cDevTrackKeys> tracks) {
    cDevRequest request;
    request.kind = cDevRequest::preview;
    request.keys = std::move(tracks);
    queue(std::move(request));
}

cDevState cDevControl::state() const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return state_;
}

int cDevControl::subscribe(std::function<void(const cDevEvent&)> listener) {
    auto shared = std::make_shared<const std::function<void(const cDevEvent&)>>(std::move(listener));
    std::lock_guard<std::mutex> guard(listeners_lock_);
    const int id = next_id_++;
    listeners_.emplace(id, std::move(shared));
    return id;
}

void cDevControl::unsubscribe(int id) {
    std::lock_guard<std::recursive_mutex> delivering(delivery_lock_);
    std::lock_guard<std::mutex> guard(listeners_lock_);
    listeners_.erase(id);
}

std::vector<cDevRequest> cDevControl::take_requests() {
    std::vector<cDevRequest> taken;
    std::lock_guard<std::mutex> guard(requests_lock_);
    taken.swap(requests_);
    return taken;
}

void cDevControl::publish(const cDevState& state) {
    std::lock_guard<std::mutex> guard(state_lock_);
    state_ = state;
}

void cDevControl::post(cDevEvent event) { posted_.push_back(std::move(event)); }

void cDevControl::deliver() {
    if (posted_.empty()) return;
    std::vector<cDevEvent> events;
    events.swap(posted_);
    std::lock_guard<std::recursive_mutex> delivering(delivery_lock_);
    for (const cDevEvent& event : events) {
        std::vector<std::pair<int, cListener>> listeners;
        {
            std::lock_guard<std::mutex> guard(listeners_lock_);
            listeners.assign(listeners_.begin(), listeners_.end());
        }
        for (const auto& [id, listener] : listeners) {
            {
                // One that a listener before it unsubscribed is not called any more.
                std::lock_guard<std::mutex> guard(listeners_lock_);
                if (listeners_.count(id) == 0) continue;
            }
            try {
                (*listener)(event);
            } catch (const std::exception& e) {
                std::cerr << "## ERROR: a development tool's listener failed: " << e.what() << std::endl;
            } catch (...) {
                std::cerr << "## ERROR: a development tool's listener failed" << std::endl;
            }
        }
    }
}
