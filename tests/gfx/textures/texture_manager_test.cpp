// The texture manager on a real context with images written by FreeImage: the target each size
// gets, one decode per path, pixels in the right channels, the upload formats, wraps and
// mipmaps, creation from memory, and the fatal line for every image that is not 24 or 32 bpp;
// and every entry of the kind, wrap and format code tables.
#include <SDL2/SDL.h>

#include <fstream>
#include <iterator>

#include "gfx/gl_stage.h"
#include "gfx/textures/image_file.h"
#include "gfx/textures/texture_codes.h"
#include "support/capture_stream.h"

namespace {

using Textures = GfxTest;

GLint tex_parameter(const cTexture& t, GLenum name) {
    GLint value = 0;
    glBindTexture(t.target, t.name);
    glGetTexParameteriv(t.target, name, &value);
    glBindTexture(t.target, 0);
    return value;
}

bool same(const cPixel& a, const cPixel& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

TEST_F(Textures, kind_zero_picks_the_target_from_the_size) {
    write_flat_image("square.png", 256, 256, 24);
    write_flat_image("screen.png", 1280, 720, 24);
    write_flat_image("row.png", 64, 1, 32);

    cGLRecorder gl;
    cTexture* square = ctx->load_texture("square.png");
    EXPECT_EQ(square->target, GLenum(GL_TEXTURE_2D));
    EXPECT_EQ(square->width, 256);
    EXPECT_EQ(square->height, 256);

    gl.clear();
    cTexture* screen = ctx->load_texture("screen.png", true);
    EXPECT_EQ(screen->target, GLenum(GL_TEXTURE_RECTANGLE));
    EXPECT_EQ(gl.count("glGenerateMipmap"), 0u) << "rectangle textures get no mipmaps even when asked";
    EXPECT_EQ(tex_parameter(*screen, GL_TEXTURE_MIN_FILTER), GL_LINEAR);

    gl.clear();
    cTexture* row = ctx->load_texture("row.png");
    EXPECT_EQ(row->target, GLenum(GL_TEXTURE_1D));
    EXPECT_EQ(row->width, 64);
    EXPECT_EQ(row->height, 1);
    ASSERT_EQ(gl.count("glTexImage1D"), 1u);
    EXPECT_EQ(gl.of("glTexImage1D")[0].ints[3], 64) << "width";

    // A kind that is passed is used as it is.
    write_flat_image("square_as_rect.png", 256, 256, 24);
    EXPECT_EQ(ctx->load_texture("square_as_rect.png", false, 2, 4)->target, GLenum(GL_TEXTURE_RECTANGLE));
}

TEST_F(Textures, each_path_is_decoded_once_and_later_arguments_are_ignored) {
    write_flat_image("once.png", 8, 8, 24);
    cTexture* first = ctx->load_texture("once.png", false, 2, 0);
    ASSERT_EQ(std::remove("once.png"), 0);
    // Were it decoded again, the missing file would end the process.
    cTexture* second = ctx->load_texture("once.png", true, 1, 4);
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->target, GLenum(GL_TEXTURE_2D));

    cTexture* white = ctx->textures().find(cTextureManager::default_white_path);
    ASSERT_NE(white, nullptr) << "the defaults are loaded at construction";
    EXPECT_NE(ctx->textures().find(cTextureManager::default_black_path), nullptr);
    EXPECT_EQ(ctx->load_texture("data/textures/default_white.png"), white);
}

TEST_F(Textures, pixels_reach_gl_in_their_channels_bottom_row_first) {
    // FreeImage's y = 0 is the bottom row; it goes to GL first, unflipped.
    const cPixel colours[4] = {{255, 0, 0, 255}, {0, 255, 0, 64}, {0, 0, 255, 128}, {10, 20, 30, 200}};
    auto colour = [&](int x, int y) { return colours[y * 2 + x]; };
    write_colour_image("rgb.png", 2, 2, 24, colour);  // rows of 6 bytes, padded to 8
    write_colour_image("rgba.png", 2, 2, 32, colour);

    cGLRecorder gl;
    cTexture* rgb = ctx->load_texture("rgb.png");
    cTexture* rgba = ctx->load_texture("rgba.png");
    const auto uploads = gl.of("glTexImage2D");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].ints[2], GL_RGB8);
    EXPECT_EQ(uploads[0].ints[6], GL_BGR);
    EXPECT_EQ(uploads[1].ints[2], GL_RGBA8);
    EXPECT_EQ(uploads[1].ints[6], GL_BGRA);
    EXPECT_EQ(uploads[1].ints[7], GL_UNSIGNED_BYTE);

    const auto rgb_texels = read_texels(*rgb);
    const auto rgba_texels = read_texels(*rgba);
    for (int i = 0; i < 4; ++i) {
        cPixel opaque = colours[i];
        opaque.a = 255;
        EXPECT_TRUE(same(rgb_texels[i], opaque)) << "24-bit texel " << i << " reads " << int(rgb_texels[i].r) << ","
                                                 << int(rgb_texels[i].g) << "," << int(rgb_texels[i].b);
        EXPECT_TRUE(same(rgba_texels[i], colours[i]))
            << "32-bit texel " << i << " reads " << int(rgba_texels[i].r) << "," << int(rgba_texels[i].g) << ","
            << int(rgba_texels[i].b) << "," << int(rgba_texels[i].a);
    }
}

