// The frame's layout and the read-back conversion. Depends on the window layer's letterbox
// arithmetic for the picture's size; never calls GL.
#include "tools/democapture/frame_layout.h"

#include "gfx/window/letterbox.h"
#include "tools/democapture/capture_config.h"

cFrameLayout frame_layout(int32_t width, int32_t height, int32_t supersample) {
    cFrameLayout layout;
    layout.width = width;
    layout.height = height;
    layout.supersample = supersample;
    const cViewportRect box =
        letterbox_rect(capture_config::composed_width, capture_config::composed_height, width, height);
    layout.picture_width = box.width;
    layout.picture_height = box.height;
    layout.picture_x = (width - box.width) / 2;
    layout.picture_y = (height - box.height) / 2;
    return layout;
}

void place_picture(const cFrameLayout& layout, const uint8_t* read_back, uint8_t* frame, int32_t row_begin,
                   int32_t row_end) {
    const int32_t n = layout.supersample;
    const size_t source_row = static_cast<size_t>(layout.render_width()) * 4;
    const size_t frame_row = static_cast<size_t>(layout.width) * 3;
    const int32_t rendered_rows = layout.render_height();
    for (int32_t y = row_begin; y < row_end; ++y) {
        uint8_t* out = frame + static_cast<size_t>(layout.picture_y + y) * frame_row +
                       static_cast<size_t>(layout.picture_x) * 3;
        // Frame row y (from the top) covers rendered rows n*y .. n*y+n-1 from the top, which GL
        // stores from the bottom.
        const uint8_t* first = read_back + static_cast<size_t>(rendered_rows - 1 - n * y) * source_row;
        if (n == 1) {
            for (int32_t x = 0; x < layout.picture_width; ++x) {
                out[3 * x + 0] = first[4 * x + 0];
                out[3 * x + 1] = first[4 * x + 1];
                out[3 * x + 2] = first[4 * x + 2];
            }
            continue;
        }
        const uint32_t count = static_cast<uint32_t>(n * n);
        for (int32_t x = 0; x < layout.picture_width; ++x) {
            uint32_t sum[3] = {0, 0, 0};
            for (int32_t dy = 0; dy < n; ++dy) {
                const uint8_t* p = first - static_cast<size_t>(dy) * source_row + static_cast<size_t>(n * x) * 4;
                for (int32_t dx = 0; dx < n; ++dx, p += 4) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            for (int c = 0; c < 3; ++c) out[3 * x + c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
        }
    }
}
