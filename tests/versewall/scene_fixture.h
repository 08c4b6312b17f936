// A test of the built versewall plug-in on a fresh host graphics context, seen through the
// observing wrapper, fed by the host's module input over a real sync device and the sound
// module's clock. Frames run as the host runs them: clear, push, render, pop.
#pragma once
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gfx/context/gfx_context.h"
#include "host/modules/module_input.h"
#include "support/observing_context.h"
#include "render_module_base.h"
#include "versewall_stage.h"

namespace versewall_test {

// A private copy of the built plug-in, so that its library-wide state (first-use flags, the
// circle's last position) starts fresh, as after the host's start-up.
class cLoadedModule {
public:
    cLoadedModule() {
        const std::string path = dir_ / "render_versewall.so";
        std::filesystem::copy_file(DEMO_VERSEWALL_MODULE, path);
        handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        create = reinterpret_cast<CreateSceneFn>(::dlsym(handle_, "CreateScene"));
        destroy = reinterpret_cast<DeleteSceneFn>(::dlsym(handle_, "DeleteScene"));
    }
    ~cLoadedModule() {
        if (handle_) ::dlclose(handle_);
    }
    cLoadedModule(const cLoadedModule&) = delete;
    cLoadedModule& operator=(const cLoadedModule&) = delete;
    bool loaded() const { return handle_ && create && destroy; }

    CreateSceneFn create = nullptr;
    DeleteSceneFn destroy = nullptr;

private:
    cTempDir dir_;
    void* handle_ = nullptr;
};

class versewall_scene : public ::testing::Test {
protected:
    void SetUp() override {
        cVersewallStage::sound().set_position_ms(0);
        start();
    }
    void TearDown() override { stop(); }

    // A fresh context (prepared by before_init, as the host might have left it) and the scene's init.
    void start(const std::function<void(gfxContext&)>& before_init = nullptr) {
        ASSERT_TRUE(module.loaded()) << ::dlerror();
        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        ctx = std::make_unique<gfxContext>();
        ctx->init(&cVersewallStage::window());
        if (before_init) before_init(*ctx);
        gfx = std::make_unique<cObservingContext>(*ctx);
        scene = module.create();
        ASSERT_NE(scene, nullptr);
        scene->init(&input());
        after_init = gfx->calls.size();
        load_out = out.stop();
        load_err = err.stop();
    }
    void stop() {
        if (scene) module.destroy(&scene);
        gfx.reset();
        cCaptureStream out(STDOUT_FILENO);  // the pool's closing report
        ctx.reset();
    }

    cModuleInput& input() { return input_.emplace(gfx.get(), &tracks.device(), &cVersewallStage::sound()); }
    void at(int32_t ms) { cVersewallStage::sound().set_position_ms(ms); }

    // One frame as the host's render pass draws it; first is where its calls start.
    void frame() {
        first = gfx->calls.size();
        ctx->clear();
        ctx->push_state();
        scene->render(&input());
        ctx->pop_state();
    }
    std::vector<cCall> in_frame(const std::string& op) const { return gfx->of(op, first); }
    // Framebuffers of the last frame's scene target A and spare target B.
    std::pair<int, int> scene_targets() const {
        const auto acquires = in_frame("acquire");
        return {acquires.at(0).numbers[0], acquires.at(1).numbers[0]};
    }
    const cTexture* texture(const std::string& path) const { return ctx->textures().find(path); }

    cLoadedModule module;
    cTracks tracks;
    std::unique_ptr<gfxContext> ctx;
    std::unique_ptr<cObservingContext> gfx;
    cRenderModuleBase* scene = nullptr;
    std::string load_out, load_err;
    size_t first = 0, after_init = 0;

private:
    std::optional<cModuleInput> input_;
};

}  // namespace versewall_test
