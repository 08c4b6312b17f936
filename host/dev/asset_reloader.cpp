// Shader, image and model reloads over the graphics context's stores, with their console
// lines (the stores write the compiler's and loader's own). Information to standard output,
// problems to standard error.
#include "host/dev/asset_reloader.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "gfx/context/gfx_context.h"
#include "gfx/textures/texture_decoder.h"
#include "host/dev/dev_config.h"

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "\"" : ", \"") + name + "\"";
    return text;
}

cReloadOutcome texture_not_reloaded(const std::string& path, const std::string& error) {
    std::cerr << "## ERROR: \"" << path << "\" was not reloaded: " << error << "; the texture keeps its pixels" << std::endl;
    return cReloadOutcome{false, path, error};
}

}  // namespace

cAssetReloader::cAssetReloader(gfxContext& gfx)
    : gfx_(gfx), decoder_(std::make_unique<cTextureDecoder>(gfx.textures().limits())) {}

cAssetReloader::~cAssetReloader() = default;

std::optional<cReloadOutcome> cAssetReloader::shader_changed(const std::string& path) {
    const cShaderManager::cReload result = gfx_.shaders().reload_file(path);
    if (result.reloaded.empty() && result.kept.empty()) return std::nullopt;
    if (!result.kept.empty()) {
        std::cerr << "## ERROR: \"" << path << "\" did not build; " << joined(result.kept)
                  << (result.kept.size() == 1 ? " keeps its" : " keep their") << " previous version" << std::endl;
        return cReloadOutcome{false, path, first_line_of(result.error)};
    }
    std::cout << "# note: reloaded \"" << path << "\": " << joined(result.reloaded) << std::endl;
    return cReloadOutcome{true, path, "reloaded " + joined(result.reloaded)};
}

std::optional<cReloadOutcome> cAssetReloader::texture_changed(const std::string& path) {
    if (gfx_.textures().uses_file(path)) decoder_->decode(path);
    return std::nullopt;
}

std::vector<cReloadOutcome> cAssetReloader::poll_images() {
    std::vector<cReloadOutcome> outcomes;
    cTextureManager& textures = gfx_.textures();
    for (cTextureDecoder::cDecoded& decoded : decoder_->take_decoded()) {
        std::string error = decoded.refused;
        if (error.empty()) textures.begin_replacing(decoded.path, std::move(decoded.image), error);
        if (!error.empty()) outcomes.push_back(texture_not_reloaded(decoded.path, error));
    }
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    const double frame = last_poll_ < 0.0 ? 0.0 : now - last_poll_;
    last_poll_ = now;
    if (!textures.replacing()) return outcomes;
    // Slow frames can carry more rows each without the show's rate changing much.
    const double budget = std::clamp(frame * dev_config::kImageUploadShare, dev_config::kImageUploadSeconds,
                                     dev_config::kMaxImageUploadSeconds);
    for (const cTextureManager::cReplaced& replaced : textures.continue_replacing(budget)) {
        if (!replaced.ok) {
            outcomes.push_back(texture_not_reloaded(replaced.path, replaced.error));
            continue;
        }
        std::cout << "# note: reloaded \"" << replaced.path << "\"" << std::endl;
        outcomes.push_back(cReloadOutcome{true, replaced.path, "reloaded"});
    }
    return outcomes;
}

bool cAssetReloader::images_pending() { return decoder_->busy() || gfx_.textures().replacing(); }

bool cAssetReloader::take_stand_ins_changed() {
    const uint64_t now = gfx_.textures().failures_changed();
    const bool changed = now != stand_ins_seen_;
    stand_ins_seen_ = now;
    return changed;
}

std::vector<std::string> cAssetReloader::stand_ins() const {
    std::vector<std::string> lines;
    for (const cTextureManager::cFailure& failure : gfx_.textures().failures())
        lines.push_back(failure.path + ": " + failure.reason);
    return lines;
}

std::optional<cReloadOutcome> cAssetReloader::model_changed(const std::string& path) {
    std::string error;
    const int count = gfx_.models().reload_file(path, error);
    if (count == 0 && error.empty()) return std::nullopt;
    if (!error.empty()) {
        std::cerr << "## ERROR: \"" << path << "\" was not reloaded: " << error << "; the model keeps its mesh"
                  << std::endl;
        return cReloadOutcome{false, path, error};
    }
    std::cout << "# note: reloaded \"" << path << "\"" << std::endl;
    return cReloadOutcome{true, path, "reloaded"};
}

std::optional<cReloadOutcome> cAssetReloader::removed(const std::string& path) {
    if (!in_use(path)) return std::nullopt;
    std::cerr << "# WARNING: \"" << path << "\" was removed; what was made from it stays in use" << std::endl;
    return cReloadOutcome{false, path, "removed; what was made from it stays in use"};
}

bool cAssetReloader::in_use(const std::string& path) {
    return gfx_.shaders().uses_file(path) || gfx_.textures().uses_file(path) || gfx_.models().uses_file(path);
}
