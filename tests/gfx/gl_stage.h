// What the graphics tests stand on: one real window with a GL context per test process (SDL's
// offscreen driver on Mesa), a working directory holding the default textures and the default
// program, image and shader writers, and a recorder that wraps entries of the GL table to see
// which calls are made, in which order, with which arguments.
#pragma once
#include <FreeImage.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"
#include "support/hidden_window.h"
#include "support/temp_dir.h"

// ---- images ----

struct cPixel {
    uint8_t r, g, b, a;
};

// Pixels of a texture as RGBA bytes, first row first.
inline std::vector<cPixel> read_texels(const cTexture& t) {
    std::vector<cPixel> texels(static_cast<size_t>(t.width) * t.height);
    glBindTexture(t.target, t.name);
    glGetTexImage(t.target, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(t.target, 0);
    return texels;
}

// Writes a FIT_BITMAP image of bpp 24 or 32 whose pixel (x, y) (y = 0 the bottom row, as
// FreeImage counts) comes from colour(x, y).
inline void write_colour_image(const std::string& path, int width, int height, int bpp,
                               const std::function<cPixel(int, int)>& colour, FREE_IMAGE_FORMAT format = FIF_PNG) {
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, bpp);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            cPixel p = colour(x, y);
            RGBQUAD q{p.b, p.g, p.r, p.a};
            FreeImage_SetPixelColor(bitmap, x, y, &q);
        }
    FreeImage_Save(format, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
}

inline void write_flat_image(const std::string& path, int width, int height, int bpp, cPixel colour = {255, 255, 255, 255}) {
    write_colour_image(path, width, height, bpp, [&](int, int) { return colour; });
}

// ---- the shared window and the show directory ----

// A minimal default program: positions on attribute 0, a colour uniform.
constexpr const char* stage_default_vert =
    "#version 120\nattribute vec4 position;\nvoid main() { gl_Position = position; }\n";
constexpr const char* stage_default_frag =
    "#version 120\nuniform vec4 colour;\nvoid main() { gl_FragColor = colour; }\n";

class cGLStage : public ::testing::Environment {
public:
    static cWindow& window() { return *instance().window_; }
    static const cTempDir& dir() { return instance().dir_; }

    void SetUp() override {
        // Fatal paths run in a fresh copy of the test program: a forked child of a process
        // with a GL context cannot rely on the driver's threads. (Set here, after the flags
        // are parsed: a static initialiser would be overwritten.)
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // The soft assertion waits for Enter on a terminal; tests have nobody to press it.
        int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, STDIN_FILENO);
        ::close(null_fd);

        dir_.write("data/shaders/default.vert", stage_default_vert);
        dir_.write("data/shaders/default.frag", stage_default_frag);
        dir_.write("data/textures/.keep", "");
        write_flat_image(dir_ / "data/textures/default_white.png", 4, 4, 32, {255, 255, 255, 255});
        write_flat_image(dir_ / "data/textures/default_black.png", 4, 4, 32, {0, 0, 0, 255});
        if (::chdir(dir_.path().c_str()) != 0) FAIL() << "cannot enter " << dir_.path();
        // Fatal cases end their process through exit(), which skips the environment's own
        // teardown; the directory goes with the process either way.
        owner_pid_ = ::getpid();
        std::atexit([] {
            if (::getpid() != instance().owner_pid_) return;  // a forked child shares the directory
            std::error_code ignored;
            std::filesystem::remove_all(instance().dir_.path(), ignored);
        });

        window_ = open_hidden_window();
    }

    static cGLStage& instance() {
        static cGLStage* stage = [] {
            auto* made = new cGLStage;
            ::testing::AddGlobalTestEnvironment(made);
            return made;
        }();
        return *stage;
    }

private:
    cTempDir dir_;
    std::unique_ptr<cWindow> window_;
    pid_t owner_pid_ = 0;
};

// Registers the stage before main runs the tests.
inline const bool gl_stage_registered = (cGLStage::instance(), true);

// A test with a fresh, initialised graphics context on the shared window.
class GfxTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Fatal paths run in a fresh copy of the test program: a forked child of a process
        // with a GL context cannot rely on the driver's threads. (Set here, after the flags
        // are parsed: a static initialiser would be overwritten.)
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ctx = std::make_unique<gfxContext>();
        ctx->init(&cGLStage::window());
    }
    void TearDown() override { ctx.reset(); }
    std::string path(const std::string& name) const { return cGLStage::dir() / name; }

    std::unique_ptr<gfxContext> ctx;
};

// ---- recording GL calls ----

