// The read-out's text and its drawing: each run of set pixels in a glyph row is one quad, all
// quads of a line go in one draw with the line's colour, after one quad for the box behind
// them. The program is the host's own, compiled from the text below; the font is base/'s.
#include "authoring/dev/dev_readout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/font/bitmap_font.h"
#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"
#include "authoring/dev/dev_config.h"
#include "authoring/dev/dev_format.h"

using namespace dev_config;

namespace {

constexpr const char* kProgram = "dev_readout";
constexpr const char* kColourUniform = "colour";
constexpr const char* kVertexSource =
    "#version 330\n"
    "layout(location = 0) in vec4 position;\n"
    "void main() { gl_Position = position; }\n";
constexpr const char* kFragmentSource =
    "#version 330\n"
    "uniform vec4 colour;\n"
    "out vec4 frag_color;\n"
    "void main() { frag_color = colour; }\n";
// A frame that follows the one before by more than this ends the averaging period: the loop
// was idle (paused), which says nothing about the frame rate.
constexpr double kIdleGapSeconds = 0.25;

std::string cut(std::string text) {
    if (static_cast<int32_t>(text.size()) > kReadoutMaxColumns) text = text.substr(0, kReadoutMaxColumns - 3) + "...";
    return text;
}

}  // namespace

cDevReadout::cDevReadout(gfxContext& gfx) : gfx_(gfx) {
    gfx_.shaders().load_shader_text(kProgram, "(read-out vertex program)", kVertexSource, "(read-out fragment program)",
                                    kFragmentSource);
    ready_ = gfx_.has_shader(kProgram);
}

void cDevReadout::count_frame(double now) {
    if (period_start_ < 0.0 || (last_frame_ >= 0.0 && now - last_frame_ > kIdleGapSeconds)) {
        period_start_ = now;
        period_frames_ = 0;
    } else {
        ++period_frames_;
        const double span = now - period_start_;
        if (span >= kFrameStatsSeconds) {
            fps_ = period_frames_ / span;
            frame_ms_ = span * 1000.0 / period_frames_;
            period_start_ = now;
            period_frames_ = 0;
        }
    }
    last_frame_ = now;
}

void cDevReadout::show_result(const std::string& path, const std::string& message, bool ok, double now) {
    result_ = (ok ? "" : "error: ") + path + (message.empty() ? "" : ": " + message);
    result_ok_ = ok;
    result_until_ = now + kReadoutMessageSeconds;
}

bool cDevReadout::result_expired(double now) {
    if (result_until_ < 0.0 || now < result_until_) return false;
    result_until_ = -1.0;
    return true;
}

std::vector<cDevReadout::cLine> cDevReadout::lines(const cTransportView& view, int32_t time_ms, double now) const {
    std::vector<cLine> out;
    char figures[64];
    if (fps_ > 0.0) {
        std::snprintf(figures, sizeof figures, "%.1f ms  %.0f fps", frame_ms_, fps_);
    } else {
        std::snprintf(figures, sizeof figures, "-- ms  -- fps");
    }
    out.push_back({cut(format_music_time(time_ms) + "  " + format_beat_row(time_ms) + "  " + figures), kReadoutText});

    std::string state = view.paused ? (view.at_end ? "paused at the end" : "paused") : "playing";
    if (view.loop_on) state += "  loop " + format_music_time(view.loop_start_ms) + " - " + format_music_time(view.loop_end_ms);
    if (view.av_offset_ms != 0) {
        state += std::string("  offset ") + (view.av_offset_ms > 0 ? "+" : "") + std::to_string(view.av_offset_ms) + " ms";
    }
    out.push_back({cut(state), kReadoutText});

    if (result_until_ >= 0.0 && now < result_until_) out.push_back({cut(result_), result_ok_ ? kReadoutGood : kReadoutError});
    for (const std::string& stand_in : stand_ins_) out.push_back({cut("error: " + stand_in), kReadoutError});
    return out;
}

