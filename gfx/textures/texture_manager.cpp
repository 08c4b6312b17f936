// Texture creation, the file-texture cache, the stand-ins of the development mode and the
// replacement of reloaded images. Depends on the GL entry-point table, the image preparation of
// texture_image.h, the uploads of texture_upload.h and the host's assertion; never keeps a
// decoded image after its upload.
//
// [SECTION] first loads   [SECTION] creation   [SECTION] stand-ins   [SECTION] reloading
#include "gfx/textures/texture_manager.h"

#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>

#include "base/files/file_read.h"
#include "base/log/console.h"
#include "gfx/gl/gl_entry_points.h"
#include "gfx/textures/texture_codes.h"
#include "gfx/textures/texture_image.h"
#include "gfx/textures/texture_upload.h"
#include "gfx/textures/textures_config.h"

using namespace texture_codes;
using namespace textures_config;

namespace {

// The release player's fatal reports, then the end of the process (status -1 reads 255).
[[noreturn]] void refuse_image(const std::string& path, unsigned bpp) {
    std::cerr << "images must be 24 or 32 bpp... \"" << path << "\" is " << bpp << std::endl;
    std::exit(-1);
}

[[noreturn]] void refuse_undecodable(const std::string& path, const std::string& problem) {
    std::cerr << "## ERROR: cannot decode \"" << path << "\": " << problem << std::endl;
    std::exit(-1);
}

std::string normal_path(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

const char* kind_name(GLenum target) {
    switch (target) {
        case GL_TEXTURE_1D: return "1D";
        case GL_TEXTURE_2D: return "2D";
        case GL_TEXTURE_RECTANGLE: return "rectangle";
        default: return "other";
    }
}

std::string size_text(int64_t width, int64_t height) { return std::to_string(width) + " x " + std::to_string(height); }

// Why an image, decoded or not, cannot become a texture as described; empty when it can.
std::string unusable(const cTextureImage& image, const cTextureLimits& limits) {
    if (!image.image.bitmap) return "cannot decode it: " + image.image.problem;
    if (image.problem == eTextureImageProblem::bits_per_pixel)
        return "it has " + std::to_string(image.bits_per_pixel) + " bits per pixel; images must have 24 or 32";
    if (image.problem == eTextureImageProblem::not_colour_bytes)
        return "its " + std::to_string(image.bits_per_pixel) + " bits per pixel are not 8-bit colour channels";
    std::string too_large = size_problem(limits, image.kind, image.width, image.height);
    if (!too_large.empty()) return too_large;
    if (!gl_can_hold(target_of_kind(image.kind), image.internal_format, image.width, image.height, image.format))
        return "GL cannot make a " + size_text(image.width, image.height) + " texture of it (out of memory?)";
    return {};
}

// The size a file's header claims, for a stand-in in the image's place.
cImageHeader header_of_file(const std::string& path) {
    cReadOptions options;
    options.max_bytes = 1 << 20;  // far more than any header needs
    std::string bytes;
    read_whole_file(path, bytes, options);
    return read_image_header(bytes);
}

}  // namespace

cTextureManager::cTextureManager(bool stand_ins) : stand_ins_(stand_ins), limits_(query_texture_limits()) {
    load_texture(default_white_path, false, wrap_clamp_to_edge, kind_automatic);
    load_texture(default_black_path, false, wrap_clamp_to_edge, kind_automatic);
}

cTextureManager::~cTextureManager() {
    uploads_.clear();  // their unfinished textures first
    for (auto& entry : spares_) glDeleteTextures(1, &entry.second.name);
    spares_.clear();
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

// ---- [SECTION] first loads ----

cTexture* cTextureManager::load_texture(const std::string& path, bool mipmaps, int32_t wrap, int32_t kind) {
    if (cTexture* cached = find(path)) return cached;
    const cFileParams params{mipmaps, kind, wrap, 0};
    params_[path] = params;

    if (stand_ins_) {
        // A size GL cannot hold is refused from the header: a small file can claim gigabytes.
        const cImageHeader claimed = header_of_file(path);
        const std::string too_large =
            claimed.known ? size_problem(limits_, kind, claimed.width, claimed.height) : std::string();
        if (!too_large.empty()) return stand_in(path, params, claimed.width, claimed.height, too_large);
    }
    cTextureImage prepared = prepare_texture_image(path, mipmaps, kind);
    if (!stand_ins_) {
        if (!prepared.image.bitmap) refuse_undecodable(path, prepared.image.problem);
        if (prepared.problem == eTextureImageProblem::not_colour_bytes)
            std::cerr << "## ERROR: \"" << path << "\" does not hold 8-bit colour channels" << std::endl;
        if (prepared.problem != eTextureImageProblem::none) refuse_image(path, prepared.bits_per_pixel);
    } else {
        const std::string reason = unusable(prepared, limits_);
        if (!reason.empty()) {
            cImageHeader claimed{prepared.width > 0, prepared.width, prepared.height};
            if (!prepared.image.bitmap) claimed = header_of_file(path);
            unload_image(prepared.image);
            return stand_in(path, params, claimed.known ? claimed.width : 0, claimed.known ? claimed.height : 0,
                            reason);
        }
        take_gl_error();  // what others left is not this upload's
    }

    cTexture* texture = create_texture(prepared.width, prepared.height, 0, prepared.kind, wrap, prepared.format,
                                       prepared.internal_format, prepared.mipmaps, prepared.pixels);
    unload_image(prepared.image);
    if (stand_ins_) {
        const GLenum error = take_gl_error();
        if (error != GL_NO_ERROR) {
            glDeleteTextures(1, &texture->name);
            delete texture;
            return stand_in(path, params, prepared.width, prepared.height,
                            std::string("GL reported ") + gl_error_name(error) + " after its upload");
        }
    }
    textures_[path] = texture;
    params_[path].internal_format = prepared.internal_format;
    return texture;
}

// ---- [SECTION] creation ----

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
        set_texture_sampling(target, wrap, mipmaps);

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

// ---- [SECTION] stand-ins ----

cTexture* cTextureManager::stand_in(const std::string& path, const cFileParams& params, int64_t width,
                                    int64_t height, const std::string& reason) {
    std::cerr << "## ERROR: cannot load \"" << path << "\": " << reason << std::endl
              << "##        a magenta and black checker stands in for it" << std::endl;
    // A size beyond GL's says nothing of the kind the image was meant to have.
    if (width <= 0 || height <= 0 || !size_problem(limits_, kind_automatic, width, height).empty()) width = height = 0;
    int32_t kind = params.kind;
    if (kind == kind_automatic) kind = width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX
                                           ? resolve_kind(static_cast<int32_t>(width), static_cast<int32_t>(height))
                                           : kind_2d;
    if (kind != kind_1d && kind != kind_rectangle) kind = kind_2d;
    int32_t w = kStandInSide;
    int32_t h = kind == kind_1d ? 1 : kStandInSide;
    if (kind == kind_rectangle && width > 0 && height > 0) {
        // Its texel coordinates count on the image's size.
        const int64_t most = std::max<int64_t>(1, std::min<int64_t>(kStandInMaxSide, limits_.max_rectangle_size > 0
                                                                                          ? limits_.max_rectangle_size
                                                                                          : kStandInMaxSide));
        w = static_cast<int32_t>(std::min(width, most));
        h = static_cast<int32_t>(std::min(height, most));
    }
    const int32_t cell = std::max(1, std::max(w, h) / kStandInCells);
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* colour = ((x / cell + y / cell) & 1) ? kStandInDark : kStandInLight;
            std::copy(colour, colour + 4, pixels.begin() + (static_cast<size_t>(y) * w + x) * 4);
        }
    }
    cTexture* texture = create_texture(w, h, 0, kind, params.wrap, format_bgra, format_rgba8, false, pixels.data());
    textures_[path] = texture;
    params_[path].internal_format = format_rgba8;
    standing_in_.insert(path);
    failures_.push_back({path, reason, ++failed_loads_});
    ++failures_changed_;
    return texture;
}

