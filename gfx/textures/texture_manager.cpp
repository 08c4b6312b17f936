// Texture creation and the file-texture cache. Depends on the GL entry-point table, the image
// preparation of texture_image.h and the host's assertion; never keeps a decoded image after
// its upload.
#include "gfx/textures/texture_manager.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/textures/texture_codes.h"
#include "gfx/textures/texture_image.h"
#include "base/log/console.h"

using namespace texture_codes;

namespace {

// The one fatal report of the manager, then the end of the process (status -1 reads 255).
[[noreturn]] void refuse_image(const std::string& path, unsigned bpp) {
    std::cerr << "images must be 24 or 32 bpp... \"" << path << "\" is " << bpp << std::endl;
    std::exit(-1);
}

}  // namespace

cTextureManager::cTextureManager() {
    load_texture(default_white_path, false, wrap_clamp_to_edge, kind_automatic);
    load_texture(default_black_path, false, wrap_clamp_to_edge, kind_automatic);
}

cTextureManager::~cTextureManager() {
    for (auto& entry : textures_) {
        glDeleteTextures(1, &entry.second->name);
        entry.second->name = 0;
    }
    textures_.clear();
}

cTexture* cTextureManager::find(const std::string& path) const {
    auto it = textures_.find(path);
    return it == textures_.end() ? nullptr : it->second;
}

cTexture* cTextureManager::load_texture(const std::string& path, bool mipmaps, int32_t wrap, int32_t kind) {
    if (cTexture* cached = find(path)) return cached;
    params_[path] = {mipmaps, kind};

    cTextureImage prepared = prepare_texture_image(path, mipmaps, kind);
    if (prepared.problem == eTextureImageProblem::not_colour_bytes)
        std::cerr << "## ERROR: \"" << path << "\" does not hold 8-bit colour channels" << std::endl;
    if (prepared.problem != eTextureImageProblem::none) refuse_image(path, prepared.bits_per_pixel);

    cTexture* texture = create_texture(prepared.width, prepared.height, 0, prepared.kind, wrap, prepared.format,
                                       prepared.internal_format, prepared.mipmaps, prepared.pixels);
    textures_[path] = texture;
    unload_image(prepared.image);
    return texture;
}

cTexture* cTextureManager::create_texture(int32_t width, int32_t height, int32_t depth, int32_t kind, int32_t wrap,
                                          int32_t format, int32_t internal_format, bool mipmaps,
                                          const void* data) {
    GLuint name = 0;
    glGenTextures(1, &name);
    const GLenum target = target_of_kind(kind);
    // Rectangle textures have no mipmap levels; asking GL for them only raises errors.
    if (target == GL_TEXTURE_RECTANGLE) mipmaps = false;

    if (target == 0) {
        // Without a target there is nothing to bind or upload to.
        assert_failed("unknown target");
    } else {
        glEnable(target);
        glBindTexture(target, name);
        const GLint wrap_mode = static_cast<GLint>(wrap_mode_of(wrap));
        glTexParameteri(target, GL_TEXTURE_WRAP_S, wrap_mode);
        glTexParameteri(target, GL_TEXTURE_WRAP_T, wrap_mode);
        glTexParameteri(target, GL_TEXTURE_WRAP_R, wrap_mode);
        glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(target, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);

        const GLint gl_internal = static_cast<GLint>(format_of(internal_format));
        const GLenum gl_format = format_of(format);
        if (target == GL_TEXTURE_1D)
            glTexImage1D(target, 0, gl_internal, width, 0, gl_format, GL_UNSIGNED_BYTE, data);
        else if (target == GL_TEXTURE_3D)
            glTexImage3D(target, 0, gl_internal, width, height, depth, 0, gl_format, GL_UNSIGNED_BYTE, data);
        else
            glTexImage2D(target, 0, gl_internal, width, height, 0, gl_format, GL_UNSIGNED_BYTE, data);

        // Levels for the texture's own target, so 1D and 3D textures get theirs too.
        if (mipmaps) glGenerateMipmap(target);
        glDisable(target);
        glBindTexture(target, 0);
    }
    return new cTexture{target, name, width, height};
}

// ---- reloading ----

namespace {

std::string normal_path(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

const char* kind_name(GLenum target) {
    switch (target) {
        case GL_TEXTURE_1D: return "1D";
        case GL_TEXTURE_2D: return "2D";
        case GL_TEXTURE_RECTANGLE: return "rectangle";
        default: return "other";
    }
}

}  // namespace

bool cTextureManager::uses_file(const std::string& path) const {
    const std::string wanted = normal_path(path);
    for (const auto& entry : textures_) {
        if (normal_path(entry.first) == wanted) return true;
    }
    return false;
}

int cTextureManager::reload_file(const std::string& path, std::string& error) {
    const std::string changed = normal_path(path);
    int reloaded = 0;
    for (auto& [key, texture] : textures_) {
        if (normal_path(key) != changed) continue;
        const cFileParams params = params_[key];
        // The same preparation as the first load, so a reload decodes and chooses formats alike.
        cTextureImage prepared = prepare_texture_image(key, params.mipmaps, params.kind);
        const GLenum target = target_of_kind(prepared.kind);

        if (!prepared.image.bitmap) {
            error = "the image cannot be decoded";
        } else if (prepared.problem != eTextureImageProblem::none) {
            error = "images must be 24 or 32 bpp with 8-bit channels; it is " +
                    std::to_string(prepared.bits_per_pixel);
        } else if (target != GL_TEXTURE_1D && target != GL_TEXTURE_2D && target != GL_TEXTURE_RECTANGLE) {
            error = std::string("a ") + kind_name(target) + " texture is not reloaded from a file";
        } else if (target != texture->target) {
            error = std::string("at ") + std::to_string(prepared.width) + "x" + std::to_string(prepared.height) +
                    " it would be a " + kind_name(target) + " texture, not " + kind_name(texture->target);
        } else {
            const GLint internal_format = static_cast<GLint>(format_of(prepared.internal_format));
            const GLenum format = format_of(prepared.format);
            glBindTexture(target, texture->name);
            if (target == GL_TEXTURE_1D) {
                glTexImage1D(target, 0, internal_format, prepared.width, 0, format, GL_UNSIGNED_BYTE, prepared.pixels);
            } else {
                glTexImage2D(target, 0, internal_format, prepared.width, prepared.height, 0, format, GL_UNSIGNED_BYTE,
                             prepared.pixels);
            }
            // Rectangle textures have no mipmap levels.
            if (prepared.mipmaps && target != GL_TEXTURE_RECTANGLE) glGenerateMipmap(target);
            glBindTexture(target, 0);
            texture->width = prepared.width;
            texture->height = prepared.height;
            ++reloaded;
        }
        unload_image(prepared.image);
    }
    return reloaded;
}
