// Letterboxing: where the picture of the render size goes on a drawable of another size (a
// display that could not switch modes, a HiDPI or Wayland surface, a resized window). Pure
// arithmetic here; letterbox_gl.h applies it to GL. Must never call GL or the platform.
#pragma once
#include <cstdint>

struct cViewportRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const cViewportRect&) const = default;
};

// True when a picture of the render size needs placing on this drawable: both sizes are valid
// and they differ.
bool needs_letterbox(int32_t render_width, int32_t render_height, int32_t drawable_width, int32_t drawable_height);

// The largest rectangle with the render size's aspect ratio that fits the drawable, centred.
// With an invalid size (0 or less) it is the whole drawable.
cViewportRect letterbox_rect(int32_t render_width, int32_t render_height, int32_t drawable_width,
                             int32_t drawable_height);

// Places a viewport given in render-size coordinates into the letterbox rectangle: each edge is
// scaled and rounded on its own, so viewports that tile the render area tile the box. A
// viewport with a negative size is returned unchanged, so GL still reports it as an error.
cViewportRect map_viewport(const cViewportRect& logical, const cViewportRect& box, int32_t render_width,
                           int32_t render_height);