void cTextureManager::forget_failure(const std::string& key) {
    standing_in_.erase(key);
    const auto gone = std::remove_if(failures_.begin(), failures_.end(), [&](const cFailure& f) { return f.path == key; });
    if (gone == failures_.end()) return;
    failures_.erase(gone, failures_.end());
    ++failures_changed_;
}

std::string cTextureManager::withdraw_failures_since(uint64_t mark) {
    std::string first;
    std::vector<std::string> withdrawn;
    for (const cFailure& failure : failures_) {
        if (failure.serial <= mark) continue;
        if (first.empty()) first = "\"" + failure.path + "\": " + failure.reason;
        withdrawn.push_back(failure.path);
    }
    for (const std::string& key : withdrawn) {
        std::erase_if(uploads_, [&](const cPendingUpload& u) { return u.key == key; });
        drop_spare(key);
        if (cTexture* texture = find(key)) {
            glDeleteTextures(1, &texture->name);
            texture->name = 0;  // the record stays allocated: its holder is going away
        }
        textures_.erase(key);
        params_.erase(key);
        forget_failure(key);
    }
    return first;
}

// ---- [SECTION] reloading ----

bool cTextureManager::uses_file(const std::string& path) const {
    const std::string wanted = normal_path(path);
    for (const auto& entry : textures_) {
        if (normal_path(entry.first) == wanted) return true;
    }
    return false;
}

std::string cTextureManager::refusal(const std::string& key, const cTextureImage& image) const {
    const cTexture* texture = find(key);
    const GLenum target = target_of_kind(image.kind);
    if (image.image.bitmap && image.problem == eTextureImageProblem::none) {
        if (target != GL_TEXTURE_1D && target != GL_TEXTURE_2D && target != GL_TEXTURE_RECTANGLE)
            return std::string("a ") + kind_name(target) + " texture is not reloaded from a file";
        // The programs sampling it were written for its kind; a stand-in took a guess.
        if (target != texture->target && !standing_in_.count(key))
            return "at " + size_text(image.width, image.height) + " it would be a " + kind_name(target) +
                   " texture, not " + kind_name(texture->target);
    }
    return unusable(image, limits_);
}

