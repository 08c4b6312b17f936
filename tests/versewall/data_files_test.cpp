// The scene's data files as the host will read them: every image decodes with FreeImage at 24
// or 32 bits (anything else ends the show) and has the size its loading kind needs, the tunnel
// wall repeats seamlessly, the vignette darkens outwards, and the duck mesh is one the loader
// takes whole: short lines, every face in a group, normals, outward counter-clockwise faces.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string data_dir = std::string(DEMO_SOURCE_DIR) + "/data/";

// A decoded image with its rows bottom first, as FreeImage and the texture upload hold them.
class cImage {
public:
    explicit cImage(const std::string& path) {
        const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
        if (format != FIF_UNKNOWN) bitmap_ = FreeImage_Load(format, path.c_str(), 0);
    }
    ~cImage() {
        if (bitmap_) FreeImage_Unload(bitmap_);
    }
    cImage(const cImage&) = delete;
    cImage& operator=(const cImage&) = delete;

    bool ok() const { return bitmap_ != nullptr; }
    unsigned width() const { return FreeImage_GetWidth(bitmap_); }
    unsigned height() const { return FreeImage_GetHeight(bitmap_); }
    unsigned bpp() const { return FreeImage_GetBPP(bitmap_); }
    // Mean of red, green and blue at (x, y), y = 0 the bottom row; 0 to 255.
    double grey(unsigned x, unsigned y) const {
        RGBQUAD q{};
        FreeImage_GetPixelColor(bitmap_, x, y, &q);
        return (q.rgbRed + q.rgbGreen + q.rgbBlue) / 3.0;
    }

private:
    FIBITMAP* bitmap_ = nullptr;
};

