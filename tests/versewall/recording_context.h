// A graphics context, module input and sync device that record what a scene module asks of
// them, for checking the module's frame protocol without GL: call order, uniforms, leases,
// render-state changes and bound targets. Leases behave like the host's pool (reuse by size).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "igfx_context.h"
#include "module_input.h"
#include "sync.h"

namespace versewall_test {

constexpr uint32_t gl_texture_2d = 0x0DE1;
constexpr uint32_t gl_texture_rectangle = 0x84F5;

class cRecordingContext;

// One call the module made, with what the tests look at.
struct cGfxEvent {
    std::string op;                 // operation name, e.g. "set_vector", "bind", "model.draw"
    std::string program, uniform;   // names passed (or a path, for loads)
    std::string extra;              // second path, or other text
    std::vector<float> values;      // vector, matrix, clear colour or quad corner values
    std::vector<int> numbers;       // sizes, flags, ids
    const cTexture* texture = nullptr;
    cRenderState state;             // the pending render state at the time of the call
    int bound = -1;                 // id of the bound target (-1: the window)
    int stack_depth = 0;            // render-state pushes outstanding
};

class cFakeTarget final : public iRenderTarget {
public:
    cFakeTarget(cRecordingContext* owner, int id, int width, int height) : owner_(owner), id_(id) {
        texture_ = {gl_texture_rectangle, static_cast<uint32_t>(1000 + id), width, height};
    }
    void create() override {}
    void bind(igfxContext& ctx, int32_t clear) override;
    void unbind(igfxContext& ctx) override;
    cTexture* texture() override { return &texture_; }
    int id() const { return id_; }

private:
    cRecordingContext* owner_;
    int id_;
    cTexture texture_;
};

class cFakeModel final : public iModel {
public:
    explicit cFakeModel(cRecordingContext* owner) : owner_(owner) {}
    void draw(igfxContext& ctx) override;
    void draw_groups(igfxContext&, int32_t, const int32_t*) override {}
    int32_t group_count() override { return 1; }
    cBoundingBox bounds() override { return {}; }
    void draw_group(igfxContext&, int32_t) override {}
    void bind_buffers() override {}
    void unbind_buffers() override {}

private:
    cRecordingContext* owner_;
};

class cRecordingContext final : public igfxContext {
public:
    std::vector<cGfxEvent> events;
    std::set<std::string> programs;        // what has_shader reports
    bool give_model = true;                // model("duck") returns a model
    int32_t viewport_values[4] = {0, 0, 1280, 720};
    int render_width = 1280, render_height = 720;
    cRenderState pending;
    std::vector<cRenderState> stack;
    int bound = -1;

    // Pool bookkeeping: leased now, most leased at once, and targets ever created, by size.
    std::map<std::pair<int, int>, int> leased_now, leased_peak, created;

    cRecordingContext() {
        // The host's state after start-up: depth test and writes on, back faces culled,
        // counter-clockwise front faces, blending on with SRC_ALPHA / ONE_MINUS_SRC_ALPHA.
        pending.word[0] = 0x01541983u;
        pending.word[1] = 0x0000000Fu;
    }

    cGfxEvent& record(const std::string& op) {
        cGfxEvent e;
        e.op = op;
        e.state = pending;
        e.bound = bound;
        e.stack_depth = static_cast<int>(stack.size());
        events.push_back(e);
        return events.back();
    }

    std::vector<cGfxEvent> of(const std::string& op) const {
        std::vector<cGfxEvent> out;
        for (const auto& e : events)
            if (e.op == op) out.push_back(e);
        return out;
    }
    int count(const std::string& op) const { return static_cast<int>(of(op).size()); }
    // Every vector set on one uniform, in order.
    std::vector<std::vector<float>> vectors(const std::string& program, const std::string& uniform) const {
        std::vector<std::vector<float>> out;
        for (const auto& e : events)
            if (e.op == "set_vector" && e.program == program && e.uniform == uniform) out.push_back(e.values);
        return out;
    }

