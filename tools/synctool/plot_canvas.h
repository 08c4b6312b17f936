// An RGB raster for plots: points, lines, rectangles and text in the built-in 5 x 7 font,
// saved as a 24-bit PNG through FreeImage. Knows nothing about tracks.
// Drawing outside the canvas is clipped, never an error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct cRgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const cRgb&) const = default;
};

class cPlotCanvas {
public:
    cPlotCanvas(int width, int height, cRgb background);

    int width() const { return width_; }
    int height() const { return height_; }
    cRgb at(int x, int y) const;  // black outside the canvas

    void set(int x, int y, cRgb colour);
    // Inclusive rectangle, corners in any order.
    void fill_rect(int x0, int y0, int x1, int y1, cRgb colour);
    void line(int x0, int y0, int x1, int y1, cRgb colour);
    void dashed_hline(int x0, int x1, int y, cRgb colour, int dash);
    // Top-left corner at (x, y); every font pixel becomes scale x scale pixels.
    void text(int x, int y, const std::string& text, cRgb colour, int scale);
    static int text_width(const std::string& text, int scale);
    static int text_height(int scale);

    // False with FreeImage's reason (or a plain one) in error when the file cannot be written.
    bool save_png(const std::string& path, std::string& error) const;

private:
    int width_, height_;
    std::vector<cRgb> pixels_;  // top row first
};
