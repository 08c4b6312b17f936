// Letterbox arithmetic: the centred box of the render size's aspect ratio and the mapping of
// logical viewports into it. Integer-exact where the sizes allow; no GL, no platform calls.
#include "gfx/window/letterbox.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool needs_letterbox(int32_t render_width, int32_t render_height, int32_t drawable_width, int32_t drawable_height) {
    if (render_width <= 0 || render_height <= 0 || drawable_width <= 0 || drawable_height <= 0) return false;
    return render_width != drawable_width || render_height != drawable_height;
}

cViewportRect letterbox_rect(int32_t render_width, int32_t render_height, int32_t drawable_width,
                             int32_t drawable_height) {
    if (drawable_width <= 0 || drawable_height <= 0) return {0, 0, 0, 0};
    if (render_width <= 0 || render_height <= 0) return {0, 0, drawable_width, drawable_height};
    const int64_t rw = render_width, rh = render_height, dw = drawable_width, dh = drawable_height;
    int64_t w = dw, h = dh;
    // Compare the aspect ratios without dividing: dw/dh <= rw/rh means the width limits.
    if (dw * rh <= dh * rw) {
        h = (dw * rh * 2 + rw) / (rw * 2);  // dw * rh / rw, rounded to nearest
    } else {
        w = (dh * rw * 2 + rh) / (rh * 2);
    }
    if (w > dw) w = dw;
    if (h > dh) h = dh;
    return {static_cast<int32_t>((dw - w) / 2), static_cast<int32_t>((dh - h) / 2), static_cast<int32_t>(w),
            static_cast<int32_t>(h)};
}

namespace {

// One edge coordinate of the render area, placed into the box along one axis. Far-out
// coordinates are clamped so that no arithmetic overflows; GL clamps viewports anyway.
int64_t place_edge(int64_t coordinate, int32_t box_origin, int32_t box_size, int32_t render_size) {
    constexpr double kLimit = 1e9;
    double scaled = std::clamp(static_cast<double>(coordinate) * box_size / render_size, -kLimit, kLimit);
    return box_origin + std::llround(scaled);
}

int32_t to_int32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

cViewportRect map_viewport(const cViewportRect& logical, const cViewportRect& box, int32_t render_width,
                           int32_t render_height) {
    if (render_width <= 0 || render_height <= 0 || logical.width < 0 || logical.height < 0) return logical;
    const int64_t x0 = place_edge(logical.x, box.x, box.width, render_width);
    const int64_t x1 = place_edge(int64_t{logical.x} + logical.width, box.x, box.width, render_width);
    const int64_t y0 = place_edge(logical.y, box.y, box.height, render_height);
    const int64_t y1 = place_edge(int64_t{logical.y} + logical.height, box.y, box.height, render_height);
    return {to_int32(x0), to_int32(y0), to_int32(x1 - x0), to_int32(y1 - y0)};
}
