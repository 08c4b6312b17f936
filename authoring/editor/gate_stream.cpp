// Writes with poll and a time limit on a non-blocking socket; addresses from the socket.
// Depends on POSIX sockets and cpp-httplib's stream interface.
#include "authoring/editor/gate_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void address_of(int fd, bool remote, std::string& ip, int& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int got = remote ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                     : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    char text[INET_ADDRSTRLEN] = {};
    if (got != 0 || address.sin_family != AF_INET || !::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) {
        ip.clear();
        port = -1;
        return;
    }
    ip = text;
    port = ntohs(address.sin_port);
}

}  // namespace

bool cGateStream::wait_writable() const {
    if (stopping_) return false;
    pollfd p{fd_, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, static_cast<int>(write_timeout_.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0 && !stopping_;
}

bool cGateStream::is_writable() const { return !broken_ && wait_writable(); }

ssize_t cGateStream::read(char* ptr, size_t size) {
    const std::size_t n = std::min(size, request_.size() - read_);
    std::memcpy(ptr, request_.data() + read_, n);
    read_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t cGateStream::write(const char* ptr, size_t size) {
    std::size_t done = 0;
    while (done < size && !broken_) {
        ssize_t n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable()) {
            continue;
        } else {
            broken_ = true;  // a client that reads nothing for the whole limit, or a shut socket
        }
    }
    return broken_ ? -1 : static_cast<ssize_t>(size);
}

void cGateStream::get_remote_ip_and_port(std::string& ip, int& port) const { address_of(fd_, true, ip, port); }

void cGateStream::get_local_ip_and_port(std::string& ip, int& port) const { address_of(fd_, false, ip, port); }
