// The development loop driven by a tool from a thread of its own through iDevControl, as the
// browser editor's server does: requests are applied between frames, the state the tool reads
// is what the last frame saw, events reach the tool on the main thread and stop once it has
// unsubscribed. A real show directory, a real plug-in, a real GL context (SDL's offscreen
// driver) and SDL's dummy audio.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "gfx/context/gfx_context.h"
#include "host/app/demo_host.h"
#include "support/audio_test_media.h"
#include "authoring/dev/dev_session.h"
#include "host/sync/sync_device.h"
#include "support/capture_stream.h"
#include "support/probe_show.h"
#include "support/show_layout.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;


template <typename F>
bool wait_for(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

}  // namespace

TEST(DevSession, a_tool_on_another_thread_drives_the_show_between_frames) {
    cTempDir dir;
    make_probe_show(dir);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    cCaptureStream quiet_out(STDOUT_FILENO);
    cCaptureStream quiet_err(STDERR_FILENO);
    auto* host = new cDemoHost();  // lives to the end of the process, as in the player
    cStartupOptions startup;
    startup.fullscreen = false;
    startup.show_window = false;
    host->start_up(startup);
    cDevSession session(*host, cDevOptions{});
    session.start();
    iDevControl& control = session.control();

    const std::thread::id main_thread = std::this_thread::get_id();
    std::mutex lock;
    std::vector<cDevEvent> events;
    std::atomic<bool> called_elsewhere{false};
    std::atomic<bool> done{false};
    std::vector<std::string> failures;
    size_t events_at_unsubscribe = 0;
    const std::string good = "track probe_value\n  0:0 2 step\n";

    std::thread tool([&] {
        auto expect = [&](bool ok, const char* what) {
            if (!ok) failures.push_back(what);
            return ok;
        };
        auto seen = [&](cDevEvent::kind_t kind) {
            std::lock_guard<std::mutex> guard(lock);
            for (const cDevEvent& e : events)
                if (e.kind == kind) return true;
            return false;
        };
        const int id = control.subscribe([&](const cDevEvent& event) {
            if (std::this_thread::get_id() != main_thread) called_elsewhere = true;
            std::lock_guard<std::mutex> guard(lock);
            events.push_back(event);
        });
        control.request_pause(true);
        expect(wait_for([&] { return control.state().paused; }), "paused");
        control.request_seek(5000);
        expect(wait_for([&] { return control.state().music_ms == 5000; }), "seek to 5000");
        control.request_tracks("track probe_value\n  0:0 2 linar\n");
        expect(wait_for([&] { return seen(cDevEvent::reload_failed); }), "a refused source is an event");
        control.request_tracks(good);
        expect(wait_for([&] { return seen(cDevEvent::tracks_reloaded); }), "tracks reloaded");
        control.request_loop(1000, 2000);
        expect(wait_for([&] {
            const cDevState s = control.state();
            return s.loop_on && s.loop_start_ms == 1000 && s.loop_end_ms == 2000;
        }), "loop");
        control.request_loop(3000, 3000);
        expect(wait_for([&] { return !control.state().loop_on; }), "loop cleared");
        control.request_seek(-50);
        expect(wait_for([&] { return control.state().music_ms == 0; }), "seek before the start lands on 0");
        control.unsubscribe(id);
        {
            std::lock_guard<std::mutex> guard(lock);
            events_at_unsubscribe = events.size();
        }
        const uint64_t frame = control.state().frame;
        control.request_toggle_pause();
        expect(wait_for([&] { return !control.state().paused && control.state().frame > frame + 3; }), "resumed");
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!done && std::chrono::steady_clock::now() < deadline) session.run_frame();
    done = true;
    tool.join();
    quiet_out.stop();
    const std::string err = quiet_err.stop();

    EXPECT_TRUE(failures.empty()) << failures.front() << "\n" << err;
    EXPECT_FALSE(called_elsewhere) << "listeners are called on the main thread";
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(events.size(), events_at_unsubscribe) << "nothing after unsubscribe";
    bool failed_seen = false, reloaded_seen = false;
    for (const cDevEvent& e : events) {
        if (e.kind == cDevEvent::reload_failed) {
            failed_seen = true;
            EXPECT_EQ(e.path, "data/sync/show.tracks");
            EXPECT_EQ(e.text.rfind("line 2:", 0), 0u) << e.text;
        }
        if (e.kind == cDevEvent::tracks_reloaded) {
            reloaded_seen = true;
            EXPECT_EQ(e.text, good);
        }
    }
    EXPECT_TRUE(failed_seen && reloaded_seen);
    EXPECT_EQ(host->sync->get_value("probe_value", 0), 2.0f) << "the tool's text is in effect";
    EXPECT_NE(err.find("## ERROR: data/sync/show.tracks (from a tool):2:"), std::string::npos) << err;

    // A source is parsed off the frame loop: the frame that takes the request still reads the
    // old keys, and a later frame has the new ones.
    control.request_tracks("track probe_value\n  0:0 3 step\n");
    cCaptureStream quiet_again(STDOUT_FILENO);
    session.run_frame();
    const float in_that_frame = host->sync->get_value("probe_value", 0);
    const auto parsed_by = std::chrono::steady_clock::now() + 20s;
    while (host->sync->get_value("probe_value", 0) != 3.0f && std::chrono::steady_clock::now() < parsed_by) {
        session.run_frame();
    }
    EXPECT_EQ(in_that_frame, 2.0f);
    EXPECT_EQ(host->sync->get_value("probe_value", 0), 3.0f);

    // A tool's preview is taken in the next frame and drawn, also by a paused show that had
    // nothing to draw.
    control.request_pause(true);
    for (int i = 0; i < 1000 && (i < 2 || session.drew()); ++i) session.run_frame();
    ASSERT_FALSE(session.drew()) << "the paused show kept drawing";
    control.request_preview({{"probe_value", {{0, 4.0f, kSyncStep}}}});
    session.run_frame();
    EXPECT_TRUE(session.drew()) << "the preview was not drawn";
    EXPECT_EQ(host->sync->get_value("probe_value", 0), 4.0f);
    quiet_again.stop();

    // An image saved while the show runs: the same texture record takes it.
    const cTexture* white = static_cast<gfxContext*>(host->gfx)->textures().find("data/textures/default_white.png");
    ASSERT_NE(white, nullptr);
    ASSERT_NE(white->width, 8);
    FIBITMAP* bitmap = FreeImage_Allocate(8, 8, 32);
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, bitmap, "data/textures/default_white.png", 0));
    FreeImage_Unload(bitmap);
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (white->width != 8 && std::chrono::steady_clock::now() < until) session.run_frame();
    EXPECT_EQ(white->width, 8);
}