bool cTextureManager::replace_file(const std::string& path, cImage decoded, bool at_once, std::string& error) {
    const std::string changed = normal_path(path);
    // Every texture of the file uploads from the one bitmap; the last upload done frees it.
    std::shared_ptr<cImage> bitmap(new cImage(std::move(decoded)), [](cImage* image) {
        unload_image(*image);
        delete image;
    });
    bool started = false;
    for (auto& [key, texture] : textures_) {
        if (normal_path(key) != changed) continue;
        const cFileParams params = params_[key];
        // Describes the shared bitmap; the description owns nothing.
        const cTextureImage image = describe_texture_image(*bitmap, params.mipmaps, params.kind);
        const std::string why = refusal(key, image);
        if (!why.empty()) {
            error = why;
            for (cFailure& failure : failures_) {
                if (failure.path == key && failure.reason != why) {
                    failure.reason = why;
                    ++failures_changed_;
                }
            }
            continue;
        }
        const int64_t bytes = image.image.bitmap ? int64_t(FreeImage_GetPitch(image.image.bitmap)) * image.height : 0;
        std::erase_if(uploads_, [&](const cPendingUpload& u) { return u.key == key; });  // a newer file wins
        const uint32_t spare = take_spare(key, image);
        uploads_.push_back({key, path, image.internal_format,
                            std::make_unique<cTextureUpload>(texture, image, bitmap, params.wrap,
                                                             at_once || bytes <= kAtOnceUploadBytes, spare)});
        started = true;
    }
    return started;
}

uint32_t cTextureManager::take_spare(const std::string& key, const cTextureImage& image) {
    auto found = spares_.find(key);
    if (found == spares_.end()) return 0;
    const cSpare spare = found->second;
    spares_.erase(found);
    if (spare.target == target_of_kind(image.kind) && spare.width == image.width && spare.height == image.height &&
        spare.internal_format == image.internal_format)
        return spare.name;
    glDeleteTextures(1, &spare.name);  // a size the file left
    return 0;
}

void cTextureManager::drop_spare(const std::string& key) {
    auto found = spares_.find(key);
    if (found == spares_.end()) return;
    glDeleteTextures(1, &found->second.name);
    spares_.erase(found);
}

void cTextureManager::settle(cPendingUpload& pending) {
    forget_failure(pending.key);  // no longer a stand-in, if it was one
    cFileParams& params = params_[pending.key];
    const cTextureUpload::cReplacedTexture replaced = pending.upload->take_replaced();
    if (replaced.name != 0) {
        const int64_t bytes = int64_t(replaced.width) * replaced.height * (params.internal_format == format_rgb8 ? 3 : 4);
        drop_spare(pending.key);
        if (bytes > kAtOnceUploadBytes && bytes <= kMaxSpareBytes) {
            spares_[pending.key] = {replaced.name, replaced.target, replaced.width, replaced.height,
                                    params.internal_format};
        } else {
            GLuint name = replaced.name;
            glDeleteTextures(1, &name);
        }
    }
    params.internal_format = pending.internal_format;
}

bool cTextureManager::begin_replacing(const std::string& path, cImage decoded, std::string& error) {
    return replace_file(path, std::move(decoded), false, error);
}

std::vector<cTextureManager::cReplaced> cTextureManager::continue_replacing(double budget_seconds) {
    const auto start = std::chrono::steady_clock::now();
    struct cTally {
        int taken = 0;
        int pending = 0;
        std::string error;
    };
    std::vector<std::pair<std::string, cTally>> files;
    auto tally = [&](const std::string& file) -> cTally& {
        for (auto& entry : files)
            if (entry.first == file) return entry.second;
        return files.emplace_back(file, cTally{}).second;
    };
    for (cPendingUpload& pending : uploads_) {
        const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Every call moves the first upload on; the others share what is left.
        if (&pending == &uploads_.front() || spent < budget_seconds) pending.upload->step(budget_seconds - spent);
        cTally& file = tally(pending.file);
        if (!pending.upload->done()) {
            ++file.pending;
        } else if (pending.upload->error().empty()) {
            ++file.taken;
            settle(pending);
        } else {
            file.error = pending.upload->error();
        }
    }
    std::erase_if(uploads_, [](const cPendingUpload& u) { return u.upload->done(); });
    std::vector<cReplaced> done;
    for (const auto& [file, counts] : files) {
        if (counts.pending > 0) continue;
        done.push_back({file, counts.error.empty(), counts.error});
    }
    return done;
}

int cTextureManager::reload_file(const std::string& path, std::string& error) {
    if (!uses_file(path)) return 0;
    // Uploads of other files under way are left as they are.
    std::vector<cPendingUpload> others;
    std::swap(others, uploads_);
    int taken = 0;
    if (replace_file(path, load_image(path), true, error)) {
        for (cPendingUpload& pending : uploads_) {
            pending.upload->step(std::numeric_limits<double>::infinity());
            if (pending.upload->error().empty()) {
                ++taken;
                settle(pending);
            } else {
                error = pending.upload->error();
            }
        }
    }
    uploads_ = std::move(others);
    return taken;
}
