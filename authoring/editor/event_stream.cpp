// Event queues of the open pages. Depends on the standard library and nlohmann-json; holds each
// message once per page and never waits on a page.
#include "authoring/editor/event_stream.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "authoring/editor/editor_config.h"

namespace {

const std::string kReplacedText = "Another page of the editor was opened, and " +
                                  std::to_string(editor_config::max_event_streams) +
                                  " pages at most hear the player: this one stopped following it. "
                                  "Click in it or press a key to follow the player again.";

}  // namespace

bool cEventQueue::wait(std::string& out, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return closed_ || !messages_.empty(); });
    out.clear();
    // A queue closed with a last word still hands that over, then reads as closed.
    while (!messages_.empty()) {
        out += messages_.front();
        messages_.pop_front();
    }
    return !out.empty() || !closed_;
}

void cEventQueue::push(const std::string& message, std::size_t limit) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        if (messages_.size() >= limit) {
            closed_ = true;
            messages_.clear();
        } else {
            messages_.push_back(message);
        }
    }
    ready_.notify_all();
}

void cEventQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        messages_.clear();
    }
    ready_.notify_all();
}

void cEventQueue::close_after(const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        closed_ = true;
        messages_.clear();
        messages_.push_back(message);
    }
    ready_.notify_all();
}

std::shared_ptr<cEventQueue> cEventHub::open_stream() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return nullptr;
    if (streams_.size() >= editor_config::max_event_streams) {
        // The page opened longest ago gives way (most likely a tab left open and forgotten),
        // and is told so, so that it does not reconnect on its own and push the next one out.
        streams_.front()->close_after(message("replaced", nlohmann::json{{"text", kReplacedText}}.dump()));
        streams_.erase(streams_.begin());
    }
    streams_.push_back(std::make_shared<cEventQueue>());
    return streams_.back();
}

void cEventHub::close_stream(const std::shared_ptr<cEventQueue>& queue) {
    queue->close();
    std::lock_guard<std::mutex> lock(mutex_);
    streams_.erase(std::remove(streams_.begin(), streams_.end(), queue), streams_.end());
}

void cEventHub::publish(const std::string& name, const std::string& data) {
    std::string text = message(name, data);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& stream : streams_) stream->push(text, editor_config::max_queued_events);
}

void cEventHub::close_all() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (const auto& stream : streams_) stream->close();
    streams_.clear();
}

std::size_t cEventHub::stream_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_.size();
}

std::string cEventHub::message(const std::string& name, const std::string& data) {
    // JSON from nlohmann holds no line break, so the data is one "data:" line.
    return "event: " + name + "\ndata: " + data + "\n\n";
}
