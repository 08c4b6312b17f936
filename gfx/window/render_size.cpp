// The render size rule: the area the graphics context and the render-target pool draw to.
// Pure; it must not ask the platform (the drawable size is the letterbox's business).
#include "gfx/window/window.h"

int32_t render_width_of(const cWindowDesc& desc) {
    return desc.render_width;
}

int32_t render_height_of(const cWindowDesc& desc) {
    return desc.use_window_height ? desc.height : desc.render_height;
}

int32_t cWindow::render_width() const {
    return render_width_of(description);
}

int32_t cWindow::render_height() const {
    return render_height_of(description);
}
