// Raster drawing for plots and the PNG writer. Depends on FreeImage for encoding only.
// Clips every write; holds no FreeImage state between calls.
#include "tools/synctool/plot_canvas.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdlib>

#include "base/font/bitmap_font.h"

namespace {

// FreeImage reports why a save failed through a message hook, not the return value.
std::string g_freeimage_message;

void remember_message(FREE_IMAGE_FORMAT, const char* message) { g_freeimage_message = message ? message : ""; }

}  // namespace

cPlotCanvas::cPlotCanvas(int width, int height, cRgb background)
    : width_(std::max(1, width)), height_(std::max(1, height)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), background) {}

cRgb cPlotCanvas::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    return pixels_[static_cast<std::size_t>(y) * width_ + x];
}

void cPlotCanvas::set(int x, int y, cRgb colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<std::size_t>(y) * width_ + x] = colour;
}

void cPlotCanvas::fill_rect(int x0, int y0, int x1, int y1, cRgb colour) {
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width_ - 1);
    y1 = std::min(y1, height_ - 1);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) pixels_[static_cast<std::size_t>(y) * width_ + x] = colour;
    }
}

void cPlotCanvas::line(int x0, int y0, int x1, int y1, cRgb colour) {
    // Bresenham, all octants.
    int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        set(x0, y0, colour);
        if (x0 == x1 && y0 == y1) break;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void cPlotCanvas::dashed_hline(int x0, int x1, int y, cRgb colour, int dash) {
    if (x0 > x1) std::swap(x0, x1);
    dash = std::max(1, dash);
    for (int x = x0; x <= x1; ++x) {
        if (((x - x0) / dash) % 2 == 0) set(x, y, colour);
    }
}

void cPlotCanvas::text(int x, int y, const std::string& text, cRgb colour, int scale) {
    scale = std::max(1, scale);
    for (char c : text) {
        const char* const* rows = glyph_rows(c);
        for (int gy = 0; gy < kGlyphHeight; ++gy) {
            for (int gx = 0; gx < kGlyphWidth; ++gx) {
                if (rows[gy][gx] == '#') fill_rect(x + gx * scale, y + gy * scale, x + gx * scale + scale - 1, y + gy * scale + scale - 1, colour);
            }
        }
        x += kGlyphAdvance * scale;
    }
}

int cPlotCanvas::text_width(const std::string& text, int scale) {
    if (text.empty()) return 0;
    return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * std::max(1, scale);
}

int cPlotCanvas::text_height(int scale) { return kGlyphHeight * std::max(1, scale); }

bool cPlotCanvas::save_png(const std::string& path, std::string& error) const {
    FIBITMAP* bitmap = FreeImage_Allocate(width_, height_, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK);
    if (!bitmap) {
        error = "cannot allocate a " + std::to_string(width_) + " x " + std::to_string(height_) + " image";
        return false;
    }
    // FreeImage keeps the bottom row first and its own channel order.
    for (int y = 0; y < height_; ++y) {
        BYTE* scan = FreeImage_GetScanLine(bitmap, height_ - 1 - y);
        for (int x = 0; x < width_; ++x) {
            const cRgb& p = pixels_[static_cast<std::size_t>(y) * width_ + x];
            scan[x * 3 + FI_RGBA_RED] = p.r;
            scan[x * 3 + FI_RGBA_GREEN] = p.g;
            scan[x * 3 + FI_RGBA_BLUE] = p.b;
        }
    }
    g_freeimage_message.clear();
    FreeImage_SetOutputMessage(remember_message);
    bool saved = FreeImage_Save(FIF_PNG, bitmap, path.c_str(), PNG_DEFAULT) != 0;
    FreeImage_SetOutputMessage(nullptr);
    FreeImage_Unload(bitmap);
    if (!saved) error = g_freeimage_message.empty() ? "the PNG encoder refused the file" : g_freeimage_message;
    return saved;
}
