// Where the show's picture sits in a captured frame, and how a read-back picture becomes that
// frame: rows flipped to top-down order, BGRA reduced to BGR, supersampled pixels averaged
// (box filter) and the picture placed between black bars. Pure arithmetic over byte arrays;
// no GL, no threads, no files.
#pragma once
#include <cstddef>
#include <cstdint>

struct cFrameLayout {
    int32_t width = 0;          // the frame written
    int32_t height = 0;
    int32_t supersample = 1;    // rendered pixels per frame pixel in each direction
    int32_t picture_x = 0;      // the 16:9 picture inside the frame, counted from the top left
    int32_t picture_y = 0;
    int32_t picture_width = 0;
    int32_t picture_height = 0;

    // The size the show renders at: the picture times the supersampling factor.
    int32_t render_width() const { return picture_width * supersample; }
    int32_t render_height() const { return picture_height * supersample; }
    size_t frame_bytes() const { return static_cast<size_t>(width) * height * 3; }
    size_t read_bytes() const { return static_cast<size_t>(render_width()) * render_height() * 4; }
    bool letterboxed() const { return picture_width != width || picture_height != height; }
};

// A frame of width x height: the largest picture of the show's shape (1280 x 720) that fits,
// centred (an odd spare pixel goes below and to the right).
cFrameLayout frame_layout(int32_t width, int32_t height, int32_t supersample);

// Turns rows [row_begin, row_end) of the frame's picture from a read-back (bottom row first,
// BGRA, render_width x render_height) into the frame (top row first, BGR), averaging each
// N x N block with rounding to the nearest value. The bars are left as they are.
void place_picture(const cFrameLayout& layout, const uint8_t* read_back, uint8_t* frame, int32_t row_begin,
                   int32_t row_end);
