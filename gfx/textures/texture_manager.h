// The texture manager: GL textures made from image files, kept by path for the whole run, and
// the one routine that creates every texture of the host (files, 3D data, depth copies).
// Depends on FreeImage (through image_file.h) and the GL entry-point table; a GL context must
// be current from construction on. Never flips or swizzles pixels on their way to GL.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "gfx/textures/image_file.h"
#include "gfx/textures/texture_image.h"
#include "gfx/textures/texture_limits.h"
#include "texture.h"

class cTextureUpload;

class cTextureManager {
public:
    static constexpr const char* default_white_path = "data/textures/default_white.png";
    static constexpr const char* default_black_path = "data/textures/default_black.png";

    // Loads the two default textures at once. stand_ins: an image that cannot be used gets a
    // stand-in texture instead of ending the process (the development mode).
    explicit cTextureManager(bool stand_ins = false);
    // Deletes the GL texture of every file texture. Records stay allocated (modules may still
    // hold their addresses).
    ~cTextureManager();
    cTextureManager(const cTextureManager&) = delete;
    cTextureManager& operator=(const cTextureManager&) = delete;

    // The texture of the image file at path, decoded and uploaded on the first request only;
    // later requests return the same record whatever the other arguments say. An image that is
    // not 24 or 32 bits per pixel, or cannot be decoded, ends the process with status -1;
    // with stand-ins, such an image, or one larger than GL's textures can be, is reported on
    // standard error with its reason, and a magenta and black checker of the same kind stands
    // in for it.
    cTexture* load_texture(const std::string& path, bool mipmaps = false, int32_t wrap = 2, int32_t kind = 0);

    // A new texture from raw memory (data may be null). Codes as in texture_codes.h. An unknown
    // kind runs the assertion "unknown target" and gives a record with target 0. Not cached.
    cTexture* create_texture(int32_t width, int32_t height, int32_t depth, int32_t kind, int32_t wrap,
                             int32_t format, int32_t internal_format, bool mipmaps, const void* data);

    // The cached record of path, or null; never loads.
    cTexture* find(const std::string& path) const;
    size_t size() const { return textures_.size(); }
    const cTextureLimits& limits() const { return limits_; }

    // ---- stand-ins ----

    struct cFailure {
        std::string path;
        std::string reason;
        uint64_t serial = 0;  // its place among every failed first load
    };
    // The images drawn as stand-ins now, in the order they failed; a reload that takes the file
    // removes its entry.
    const std::vector<cFailure>& failures() const { return failures_; }
    // Counts every change of failures(), for those who show them.
    uint64_t failures_changed() const { return failures_changed_; }
    // How many first loads have failed so far; never goes down.
    uint64_t failed_loads() const { return failed_loads_; }
    // Forgets the stand-ins of the first loads that failed after mark (what asked for them is
    // being dropped): their GL textures go and their paths are decoded anew when asked again.
    // Returns the first one as "\"PATH\": REASON" (empty when there was none).
    std::string withdraw_failures_since(uint64_t mark);

    // ---- reloading ----

    // Decodes the file at path again into every texture loaded from it (paths compared in
    // their normal form), in place: the same records and GL names, so holders of the pointer
    // draw the new pixels. Unlike a first load nothing here ends the process: an image that
    // cannot be decoded, is not 24 or 32 bits per pixel, is larger than GL's textures can be,
    // or whose new size would change the texture's target keeps the old pixels, with the
    // reason in error (a stand-in takes any target). Returns how many textures took the new
    // pixels.
    int reload_file(const std::string& path, std::string& error);
    // Whether some texture was loaded from the file at path.
    bool uses_file(const std::string& path) const;

    // The same in steps, for a show that must keep its frame rate: the image, decoded
    // elsewhere (taken over), is checked at once; false with the reason in error when no
    // texture of the file can take it. The uploads then run in continue_replacing.
    bool begin_replacing(const std::string& path, cImage decoded, std::string& error);
    struct cReplaced {
        std::string path;  // as begin_replacing was given it
        bool ok = false;
        std::string error;
    };
    // Uploads for about budget_seconds; one entry per file whose textures are all done.
    std::vector<cReplaced> continue_replacing(double budget_seconds);
    bool replacing() const { return !uploads_.empty(); }

private:
    // How a file texture was asked for, so that a reload makes it the same way.
    struct cFileParams {
        bool mipmaps = false;
        int32_t kind = 0;  // as asked (0: from the size)
        int32_t wrap = 2;
        int32_t internal_format = 0;  // of the texture it has now
    };
    struct cPendingUpload {
        std::string key;   // the texture's path as it was loaded
        std::string file;  // the path begin_replacing was given
        int32_t internal_format = 0;
        std::unique_ptr<cTextureUpload> upload;
    };
    // A texture a reload replaced, kept for the next one of the same size and format.
    struct cSpare {
        uint32_t name = 0;
        uint32_t target = 0;
        int32_t width = 0;
        int32_t height = 0;
        int32_t internal_format = 0;
    };

    cTexture* stand_in(const std::string& path, const cFileParams& params, int64_t width, int64_t height,
                       const std::string& reason);
    // The reason the texture at key cannot take image, or empty.
    std::string refusal(const std::string& key, const cTextureImage& image) const;
    void forget_failure(const std::string& key);
    // The spare of key that fits image, taken out (0 when none does; one that does not fit goes).
    uint32_t take_spare(const std::string& key, const cTextureImage& image);
    // After a finished upload: the replaced texture kept as the spare or deleted, the format noted.
    void settle(cPendingUpload& pending);
    void drop_spare(const std::string& key);
    bool replace_file(const std::string& path, cImage decoded, bool at_once, std::string& error);

    bool stand_ins_;
    cTextureLimits limits_;
    std::unordered_map<std::string, cTexture*> textures_;
    std::unordered_map<std::string, cFileParams> params_;
    std::unordered_set<std::string> standing_in_;  // keys whose texture is a stand-in
    std::vector<cFailure> failures_;
    uint64_t failures_changed_ = 0;
    uint64_t failed_loads_ = 0;
    std::vector<cPendingUpload> uploads_;
    std::unordered_map<std::string, cSpare> spares_;
};
