// Decoding an image file and choosing how it goes to GL. Depends on FreeImage and the code
// tables of texture_codes.h; never calls GL and never touches the pixels themselves.
#include "gfx/textures/texture_image.h"

#include <FreeImage.h>

#include <utility>

#include "gfx/textures/texture_codes.h"

using namespace texture_codes;

cTextureImage prepare_texture_image(const std::string& path, bool mipmaps, int32_t kind) {
    return describe_texture_image(load_image(path), mipmaps, kind);
}

cTextureImage describe_texture_image(cImage image, bool mipmaps, int32_t kind) {
    cTextureImage out;
    out.image = std::move(image);
    FIBITMAP* bitmap = out.image.bitmap;
    // A failed decode reads as 0 x 0 at 0 bits per pixel.
    out.width = bitmap ? static_cast<int32_t>(FreeImage_GetWidth(bitmap)) : 0;
    out.height = bitmap ? static_cast<int32_t>(FreeImage_GetHeight(bitmap)) : 0;
    out.bits_per_pixel = bitmap ? FreeImage_GetBPP(bitmap) : 0;

    out.mipmaps = mipmaps;
    out.kind = kind;
    if (kind == kind_automatic) {
        out.kind = resolve_kind(out.width, out.height);
        if (out.kind == kind_rectangle) out.mipmaps = false;
    }

    if (out.bits_per_pixel == 32) {
        out.format = format_bgra;
        out.internal_format = format_rgba8;
    } else if (out.bits_per_pixel == 24) {
        out.format = format_bgr;
        out.internal_format = format_rgb8;
    } else {
        out.problem = eTextureImageProblem::bits_per_pixel;
        return out;
    }
    // 32-bit float or integer pixels have the right size but are not colour bytes; uploading
    // them as BGRA would show garbage.
    if (FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
        out.problem = eTextureImageProblem::not_colour_bytes;
        return out;
    }
    out.pixels = FreeImage_GetBits(bitmap);
    return out;
}
