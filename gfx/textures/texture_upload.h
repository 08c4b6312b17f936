// Putting a newly decoded image into a texture that is in use. At once, into the texture
// itself, when the caller allows it and the kind stays; otherwise in bands of rows over several
// calls into another GL texture (new, or a spare of the same size and format) that takes the
// record's name only once it is whole and GL reported no error, so no frame ever samples half
// an image. The texture it replaces is handed back, to be kept as the next spare or deleted.
// The record's holders see the new pixels at their next bind. GL context current, main thread
// only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "gfx/textures/texture_image.h"
#include "texture.h"

// The sampling every texture of the show gets, on the texture bound to target: its wrap code on
// all three axes, linear magnification, and linear minification, through the mip levels when
// it has them.
void set_texture_sampling(uint32_t target, int32_t wrap, bool mipmaps);

class cTextureUpload {
public:
    // image: described for this texture (kind, formats, mipmaps); its pixels must stay alive
    // while the upload runs, which keep sees to. wrap: the texture's wrap code.
    // spare: a texture of the image's kind, size and internal format to fill instead of making
    // one (0: none); the upload owns it from here.
    cTextureUpload(cTexture* record, const cTextureImage& image, std::shared_ptr<const void> keep, int32_t wrap,
                   bool at_once, uint32_t spare = 0);
    // An upload that did not finish deletes its texture; the record keeps the old one.
    ~cTextureUpload();
    cTextureUpload(const cTextureUpload&) = delete;
    cTextureUpload& operator=(const cTextureUpload&) = delete;

    // Uploads rows for about budget_seconds (at least one band); true once done, then error()
    // says whether the record took the image.
    bool step(double budget_seconds);
    bool done() const { return done_; }
    const std::string& error() const { return error_; }
    const cTexture* record() const { return record_; }
    // The texture the record had before, once the upload took its place (name 0 otherwise);
    // the caller owns it from here.
    struct cReplacedTexture {
        uint32_t name = 0;
        uint32_t target = 0;
        int32_t width = 0;
        int32_t height = 0;
    };
    cReplacedTexture take_replaced();

private:
    // A rectangle texture has no mip levels, whatever the image asks for.
    bool mipmapped() const;
    void finish();
    void fail(const std::string& error);

    cTexture* record_;
    cTextureImage image_;
    std::shared_ptr<const void> keep_;
    int32_t wrap_;
    bool in_place_;
    uint32_t target_;
    uint32_t name_ = 0;      // the texture being filled
    cReplacedTexture replaced_;  // the record's texture before
    int32_t next_row_ = -1;  // -1: not allocated yet
    int32_t band_rows_ = 1;
    bool done_ = false;
    std::string error_;
};
