// A request that the gate read whole, seen by cpp-httplib as its connection: reads come from
// the bytes in memory, writes go to the socket within a time limit. Never reads the socket,
// never closes it (the gate owns it), and fails every write once the editor stops.
#pragma once
#include <atomic>
#include <chrono>
#include <string>

#include <httplib.h>

class cGateStream final : public httplib::Stream {
public:
    cGateStream(int fd, const std::string& request, std::chrono::milliseconds write_timeout,
                const std::atomic<bool>& stopping)
        : fd_(fd), request_(request), write_timeout_(write_timeout), stopping_(stopping) {}

    bool is_readable() const override { return read_ < request_.size(); }
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return fd_; }

    // A write failed or timed out: the connection is of no further use.
    bool broken() const { return broken_; }

private:
    bool wait_writable() const;

    int fd_;
    const std::string& request_;
    std::size_t read_ = 0;
    std::chrono::milliseconds write_timeout_;
    const std::atomic<bool>& stopping_;
    bool broken_ = false;
};
