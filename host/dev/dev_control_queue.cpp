// The control surface's queue, snapshot and event delivery. Standard library threads only.
#include "host/dev/dev_control_queue.h"

#include <exception>
#include <iostream>
#include <utility>

void cDevControl::queue(cDevRequest request) {
    std::lock_guard<std::mutex> guard(requests_lock_);
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