    // ---- igfxContext ----
    void init(cWindow*) override { record("init"); }
    void set_clear_color(float r, float g, float b, float a) override { record("set_clear_color").values = {r, g, b, a}; }
    void clear() override { record("clear"); }
    int32_t* viewport() override { return viewport_values; }
    void set_viewport(const int32_t& x, const int32_t& y, const int32_t& w, const int32_t& h) override {
        viewport_values[0] = x;
        viewport_values[1] = y;
        viewport_values[2] = w;
        viewport_values[3] = h;
    }
    void draw_triangles(const float*, int32_t n) override { record("draw_triangles").numbers = {n}; }
    void draw_indexed_uv2(const uint32_t*, const float*, const float*, const float*, int32_t n) override {
        record("draw_indexed_uv2").numbers = {n};
    }
    void draw_indexed_uv(const uint32_t* indices, const float* positions, const float* uv, int32_t n) override {
        cGfxEvent& e = record("draw_indexed_uv");
        e.numbers.assign(indices, indices + n);
        e.values.assign(positions, positions + 16);
        e.values.insert(e.values.end(), uv, uv + 8);
    }
    void draw_indexed(const uint32_t*, const float*, int32_t n) override { record("draw_indexed").numbers = {n}; }
    void draw_points(const float*, int32_t n) override { record("draw_points").numbers = {n}; }
    void draw_lines(const float*, int32_t n) override { record("draw_lines").numbers = {n}; }
    void draw_fullscreen_quad() override { record("draw_fullscreen_quad"); }
    void draw_fullscreen_quad_tex(const cTexture* t) override { record("draw_fullscreen_quad_tex").texture = t; }
    void draw_fullscreen_quad_uv2(int32_t w0, int32_t h0, int32_t w1, int32_t h1) override {
        record("draw_fullscreen_quad_uv2").numbers = {w0, h0, w1, h1};
    }
    void draw_fullscreen_quad_uv(int32_t w, int32_t h) override { record("draw_fullscreen_quad_uv").numbers = {w, h}; }
    cRenderState* state() override { return &pending; }
    void apply_state() override {}
    void push_state() override {
        record("push_state");
        stack.push_back(pending);
    }
    void pop_state() override {
        if (!stack.empty()) {
            pending = stack.back();
            stack.pop_back();
        }
        record("pop_state");
    }
    void load_shader(const std::string& name, const std::string& vertex, const std::string& fragment) override {
        cGfxEvent& e = record("load_shader");
        e.program = name;
        e.uniform = vertex;
        e.extra = fragment;
        programs.insert(name);
    }
    bool has_shader(const std::string& name) override {
        record("has_shader").program = name;
        return programs.count(name) != 0;
    }
    void use_shader(const std::string& name) override { record("use_shader").program = name; }
    void set_texture(const std::string& program, const std::string& uniform, const cTexture* t) override {
        cGfxEvent& e = record("set_texture");
        e.program = program;
        e.uniform = uniform;
        e.texture = t;
    }
    void set_matrix(const std::string& program, const std::string& uniform, const float* value) override {
        cGfxEvent& e = record("set_matrix");
        e.program = program;
        e.uniform = uniform;
        e.values.assign(value, value + 16);
    }
    void set_vector(const std::string& program, const std::string& uniform, const float* value) override {
        cGfxEvent& e = record("set_vector");
        e.program = program;
        e.uniform = uniform;
        e.values.assign(value, value + 4);
    }
    void load_model(const std::string& name, const std::string& path) override {
        cGfxEvent& e = record("load_model");
        e.program = name;
        e.uniform = path;
    }
    iModel* model(const std::string& name) override {
        record("model").program = name;
        return give_model ? &duck_ : nullptr;
    }
    cTexture* load_texture(const std::string& path, bool mipmaps, int32_t wrap, int32_t kind) override {
        cGfxEvent& e = record("load_texture");
        e.program = path;
        e.numbers = {mipmaps ? 1 : 0, wrap, kind};
        auto& slot = textures_[path];
        if (!slot) {
            const bool rectangle = kind == 4 || path.find("vignette") != std::string::npos;
            slot = std::make_unique<cTexture>(cTexture{rectangle ? gl_texture_rectangle : gl_texture_2d,
                                                       static_cast<uint32_t>(textures_.size()), rectangle ? 640 : 512,
                                                       rectangle ? 360 : 512});
        }
        return slot.get();
    }
    cTexture* texture(const std::string& path) { return textures_.count(path) ? textures_[path].get() : nullptr; }
    cTexture* create_texture_3d(int32_t, int32_t, int32_t, int32_t, int32_t, const void*) override { return nullptr; }
    cRenderTargetLease acquire_render_target(int32_t width, int32_t height) override {
        const auto size = std::make_pair(width, height);
        cFakeTarget* target = nullptr;
        auto& free = free_[size];
        if (!free.empty()) {
            target = free.front();
            free.erase(free.begin());
        } else {
            targets_.push_back(std::make_unique<cFakeTarget>(this, static_cast<int>(targets_.size()), width, height));
            target = targets_.back().get();
            ++created[size];
        }
        const int now = ++leased_now[size];
        if (now > leased_peak[size]) leased_peak[size] = now;
        cGfxEvent& e = record("acquire");
        e.numbers = {target->id(), width, height};
        return cRenderTargetLease(target, this);
    }
    cRenderTargetLease acquire_screen_render_target(int32_t divisor) override {
        return acquire_render_target(render_width / divisor, render_height / divisor);
    }
    void release_render_target(cRenderTargetLease& lease) override {
        if (!lease.target) return;
        auto* target = static_cast<cFakeTarget*>(lease.target);
        const auto size = std::make_pair(target->texture()->width, target->texture()->height);
        --leased_now[size];
        free_[size].push_back(target);
        record("release").numbers = {target->id()};
        lease.target = nullptr;
        lease.owner = nullptr;
    }
    cTexture* depth_texture(iRenderTarget*) override { return nullptr; }