bool power_of_two(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

TEST(versewall_images, decode_at_the_bit_depths_the_host_accepts) {
    // path, bits per pixel (24 RGB, 32 RGBA), sampled as a power-of-two 2D texture
    struct cExpect {
        const char* path;
        unsigned bpp;
        bool square_texture;
    };
    const cExpect images[] = {
        {"textures/la.png", 32, true},          {"textures/umptchi.png", 32, true},
        {"textures/circle.png", 32, true},      {"textures/tunnel.jpg", 24, true},
        {"textures/vignette01.png", 24, false}, {"textures/default_white.png", 32, true},
        {"textures/default_black.png", 32, true},
    };
    for (const auto& expect : images) {
        cImage image(data_dir + expect.path);
        ASSERT_TRUE(image.ok()) << expect.path;
        EXPECT_EQ(image.bpp(), expect.bpp) << expect.path;
        if (expect.square_texture) {
            EXPECT_TRUE(power_of_two(image.width()) && power_of_two(image.height()))
                << expect.path << " is " << image.width() << "x" << image.height();
        }
        EXPECT_GT(image.height(), 1u) << expect.path << " would become a 1D texture";
    }
}

TEST(versewall_images, word_pictures_and_circle_fade_to_black_at_their_borders) {
    // The quads touch each other and blend additively: any light at a border would show seams.
    for (const char* path : {"textures/la.png", "textures/umptchi.png", "textures/circle.png"}) {
        cImage image(data_dir + path);
        ASSERT_TRUE(image.ok()) << path;
        double border = 0, inside = 0;
        for (unsigned i = 0; i < image.width(); ++i) {
            border = std::max({border, image.grey(i, 0), image.grey(i, image.height() - 1)});
            inside = std::max(inside, image.grey(i, image.height() / 2));
        }
        for (unsigned j = 0; j < image.height(); ++j)
            border = std::max({border, image.grey(0, j), image.grey(image.width() - 1, j)});
        EXPECT_LE(border, 2.0) << path;
        EXPECT_GE(inside, 250.0) << path << " has no full-white part";
    }
}

TEST(versewall_images, tunnel_wall_repeats_without_a_seam) {
    cImage image(data_dir + "textures/tunnel.jpg");
    ASSERT_TRUE(image.ok());
    const unsigned w = image.width(), h = image.height();
    // Compare the step across the wrap with the typical step between neighbours.
    double across_x = 0, across_y = 0, neighbours = 0;
    for (unsigned i = 0; i < h; ++i) across_x += std::fabs(image.grey(w - 1, i) - image.grey(0, i));
    for (unsigned i = 0; i < w; ++i) across_y += std::fabs(image.grey(i, h - 1) - image.grey(i, 0));
    for (unsigned i = 0; i < h; ++i) neighbours += std::fabs(image.grey(w / 2, i) - image.grey(w / 2 + 1, i));
    EXPECT_LT(across_x, neighbours * 2.0 + h);
    EXPECT_LT(across_y, neighbours * 2.0 + w);
}

TEST(versewall_images, vignette_is_white_in_the_middle_and_darkens_outwards) {
    cImage image(data_dir + "textures/vignette01.png");
    ASSERT_TRUE(image.ok());
    const unsigned w = image.width(), h = image.height();
    EXPECT_GE(image.grey(w / 2, h / 2), 250.0);
    double last = 256;
    for (int step = 0; step <= 10; ++step) {
        const unsigned x = w / 2 + (w / 2 - 1) * step / 10, y = h / 2 + (h / 2 - 1) * step / 10;
        const double g = image.grey(x, y);
        EXPECT_LE(g, last) << "step " << step;
        last = g;
    }
    EXPECT_LT(last, 100.0) << "corners";
}

// ---- the duck mesh ----

namespace {

struct cObj {
    std::vector<std::array<double, 3>> positions, normals;
    size_t texture_coordinates = 0;
    struct cFace {
        std::array<int, 3> v{}, t{}, n{};
        std::string group;
    };
    std::vector<cFace> faces;
    std::set<std::string> statements;
    std::vector<std::string> problems;
    size_t longest_line = 0;
    bool has_usemtl = false;
};

cObj read_obj(const std::string& path) {
    cObj obj;
    std::ifstream in(path);
    std::string line, group;
    bool in_group = false;
    while (std::getline(in, line)) {
        obj.longest_line = std::max(obj.longest_line, line.size());
        std::istringstream words(line);
        std::string token;
        if (!(words >> token)) continue;
        obj.statements.insert(token);
        if (token == "v" || token == "vn") {
            std::array<double, 3> p{};
            words >> p[0] >> p[1] >> p[2];
            (token == "v" ? obj.positions : obj.normals).push_back(p);
        } else if (token == "vt") {
            ++obj.texture_coordinates;
        } else if (token == "g") {
            words >> group;
            in_group = true;
        } else if (token == "usemtl") {
            obj.has_usemtl = true;
        } else if (token == "f") {
            cObj::cFace face;
            face.group = in_group ? group : "";
            int corners = 0;
            for (std::string corner; words >> corner; ++corners) {
                if (corners >= 3) break;
                int v = 0, t = 0, n = 0;
                if (std::sscanf(corner.c_str(), "%d/%d/%d", &v, &t, &n) != 3) obj.problems.push_back("corner " + corner);
                face.v[corners] = v - 1;
                face.t[corners] = t - 1;
                face.n[corners] = n - 1;
            }
            if (corners != 3 || (words >> token)) obj.problems.push_back("not a triangle: " + line);
            obj.faces.push_back(face);
        }
    }
    return obj;
}

std::array<double, 3> sub(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
std::array<double, 3> cross(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const std::array<double, 3>& a, const std::array<double, 3>& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

TEST(versewall_duck_mesh, is_read_whole_by_the_loader) {
    const cObj obj = read_obj(data_dir + "models/duck.obj");
    ASSERT_FALSE(obj.faces.empty());
    EXPECT_TRUE(obj.problems.empty()) << obj.problems.front();
    EXPECT_LE(obj.longest_line, 127u) << "the loader stops reading at longer lines";
    EXPECT_LE(obj.faces.size(), 20000u);
    // Only statements the loader handles without a warning.
    for (const auto& s : obj.statements)
        EXPECT_TRUE(s == "v" || s == "vn" || s == "vt" || s == "f" || s == "g" || s == "usemtl" || s == "#") << s;
    EXPECT_TRUE(obj.has_usemtl);
    for (const auto& face : obj.faces) {
        ASSERT_FALSE(face.group.empty()) << "a face before the first group is not drawn";
        for (int k = 0; k < 3; ++k) {
            ASSERT_GE(face.v[k], 0);
            ASSERT_LT(static_cast<size_t>(face.v[k]), obj.positions.size());
            ASSERT_GE(face.n[k], 0) << "normals given, so no smooth-normal warning";
            ASSERT_LT(static_cast<size_t>(face.n[k]), obj.normals.size());
            ASSERT_GE(face.t[k], 0);
            ASSERT_LT(static_cast<size_t>(face.t[k]), obj.texture_coordinates);
        }
    }
}

TEST(versewall_duck_mesh, faces_wind_counter_clockwise_seen_from_outside) {
    const cObj obj = read_obj(data_dir + "models/duck.obj");
    ASSERT_FALSE(obj.faces.empty());
    // Each group is made of closed surfaces: a positive enclosed volume means outward faces.
    std::map<std::string, double> volume;
    size_t against_normals = 0;
    for (const auto& f : obj.faces) {
        const auto& a = obj.positions[f.v[0]];
        const auto& b = obj.positions[f.v[1]];
        const auto& c = obj.positions[f.v[2]];
        volume[f.group] += dot(a, cross(b, c)) / 6.0;
        const auto facing = cross(sub(b, a), sub(c, a));
        const auto& n = obj.normals[f.n[0]];
        if (dot(facing, n) <= 0.0) ++against_normals;
    }
    for (const auto& [group, v] : volume) EXPECT_GT(v, 0.0) << group;
    EXPECT_LE(against_normals, obj.faces.size() / 200) << "faces whose winding disagrees with their normals";
    EXPECT_GE(volume.size(), 4u) << "body, head, beak and eyes";
}

TEST(versewall_duck_mesh, stands_at_the_origin_about_two_and_a_half_units_tall) {
    const cObj obj = read_obj(data_dir + "models/duck.obj");
    ASSERT_FALSE(obj.positions.empty());
    std::array<double, 3> low = obj.positions[0], high = obj.positions[0];
    for (const auto& p : obj.positions)
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    for (int k = 0; k < 3; ++k) EXPECT_NEAR((low[k] + high[k]) * 0.5, 0.0, 0.1) << "axis " << k;
    EXPECT_GE(high[1] - low[1], 2.0);
    EXPECT_LE(high[1] - low[1], 3.0);
    for (const auto& n : obj.normals) EXPECT_NEAR(dot(n, n), 1.0, 1e-3);
}
