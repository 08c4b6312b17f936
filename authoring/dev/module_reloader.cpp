// When a rebuilt module library is taken, and how its outcome is told; the replacement itself
// is the module manager's. Exceptions from the new module's init are caught and told like any
// other refusal, and an image its init cannot load refuses it too.
#include "authoring/dev/module_reloader.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "base/files/file_utils.h"
#include "gfx/context/gfx_context.h"
#include "host/modules/module_config.h"
#include "host/modules/module_input.h"
#include "host/modules/module_manager.h"

cModuleReloader::cModuleReloader(cModuleManager& modules, iModuleInput* input, double stable_seconds,
                                 double gone_seconds, std::string probe_program)
    : modules_(modules),
      input_(input),
      stable_seconds_(stable_seconds),
      gone_seconds_(gone_seconds),
      probe_program_(std::move(probe_program)) {}

cModuleReloader::cStamp cModuleReloader::stamp_of(const std::string& path) { return regular_file_stamp(path); }

bool cModuleReloader::takes(const std::string& path) const {
    const std::string directory = kModuleSourceDirectory;  // "bin/"
    if (path.rfind(directory, 0) != 0 || path.find('/', directory.size()) != std::string::npos) return false;
    return ::fnmatch(modules_.pattern().c_str(), file_name_of(path).c_str(), 0) == 0;
}

std::vector<cReloadOutcome> cModuleReloader::files_changed(const std::vector<cFileChange>& changes, double now) {
    for (const cFileChange& change : changes) {
        if (change.kind == cFileChange::written) {
            library_written(change.path, now);
        } else {
            library_removed(change.path, now);
        }
    }
    return {};
}

void cModuleReloader::library_written(const std::string& path, double now) {
    removed_.erase(path);
    pending_[path] = {stamp_of(path), now};
}

void cModuleReloader::library_removed(const std::string& path, double now) {
    pending_.erase(path);
    removed_.emplace(path, now);
}

std::vector<cReloadOutcome> cModuleReloader::poll(double now) {
    std::vector<cReloadOutcome> outcomes;
    for (auto it = removed_.begin(); it != removed_.end();) {
        if (now - it->second < gone_seconds_) {
            ++it;
            continue;
        }
        const cCodeModule* module = modules_.find(file_name_of(it->first));
        if (stamp_of(it->first).size < 0 && module && module->scene) {
            outcomes.push_back(cReloadOutcome{false, it->first, "removed; the running module stays"}.problem(
                "# WARNING: \"" + it->first + "\" was removed; the module loaded from it keeps running"));
        }
        it = removed_.erase(it);
    }
    for (auto it = pending_.begin(); it != pending_.end();) {
        cPending& waiting = it->second;
        const double waited = now - waiting.checked_at;
        if (waited < stable_seconds_) {
            // Waiting the rest out here costs less than a whole frame more before the swap.
            std::this_thread::sleep_for(std::chrono::duration<double>(stable_seconds_ - waited));
            now = waiting.checked_at + stable_seconds_;
        }
        const cStamp stamp = stamp_of(it->first);
        if (stamp.size < 0) {
            it = pending_.erase(it);  // gone again; its removal is reported on its own
            continue;
        }
        if (!(stamp == waiting.stamp) || stamp.size == 0) {
            // Still being written (or emptied before being written again): wait on.
            waiting.stamp = stamp;
            waiting.checked_at = now;
            ++it;
            continue;
        }
        const std::optional<cReloadOutcome> outcome = swap_in(it->first, stamp);
        if (!outcome) {
            waiting.stamp = stamp_of(it->first);  // written again while it was copied: wait on
            waiting.checked_at = now;
            ++it;
            continue;
        }
        outcomes.push_back(*outcome);
        it = pending_.erase(it);
    }
    return outcomes;
}

std::optional<cReloadOutcome> cModuleReloader::swap_in(const std::string& path, const cStamp& settled) {
    const auto started = std::chrono::steady_clock::now();
    cModuleReplaceSteps steps;
    steps.probe_program = probe_program_;
    steps.copy_is_current = [&] { return stamp_of(path) == settled; };
    steps.init_scene = [this](cRenderModuleBase& scene) { return init_scene(scene); };
    const cModuleReplacement replacement = modules_.replace_module(file_name_of(path), steps);
    if (replacement.result == cModuleReplacement::written_again) return std::nullopt;
    if (replacement.result == cModuleReplacement::refused) {
        const cModuleRefusal& why = replacement.refusal;
        cReloadOutcome outcome{false, path, why.detail.empty() ? why.reason : why.reason + ": " + why.detail};
        outcome.problem("## ERROR: the rebuilt \"" + path + "\" was not taken: " + why.reason +
                        "; the running module stays");
        if (!why.detail.empty()) outcome.problem("##        " + why.detail);
        return outcome;
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    return cReloadOutcome{true, path, "switched to the rebuilt module"}.info(
        "# note: switched to the rebuilt \"" + path + "\" (" + std::to_string(static_cast<int>(ms + 0.5)) + " ms)");
}

std::optional<cModuleRefusal> cModuleReloader::init_scene(cRenderModuleBase& scene) {
    // An image the new scene's init cannot load gets a stand-in; the running scene, drawing the
    // real thing, is worth more than that.
    auto* gfx = dynamic_cast<gfxContext*>(input_ ? input_->gfx() : nullptr);
    const uint64_t images_failed = gfx ? gfx->textures().failed_loads() : 0;
    std::string init_error;
    try {
        scene.init(input_);
    } catch (const std::exception& e) {
        init_error = e.what();
        if (init_error.empty()) init_error = "an exception";
    } catch (...) {
        init_error = "an exception";
    }
    // Withdrawn whatever came of the init: the refused scene's stand-ins go with it.
    const std::string image_error =
        gfx && gfx->textures().failed_loads() != images_failed ? gfx->textures().withdraw_failures_since(images_failed) : "";
    if (!init_error.empty()) return cModuleRefusal{"its scene's init threw", init_error};
    if (!image_error.empty()) return cModuleRefusal{"its scene's init cannot load an image", image_error};
    return std::nullopt;
}
