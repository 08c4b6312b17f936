// Reads the show's picture back after each render pass through a ring of pixel-buffer objects:
// the read of frame n is started at once and waited for only when the ring is full, so the GL
// works ahead while earlier frames are converted. Main thread only (every call is a GL call);
// goes through the host's GL table and leaves no buffer bound that the graphics context uses.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/democapture/frame_layout.h"

class cWindow;

class cFrameReader {
public:
    cFrameReader(const cFrameLayout& layout, int32_t ring_size);
    ~cFrameReader();
    cFrameReader(const cFrameReader&) = delete;
    cFrameReader& operator=(const cFrameReader&) = delete;

    // Checks that the window's drawable holds the picture at the render size, and makes the
    // ring. error says what differs, or which allocation the GL refused.
    bool create(const cWindow& window, std::string& error);

    // Starts reading the back buffer, which holds the frame just rendered. The ring must not be
    // full (finish the oldest first).
    void start();
    bool full() const { return pending_.size() >= buffers_.size(); }
    bool empty() const { return pending_.empty(); }
    // Waits for the oldest read and converts it into frame (layout.frame_bytes(): top row
    // first, BGR, the picture in place, the bars untouched). False with error when the GL
    // could not hand the pixels over.
    bool finish_oldest(uint8_t* frame, std::string& error);

private:
    cFrameLayout layout_;
    int32_t x_ = 0;  // where the picture sits on the drawable
    int32_t y_ = 0;
    std::vector<uint32_t> buffers_;
    std::deque<size_t> pending_;  // ring slots with a read started, oldest first
    size_t next_ = 0;
};