    int outstanding() const {
        int n = 0;
        for (const auto& [size, count] : leased_now) n += count;
        return n;
    }

private:
    cFakeModel duck_{this};
    std::map<std::string, std::unique_ptr<cTexture>> textures_;
    std::vector<std::unique_ptr<cFakeTarget>> targets_;
    std::map<std::pair<int, int>, std::vector<cFakeTarget*>> free_;
};

inline void cFakeTarget::bind(igfxContext&, int32_t clear) {
    owner_->record("bind").numbers = {id_, clear};
    owner_->bound = id_;
}
inline void cFakeTarget::unbind(igfxContext&) {
    owner_->record("unbind").numbers = {id_};
    owner_->bound = -1;
}
inline void cFakeModel::draw(igfxContext&) { owner_->record("model.draw"); }

// Tracks by name, and the reads made of them in order.
class cFakeSync final : public iSync {
public:
    std::map<std::string, float> values;
    std::vector<std::pair<std::string, int64_t>> reads;
    float get_value(const char* name, const int64_t& time_ms) override {
        reads.emplace_back(name, time_ms);
        auto it = values.find(name);
        return it == values.end() ? 0.0f : it->second;
    }
};

class cFakeInput final : public iModuleInput {
public:
    cRecordingContext* context;
    cFakeSync* tracks;
    int32_t now_ms = 0;
    cFakeInput(cRecordingContext* c, cFakeSync* s) : context(c), tracks(s) {}
    igfxContext* gfx() override { return context; }
    iSync* sync() override { return tracks; }
    int32_t time_ms() override { return now_ms; }
    float time_seconds() override { return static_cast<float>(now_ms) / 1000.0f; }
    float spectrum_energy(int32_t, int32_t, float) override { return 0.0f; }
};

}  // namespace versewall_test
