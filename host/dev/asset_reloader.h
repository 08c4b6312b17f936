// Live reload of the graphics assets through the graphics context's stores: shader files
// (every program made from the file is rebuilt; one that fails keeps its previous version),
// images and models (reloaded in place, so scenes holding the pointer see the new data).
// Main thread only, with the GL context current, between frames.
#pragma once
#include <optional>
#include <string>

#include "host/dev/reload_outcome.h"

class gfxContext;

class cAssetReloader {
public:
    explicit cAssetReloader(gfxContext& gfx) : gfx_(gfx) {}

    // Each gives nothing when no program, texture or model is made from the file.
    std::optional<cReloadOutcome> shader_changed(const std::string& path);
    std::optional<cReloadOutcome> texture_changed(const std::string& path);
    std::optional<cReloadOutcome> model_changed(const std::string& path);
    // A file in use that was removed: reported; what was made from it stays in use.
    std::optional<cReloadOutcome> removed(const std::string& path);

private:
    bool in_use(const std::string& path);

    gfxContext& gfx_;
};
