// The push to open pages: one queue of Server-Sent Events messages per page, filled by
// publish and drained by that page's stream. Thread-safe; never blocks a publisher (a page
// that falls too far behind is cut off and reconnects). No sockets here.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class cEventQueue {
public:
    // The next messages, or "" when none came within timeout. False once the queue is closed
    // and its last word, if it had one, was taken.
    bool wait(std::string& out, std::chrono::milliseconds timeout);
    void push(const std::string& message, std::size_t limit);
    void close();
    // Closes the queue with one message still to go out in place of whatever waited.
    void close_after(const std::string& message);

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> messages_;
    bool closed_ = false;
};

class cEventHub {
public:
    // A new page's queue; null once closed. When as many streams as allowed are open, the
    // oldest is closed with a "replaced" event that says why.
    std::shared_ptr<cEventQueue> open_stream();
    void close_stream(const std::shared_ptr<cEventQueue>& queue);
    // "event: NAME\ndata: DATA\n\n" to every open stream.
    void publish(const std::string& name, const std::string& data);
    // Ends every stream; later open_stream calls give null.
    void close_all();
    std::size_t stream_count();

    static std::string message(const std::string& name, const std::string& data);

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<cEventQueue>> streams_;
    bool closed_ = false;
};
