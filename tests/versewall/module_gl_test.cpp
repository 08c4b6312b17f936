// The built versewall plug-in on the host's real graphics context (Mesa through SDL's offscreen
// driver) with the show's own data: its programs compile and declare what they are sent, its
// frames look as intended when read back, and a long run needs no new render target.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"
#include "recording_context.h"
#include "render_module_base.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

using versewall_test::cFakeSync;

namespace {

// One window per process, with the show directory as the working directory, as the player has.
class cShowWindow : public ::testing::Environment {
public:
    static cWindow& window() { return *instance().window_; }
    void SetUp() override {
        int null_fd = ::open("/dev/null", O_RDONLY);  // the soft assertion must not wait for Enter
        ::dup2(null_fd, STDIN_FILENO);
        ::close(null_fd);
        ASSERT_EQ(::chdir(DEMO_SHOW_DIR), 0) << DEMO_SHOW_DIR;
        cWindowDesc desc;
        desc.width = desc.render_width = 1280;
        desc.height = desc.render_height = 720;
        desc.fullscreen = false;
        desc.show = false;
        window_ = std::make_unique<cWindow>();
        window_->open(desc);
        load_extensions();
    }
    static cShowWindow& instance() {
        static cShowWindow* made = [] {
            auto* w = new cShowWindow;
            ::testing::AddGlobalTestEnvironment(w);
            return w;
        }();
        return *made;
    }

private:
    std::unique_ptr<cWindow> window_;
};
const bool show_window_registered = (cShowWindow::instance(), true);

class cShowInput final : public iModuleInput {
public:
    gfxContext* context = nullptr;
    cFakeSync tracks;
    int32_t now_ms = 0;
    igfxContext* gfx() override { return context; }
    iSync* sync() override { return &tracks; }
    int32_t time_ms() override { return now_ms; }
    float time_seconds() override { return static_cast<float>(now_ms) / 1000.0f; }
    float spectrum_energy(int32_t, int32_t, float) override { return 0.0f; }
};

struct cRgb {
    int r, g, b;
    int grey() const { return (r + g + b) / 3; }
};

// A fresh context and a fresh copy of the plug-in per test, initialised as at start-up.
class versewall_gl : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(DEMO_VERSEWALL_MODULE, dir_ / "render_versewall.so");
        handle_ = ::dlopen((dir_ / "render_versewall.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        auto create = reinterpret_cast<CreateSceneFn>(::dlsym(handle_, "CreateScene"));
        destroy_ = reinterpret_cast<DeleteSceneFn>(::dlsym(handle_, "DeleteScene"));
        ASSERT_TRUE(create && destroy_);

        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        ctx = std::make_unique<gfxContext>();
        ctx->init(&cShowWindow::window());
        input.context = ctx.get();
        scene = create();
        scene->init(&input);
        load_out = out.stop();
        load_err = err.stop();
    }
    void TearDown() override {
        if (scene) destroy_(&scene);
        ctx.reset();
        if (handle_) ::dlclose(handle_);
    }

    // One frame as the host's loop draws it, without the swap.
    void frame() {
        ctx->clear();
        ctx->push_state();
        scene->render(&input);
        ctx->pop_state();
    }

    cRgb pixel(int x, int y) const {
        unsigned char p[4] = {0, 0, 0, 0};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2]};
    }
    // Mean grey level of a block of the window (x, y: lower left corner).
    double mean(int x, int y, int w, int h) const {
        std::vector<unsigned char> p(static_cast<size_t>(w) * h * 4);
        glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
        double sum = 0;
        for (size_t i = 0; i < p.size(); i += 4) sum += (p[i] + p[i + 1] + p[i + 2]) / 3.0;
        return sum / (static_cast<double>(w) * h);
    }

    void set(const std::map<std::string, float>& values) {
        for (const auto& [name, value] : values) input.tracks.values[name] = value;
    }

    std::unique_ptr<gfxContext> ctx;
    cShowInput input;
    cRenderModuleBase* scene = nullptr;
    std::string load_out, load_err;

private:
    cTempDir dir_;
    void* handle_ = nullptr;
    DeleteSceneFn destroy_ = nullptr;
};

constexpr uint32_t sampler_2d = 0x8B5E, sampler_rect = 0x8B63, float_vec4 = 0x8B52, float_mat4 = 0x8B5C;

// name -> GL type, over all three tables of a program.
std::map<std::string, uint32_t> uniforms_of(const cShaderProgram& p) {
    std::map<std::string, uint32_t> out;
    for (const auto& [name, u] : p.vectors) out[name] = u.type;
    for (const auto& [name, u] : p.matrices) out[name] = u.type;
    for (const auto& [name, u] : p.samplers) out[name] = u.type;
    return out;
}

}  // namespace

