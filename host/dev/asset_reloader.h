// Live reload of the graphics assets through the graphics context's stores: shader files
// (every program made from the file is rebuilt; one that fails keeps its previous version),
// images and models (reloaded in place, so scenes holding the pointer see the new data).
// Images are decoded on a thread of their own and go to GL a few rows a frame, so a huge one
// never holds the show up. Main thread only, with the GL context current, between frames.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/dev/reload_outcome.h"

class gfxContext;
class cTextureDecoder;

class cAssetReloader {
public:
    explicit cAssetReloader(gfxContext& gfx);
    ~cAssetReloader();

    // Each gives nothing when no program, texture or model is made from the file.
    std::optional<cReloadOutcome> shader_changed(const std::string& path);
    // Nothing at once: the image is decoded elsewhere and its outcome comes from poll_images.
    std::optional<cReloadOutcome> texture_changed(const std::string& path);
    std::optional<cReloadOutcome> model_changed(const std::string& path);
    // A file in use that was removed: reported; what was made from it stays in use.
    std::optional<cReloadOutcome> removed(const std::string& path);

    // Once per frame: the images decoded since, checked and started on their way to GL, and
    // the next rows of those under way (a share of the time between two calls); one outcome
    // per image done.
    std::vector<cReloadOutcome> poll_images();
    // Whether an image is being decoded or uploaded.
    bool images_pending();
    // The images drawn as stand-ins ("PATH: REASON"), and whether that list changed since the
    // last call.
    bool take_stand_ins_changed();
    std::vector<std::string> stand_ins() const;

private:
    bool in_use(const std::string& path);

    gfxContext& gfx_;
    std::unique_ptr<cTextureDecoder> decoder_;
    uint64_t stand_ins_seen_ = 0;
    double last_poll_ = -1.0;  // seconds of the monotonic clock
};
