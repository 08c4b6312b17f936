// Reads the picture of the show's window back after a render pass: the back buffer of the
// default framebuffer, before the swap, as 24-bit BGR rows from top to bottom (the order PNG
// files and video encoders expect). Goes through the host's GL table; changes no render state
// that the graphics context keeps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class cWindow;

class cFrameReader {
public:
    cFrameReader(int32_t width, int32_t height);

    // Checks that the window's drawable shows the picture at the expected size, so reading
    // it back gives the whole frame, and finds where it sits. error says what differs.
    bool fit_window(const cWindow& window, std::string& error);

    // Reads the current back buffer into pixels(). The GL commands must have been finished
    // (or the read waits for them).
    void read();

    const std::vector<uint8_t>& pixels() const { return pixels_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    size_t row_bytes() const { return static_cast<size_t>(width_) * 3; }

private:
    int32_t width_;
    int32_t height_;
    int32_t x_ = 0;  // where the picture sits on the drawable
    int32_t y_ = 0;
    std::vector<uint8_t> bottom_up_;
    std::vector<uint8_t> pixels_;
};
