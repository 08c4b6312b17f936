// An igfxContext that hands every operation on to the host's real gfxContext and notes what a
// module asked for: the operation, its names and values, the pending render state, the depth
// of the state stack and the framebuffer GL has bound at that moment. It never answers in the
// real context's place: programs, textures, models, targets and leases are the real ones.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "gfx/targets/render_target_fbo.h"

namespace versewall_test {

struct cCall {
    std::string op;                 // operation, e.g. "set_vector", "acquire", "model.draw"
    std::string name, uniform, extra;  // program or path; uniform or vertex file; fragment file
    std::vector<float> values;      // vector, matrix, clear colour, or corners then uv
    std::vector<int> numbers;       // sizes, indices, flags; for leases {framebuffer, w, h}
    const void* object = nullptr;   // texture handed in or out
    cRenderState state;             // the pending render state at the call
    size_t depth = 0;               // render-state pushes outstanding
    int framebuffer = 0;            // GL_FRAMEBUFFER_BINDING: 0 is the window
};

inline int bound_framebuffer() {
    GLint name = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &name);
    return name;
}
inline int framebuffer_of(const iRenderTarget* target) {
    return static_cast<int>(static_cast<const cRenderTarget_fbo*>(target)->framebuffer());
}

class cObservingContext final : public igfxContext {
public:
    explicit cObservingContext(gfxContext& real) : real_(real) {}

    gfxContext& real() { return real_; }
    std::vector<cCall> calls;
    std::map<std::pair<int, int>, int> held, peak;  // leases out now, and the most at once, by size
    std::function<void(const cCall&)> on_call;      // sees each call (op and names) before the real one

    std::vector<cCall> of(const std::string& op, size_t from = 0) const {
        std::vector<cCall> out;
        for (size_t i = from; i < calls.size(); ++i)
            if (calls[i].op == op) out.push_back(calls[i]);
        return out;
    }
    std::vector<std::vector<float>> vectors(const std::string& program, const std::string& uniform) const {
        std::vector<std::vector<float>> out;
        for (const auto& c : calls)
            if (c.op == "set_vector" && c.name == program && c.uniform == uniform) out.push_back(c.values);
        return out;
    }
    int outstanding() const {
        int n = 0;
        for (const auto& [size, count] : held) n += count;
        return n;
    }

    cCall& note(const std::string& op, const std::string& name = {}, const std::string& uniform = {}) {
        cCall c;
        c.op = op;
        c.name = name;
        c.uniform = uniform;
        c.state = *real_.state();
        c.depth = real_.render_state().depth();
        c.framebuffer = bound_framebuffer();
        calls.push_back(std::move(c));
        if (on_call) on_call(calls.back());
        return calls.back();
    }