void cDevReadout::add_text(const std::string& text, int32_t x, int32_t y, std::vector<float>& out) const {
    const cWindow* window = gfx_.window();
    const float width = static_cast<float>(window->render_width());
    const float height = static_cast<float>(window->render_height());
    auto quad = [&](int32_t left, int32_t top, int32_t right, int32_t bottom) {
        // Render-size pixels, top left origin, to clip space; two counter-clockwise triangles.
        const float l = left / width * 2.0f - 1.0f, r = right / width * 2.0f - 1.0f;
        const float t = 1.0f - top / height * 2.0f, b = 1.0f - bottom / height * 2.0f;
        const float corners[6][2] = {{l, b}, {r, b}, {r, t}, {r, t}, {l, t}, {l, b}};
        for (const auto& c : corners) out.insert(out.end(), {c[0], c[1], 0.0f, 1.0f});
    };
    if (text.empty()) {
        quad(x, y, x, y);
        return;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char* const* rows = glyph_rows(text[i]);
        const int32_t left = x + static_cast<int32_t>(i) * kGlyphAdvance * kReadoutScale;
        for (int32_t row = 0; row < kGlyphHeight; ++row) {
            for (int32_t column = 0; column < kGlyphWidth;) {
                if (rows[row][column] != '#') {
                    ++column;
                    continue;
                }
                int32_t end = column;
                while (end < kGlyphWidth && rows[row][end] == '#') ++end;
                quad(left + column * kReadoutScale, y + row * kReadoutScale, left + end * kReadoutScale,
                     y + (row + 1) * kReadoutScale);
                column = end;
            }
        }
    }
}

void cDevReadout::draw(const cTransportView& view, int32_t time_ms, double now) {
    if (!visible_ || !ready_ || !gfx_.window()) return;
    const std::vector<cLine> shown = lines(view, time_ms, now);
    const int32_t line_height = (kGlyphHeight + kReadoutLineGap) * kReadoutScale;
    size_t columns = 0;
    for (const cLine& line : shown) columns = std::max(columns, line.text.size());
    const int32_t pad = kReadoutLineGap * kReadoutScale;

    const int32_t* viewport = gfx_.viewport();
    const int32_t saved[4] = {viewport[0], viewport[1], viewport[2], viewport[3]};
    GLint saved_program = 0;  // a module may count on the program it left current
    glGetIntegerv(GL_CURRENT_PROGRAM, &saved_program);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gfx_.set_viewport(0, 0, gfx_.window()->render_width(), gfx_.window()->render_height());
    gfx_.push_state();
    cRenderState* state = gfx_.state();
    state->set_depth_test(false);
    state->set_depth_write(false);
    state->set_face_culling(false);
    state->set_alpha_test(false);
    state->set_fill_mode(cRenderState::fill_fill);
    state->set_blending(true);
    state->set_blend_color(cRenderState::blend_src_alpha, cRenderState::blend_one_minus_src_alpha);
    state->set_blend_alpha(cRenderState::blend_one, cRenderState::blend_one_minus_src_alpha);
    gfx_.use_shader(kProgram);

    quads_.clear();
    const float corners[6][2] = {{0, 1}, {1, 1}, {1, 0}, {1, 0}, {0, 0}, {0, 1}};
    const float box_left = kReadoutMargin, box_top = kReadoutMargin;
    const float box_right = kReadoutMargin + 2 * pad + static_cast<float>(columns) * kGlyphAdvance * kReadoutScale;
    const float box_bottom = kReadoutMargin + 2 * pad + static_cast<float>(shown.size()) * line_height;
    const float width = static_cast<float>(gfx_.window()->render_width());
    const float height = static_cast<float>(gfx_.window()->render_height());
    for (const auto& c : corners) {
        const float x = c[0] ? box_right : box_left, y = c[1] ? box_bottom : box_top;
        quads_.insert(quads_.end(), {x / width * 2.0f - 1.0f, 1.0f - y / height * 2.0f, 0.0f, 1.0f});
    }
    gfx_.set_vector(kProgram, kColourUniform, kReadoutBackground);
    gfx_.draw_triangles(quads_.data(), static_cast<int32_t>(quads_.size() / 4));

    for (size_t i = 0; i < shown.size(); ++i) {
        quads_.clear();
        add_text(shown[i].text, kReadoutMargin + pad, kReadoutMargin + pad + static_cast<int32_t>(i) * line_height, quads_);
        gfx_.set_vector(kProgram, kColourUniform, shown[i].colour);
        gfx_.draw_triangles(quads_.data(), static_cast<int32_t>(quads_.size() / 4));
    }
    gfx_.pop_state();
    gfx_.set_viewport(saved[0], saved[1], saved[2], saved[3]);
    glUseProgram(static_cast<GLuint>(saved_program));
}
