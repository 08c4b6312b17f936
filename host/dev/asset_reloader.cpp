// Shader, image and model reloads over the graphics context's stores, with their console
// lines (the stores write the compiler's and loader's own). Information to standard output,
// problems to standard error.
#include "host/dev/asset_reloader.h"

#include <iostream>

#include "gfx/context/gfx_context.h"

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "\"" : ", \"") + name + "\"";
    return text;
}

}  // namespace

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
    std::string error;
    const int count = gfx_.textures().reload_file(path, error);
    if (count == 0 && error.empty()) return std::nullopt;
    if (!error.empty()) {
        std::cerr << "## ERROR: \"" << path << "\" was not reloaded: " << error << "; the texture keeps its pixels"
                  << std::endl;
        return cReloadOutcome{false, path, error};
    }
    std::cout << "# note: reloaded \"" << path << "\"" << std::endl;
    return cReloadOutcome{true, path, "reloaded"};
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
