// The texture manager: GL textures made from image files, kept by path for the whole run, and
// the one routine that creates every texture of the host (files, 3D data, depth copies).
// Depends on FreeImage (through image_file.h) and the GL entry-point table; a GL context must
// be current from construction on. Never flips or swizzles pixels on their way to GL.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

#include "texture.h"

class cTextureManager {
public:
    static constexpr const char* default_white_path = "data/textures/default_white.png";
    static constexpr const char* default_black_path = "data/textures/default_black.png";

    // Loads the two default textures at once.
    cTextureManager();
    // Deletes the GL texture of every file texture. Records stay allocated (modules may still
    // hold their addresses).
    ~cTextureManager();
    cTextureManager(const cTextureManager&) = delete;
    cTextureManager& operator=(const cTextureManager&) = delete;

    // The texture of the image file at path, decoded and uploaded on the first request only;
    // later requests return the same record whatever the other arguments say. An image that is
    // not 24 or 32 bits per pixel, or cannot be decoded, ends the process with status -1.
    cTexture* load_texture(const std::string& path, bool mipmaps = false, int32_t wrap = 2, int32_t kind = 0);

    // A new texture from raw memory (data may be null). Codes as in texture_codes.h. An unknown
    // kind runs the assertion "unknown target" and gives a record with target 0. Not cached.
    cTexture* create_texture(int32_t width, int32_t height, int32_t depth, int32_t kind, int32_t wrap,
                             int32_t format, int32_t internal_format, bool mipmaps, const void* data);

    // The cached record of path, or null; never loads.
    cTexture* find(const std::string& path) const;
    size_t size() const { return textures_.size(); }

    // Decodes the file at path again into every texture loaded from it (paths compared in
    // their normal form), in place: the same records and GL names, so holders of the pointer
    // draw the new pixels. Unlike a first load nothing here ends the process: an image that
    // cannot be decoded, is not 24 or 32 bits per pixel, or whose new size would change the
    // texture's target keeps the old pixels, with the reason in error. Returns how many
    // textures took the new pixels.
    int reload_file(const std::string& path, std::string& error);
    // Whether some texture was loaded from the file at path.
    bool uses_file(const std::string& path) const;

private:
    // How a file texture was asked for, so that a reload makes it the same way.
    struct cFileParams {
        bool mipmaps = false;
        int32_t kind = 0;  // as asked (0: from the size)
    };

    std::unordered_map<std::string, cTexture*> textures_;
    std::unordered_map<std::string, cFileParams> params_;
};
