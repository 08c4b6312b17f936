// Where one HTTP/1.1 request ends, worked out from the bytes as they arrive: the head, then a
// body of Content-Length bytes or in chunks. The whole request comes out rewritten with a plain
// Content-Length, so what reads it never sees chunks. Pure byte handling: no sockets, no clock;
// never holds more than the limits allow (a body is refused at its declared size, unread).
#pragma once
#include <cstddef>
#include <string>

struct cFramingLimits {
    std::size_t max_head_bytes = 0;
    std::size_t max_body_bytes = 0;
};

class cRequestFramer {
public:
    explicit cRequestFramer(const cFramingLimits& limits) : limits_(limits) {}

    // Takes what arrived. Bytes after the end of the request are kept for the next one.
    void feed(const char* data, std::size_t size);

    bool started() const { return received_ > 0; }
    bool whole() const { return state_ == kWhole; }
    bool refused() const { return state_ == kRefused; }
    // The head is in, the client waits for "100 Continue" before sending its body, and the
    // body is acceptable so far. True once: the caller answers it.
    bool take_continue();

    // Once refused: the status (400, 413, 431, 501) and why, in the editor's words.
    int status() const { return status_; }
    const std::string& reason() const { return reason_; }

    // Once whole: the request line and headers without their framing (Content-Length,
    // Transfer-Encoding, Expect), a Content-Length of the body when there is one, the body.
    const std::string& request() const { return request_; }
    // The target's path (before any '?').
    const std::string& path() const { return path_; }
    // What came after the request (a client that sends the next one without waiting).
    std::string rest() const { return pending_.substr(at_); }

private:
    enum eState { kHead, kBody, kChunkSize, kChunkData, kChunkEnd, kTrailer, kWhole, kRefused };

    void step();
    bool take_line(std::string& line);  // one line ending in LF (CR dropped); false: not whole yet
    void parse_head(const std::string& head);
    void body_done();
    void refuse(int status, const std::string& reason);

    cFramingLimits limits_;
    eState state_ = kHead;
    std::size_t received_ = 0;
    std::string pending_;        // bytes not yet taken, from at_
    std::size_t at_ = 0;
    std::size_t scanned_ = 0;    // where the search for the head's end goes on
    std::string head_;           // request line and kept headers, each ending in CRLF
    std::string body_;
    std::size_t length_ = 0;     // kBody: bytes still to come; kChunkData: bytes of this chunk
    std::size_t trailer_bytes_ = 0;
    bool has_body_ = false;
    bool wants_continue_ = false;
    int status_ = 0;
    std::string reason_;
    std::string request_;
    std::string path_;
};
