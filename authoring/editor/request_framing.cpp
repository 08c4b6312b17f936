// The framing of one request: head up to its empty line, then Content-Length bytes or chunks
// and trailers, each limit checked before the bytes it guards are kept. Standard library only.
#include "authoring/editor/request_framing.h"

#include <algorithm>

namespace {

// A chunk's size line or a trailer line longer than this is not from a real client.
constexpr std::size_t kMaxLineBytes = 4096;
// 15 hexadecimal digits are beyond any body limit, and no digit string overflows below them.
constexpr std::size_t kMaxSizeDigits = 15;

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool all_digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string megabytes(std::size_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB (" + std::to_string(bytes) + " bytes)";
}

}  // namespace

void cRequestFramer::feed(const char* data, std::size_t size) {
    if (state_ == kRefused) return;  // the rest is read and dropped by the caller
    if (state_ == kWhole) {
        pending_.append(data, size);
        return;
    }
    received_ += size;
    // What was taken is dropped now and then, so a long body does not copy itself over again.
    if (at_ > 0 && at_ >= pending_.size() / 2) {
        pending_.erase(0, at_);
        scanned_ -= std::min(scanned_, at_);
        at_ = 0;
    }
    pending_.append(data, size);
    step();
}

bool cRequestFramer::take_continue() {
    if (!wants_continue_ || state_ == kRefused || state_ == kWhole) return false;
    wants_continue_ = false;
    return true;
}

void cRequestFramer::refuse(int status, const std::string& reason) {
    state_ = kRefused;
    status_ = status;
    reason_ = reason;
    pending_.clear();
    body_.clear();
    at_ = 0;
}

