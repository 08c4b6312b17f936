// Images in the development loop: one that cannot be decoded at start gets a stand-in and the
// read-out names it (the show plays on); a rebuilt module whose init needs an image that cannot
// be loaded is not taken, and the running one stays; the file saved whole, its stand-in gives
// way. A real show directory, real plug-ins, a real GL context (SDL's offscreen driver) and
// SDL's dummy audio.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "host/app/demo_host.h"
#include "support/audio_test_media.h"
#include "authoring/dev/dev_config.h"
#include "authoring/dev/dev_session.h"
#include "host/modules/module_manager.h"
#include "support/capture_stream.h"
#include "support/probe_show.h"
#include "support/show_layout.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A PNG of one colour (blue, green, red), as bytes.
std::string png_bytes(int side, const uint8_t bgr[3]) {
    FIBITMAP* bitmap = FreeImage_Allocate(side, side, 24);
    RGBQUAD colour{bgr[0], bgr[1], bgr[2], 0};
    FreeImage_FillBackground(bitmap, &colour, 0);
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_PNG, bitmap, memory, 0);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return bytes;
}


struct cTexel {
    uint8_t r, g, b, a;
};

cTexel first_texel(const cTexture& t) {
    std::vector<cTexel> texels(static_cast<size_t>(t.width) * t.height);
    glBindTexture(t.target, t.name);
    glGetTexImage(t.target, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(t.target, 0);
    return texels[0];
}

}  // namespace

TEST(DevImages, a_bad_image_never_ends_the_show_and_a_module_whose_init_needs_one_is_not_taken) {
    const uint8_t green[3] = {0, 255, 0};
    const std::string good = png_bytes(16, green);
    const std::string cut = good.substr(0, good.size() / 2);  // its header whole, its pixels not
    cTempDir dir;
    make_probe_show(dir);
    dir.write("data/textures/probe_v1.png", cut);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    // Standard output is left alone: the test's own failures are written there.
    cCaptureStream err(STDERR_FILENO);
    auto* host = new cDemoHost();  // lives to the end of the process, as in the player
    cStartupOptions startup;
    startup.fullscreen = false;
    startup.show_window = false;
    startup.stand_in_images = true;
    host->start_up(startup);
    cDevSession session(*host, cDevOptions{});
    session.start();
    auto run_until = [&](const std::function<bool()>& seen) {
        const auto give_up = std::chrono::steady_clock::now() + 30s;  // a hang, not a speed
        while (!seen() && std::chrono::steady_clock::now() < give_up) session.run_frame();
        return seen();
    };
    // Red lines long after any reload result has gone: the stand-ins alone.
    auto stand_in_lines = [&] {
        std::vector<std::string> lines;
        for (const cDevReadout::cLine& line : session.readout().lines(session.transport().view(), 0, 1e12))
            if (std::equal(line.colour, line.colour + 4, dev_config::kReadoutError)) lines.push_back(line.text);
        return lines;
    };
    for (int i = 0; i < 3; ++i) session.run_frame();

    // At start: the scene got a magenta checker, and the read-out says which file and why.
    auto& textures = static_cast<gfxContext*>(host->gfx)->textures();
    const cTexture* image = textures.find("data/textures/probe_v1.png");
    ASSERT_NE(image, nullptr);
    cTexel texel = first_texel(*image);
    EXPECT_TRUE(texel.r == 255 && texel.g == 0 && texel.b == 255) << int(texel.r) << "," << int(texel.g);
    std::vector<std::string> shown = stand_in_lines();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("error: data/textures/probe_v1.png: cannot decode it: the PNG decoder says", 0), 0u)
        << shown[0];

    // A rebuilt module whose init loads a cut image: refused; the running scene stays.
    const cRenderModuleBase* running = host->modules->modules().front()->scene;
    dir.write("data/textures/probe_v2.png", cut);
    fs::copy_file(std::string(DEMO_TEST_PLUGIN_DIR) + "/render_probe_v2.so", dir / "bin/render_probe.so",
                  fs::copy_options::overwrite_existing);
    ASSERT_TRUE(run_until([&] { return err.text().find("was not taken") != std::string::npos; })) << err.text();
    EXPECT_EQ(host->modules->modules().front()->scene, running);
    EXPECT_NE(err.text().find("## ERROR: the rebuilt \"bin/render_probe.so\" was not taken: its scene's init cannot "
                              "load an image; the running module stays\n"
                              "##        \"data/textures/probe_v2.png\": cannot decode it: "),
              std::string::npos)
        << err.text();
    EXPECT_EQ(textures.find("data/textures/probe_v2.png"), nullptr) << "the refused scene's stand-in went with it";
    EXPECT_EQ(stand_in_lines().size(), 1u);

    // The image saved whole: the stand-in gives way to it, and the read-out's line goes.
    dir.write("data/textures/probe_v1.png", good);
    ASSERT_TRUE(run_until([&] { return first_texel(*image).g == 255; }));
    EXPECT_EQ(image->width, 16);
    EXPECT_TRUE(run_until([&] { return stand_in_lines().empty(); }));
    err.stop();
}