TEST_F(versewall_gl, every_program_compiles_and_declares_exactly_what_it_is_sent) {
    set({{"numwords", 3}, {"word_t", 1.5f}, {"textits", 1}, {"tunnel", 0.5f}, {"draw_duck", 1}});
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    frame();
    const std::string frame_out = out.stop(), frame_err = err.stop();
    for (const std::string& text : {load_out, load_err, frame_out, frame_err}) {
        EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
        EXPECT_EQ(text.find("warning"), std::string::npos) << text;
    }

    const std::map<std::string, std::map<std::string, uint32_t>> expected = {
        {"default_shader", {}},
        {"text", {{"mvp", float_mat4}, {"color", float_vec4}, {"texttex", sampler_2d}}},
        {"duck", {{"mvp", float_mat4}, {"ws_to_vs", float_mat4}, {"modelmat_IT", float_mat4}}},
        {"tunnel",
         {{"time", float_vec4}, {"twist", float_vec4}, {"opasity", float_vec4}, {"ofs", float_vec4}, {"tex0", sampler_2d}}},
        {"passthrough", {{"tex0", sampler_rect}}},
        {"downsample", {{"tex0", sampler_rect}}},
        {"dir_blur", {{"tex0", sampler_rect}, {"blurdir", float_vec4}}},
        {"levels", {{"tex0", sampler_rect}, {"levels_inout", float_vec4}, {"gamma", float_vec4}}},
        {"add_comp", {{"tex_over", sampler_rect}, {"tex_under", sampler_rect}, {"opasity", float_vec4}}},
        {"modulate_comp", {{"tex_over", sampler_rect}, {"tex_under", sampler_rect}, {"opasity", float_vec4}}},
    };
    for (const auto& [name, uniforms] : expected) {
        const cShaderProgram* program = ctx->shaders().find(name);
        ASSERT_NE(program, nullptr) << name << " did not load";
        EXPECT_EQ(uniforms_of(*program), uniforms) << name;
    }
}

TEST_F(versewall_gl, frame_leaves_the_host_state_and_the_window_bound) {
    set({{"numwords", 2}, {"word_t", 1.2f}, {"textits", 1}, {"tunnel", 1}, {"draw_duck", 1}});
    const cRenderState before = *ctx->state();
    frame();
    EXPECT_EQ(*ctx->state(), before);
    GLint framebuffer = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    EXPECT_EQ(framebuffer, 0);
    const int32_t* viewport = ctx->viewport();
    EXPECT_EQ(std::vector<int32_t>(viewport, viewport + 4), (std::vector<int32_t>{0, 0, 1280, 720}));
}

TEST_F(versewall_gl, quiet_frame_is_the_kick_grey_darkened_towards_the_corners) {
    frame();  // every track 0: nothing but the background goes through the chain
    const cRgb centre = pixel(640, 360);
    EXPECT_NEAR(centre.r, 19, 3);  // 0.075 of full scale, too dark to glow
    EXPECT_EQ(centre.r, centre.g);
    EXPECT_EQ(centre.g, centre.b);
    EXPECT_LT(pixel(2, 2).grey(), centre.grey() - 8) << "the vignette darkens the corners";

    set({{"kick", 1}});
    frame();
    EXPECT_GT(pixel(640, 360).grey(), 150) << "a kick flashes the background";
}

TEST_F(versewall_gl, bright_words_light_the_middle_and_glow_around_it) {
    frame();
    const double dark_middle = mean(540, 310, 200, 100);
    // Just right of the word's last letter, which ends about 90 pixels right of the centre.
    const double dark_beside = mean(745, 345, 25, 30);
    const double dark_far = mean(1000, 340, 40, 40);

    set({{"numwords", 1}, {"textits", 1}, {"word0its", 1}});
    frame();
    const double lit_middle = mean(540, 310, 200, 100);
    EXPECT_GT(lit_middle, dark_middle + 40) << "the word is drawn";
    EXPECT_GT(mean(745, 345, 25, 30), dark_beside + 10) << "the glow reaches past the word";
    EXPECT_NEAR(mean(1000, 340, 40, 40), dark_far, 1.0) << "and fades out before the screen's side";

    // Turning the canvas a quarter turn moves the word: the middle stays lit, the sides change.
    set({{"textrot", 90}});
    frame();
    EXPECT_GT(mean(540, 310, 200, 100), dark_middle + 20);
}

TEST_F(versewall_gl, tunnel_adds_light_only_with_opasity) {
    frame();
    const double without = mean(0, 0, 1280, 720);
    set({{"tunnel", 1}, {"tunnel_twist", 0.5f}});
    input.now_ms = 3000;
    frame();
    EXPECT_GT(mean(0, 0, 1280, 720), without + 5);
    set({{"tunnel", 0}});
    frame();
    EXPECT_NEAR(mean(0, 0, 1280, 720), without, 0.01);
}

TEST_F(versewall_gl, duck_is_drawn_opaque_and_yellow_over_everything) {
    set({{"tunnel", 1}});
    frame();
    // The duck rests at (0, -1, 0), seven units in front of the camera.
    const int y = static_cast<int>(360.0 - 360.0 * (1.0 * 0.7002 / 7.0));
    const cRgb below_centre_without = pixel(640, y);
    set({{"draw_duck", 1}});
    frame();
    const cRgb duck = pixel(640, y);
    EXPECT_GT(duck.r, 150);
    EXPECT_GT(duck.g, 90);
    EXPECT_LT(duck.b, duck.g - 40) << "yellow, not the tunnel's blue";
    EXPECT_NE(duck.r, below_centre_without.r);
}

TEST_F(versewall_gl, three_hundred_frames_need_no_new_render_target) {
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    for (int i = 0; i < 300; ++i) {
        const float t = static_cast<float>(i) / 300.0f;
        input.now_ms = i * 16;
        set({{"kick", (i % 8) == 0 ? 1.0f : 0.1f},
             {"numwords", 1.0f + 7.0f * t},
             {"word_t", 0.05f + 8.0f * t},
             {"textits", 1},
             {"textrot", 20.0f * t},
             {"umptchi", (i / 50) % 2 ? 1.0f : 0.0f},
             {"tunnel", t},
             {"tunnel_ofs", t},
             {"draw_duck", 1},
             {"duck_rot", 360.0f * t},
             {"duck_trans_y", t * 3.0f}});
        frame();
    }
    const std::string printed = out.stop(), errors = err.stop();
    EXPECT_EQ(printed.find("performance-warning"), std::string::npos) << printed;
    EXPECT_EQ(errors, "");
}
