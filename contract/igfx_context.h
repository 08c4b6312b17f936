// igfxContext: the whole drawing interface that the host gives to render modules.
// Modules never call GL themselves; every program, texture, model, target, state change and
// draw goes through these 34 virtual operations. Modules are compiled on their own and call
// through the table by position, so the slot order below is fixed. Strings go by reference.
#pragma once
#include <cstdint>
#include <string>

#include "model.h"
#include "render_state.h"
#include "render_target.h"
#include "render_target_lease.h"
#include "texture.h"

class cWindow;

class igfxContext {
public:
    virtual ~igfxContext() = default;                                                  // slot 0
    virtual void init(cWindow* window) = 0;                                            // slot 1
    virtual void set_clear_color(float r, float g, float b, float a) = 0;              // slot 2
    virtual void clear() = 0;                                                          // slot 3
    virtual int32_t* viewport() = 0;                                                   // slot 4: {x, y, w, h}
    virtual void set_viewport(const int32_t& x, const int32_t& y, const int32_t& width,
                              const int32_t& height) = 0;                              // slot 5
    virtual void draw_triangles(const float* positions, int32_t vertex_count) = 0;     // slot 6
    virtual void draw_indexed_uv2(const uint32_t* indices, const float* positions, const float* uv0,
                                  const float* uv1, int32_t index_count) = 0;          // slot 7
    virtual void draw_indexed_uv(const uint32_t* indices, const float* positions, const float* uv,
                                 int32_t index_count) = 0;                             // slot 8
    virtual void draw_indexed(const uint32_t* indices, const float* positions,
                              int32_t index_count) = 0;                                // slot 9
    virtual void draw_points(const float* positions, int32_t point_count) = 0;         // slot 10
    virtual void draw_lines(const float* positions, int32_t line_count) = 0;           // slot 11
    virtual void draw_fullscreen_quad() = 0;                                           // slot 12
    virtual void draw_fullscreen_quad_tex(const cTexture* texture) = 0;                // slot 13
    virtual void draw_fullscreen_quad_uv2(int32_t w0, int32_t h0, int32_t w1, int32_t h1) = 0;  // slot 14
    virtual void draw_fullscreen_quad_uv(int32_t w, int32_t h) = 0;                    // slot 15
    virtual cRenderState* state() = 0;                                                 // slot 16
    virtual void apply_state() = 0;                                                    // slot 17
    virtual void push_state() = 0;                                                     // slot 18
    virtual void pop_state() = 0;                                                      // slot 19
    virtual void load_shader(const std::string& name, const std::string& vertex_path,
                             const std::string& fragment_path) = 0;                    // slot 20
    virtual bool has_shader(const std::string& name) = 0;                              // slot 21
    virtual void use_shader(const std::string& name) = 0;                              // slot 22
    virtual void set_texture(const std::string& shader, const std::string& uniform,
                             const cTexture* texture) = 0;                             // slot 23
    virtual void set_matrix(const std::string& shader, const std::string& uniform,
                            const float* value) = 0;                                   // slot 24: 16 floats
    virtual void set_vector(const std::string& shader, const std::string& uniform,
                            const float* value) = 0;                                   // slot 25: 4 floats
    virtual void load_model(const std::string& name, const std::string& path) = 0;     // slot 26
    virtual iModel* model(const std::string& name) = 0;                                // slot 27
    virtual cTexture* load_texture(const std::string& path, bool mipmaps = false, int32_t wrap = 2,
                                   int32_t kind = 0) = 0;                              // slot 28
    virtual cTexture* create_texture_3d(int32_t width, int32_t height, int32_t depth, int32_t format,
                                        int32_t internal_format, const void* data) = 0;  // slot 29
    virtual cRenderTargetLease acquire_render_target(int32_t width, int32_t height) = 0;  // slot 30
    virtual cRenderTargetLease acquire_screen_render_target(int32_t divisor) = 0;      // slot 31
    virtual void release_render_target(cRenderTargetLease& lease) = 0;                 // slot 32
    virtual cTexture* depth_texture(iRenderTarget* target) = 0;                        // slot 33
};

// ---- cRenderTargetLease members (they call back into the owning context) ----

inline cRenderTargetLease::cRenderTargetLease(cRenderTargetLease&& other) noexcept
    : target(other.target), owner(other.owner) {
    other.target = nullptr;
    other.owner = nullptr;
}

inline cRenderTargetLease& cRenderTargetLease::operator=(cRenderTargetLease&& other) noexcept {
    if (this != &other) {
        release();
        target = other.target;
        owner = other.owner;
        other.target = nullptr;
        other.owner = nullptr;
    }
    return *this;
}

inline void cRenderTargetLease::release() {
    if (owner) owner->release_render_target(*this);
    target = nullptr;
    owner = nullptr;
}

inline cRenderTargetLease::~cRenderTargetLease() { release(); }