struct cGLCall {
    std::string name;
    std::vector<int64_t> ints;         // integer and enum arguments, in order
    std::vector<double> floats;        // floating-point arguments, in order
    std::vector<const void*> pointers;  // pointer arguments, in order
};

namespace gl_record {

inline std::vector<cGLCall>& calls() {
    static std::vector<cGLCall> list;
    return list;
}
// Runs inside the wrapper before the real call, while the arguments' memory is alive.
inline std::function<void(const cGLCall&)>& observer() {
    static std::function<void(const cGLCall&)> f;
    return f;
}

template <typename T>
void add_argument(cGLCall& call, T value) {
    if constexpr (std::is_pointer_v<T>)
        call.pointers.push_back(reinterpret_cast<const void*>(value));
    else if constexpr (std::is_floating_point_v<T>)
        call.floats.push_back(static_cast<double>(value));
    else
        call.ints.push_back(static_cast<int64_t>(value));
}

template <typename Tag, typename F>
struct cHook;
template <typename Tag, typename R, typename... A>
struct cHook<Tag, R (*)(A...)> {
    static inline R (*real)(A...) = nullptr;
    static R call(A... args) {
        cGLCall record{Tag::label(), {}, {}, {}};
        (add_argument(record, args), ...);
        if (observer()) observer()(record);
        calls().push_back(record);
        return real(args...);
    }
};

}  // namespace gl_record

#define DEMO_RECORDED_GL(X) \
    X(glEnable) X(glDisable) X(glDepthMask) X(glDepthFunc) X(glPolygonMode) X(glCullFace) X(glFrontFace) \
    X(glBlendFuncSeparate) X(glDrawArrays) X(glDrawElements) X(glVertexAttribPointer) \
    X(glEnableVertexAttribArray) X(glDisableVertexAttribArray) X(glClear) X(glViewport) X(glTexImage1D) \
    X(glTexImage2D) X(glTexImage3D) X(glTexParameteri) X(glGenerateMipmap) X(glGenRenderbuffers) \
    X(glRenderbufferStorage) X(glShaderSource) X(glUseProgram) X(glDrawBuffer) X(glBindFramebuffer) \
    X(glClearColor) X(glActiveTextureARB) X(glBindTexture) X(glUniform1i)

#define DEMO_GL_HOOK_TAG(fn) \
    struct hook_tag_##fn { \
        static const char* label() { return #fn; } \
    };
namespace gl_record {
DEMO_RECORDED_GL(DEMO_GL_HOOK_TAG)
}
#undef DEMO_GL_HOOK_TAG

// Wraps the recorded entries for its lifetime and restores them afterwards.
class cGLRecorder {
public:
    cGLRecorder() {
        gl_record::calls().clear();
#define DEMO_GL_HOOK_INSTALL(name) \
    gl_record::cHook<gl_record::hook_tag_##name, demo_gl_type_##name>::real = demo_##name; \
    demo_##name = &gl_record::cHook<gl_record::hook_tag_##name, demo_gl_type_##name>::call;
        DEMO_RECORDED_GL(DEMO_GL_HOOK_INSTALL)
#undef DEMO_GL_HOOK_INSTALL
    }
    ~cGLRecorder() {
#define DEMO_GL_HOOK_RESTORE(name) \
    demo_##name = gl_record::cHook<gl_record::hook_tag_##name, demo_gl_type_##name>::real;
        DEMO_RECORDED_GL(DEMO_GL_HOOK_RESTORE)
#undef DEMO_GL_HOOK_RESTORE
        gl_record::observer() = nullptr;
    }
    cGLRecorder(const cGLRecorder&) = delete;
    cGLRecorder& operator=(const cGLRecorder&) = delete;

    const std::vector<cGLCall>& calls() const { return gl_record::calls(); }
    void clear() { gl_record::calls().clear(); }
    void observe(std::function<void(const cGLCall&)> f) { gl_record::observer() = std::move(f); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& c : calls()) out.push_back(c.name);
        return out;
    }
    size_t count(const std::string& name) const {
        size_t n = 0;
        for (const auto& c : calls()) n += c.name == name;
        return n;
    }
    // The calls of one entry, in order.
    std::vector<cGLCall> of(const std::string& name) const {
        std::vector<cGLCall> out;
        for (const auto& c : calls())
            if (c.name == name) out.push_back(c);
        return out;
    }
};

// ---- reading GL state back ----

inline GLint gl_int(GLenum name) {
    GLint v[4] = {0, 0, 0, 0};
    glGetIntegerv(name, v);
    return v[0];
}
inline bool gl_enabled(GLenum cap) { return glIsEnabled(cap) == GL_TRUE; }
