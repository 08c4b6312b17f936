// One texture's upload at once or in bands. Depends on the GL entry-point table, the code
// tables and the GL checks of texture_limits.h; never changes the pixels.
#include "gfx/textures/texture_upload.h"

#include <FreeImage.h>

#include <algorithm>
#include <chrono>

#include "gfx/textures/texture_codes.h"
#include "gfx/textures/texture_limits.h"
#include "gfx/textures/textures_config.h"

using namespace texture_codes;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void set_texture_sampling(uint32_t target, int32_t wrap, bool mipmaps) {
    const GLint wrap_mode = static_cast<GLint>(wrap_mode_of(wrap));
    glTexParameteri(target, GL_TEXTURE_WRAP_S, wrap_mode);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, wrap_mode);
    glTexParameteri(target, GL_TEXTURE_WRAP_R, wrap_mode);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
}

bool cTextureUpload::mipmapped() const { return image_.mipmaps && target_ != GL_TEXTURE_RECTANGLE; }

cTextureUpload::cTextureUpload(cTexture* record, const cTextureImage& image, std::shared_ptr<const void> keep,
                               int32_t wrap, bool at_once, uint32_t spare)
    : record_(record),
      image_(image),
      keep_(std::move(keep)),
      wrap_(wrap),
      target_(target_of_kind(image.kind)) {
    // A 1D texture is one row: nothing to gain from bands.
    in_place_ = (at_once || target_ == GL_TEXTURE_1D) && target_ == record->target;
    if (spare != 0 && in_place_) glDeleteTextures(1, &spare);
    if (spare != 0 && !in_place_) {
        // Its storage is there already: only the bands are left.
        name_ = spare;
        next_row_ = 0;
    }
    const int64_t pitch = image_.image.bitmap ? FreeImage_GetPitch(image_.image.bitmap) : 1;
    band_rows_ = static_cast<int32_t>(std::clamp<int64_t>(textures_config::kUploadBandBytes / std::max<int64_t>(pitch, 1),
                                                          1, std::max(image_.height, 1)));
    if (at_once) band_rows_ = std::max(image_.height, 1);
}

cTextureUpload::~cTextureUpload() {
    if (name_ != 0) glDeleteTextures(1, &name_);
    if (replaced_.name != 0) glDeleteTextures(1, &replaced_.name);
}

cTextureUpload::cReplacedTexture cTextureUpload::take_replaced() {
    const cReplacedTexture replaced = replaced_;
    replaced_ = {};
    return replaced;
}

void cTextureUpload::fail(const std::string& error) {
    error_ = error;
    done_ = true;
    if (name_ != 0) glDeleteTextures(1, &name_);
    name_ = 0;
}

bool cTextureUpload::step(double budget_seconds) {
    if (done_) return true;
    const auto start = std::chrono::steady_clock::now();
    const GLint internal_format = static_cast<GLint>(format_of(image_.internal_format));
    const GLenum format = format_of(image_.format);
    // Errors left by others are not this upload's.
    take_gl_error();

    if (in_place_) {
        glBindTexture(target_, record_->name);
        if (target_ == GL_TEXTURE_1D)
            glTexImage1D(target_, 0, internal_format, image_.width, 0, format, GL_UNSIGNED_BYTE, image_.pixels);
        else
            glTexImage2D(target_, 0, internal_format, image_.width, image_.height, 0, format, GL_UNSIGNED_BYTE,
                         image_.pixels);
        // Rectangle textures have no mipmap levels.
        if (mipmapped()) glGenerateMipmap(target_);
        glBindTexture(target_, 0);
        const GLenum error = take_gl_error();
        if (error != GL_NO_ERROR) {
            fail(std::string("GL reported ") + gl_error_name(error) + " after its upload");
            return true;
        }
        record_->width = image_.width;
        record_->height = image_.height;
        done_ = true;
        return true;
    }

    if (next_row_ < 0) {
        // Storage first, without pixels; the bands fill it.
        glGenTextures(1, &name_);
        glBindTexture(target_, name_);
        set_texture_sampling(target_, wrap_, mipmapped());
        if (target_ == GL_TEXTURE_1D)
            glTexImage1D(target_, 0, internal_format, image_.width, 0, format, GL_UNSIGNED_BYTE, image_.pixels);
        else
            glTexImage2D(target_, 0, internal_format, image_.width, image_.height, 0, format, GL_UNSIGNED_BYTE,
                         nullptr);
        glBindTexture(target_, 0);
        next_row_ = target_ == GL_TEXTURE_1D ? image_.height : 0;
        const GLenum error = take_gl_error();
        if (error != GL_NO_ERROR) {
            fail(std::string("GL reported ") + gl_error_name(error) + " making its texture");
            return true;
        }
        // Making the storage can take a frame's share on its own (the implementation clears
        // it): the bands wait for the next call then.
        if (next_row_ < image_.height && seconds_since(start) >= budget_seconds) return false;
    }

    const auto* pixels = static_cast<const uint8_t*>(image_.pixels);
    const int64_t pitch = FreeImage_GetPitch(image_.image.bitmap);
    glBindTexture(target_, name_);
    do {
        if (next_row_ >= image_.height) break;
        const int32_t rows = std::min(band_rows_, image_.height - next_row_);
        // FreeImage's rows are padded to 4 bytes, GL's default unpack alignment: a band is
        // a plain slice of the bitmap.
        glTexSubImage2D(target_, 0, 0, next_row_, image_.width, rows, format, GL_UNSIGNED_BYTE,
                        pixels + pitch * next_row_);
        next_row_ += rows;
    } while (seconds_since(start) < budget_seconds);
    glBindTexture(target_, 0);
    if (next_row_ < image_.height) {
        const GLenum error = take_gl_error();
        if (error != GL_NO_ERROR) fail(std::string("GL reported ") + gl_error_name(error) + " during its upload");
        return done_;
    }
    finish();
    return true;
}

void cTextureUpload::finish() {
    if (mipmapped()) {
        glBindTexture(target_, name_);
        glGenerateMipmap(target_);
        glBindTexture(target_, 0);
    }
    const GLenum error = take_gl_error();
    if (error != GL_NO_ERROR) {
        fail(std::string("GL reported ") + gl_error_name(error) + " after its upload");
        return;
    }
    // Whole: the new texture takes the record's place; the old one is handed back.
    replaced_ = {record_->name, record_->target, record_->width, record_->height};
    record_->name = name_;
    record_->target = target_;
    record_->width = image_.width;
    record_->height = image_.height;
    name_ = 0;
    done_ = true;
}