TEST_F(Textures, wrap_codes_and_mipmaps_set_the_texture_parameters) {
    write_flat_image("repeat.png", 4, 4, 24);
    write_flat_image("clamp.png", 4, 4, 24);
    write_flat_image("mipped.png", 4, 4, 24);
    cGLRecorder gl;
    cTexture* repeat = ctx->load_texture("repeat.png", false, 1);
    cTexture* clamp = ctx->load_texture("clamp.png", false, 2);
    for (GLenum axis : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R}) {
        EXPECT_EQ(tex_parameter(*repeat, axis), GL_REPEAT);
        EXPECT_EQ(tex_parameter(*clamp, axis), GL_CLAMP_TO_EDGE);
    }
    EXPECT_EQ(tex_parameter(*clamp, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(tex_parameter(*clamp, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(gl.count("glGenerateMipmap"), 0u);

    cTexture* mipped = ctx->load_texture("mipped.png", true);
    EXPECT_EQ(tex_parameter(*mipped, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
    ASSERT_EQ(gl.count("glGenerateMipmap"), 1u);
    EXPECT_EQ(gl.of("glGenerateMipmap")[0].ints[0], GL_TEXTURE_2D);

    // Creation leaves nothing bound and its target disabled.
    EXPECT_EQ(gl_int(GL_TEXTURE_BINDING_2D), 0);
    EXPECT_FALSE(gl_enabled(GL_TEXTURE_2D));
}

TEST_F(Textures, a_3d_texture_from_memory_holds_its_data_and_is_not_cached) {
    uint8_t bgra[2 * 2 * 2 * 4];
    for (size_t i = 0; i < sizeof bgra; ++i) bgra[i] = static_cast<uint8_t>(i * 7);
    const size_t cached = ctx->textures().size();
    cTexture* volume = ctx->create_texture_3d(2, 2, 2, 5, 3, bgra);
    EXPECT_EQ(volume->target, GLenum(GL_TEXTURE_3D));
    EXPECT_EQ(volume->width, 2);
    EXPECT_EQ(volume->height, 2);
    EXPECT_EQ(ctx->textures().size(), cached);

    uint8_t back[sizeof bgra] = {};
    glBindTexture(GL_TEXTURE_3D, volume->name);
    glGetTexImage(GL_TEXTURE_3D, 0, GL_BGRA, GL_UNSIGNED_BYTE, back);
    glBindTexture(GL_TEXTURE_3D, 0);
    EXPECT_EQ(std::vector<uint8_t>(back, back + sizeof back), std::vector<uint8_t>(bgra, bgra + sizeof bgra));
    EXPECT_EQ(tex_parameter(*volume, GL_TEXTURE_WRAP_R), GL_CLAMP_TO_EDGE);
    EXPECT_FALSE(gl_enabled(GL_TEXTURE_3D));
}

TEST_F(Textures, an_unknown_kind_asserts_and_gives_a_record_without_target) {
    cGLRecorder gl;
    cCaptureStream err(STDERR_FILENO);
    cTexture* odd = ctx->textures().create_texture(4, 4, 0, 9, 2, 5, 3, false, nullptr);
    EXPECT_EQ(err.stop(), "## ASSERT FAILED: unknown target\n");
    EXPECT_EQ(odd->target, 0u);
    EXPECT_NE(odd->name, 0u);
    EXPECT_EQ(odd->width, 4);
    EXPECT_EQ(gl.count("glTexImage2D") + gl.count("glTexImage1D") + gl.count("glTexImage3D"), 0u);
}

TEST_F(Textures, destroying_the_manager_deletes_its_gl_textures) {
    auto is_texture = reinterpret_cast<GLboolean (*)(GLuint)>(SDL_GL_GetProcAddress("glIsTexture"));
    ASSERT_NE(is_texture, nullptr);
    write_flat_image("short_lived.png", 4, 4, 32);
    GLuint name = 0;
    {
        cTextureManager manager;
        name = manager.load_texture("short_lived.png")->name;
        EXPECT_EQ(manager.size(), 3u) << "two defaults and the file";
        EXPECT_TRUE(is_texture(name));
    }
    EXPECT_FALSE(is_texture(name));
}

// Development mode: nothing ends the process; a loud checker of the kind the image would have
// had stands in, with the file and the reason on record, until a reload takes the file.
TEST_F(Textures, with_stand_ins_an_unusable_image_gets_a_checker_of_its_kind_until_a_reload_takes_it) {
    // Noise, so the PNG is long; cut in half it ends inside its pixels, its header whole.
    auto noise = [](int x, int y) {
        return cPixel{uint8_t(x * 37 + y * 11), uint8_t(x * y), uint8_t(x ^ (y * 5)), 255};
    };
    write_colour_image("cut.png", 96, 40, 24, noise);
    std::string whole;
    {
        std::ifstream in("cut.png", std::ios::binary);
        whole.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::ofstream("cut.png", std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2);
    write_flat_image("huge_row.png", 32768, 16, 24);

    cTextureManager manager(true);
    cCaptureStream err(STDERR_FILENO);
    cTexture* cut = manager.load_texture("cut.png");
    cTexture* missing = manager.load_texture("nowhere.png");
    cTexture* huge = manager.load_texture("huge_row.png");
    const std::string said = err.stop();

    // 96 x 40 is no power of two: a rectangle of the header's size, squares of 96 / 8 = 12.
    ASSERT_EQ(cut->target, GLenum(GL_TEXTURE_RECTANGLE));
    EXPECT_EQ(cut->width, 96);
    EXPECT_EQ(cut->height, 40);
    const std::vector<cPixel> checker = read_texels(*cut);
    const cPixel magenta{255, 0, 255, 255}, black{0, 0, 0, 255};
    EXPECT_TRUE(same(checker[0], magenta));
    EXPECT_TRUE(same(checker[11], magenta));
    EXPECT_TRUE(same(checker[12], black));
    EXPECT_TRUE(same(checker[12 * 96], black));
    EXPECT_TRUE(same(checker[12 * 96 + 12], magenta));
    // Without a header, and beyond GL's sizes (16 rows: 2D), a 64 x 64 2D checker.
    for (const cTexture* square : {missing, huge}) {
        EXPECT_EQ(square->target, GLenum(GL_TEXTURE_2D));
        EXPECT_EQ(square->width, 64);
        EXPECT_TRUE(same(read_texels(*square)[8], black)) << "squares of 64 / 8 = 8";
    }

    ASSERT_EQ(manager.failures().size(), 3u);
    EXPECT_EQ(manager.failures()[0].path, "cut.png");
    EXPECT_EQ(manager.failures()[0].reason.rfind("cannot decode it: the PNG decoder says \"", 0), 0u)
        << manager.failures()[0].reason;
    EXPECT_NE(manager.failures()[1].reason.find("No such file"), std::string::npos) << manager.failures()[1].reason;
    EXPECT_NE(manager.failures()[2].reason.find("32768 x 16"), std::string::npos) << manager.failures()[2].reason;
    EXPECT_NE(said.find("## ERROR: cannot load \"cut.png\": cannot decode it: "), std::string::npos) << said;

    // The whole file saved again: the record takes it, and it is no stand-in any more.
    std::ofstream("cut.png", std::ios::binary | std::ios::trunc) << whole;
    std::string error;
    EXPECT_EQ(manager.reload_file("cut.png", error), 1) << error;
    EXPECT_TRUE(same(read_texels(*cut)[96 + 2], noise(2, 1))) << "texel (2, 1) of the image";
    EXPECT_EQ(manager.failures().size(), 2u);
    EXPECT_EQ(manager.failures()[0].path, "nowhere.png");
}

// The documented tables, numbers as written there: the code tables must agree entry by entry.
TEST(TextureCodes, every_kind_wrap_and_format_code_gives_the_documented_gl_enum) {
    const uint32_t targets[] = {0, 0x0DE0, 0x0DE1, 0x806F, 0x84F5, 0};  // kinds 0 to 5
    for (int32_t kind = -1; kind <= 5; ++kind)
        EXPECT_EQ(texture_codes::target_of_kind(kind), kind < 0 ? 0u : targets[kind]) << "kind " << kind;

    const uint32_t wraps[] = {0, 0x2901, 0x812F, 0};  // wrap codes 0 to 3
    for (int32_t wrap = -1; wrap <= 3; ++wrap)
        EXPECT_EQ(texture_codes::wrap_mode_of(wrap), wrap < 0 ? 0u : wraps[wrap]) << "wrap " << wrap;

    const uint32_t formats[] = {0x1903, 0x822B, 0x8051, 0x8058, 0x80E0, 0x80E1, 0x84ED, 0x84EE,
                                0x822A, 0x822C, 0x8054, 0x805B, 0x1902, 0x81A5, 0,      0x88F0};
    for (int32_t code = 0; code < 16; ++code) EXPECT_EQ(texture_codes::format_of(code), formats[code]) << "format " << code;
    for (int32_t code : {-1, 16, 17, 1000}) EXPECT_EQ(texture_codes::format_of(code), 0u) << "format " << code;
}

TEST(FreeImageMessages, go_to_standard_error_framed_by_asterisks) {
    cCaptureStream err(STDERR_FILENO);
    write_freeimage_message(FIF_PNG, "broken chunk");
    write_freeimage_message(FIF_UNKNOWN, "no idea");
    EXPECT_EQ(err.stop(), "\n*** PNG Format\nbroken chunk ***\n\n*** no idea ***\n");
}

// ---- images the manager refuses: the process ends with status -1 (255) ----

struct cRefusedImage {
    const char* name;
    std::function<void(const std::string&)> write;
    unsigned bpp;
    // A file that does not decode says so, with why, instead of a depth of 0.
    const char* undecodable = nullptr;
};

void save_typed(const std::string& path, FREE_IMAGE_TYPE type, int bpp, FREE_IMAGE_FORMAT format) {
    FIBITMAP* bitmap = type == FIT_BITMAP ? FreeImage_Allocate(8, 8, bpp) : FreeImage_AllocateT(type, 8, 8, bpp);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_TRUE(FreeImage_Save(format, bitmap, path.c_str(), 0)) << path;
    FreeImage_Unload(bitmap);
}

class RefusedImages : public GfxTest, public ::testing::WithParamInterface<cRefusedImage> {};

TEST_P(RefusedImages, end_the_process_with_status_255_and_their_line) {
    const std::string file = std::string("refused/") + GetParam().name;
    std::filesystem::create_directories("refused");
    if (GetParam().write) GetParam().write(file);
    const std::string line = GetParam().undecodable
                                 ? "## ERROR: cannot decode \"" + file + "\": " + GetParam().undecodable + "\n"
                                 : "images must be 24 or 32 bpp\\.\\.\\. \"" + file + "\" is " +
                                       std::to_string(GetParam().bpp) + "\n";
    EXPECT_EXIT(ctx->load_texture(file), ::testing::ExitedWithCode(255), line);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, RefusedImages,
    ::testing::Values(
        cRefusedImage{"one.png", [](const std::string& p) { save_typed(p, FIT_BITMAP, 1, FIF_PNG); }, 1},
        cRefusedImage{"four.bmp", [](const std::string& p) { save_typed(p, FIT_BITMAP, 4, FIF_BMP); }, 4},
        cRefusedImage{"eight.png", [](const std::string& p) { save_typed(p, FIT_BITMAP, 8, FIF_PNG); }, 8},
        cRefusedImage{"sixteen.png", [](const std::string& p) { save_typed(p, FIT_UINT16, 16, FIF_PNG); }, 16},
        cRefusedImage{"fortyeight.png", [](const std::string& p) { save_typed(p, FIT_RGB16, 48, FIF_PNG); }, 48},
        cRefusedImage{"sixtyfour.png", [](const std::string& p) { save_typed(p, FIT_RGBA16, 64, FIF_PNG); }, 64},
        // Float pixels: 32 bits wide, yet no colour bytes.
        cRefusedImage{"float.tif", [](const std::string& p) { save_typed(p, FIT_FLOAT, 32, FIF_TIFF); }, 32},
        cRefusedImage{"rgbfloat.tif", [](const std::string& p) { save_typed(p, FIT_RGBF, 96, FIF_TIFF); }, 96},
        cRefusedImage{"corrupt.png",
                      [](const std::string& p) {
                          std::ofstream(p, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8)
                                                             << "this is no image data at all";
                      },
                      0, "the PNG decoder says \".+\""},
        cRefusedImage{"missing.png", nullptr, 0, "the file cannot be opened \\(No such file or directory\\)"}),
    [](const auto& info) { return std::string(info.param.name).substr(0, std::string(info.param.name).find('.')); });

TEST_F(Textures, a_corrupt_png_is_reported_by_freeimage_before_the_fatal_line) {
    std::ofstream("corrupt.png", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << "garbage";
    EXPECT_EXIT(ctx->load_texture("corrupt.png"), ::testing::ExitedWithCode(255),
                "\n\\*\\*\\* PNG Format\n.* \\*\\*\\*\n.*## ERROR: cannot decode \"corrupt\\.png\": the PNG decoder says \".+\"\n");
}

}  // namespace
