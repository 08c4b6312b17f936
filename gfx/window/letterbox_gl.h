// Letterboxing applied to GL: while the drawable differs from the render size, the table's
// glViewport and glBindFramebuffer are wrapped so window viewports land in the centred box and
// off-screen ones stay plain. Window layer only: nothing else may install or remove the wrappers.
#pragma once
#include <cstdint>

#include "gfx/window/letterbox.h"

// A new context is current: forget the old one, take the whole render area as the viewport and
// the window's framebuffer as bound, and letterbox when the drawable differs.
void letterbox_begin(int32_t render_width, int32_t render_height, int32_t drawable_width, int32_t drawable_height);
// The drawable changed size: recompute, and install or remove the wrappers as needed.
void letterbox_resize(int32_t drawable_width, int32_t drawable_height);
// The loader has refilled the table: wrap the fresh entries again where letterboxing is on.
void letterbox_refresh_entries();
// Before a swap: paint the bars beside the box black, so they show no stale picture.
void letterbox_clear_bars();
// The window is gone: restore the table's own entries and forget everything.
void letterbox_end();

bool letterbox_active();
// The box on the drawable; the whole drawable when letterboxing is off.
cViewportRect letterbox_box();
