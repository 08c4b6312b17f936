// The editor's side of its connections: accepts on the loopback interface and reads every
// request whole on one thread for all connections, within a deadline, so that no worker ever
// waits on a slow or idle client; refuses what is malformed or too large before keeping it;
// hands whole requests on. POSIX sockets and poll; knows nothing of routes, tokens or pages.
// stop() shuts every socket it ever opened, so whoever still writes to one stops at once.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "authoring/editor/request_framing.h"

struct cGateSettings {
    cFramingLimits framing;
    std::chrono::milliseconds request_deadline{0};  // from a request's first byte to its last
    std::chrono::milliseconds idle_deadline{0};     // a connection that sends nothing is closed
    std::chrono::milliseconds drain_time{0};        // after a refusal, the rest is read and dropped
    std::size_t max_waiting = 0;                    // connections without a whole request yet
};

struct cWholeRequest {
    int fd = -1;
    std::string bytes;  // as cRequestFramer::request() gives it
    std::string path;
    std::string rest;   // what the client sent after it
};

class cHttpGate {
public:
    explicit cHttpGate(const cGateSettings& settings) : settings_(settings) {}
    ~cHttpGate();
    cHttpGate(const cHttpGate&) = delete;
    cHttpGate& operator=(const cHttpGate&) = delete;

    // Listens on host:port, or on a free port for 0. False when the port is taken.
    bool bind(const char* host, int port);
    int port() const { return port_; }
    int listen_socket() const { return listen_fd_; }

    // dispatch takes a whole request (the socket goes with it) or returns false when nobody
    // can take it now; the gate then answers 503 and closes the connection.
    void start(std::function<bool(cWholeRequest&)> dispatch);
    // A connection handed on comes back for its next request, with what already arrived.
    void keep(int fd, std::string rest);
    void close(int fd);
    // No new connections; every waiting one closed, every one handed on shut down. Once.
    void stop();
    bool stopping() const { return stopping_; }

    // An answer written by the gate itself: {"error": reason}, the connection closing after it.
    static void answer(int fd, int status, const std::string& reason, bool retry_soon = false);

private:
    struct cConnection;

    void run();
    void accept_all(std::vector<std::unique_ptr<cConnection>>& waiting);
    void add(std::vector<std::unique_ptr<cConnection>>& waiting, int fd, const std::string& rest);
    // False once the connection is done with here (handed on or closed).
    bool read_from(cConnection& c);
    bool advance(cConnection& c);
    void drop(cConnection& c);
    void wake();

    cGateSettings settings_;
    int listen_fd_ = -1;
    int port_ = 0;
    int wake_fd_ = -1;
    std::function<bool(cWholeRequest&)> dispatch_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;

    std::mutex mutex_;            // guards the two below
    std::set<int> open_;          // every socket not closed yet, wherever it is
    std::vector<std::pair<int, std::string>> returned_;
};