bool cRequestFramer::take_line(std::string& line) {
    std::size_t end = pending_.find('\n', at_);
    if (end == std::string::npos) {
        if (pending_.size() - at_ > kMaxLineBytes) refuse(400, "a line of the request's body framing is too long");
        return false;
    }
    if (end - at_ > kMaxLineBytes) {
        refuse(400, "a line of the request's body framing is too long");
        return false;
    }
    line = pending_.substr(at_, end - at_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at_ = end + 1;
    return true;
}

void cRequestFramer::step() {
    for (;;) {
        switch (state_) {
            case kHead: {
                // Empty lines before the request line are tolerated, as the protocol asks.
                while (at_ < pending_.size() && (pending_[at_] == '\r' || pending_[at_] == '\n')) ++at_;
                std::size_t i = std::max(scanned_, at_), end = std::string::npos;
                for (; i < pending_.size(); ++i) {
                    if (pending_[i] != '\n') continue;
                    if (i + 1 >= pending_.size()) break;
                    if (pending_[i + 1] == '\n') {
                        end = i + 2;
                        break;
                    }
                    if (pending_[i + 1] == '\r') {
                        if (i + 2 >= pending_.size()) break;
                        if (pending_[i + 2] == '\n') {
                            end = i + 3;
                            break;
                        }
                    }
                }
                if (end == std::string::npos) {
                    scanned_ = i;
                    if (pending_.size() - at_ > limits_.max_head_bytes) {
                        refuse(431, "the request's head is larger than " + std::to_string(limits_.max_head_bytes) + " bytes");
                    }
                    return;
                }
                if (end - at_ > limits_.max_head_bytes) {
                    refuse(431, "the request's head is larger than " + std::to_string(limits_.max_head_bytes) + " bytes");
                    return;
                }
                std::string head = pending_.substr(at_, end - at_);
                at_ = end;
                parse_head(head);
                break;
            }
            case kBody: {
                std::size_t take = std::min(length_, pending_.size() - at_);
                body_.append(pending_, at_, take);
                at_ += take;
                length_ -= take;
                if (length_ > 0) return;
                body_done();
                break;
            }
            case kChunkSize: {
                std::string line;
                if (!take_line(line)) return;
                std::size_t size = 0, digits = 0;
                for (; digits < line.size() && hex_digit(line[digits]) >= 0; ++digits) {
                    if (digits < kMaxSizeDigits) size = size * 16 + static_cast<std::size_t>(hex_digit(line[digits]));
                }
                std::string after = trim(line.substr(std::min(digits, line.size())));
                if (digits == 0 || (!after.empty() && after[0] != ';')) {
                    refuse(400, "a chunk's size is not a hexadecimal number");
                    return;
                }
                if (digits > kMaxSizeDigits || size > limits_.max_body_bytes - body_.size()) {
                    refuse(413, "the body is larger than " + megabytes(limits_.max_body_bytes));
                    return;
                }
                length_ = size;
                state_ = size == 0 ? kTrailer : kChunkData;
                break;
            }
            case kChunkData: {
                std::size_t take = std::min(length_, pending_.size() - at_);
                body_.append(pending_, at_, take);
                at_ += take;
                length_ -= take;
                if (length_ > 0) return;
                state_ = kChunkEnd;
                break;
            }
            case kChunkEnd: {
                std::string line;
                if (!take_line(line)) return;
                if (!line.empty()) {
                    refuse(400, "a chunk is longer than its size says");
                    return;
                }
                state_ = kChunkSize;
                break;
            }
            case kTrailer: {
                std::string line;
                if (!take_line(line)) return;
                if (line.empty()) {
                    body_done();
                    break;
                }
                // Trailers are dropped; they only count against the head's limit.
                trailer_bytes_ += line.size();
                if (trailer_bytes_ > limits_.max_head_bytes) {
                    refuse(431, "the request's trailers are larger than " + std::to_string(limits_.max_head_bytes) + " bytes");
                    return;
                }
                break;
            }
            case kWhole:
            case kRefused: return;
        }
    }
}

void cRequestFramer::parse_head(const std::string& head) {
    std::size_t at = 0;
    bool first = true, chunked = false, has_length = false;
    std::string length_text;
    while (at < head.size()) {
        std::size_t end = head.find('\n', at);
        std::string line = head.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        if (first) {
            first = false;
            std::size_t a = line.find(' '), b = line.rfind(' ');
            if (a == std::string::npos || a == 0 || b == a || b + 1 >= line.size()) {
                refuse(400, "the request line is not \"METHOD TARGET HTTP/1.1\"");
                return;
            }
            std::string target = line.substr(a + 1, b - a - 1), version = line.substr(b + 1);
            if ((version != "HTTP/1.1" && version != "HTTP/1.0") || target.empty() ||
                target.find(' ') != std::string::npos) {
                refuse(400, "the request line is not \"METHOD TARGET HTTP/1.1\"");
                return;
            }
            path_ = target.substr(0, target.find('?'));
            head_ = line + "\r\n";
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            refuse(400, "a header is folded over two lines");
            return;
        }
        std::size_t colon = line.find(':');
        std::string name = colon == std::string::npos ? std::string() : line.substr(0, colon);
        if (name.empty() || name.find_first_of(" \t") != std::string::npos) {
            refuse(400, "a header line has no name");
            return;
        }
        std::string key = lower(name), value = trim(line.substr(colon + 1));
        if (key == "content-length") {
            if (!all_digits(value) || value.size() > 18) {
                refuse(400, "Content-Length is not a number of bytes");
                return;
            }
            value.erase(0, std::min(value.find_first_not_of('0'), value.size() - 1));
            if (has_length && value != length_text) {
                refuse(400, "two different Content-Length headers");
                return;
            }
            has_length = true;
            length_text = value;
        } else if (key == "transfer-encoding") {
            if (chunked) {
                refuse(400, "two Transfer-Encoding headers");
                return;
            }
            if (lower(value) != "chunked") {
                refuse(501, "the transfer coding '" + value + "' is not supported: send the body with Content-Length or in chunks");
                return;
            }
            chunked = true;
        } else if (key == "expect") {
            wants_continue_ = lower(value) == "100-continue";
        } else {
            head_ += name + ": " + value + "\r\n";
        }
    }
    if (has_length && chunked) {
        refuse(400, "a request with both Content-Length and chunks");
        return;
    }
    if (has_length) {
        const std::size_t length = std::stoull(length_text);
        if (length > limits_.max_body_bytes) {
            refuse(413, "the body is larger than " + megabytes(limits_.max_body_bytes));
            return;
        }
        has_body_ = true;
        length_ = length;
        state_ = kBody;
    } else if (chunked) {
        has_body_ = true;
        state_ = kChunkSize;
    } else {
        wants_continue_ = false;
        body_done();
    }
}

void cRequestFramer::body_done() {
    request_ = std::move(head_);
    if (has_body_) request_ += "Content-Length: " + std::to_string(body_.size()) + "\r\n";
    request_ += "\r\n";
    request_ += body_;
    body_.clear();
    body_.shrink_to_fit();
    state_ = kWhole;
}
