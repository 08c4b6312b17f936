// The host's own frame over real plug-ins: cDemoHost's start-up in a show directory of the
// test's, its module manager loading the state-changing module and the recording module from
// tests/plugins, and the render pass and main loop as the player runs them. Checked: modules
// render in load order, each gated by its track at a time read for it alone, each between its
// own push and pop (a module that leaves the state changed leaks it into neither the next
// module nor the next frame), and the show ends after the first frame that reads 88251 ms.
//
// The music clock is the sound module on the "no sound" device, whose position moves only when
// set. The test moves it from inside the frame by wrapping two entries of the GL table: the
// frame's clear (once per frame) and the triangle draw of the state-changing module.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "host/app/demo_host.h"
#include "support/audio_test_media.h"
#include "host/modules/module_manager.h"
#include "support/capture_stream.h"
#include "support/show_layout.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The render state after start-up, as the two words of the packed state.
constexpr const char* kStartUpState = "01541983 0000000f";

// ---- the clock, moved from inside the frame ----

std::function<void()>& on_clear() {
    static std::function<void()> f;
    return f;
}
std::function<void()>& on_draw() {
    static std::function<void()> f;
    return f;
}
demo_gl_type_glClear real_clear = nullptr;
demo_gl_type_glDrawArrays real_draw_arrays = nullptr;

void clear_hook(GLbitfield mask) {
    if (on_clear()) on_clear()();
    real_clear(mask);
}
void draw_arrays_hook(GLenum mode, GLint first, GLsizei count) {
    if (on_draw()) on_draw()();
    real_draw_arrays(mode, first, count);
}

// One host for the whole process: like the player's, it is never torn down. Its show directory
// holds the two plug-ins, named so that the state changer loads first, 89 s of silent music
// (8 frames per millisecond, so every millisecond can be set exactly) and the two gating tracks.
class RenderPass : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (host_) return;
        static cTempDir show;
        fs::create_directories(show / "bin/dll_cache");
        for (const char* file : {"shaders/default.vert", "shaders/default.frag", "textures/default_white.png",
                                 "textures/default_black.png"}) {
            const std::string to = show / ("data/" + std::string(file));
            fs::create_directories(fs::path(to).parent_path());
            fs::copy_file(std::string(DEMO_SOURCE_DIR) + "/data/" + file, to);
        }
        fs::copy_file(std::string(DEMO_TEST_PLUGIN_DIR) + "/render_state_changer.so", show / "bin/render_a_changer.so");
        fs::copy_file(std::string(DEMO_TEST_PLUGIN_DIR) + "/render_recorder.so", show / "bin/render_b_recorder.so");
        show.write("data/muzak/recut.mp3", wav_bytes(8000, 1, std::vector<int16_t>(8000 * 89, 0)));
        show.write("data/sync/_scene_changer.track", track_file_bytes({{0, 1.0f, 0}}));
        // Exactly 0 before row 30 (1250 ms), 1 from there on.
        show.write("data/sync/_scene_recorder.track", track_file_bytes({{0, 0.0f, 0}, {30, 1.0f, 0}}));
        ASSERT_EQ(::chdir(show.path().c_str()), 0);
        log_path_ = show / "recorder.log";

        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        host_ = new cDemoHost();
        cStartupOptions options;
        options.audio_device = 0;
        options.fullscreen = false;
        options.show_window = false;
        host_->start_up(options);
        real_clear = demo_glClear;
        real_draw_arrays = demo_glDrawArrays;
        demo_glClear = clear_hook;
        demo_glDrawArrays = draw_arrays_hook;
    }
    void SetUp() override {
        ASSERT_NE(host_, nullptr);
        ASSERT_NE(host_->sound.stream, 0u) << "the music did not load";
        ASSERT_EQ(host_->modules->modules().size(), 2u);
        std::ofstream(log_path_, std::ios::trunc);
    }
    void TearDown() override {
        on_clear() = nullptr;
        on_draw() = nullptr;
    }

    // The render calls logged since the test began: "changer <t> <state>" and "render <t> <state>".
    static std::vector<std::string> renders() {
        std::vector<std::string> lines;
        std::istringstream in(slurp(log_path_));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("changer ", 0) == 0 || line.rfind("render ", 0) == 0) lines.push_back(line);
        return lines;
    }
    static std::string pending_state() {
        char words[18];
        const cRenderState* s = host_->gfx->state();
        std::snprintf(words, sizeof words, "%08x %08x", static_cast<unsigned>(s->word[0]), static_cast<unsigned>(s->word[1]));
        return words;
    }

    static inline cDemoHost* host_ = nullptr;
    static inline std::string log_path_;
};

TEST_F(RenderPass, two_modules_render_in_load_order_each_at_its_own_time_and_with_the_hosts_state) {
    // The changer's draw moves the music on from 1000 ms (row 24, recorder off) to 1500 ms
    // (row 36, on): the recorder renders only if its gate reads the time afresh.
    host_->sound.set_position_ms(1000);
    on_draw() = [] { host_->sound.set_position_ms(1500); };
    host_->render_pass();
    // The same frame without the move: the recorder's track is exactly 0, so it stays off.
    host_->sound.set_position_ms(1000);
    on_draw() = nullptr;
    host_->render_pass();

    const std::vector<std::string> expected = {
        std::string("changer 1000 ") + kStartUpState,
        std::string("render 1500 ") + kStartUpState,  // the changer's state did not reach it
        std::string("changer 1000 ") + kStartUpState,  // nor the next frame
    };
    EXPECT_EQ(renders(), expected);
    EXPECT_EQ(pending_state(), kStartUpState);
    EXPECT_EQ(static_cast<gfxContext*>(host_->gfx)->render_state().depth(), 0u);
}

TEST_F(RenderPass, the_show_ends_after_the_first_frame_that_reads_88251_ms) {
    // Each frame's clear sets the next position; the loop reads it after the frame.
    static const int32_t script[] = {88249, 88250, 88251, 88252, 88253};
    static size_t frame = 0;
    frame = 0;
    on_clear() = [] {
        if (frame == std::size(script)) {
            ADD_FAILURE() << "the show did not end at " << script[frame - 1] << " ms";
            std::exit(1);
        }
        host_->sound.set_position_ms(script[frame++]);
    };
    host_->main_loop();

    std::vector<std::string> recorded;
    for (const std::string& line : renders())
        if (line.rfind("render ", 0) == 0) recorded.push_back(line.substr(0, line.find(' ', 7)));
    EXPECT_EQ(recorded, (std::vector<std::string>{"render 88249", "render 88250", "render 88251"}));
    EXPECT_EQ(frame, 3u);
}

}  // namespace
