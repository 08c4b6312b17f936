// An image file made ready for its upload: decoded with FreeImage, with its size, the kind and
// mipmap setting that kind 0 resolves to, and the format codes of its pixels. No GL calls
// (only GL's codes), so it runs without a context; never converts, flips or swizzles pixels.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/textures/image_file.h"

// Why an image cannot be uploaded.
enum class eTextureImageProblem {
    none,
    bits_per_pixel,    // not 24 or 32 bits per pixel, or not decoded at all (0)
    not_colour_bytes,  // 24 or 32 bits, but float or integer samples instead of colour bytes
};

struct cTextureImage {
    cImage image;                 // owns the decoded bitmap until unload_image
    int32_t width = 0;            // 0 x 0 at 0 bits per pixel when decoding failed
    int32_t height = 0;
    unsigned bits_per_pixel = 0;
    int32_t kind = 0;             // never 0: kind 0 is resolved from the size
    bool mipmaps = false;         // off for rectangle textures chosen by kind 0
    int32_t format = 0;           // format codes of texture_codes.h
    int32_t internal_format = 0;
    const void* pixels = nullptr; // bottom row first, BGR(A) bytes, rows padded to 4 bytes
    eTextureImageProblem problem = eTextureImageProblem::none;
};

// Decodes path and works out everything the texture's creation needs. With a problem set the
// image must not be uploaded; the bitmap (if any) still has to be unloaded.
cTextureImage prepare_texture_image(const std::string& path, bool mipmaps, int32_t kind);
// The same for an image decoded already (taken over).
cTextureImage describe_texture_image(cImage image, bool mipmaps, int32_t kind);
