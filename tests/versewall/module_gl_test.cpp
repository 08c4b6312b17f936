// The built versewall plug-in's pictures on the host's real graphics context with the show's own
// data: its programs compile and declare what they are sent, its frames look as intended when
// read back from the window, and a long run needs no new render target.
#include <map>
#include <string>
#include <vector>

#include "scene_fixture.h"

using namespace versewall_test;

namespace {

struct cRgb {
    int r, g, b;
    int grey() const { return (r + g + b) / 3; }
};

cRgb pixel(int x, int y) {
    unsigned char p[4] = {0, 0, 0, 0};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2]};
}
// Mean grey level of a block of the window (x, y: lower left corner).
double mean(int x, int y, int w, int h) {
    std::vector<unsigned char> p(static_cast<size_t>(w) * h * 4);
    glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
    double sum = 0;
    for (size_t i = 0; i < p.size(); i += 4) sum += (p[i] + p[i + 1] + p[i + 2]) / 3.0;
    return sum / (static_cast<double>(w) * h);
}

constexpr uint32_t sampler_2d = 0x8B5E, sampler_rect = 0x8B63, float_vec4 = 0x8B52, float_mat4 = 0x8B5C;

// name -> GL type, over all three tables of a program.
std::map<std::string, uint32_t> uniforms_of(const cShaderProgram& p) {
    std::map<std::string, uint32_t> out;
    for (const auto& [name, u] : p.vectors) out[name] = u.type;
    for (const auto& [name, u] : p.matrices) out[name] = u.type;
    for (const auto& [name, u] : p.samplers) out[name] = u.type;
    return out;
}

using picture_test = versewall_scene;

}  // namespace

TEST_F(picture_test, every_program_compiles_and_declares_exactly_what_it_is_sent) {
    tracks.set({{"numwords", 3}, {"word_t", 1.5f}, {"textits", 1}, {"tunnel", 0.5f}, {"draw_duck", 1}});
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

TEST_F(picture_test, quiet_frame_is_the_kick_grey_darkened_towards_the_corners) {
    frame();  // every track 0: nothing but the background goes through the chain
    const cRgb centre = pixel(640, 360);
    EXPECT_NEAR(centre.r, 19, 3);  // 0.075 of full scale, too dark to glow
    EXPECT_EQ(centre.r, centre.g);
    EXPECT_EQ(centre.g, centre.b);
    EXPECT_LT(pixel(2, 2).grey(), centre.grey() - 8) << "the vignette darkens the corners";

    tracks.set({{"kick", 1}});
    frame();
    EXPECT_GT(pixel(640, 360).grey(), 150) << "a kick flashes the background";
}

TEST_F(picture_test, bright_words_light_the_middle_and_glow_around_it) {
    frame();
    const double dark_middle = mean(540, 310, 200, 100);
    // Just right of the word's last letter, which ends about 90 pixels right of the centre.
    const double dark_beside = mean(745, 345, 25, 30);
    const double dark_far = mean(1000, 340, 40, 40);

    tracks.set({{"numwords", 1}, {"textits", 1}, {"word0its", 1}});
    frame();
    EXPECT_GT(mean(540, 310, 200, 100), dark_middle + 40) << "the word is drawn";
    EXPECT_GT(mean(745, 345, 25, 30), dark_beside + 10) << "the glow reaches past the word";
    EXPECT_NEAR(mean(1000, 340, 40, 40), dark_far, 1.0) << "and fades out before the screen's side";

    // Turning the canvas a quarter turn moves the word: the middle stays lit.
    tracks.set({{"textrot", 90}});
    frame();
    EXPECT_GT(mean(540, 310, 200, 100), dark_middle + 20);
}

TEST_F(picture_test, tunnel_adds_light_only_with_opasity) {
    frame();
    const double without = mean(0, 0, 1280, 720);
    tracks.set({{"tunnel", 1}, {"tunnel_twist", 0.5f}});
    at(3000);
    frame();
    EXPECT_GT(mean(0, 0, 1280, 720), without + 5);
    tracks.set({{"tunnel", 0}});
    frame();
    EXPECT_NEAR(mean(0, 0, 1280, 720), without, 0.01);
}

TEST_F(picture_test, duck_is_drawn_opaque_and_yellow_over_everything) {
    tracks.set({{"tunnel", 1}});
    frame();
    // The duck rests at (0, -1, 0), seven units in front of the camera.
    const int y = static_cast<int>(360.0 - 360.0 * (1.0 * 0.7002 / 7.0));
    const cRgb below_centre_without = pixel(640, y);
    tracks.set({{"draw_duck", 1}});
    frame();
    const cRgb duck = pixel(640, y);
    EXPECT_GT(duck.r, 150);
    EXPECT_GT(duck.g, 90);
    EXPECT_LT(duck.b, duck.g - 40) << "yellow, not the tunnel's blue";
    EXPECT_NE(duck.r, below_centre_without.r);
}

TEST_F(picture_test, a_long_run_needs_no_new_render_target) {
    // Every track moves over the run's five seconds (120 rows), and the clock with it.
    auto ramp = [&](const char* name, float from, float to) { tracks.keys(name, {{0, from, 1}, {120, to, 0}}); };
    ramp("numwords", 1, 8);
    ramp("word_t", 0.05f, 8.05f);
    ramp("textrot", 0, 20);
    ramp("tunnel", 0, 1);
    ramp("tunnel_ofs", 0, 1);
    ramp("duck_rot", 0, 360);
    ramp("duck_trans_y", 0, 3);
    tracks.keys("kick", {{0, 1, 0}, {2, 0.1f, 0}, {4, 1, 0}, {6, 0.1f, 0}, {60, 1, 0}, {62, 0.1f, 0}});
    tracks.keys("umptchi", {{0, 0, 0}, {30, 1, 0}, {60, 0, 0}, {90, 1, 0}});
    tracks.set({{"textits", 1}, {"draw_duck", 1}});
    const uint32_t pooled = ctx->pool().free_count();
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    for (int i = 0; i < 120; ++i) {
        at(i * 42);
        frame();
    }
    const std::string printed = out.stop(), errors = err.stop();
    EXPECT_EQ(printed.find("performance-warning"), std::string::npos) << printed;
    EXPECT_EQ(errors, "");
    EXPECT_EQ(ctx->pool().free_count(), pooled);
}
