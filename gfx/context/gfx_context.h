// gfxContext: the host's one implementation of the drawing interface given to render modules.
// A façade over the shader manager, the render state, the model manager, the render-target
// pool and the texture manager, adding the window binding, the viewport cache, the clear, the
// client-memory draws and the full-screen quads. A GL context must be current from
// construction on (the texture manager loads its defaults at once); main thread only.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/models/model_manager.h"
#include "gfx/shaders/shader_manager.h"
#include "gfx/state/render_state_store.h"
#include "gfx/targets/render_target_pool.h"
#include "gfx/textures/texture_manager.h"
#include "igfx_context.h"

class cWindow;

class gfxContext final : public igfxContext {
public:
    // Generic vertex attributes that every shader of the system reads its inputs from.
    static constexpr uint32_t position_attribute = 0;
    static constexpr uint32_t uv0_attribute = 2;
    static constexpr uint32_t uv1_attribute = 3;
    static constexpr const char* default_vertex_path = "data/shaders/default.vert";
    static constexpr const char* default_fragment_path = "data/shaders/default.frag";

    // stand_in_images: an image that cannot be used gets a stand-in texture instead of ending
    // the process (the development mode; see cTextureManager).
    explicit gfxContext(bool stand_in_images = false) : textures_(stand_in_images) {}
    // Destroys the stores in reverse field order: textures, pool (with its report), models,
    // render state, shaders.
    ~gfxContext() override = default;
    gfxContext(const gfxContext&) = delete;
    gfxContext& operator=(const gfxContext&) = delete;

    void init(cWindow* window) override;
    void set_clear_color(float r, float g, float b, float a) override;
    void clear() override;
    int32_t* viewport() override { return viewport_; }
    void set_viewport(const int32_t& x, const int32_t& y, const int32_t& width, const int32_t& height) override;
    void draw_triangles(const float* positions, int32_t vertex_count) override;
    void draw_indexed_uv2(const uint32_t* indices, const float* positions, const float* uv0, const float* uv1,
                          int32_t index_count) override;
    void draw_indexed_uv(const uint32_t* indices, const float* positions, const float* uv,
                         int32_t index_count) override;
    void draw_indexed(const uint32_t* indices, const float* positions, int32_t index_count) override;
    void draw_points(const float* positions, int32_t point_count) override;
    void draw_lines(const float* positions, int32_t line_count) override;
    void draw_fullscreen_quad() override;
    void draw_fullscreen_quad_tex(const cTexture* texture) override;
    void draw_fullscreen_quad_uv2(int32_t w0, int32_t h0, int32_t w1, int32_t h1) override;
    void draw_fullscreen_quad_uv(int32_t w, int32_t h) override;
    cRenderState* state() override { return render_state_.pending(); }
    void apply_state() override { render_state_.apply(); }
    void push_state() override { render_state_.push(); }
    void pop_state() override { render_state_.pop(); }
    void load_shader(const std::string& name, const std::string& vertex_path,
                     const std::string& fragment_path) override;
    bool has_shader(const std::string& name) override { return shaders_.has_shader(name); }
    void use_shader(const std::string& name) override { shaders_.use_shader(name); }
    void set_texture(const std::string& shader, const std::string& uniform, const cTexture* texture) override {
        shaders_.set_texture(shader, uniform, texture);
    }
    void set_matrix(const std::string& shader, const std::string& uniform, const float* value) override {
        shaders_.set_matrix(shader, uniform, value);
    }
    void set_vector(const std::string& shader, const std::string& uniform, const float* value) override {
        shaders_.set_vector(shader, uniform, value);
    }
    void load_model(const std::string& name, const std::string& path) override { models_.load_model(name, path); }
    iModel* model(const std::string& name) override { return models_.model(name); }
    cTexture* load_texture(const std::string& path, bool mipmaps = false, int32_t wrap = 2,
                           int32_t kind = 0) override {
        return textures_.load_texture(path, mipmaps, wrap, kind);
    }
    cTexture* create_texture_3d(int32_t width, int32_t height, int32_t depth, int32_t format, int32_t internal_format,
                                const void* data) override;
    cRenderTargetLease acquire_render_target(int32_t width, int32_t height) override;
    cRenderTargetLease acquire_screen_render_target(int32_t divisor) override;
    void release_render_target(cRenderTargetLease& lease) override { pool_.release(lease); }
    cTexture* depth_texture(iRenderTarget* target) override;

    // ---- the stores, for the host's own tools and tests ----
    cWindow* window() const { return window_; }
    cShaderManager& shaders() { return shaders_; }
    cRenderStateStore& render_state() { return render_state_; }
    cRenderTargetPool& pool() { return pool_; }
    cTextureManager& textures() { return textures_; }
    cModelManager& models() { return models_; }

private:
    // Field order is construction order; destruction runs the other way.
    int32_t viewport_[4] = {-1, -1, -1, -1};
    cWindow* window_ = nullptr;
    cShaderManager shaders_;
    cRenderStateStore render_state_;
    cModelManager models_;
    cRenderTargetPool pool_;
    cTextureManager textures_;
};
