// The graphics context: binding to the window, viewport cache, clear, the client-memory draw
// protocol and the full-screen quads, and the forwarding to its stores.
// Depends on the window layer, the GL entry-point table and the five stores; checks no counts
// or pointers handed to the draws.
#include "gfx/context/gfx_context.h"

#include "gfx/gl/gl_entry_points.h"
#include "gfx/targets/depth_texture.h"
#include "gfx/textures/texture_codes.h"
#include "gfx/window/window.h"

namespace {

// The full-screen quad in clip space, counter-clockwise from the lower left, so it is a front
// face under the start-up state.
constexpr float quad_positions[16] = {
    -1.0f, -1.0f, 0.0f, 1.0f,  //
    1.0f,  -1.0f, 0.0f, 1.0f,  //
    1.0f,  1.0f,  0.0f, 1.0f,  //
    -1.0f, 1.0f,  0.0f, 1.0f,
};
constexpr uint32_t quad_indices[6] = {0, 1, 2, 2, 3, 0};
constexpr int32_t quad_index_count = 6;

// Texture coordinates of the quad's corners, spanning (0..w, 0..h).
void fill_quad_uv(float (&uv)[8], int32_t w, int32_t h) {
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);
    const float corners[8] = {0.0f, 0.0f, fw, 0.0f, fw, fh, 0.0f, fh};
    for (int i = 0; i < 8; ++i) uv[i] = corners[i];
}

void point_attribute(uint32_t index, int32_t components, const float* data) {
    glVertexAttribPointer(index, components, GL_FLOAT, GL_FALSE, 0, data);
    glEnableVertexAttribArray(index);
}

}  // namespace

// ---- start-up ----

void gfxContext::init(cWindow* window) {
    window_ = window;
    load_extensions();
    render_state_.start_up();
    const int32_t zero = 0, width = window_->render_width(), height = window_->render_height();
    set_viewport(zero, zero, width, height);
    set_clear_color(0.0f, 0.0f, 0.0f, 0.0f);
    clear();
    pool_.warm_up(*this, width, height);
    shaders_.load_shader(cShaderManager::default_program_name, default_vertex_path, default_fragment_path);
    enable_vsync();
}

// ---- frame state ----

void gfxContext::set_clear_color(float r, float g, float b, float a) { glClearColor(r, g, b, a); }

void gfxContext::clear() {
    apply_state();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void gfxContext::set_viewport(const int32_t& x, const int32_t& y, const int32_t& width, const int32_t& height) {
    viewport_[0] = x;
    viewport_[1] = y;
    viewport_[2] = width;
    viewport_[3] = height;
    glViewport(x, y, width, height);
}

// ---- draws from client memory: point attribute 0, apply the state, draw, disable ----

void gfxContext::draw_triangles(const float* positions, int32_t vertex_count) {
    point_attribute(position_attribute, 4, positions);
    apply_state();
    glDrawArrays(GL_TRIANGLES, 0, vertex_count);
    glDisableVertexAttribArray(position_attribute);
}

void gfxContext::draw_indexed(const uint32_t* indices, const float* positions, int32_t index_count) {
    point_attribute(position_attribute, 4, positions);
    apply_state();
    glDrawElements(GL_TRIANGLES, index_count, GL_UNSIGNED_INT, indices);
    glDisableVertexAttribArray(position_attribute);
}

void gfxContext::draw_points(const float* positions, int32_t point_count) {
    point_attribute(position_attribute, 4, positions);
    apply_state();
    glDrawArrays(GL_POINTS, 0, point_count);
    glDisableVertexAttribArray(position_attribute);
}

void gfxContext::draw_lines(const float* positions, int32_t line_count) {
    point_attribute(position_attribute, 4, positions);
    apply_state();
    glDrawArrays(GL_LINES, 0, 2 * line_count);
    glDisableVertexAttribArray(position_attribute);
}

void gfxContext::draw_indexed_uv(const uint32_t* indices, const float* positions, const float* uv,
                                 int32_t index_count) {
    point_attribute(uv0_attribute, 2, uv);
    draw_indexed(indices, positions, index_count);
    glDisableVertexAttribArray(uv0_attribute);
}

void gfxContext::draw_indexed_uv2(const uint32_t* indices, const float* positions, const float* uv0,
                                  const float* uv1, int32_t index_count) {
    point_attribute(uv1_attribute, 2, uv1);
    draw_indexed_uv(indices, positions, uv0, index_count);
    glDisableVertexAttribArray(uv1_attribute);
}

// ---- full-screen quads ----

void gfxContext::draw_fullscreen_quad() { draw_fullscreen_quad_uv(1, 1); }

void gfxContext::draw_fullscreen_quad_tex(const cTexture* texture) {
    if (!texture) return;  // nothing to span; a null record would otherwise be read
    draw_fullscreen_quad_uv(texture->width, texture->height);
}

void gfxContext::draw_fullscreen_quad_uv(int32_t w, int32_t h) {
    float uv[8];
    fill_quad_uv(uv, w, h);
    draw_indexed_uv(quad_indices, quad_positions, uv, quad_index_count);
}

void gfxContext::draw_fullscreen_quad_uv2(int32_t w0, int32_t h0, int32_t w1, int32_t h1) {
    float uv0[8], uv1[8];
    fill_quad_uv(uv0, w0, h0);
    fill_quad_uv(uv1, w1, h1);
    draw_indexed_uv2(quad_indices, quad_positions, uv0, uv1, quad_index_count);
}

// ---- programs ----

void gfxContext::load_shader(const std::string& name, const std::string& vertex_path,
                             const std::string& fragment_path) {
    if (!shaders_.has_shader(name)) shaders_.load_shader(name, vertex_path, fragment_path);
}

// ---- textures and render targets ----

cTexture* gfxContext::create_texture_3d(int32_t width, int32_t height, int32_t depth, int32_t format,
                                        int32_t internal_format, const void* data) {
    return textures_.create_texture(width, height, depth, texture_codes::kind_3d, texture_codes::wrap_clamp_to_edge,
                                    format, internal_format, false, data);
}

cRenderTargetLease gfxContext::acquire_render_target(int32_t width, int32_t height) {
    cRenderTargetLease lease;
    pool_.acquire(lease, this, width, height);
    return lease;
}

cRenderTargetLease gfxContext::acquire_screen_render_target(int32_t divisor) {
    // A divisor below 1 would divide by zero or give negative sizes; it reads as the full size.
    if (divisor < 1) divisor = 1;
    return acquire_render_target(window_->render_width() / divisor, window_->render_height() / divisor);
}

cTexture* gfxContext::depth_texture(iRenderTarget* target) { return depth_texture_of(*this, textures_, target); }