    // ---- igfxContext: note, then forward ----
    void init(cWindow* window) override { note("init"), real_.init(window); }
    void set_clear_color(float r, float g, float b, float a) override {
        note("set_clear_color").values = {r, g, b, a};
        real_.set_clear_color(r, g, b, a);
    }
    void clear() override { note("clear"), real_.clear(); }
    int32_t* viewport() override { return real_.viewport(); }
    void set_viewport(const int32_t& x, const int32_t& y, const int32_t& w, const int32_t& h) override {
        note("set_viewport").numbers = {x, y, w, h};
        real_.set_viewport(x, y, w, h);
    }
    void draw_triangles(const float* p, int32_t n) override { note("draw_triangles"), real_.draw_triangles(p, n); }
    void draw_indexed_uv2(const uint32_t* i, const float* p, const float* a, const float* b, int32_t n) override {
        note("draw_indexed_uv2"), real_.draw_indexed_uv2(i, p, a, b, n);
    }
    void draw_indexed_uv(const uint32_t* indices, const float* positions, const float* uv, int32_t n) override {
        cCall& c = note("draw_indexed_uv");
        c.numbers.assign(indices, indices + n);
        c.values.assign(positions, positions + 16);
        c.values.insert(c.values.end(), uv, uv + 8);
        real_.draw_indexed_uv(indices, positions, uv, n);
    }
    void draw_indexed(const uint32_t* i, const float* p, int32_t n) override { note("draw_indexed"), real_.draw_indexed(i, p, n); }
    void draw_points(const float* p, int32_t n) override { note("draw_points"), real_.draw_points(p, n); }
    void draw_lines(const float* p, int32_t n) override { note("draw_lines"), real_.draw_lines(p, n); }
    void draw_fullscreen_quad() override { note("draw_fullscreen_quad"), real_.draw_fullscreen_quad(); }
    void draw_fullscreen_quad_tex(const cTexture* t) override {
        note("draw_fullscreen_quad_tex").object = t;
        real_.draw_fullscreen_quad_tex(t);
    }
    void draw_fullscreen_quad_uv2(int32_t w0, int32_t h0, int32_t w1, int32_t h1) override {
        note("draw_fullscreen_quad_uv2").numbers = {w0, h0, w1, h1};
        real_.draw_fullscreen_quad_uv2(w0, h0, w1, h1);
    }
    void draw_fullscreen_quad_uv(int32_t w, int32_t h) override {
        note("draw_fullscreen_quad_uv").numbers = {w, h};
        real_.draw_fullscreen_quad_uv(w, h);
    }
    cRenderState* state() override { return real_.state(); }
    void apply_state() override { note("apply_state"), real_.apply_state(); }
    void push_state() override { note("push_state"), real_.push_state(); }
    void pop_state() override {
        real_.pop_state();
        note("pop_state");
    }
    void load_shader(const std::string& name, const std::string& vertex, const std::string& fragment) override {
        note("load_shader", name, vertex).extra = fragment;
        real_.load_shader(name, vertex, fragment);
    }
    bool has_shader(const std::string& name) override { return note("has_shader", name), real_.has_shader(name); }
    void use_shader(const std::string& name) override { note("use_shader", name), real_.use_shader(name); }
    void set_texture(const std::string& program, const std::string& uniform, const cTexture* t) override {
        note("set_texture", program, uniform).object = t;
        real_.set_texture(program, uniform, t);
    }
    void set_matrix(const std::string& program, const std::string& uniform, const float* m) override {
        note("set_matrix", program, uniform).values.assign(m, m + 16);
        real_.set_matrix(program, uniform, m);
    }
    void set_vector(const std::string& program, const std::string& uniform, const float* v) override {
        note("set_vector", program, uniform).values.assign(v, v + 4);
        real_.set_vector(program, uniform, v);
    }
    void load_model(const std::string& name, const std::string& path) override {
        note("load_model", name, path), real_.load_model(name, path);
    }
    // The real model, behind a wrapper that notes its draws with the state of the moment.
    iModel* model(const std::string& name) override {
        note("model", name);
        iModel* model = real_.model(name);
        if (!model) return nullptr;
        auto& wrapper = models_[model];
        if (!wrapper) wrapper = std::make_unique<cObservedModel>(*this, *model);
        return wrapper.get();
    }
    cTexture* load_texture(const std::string& path, bool mipmaps, int32_t wrap, int32_t kind) override {
        cCall& c = note("load_texture", path);
        c.numbers = {mipmaps ? 1 : 0, wrap, kind};
        cTexture* texture = real_.load_texture(path, mipmaps, wrap, kind);
        c.object = texture;
        return texture;
    }
    cTexture* create_texture_3d(int32_t w, int32_t h, int32_t d, int32_t f, int32_t i, const void* data) override {
        note("create_texture_3d");
        return real_.create_texture_3d(w, h, d, f, i, data);
    }
    cRenderTargetLease acquire_render_target(int32_t width, int32_t height) override {
        return take_over(real_.acquire_render_target(width, height));
    }
    cRenderTargetLease acquire_screen_render_target(int32_t divisor) override {
        return take_over(real_.acquire_screen_render_target(divisor));
    }
    // Leases come back here (their owner is this wrapper) and go on to the real pool.
    void release_render_target(cRenderTargetLease& lease) override {
        if (!lease.target) return;
        const cTexture* t = lease.target->texture();
        --held[{t->width, t->height}];
        note("release").numbers = {framebuffer_of(lease.target), t->width, t->height};
        cRenderTargetLease pooled(lease.target, &real_);
        lease.target = nullptr;
        lease.owner = nullptr;
        real_.release_render_target(pooled);
    }
    cTexture* depth_texture(iRenderTarget* target) override {
        note("depth_texture");
        return real_.depth_texture(target);
    }

private:
    class cObservedModel final : public iModel {
    public:
        cObservedModel(cObservingContext& owner, iModel& model) : owner_(owner), model_(model) {}
        void draw(igfxContext& ctx) override { owner_.note("model.draw"), model_.draw(ctx); }
        void draw_groups(igfxContext& ctx, int32_t n, const int32_t* g) override {
            owner_.note("model.draw_groups"), model_.draw_groups(ctx, n, g);
        }
        int32_t group_count() override { return model_.group_count(); }
        cBoundingBox bounds() override { return model_.bounds(); }
        void draw_group(igfxContext& ctx, int32_t g) override { owner_.note("model.draw_group"), model_.draw_group(ctx, g); }
        void bind_buffers() override { model_.bind_buffers(); }
        void unbind_buffers() override { model_.unbind_buffers(); }

    private:
        cObservingContext& owner_;
        iModel& model_;
    };

    cRenderTargetLease take_over(cRenderTargetLease real) {
        iRenderTarget* target = real.target;
        real.target = nullptr;  // this wrapper gives it back, through release_render_target
        real.owner = nullptr;
        const cTexture* t = target->texture();
        const auto size = std::make_pair(t->width, t->height);
        if (++held[size] > peak[size]) peak[size] = held[size];
        note("acquire").numbers = {framebuffer_of(target), t->width, t->height};
        return cRenderTargetLease(target, this);
    }

    gfxContext& real_;
    std::map<const iModel*, std::unique_ptr<cObservedModel>> models_;
};

}  // namespace versewall_test
