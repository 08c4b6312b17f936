// The gate's one thread: poll over the listening socket, a wake-up descriptor and every
// connection still sending its request; deadlines per connection; refusals answered and the
// rest drained so the client sees them. Depends on POSIX sockets and the request framing.
#include "authoring/editor/http_gate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <nlohmann/json.hpp>

namespace {

using Clock = std::chrono::steady_clock;

// One read of a connection per turn: every connection gets its turn, whatever one sends.
constexpr std::size_t kReadBytes = 64 * 1024;
constexpr int kListenBacklog = 64;

const char* status_text(int status) {
    switch (status) {
        case 400: return "Bad Request";
        case 408: return "Request Timeout";
        case 413: return "Payload Too Large";
        case 431: return "Request Header Fields Too Large";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

}  // namespace

struct cHttpGate::cConnection {
    cConnection(int socket, const cFramingLimits& limits) : fd(socket), framer(limits) {}
    int fd;
    cRequestFramer framer;
    Clock::time_point joined = Clock::now();
    Clock::time_point deadline;
    bool draining = false;
    bool continued = false;
};

cHttpGate::~cHttpGate() { stop(); }

bool cHttpGate::bind(const char* host, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Only SO_REUSEADDR (a restarted player gets its port back at once); never SO_REUSEPORT,
    // which would let a second program bind the same port and share the editor's connections.
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host, &address.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, kListenBacklog) != 0) {
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    listen_fd_ = fd;
    port_ = ntohs(address.sin_port);
    return true;
}

void cHttpGate::start(std::function<bool(cWholeRequest&)> dispatch) {
    dispatch_ = std::move(dispatch);
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    started_ = true;
    thread_ = std::thread([this] { run(); });
}

void cHttpGate::wake() {
    if (wake_fd_ < 0) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void cHttpGate::keep(int fd, std::string rest) {
    {
        // The wake-up is written under the lock, so stop() cannot close its descriptor meanwhile.
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopping_) {
            returned_.emplace_back(fd, std::move(rest));
            wake();
            return;
        }
    }
    close(fd);
}

void cHttpGate::close(int fd) {
    // Under the lock: stop() never shuts down a number that was closed and given to another file.
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(fd);
    ::close(fd);
}

void cHttpGate::stop() {
    if (stopping_.exchange(true)) return;
    if (started_) {
        wake();
        thread_.join();
    } else if (listen_fd_ >= 0) {
        ::close(listen_fd_);
    }
    listen_fd_ = -1;
    std::lock_guard<std::mutex> lock(mutex_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    wake_fd_ = -1;
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
}

void cHttpGate::answer(int fd, int status, const std::string& reason, bool retry_soon) {
    const std::string body = nlohmann::json{{"error", reason}}.dump();
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + status_text(status) +
                       "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n" +
                       (retry_soon ? "Retry-After: 1\r\n" : "") + "\r\n" + body;
    // Small enough for any socket's buffer; a client that has filled it gets nothing.
    [[maybe_unused]] ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// ---- the thread ----

void cHttpGate::add(std::vector<std::unique_ptr<cConnection>>& waiting, int fd, const std::string& rest) {
    if (waiting.size() >= settings_.max_waiting) {
        // The longest waiting goes: a crowd of slow clients never keeps a new page out.
        auto oldest = std::min_element(waiting.begin(), waiting.end(),
                                       [](const auto& a, const auto& b) { return a->joined < b->joined; });
        drop(**oldest);
        waiting.erase(oldest);
    }
    auto c = std::make_unique<cConnection>(fd, settings_.framing);
    c->deadline = c->joined + settings_.idle_deadline;
    if (!rest.empty()) {
        c->deadline = c->joined + settings_.request_deadline;
        c->framer.feed(rest.data(), rest.size());
        if (!advance(*c)) return;
    }
    waiting.push_back(std::move(c));
}

void cHttpGate::accept_all(std::vector<std::unique_ptr<cConnection>>& waiting) {
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // none left (or the process is out of descriptors: next turn)
        // Answers go out in more than one write; without this the kernel may hold the last one
        // back for a delayed acknowledgement (tens of milliseconds).
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_.insert(fd);
        }
        add(waiting, fd, {});
    }
}

void cHttpGate::drop(cConnection& c) { close(c.fd); }

bool cHttpGate::read_from(cConnection& c) {
    char buffer[kReadBytes];
    ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    if (n <= 0) {  // the client closed, or the connection broke
        drop(c);
        return false;
    }
    if (c.draining) return true;
    const bool first = !c.framer.started();
    c.framer.feed(buffer, static_cast<std::size_t>(n));
    if (first) c.deadline = Clock::now() + settings_.request_deadline;
    return advance(c);
}

bool cHttpGate::advance(cConnection& c) {
    if (c.framer.refused()) {
        answer(c.fd, c.framer.status(), c.framer.reason());
        // The client may still be sending: read and drop it for a while, or it might see the
        // connection reset before it reads the answer.
        ::shutdown(c.fd, SHUT_WR);
        c.draining = true;
        c.deadline = Clock::now() + settings_.drain_time;
        return true;
    }
    if (c.framer.whole()) {
        cWholeRequest request;
        request.fd = c.fd;
        request.bytes = c.framer.request();
        request.path = c.framer.path();
        request.rest = c.framer.rest();
        if (!dispatch_(request)) {
            answer(c.fd, 503, "the editor is busy with other requests; try again in a moment", true);
            drop(c);
        }
        return false;
    }
    if (c.framer.take_continue()) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        [[maybe_unused]] ssize_t n = ::send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    return true;
}

void cHttpGate::run() {
    std::vector<std::unique_ptr<cConnection>> waiting;
    std::vector<pollfd> polled;
    while (!stopping_) {
        auto now = Clock::now();
        // Deadlines: an idle connection closes quietly, a late request is told why.
        for (auto it = waiting.begin(); it != waiting.end();) {
            cConnection& c = **it;
            if (now < c.deadline) {
                ++it;
                continue;
            }
            if (!c.draining && c.framer.started()) {
                answer(c.fd, 408,
                       "the request did not arrive whole within " +
                           std::to_string(settings_.request_deadline.count()) + " ms");
            }
            drop(c);
            it = waiting.erase(it);
        }
        auto next = now + std::chrono::seconds(1);
        for (const auto& c : waiting) next = std::min(next, c->deadline);

        polled.clear();
        polled.push_back({wake_fd_, POLLIN, 0});
        polled.push_back({listen_fd_, POLLIN, 0});
        for (const auto& c : waiting) polled.push_back({c->fd, POLLIN, 0});
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        if (::poll(polled.data(), polled.size(), static_cast<int>(std::max<int64_t>(wait, 0))) < 0 && errno != EINTR) {
            break;
        }
        if (stopping_) break;

        // Readiness first, against the list as it was polled; new arrivals after.
        std::vector<std::unique_ptr<cConnection>> still;
        still.reserve(waiting.size());
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            const short events = polled[i + 2].revents;
            if (events != 0 && !read_from(*waiting[i])) continue;
            still.push_back(std::move(waiting[i]));
        }
        waiting.swap(still);
        if (polled[0].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(wake_fd_, &count, sizeof count);
            std::vector<std::pair<int, std::string>> back;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                back.swap(returned_);
            }
            for (auto& [fd, rest] : back) add(waiting, fd, rest);
        }
        if (polled[1].revents != 0) accept_all(waiting);
    }
    for (const auto& c : waiting) drop(*c);
    std::vector<std::pair<int, std::string>> back;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        back.swap(returned_);
    }
    for (auto& entry : back) close(entry.first);
    ::close(listen_fd_);
}
