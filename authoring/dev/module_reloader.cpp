// The module swap. Every step that can fail leaves the running module untouched and removes
// what it made (the cached copy, the new library, the new scene); exceptions from the new
// module's CreateScene and init are caught and reported like any other refusal. The library
// is never opened here before a trial process has opened the same copy. Information to
// standard output, problems to standard error.
#include "authoring/dev/module_reloader.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <thread>
#include <utility>

#include "base/files/file_utils.h"
#include "gfx/context/gfx_context.h"
#include "host/modules/code_module.h"
#include "host/modules/dynamic_library.h"
#include "host/modules/library_probe.h"
#include "host/modules/module_config.h"
#include "host/modules/module_input.h"
#include "host/modules/module_manager.h"

namespace {

std::string cached_name(const std::string& file_name, uint32_t serial) {
    const size_t dot = file_name.rfind('.');
    const std::string stem = dot == std::string::npos ? file_name : file_name.substr(0, dot);
    const std::string suffix = dot == std::string::npos ? "" : file_name.substr(dot);
    return stem + "." + std::to_string(serial) + suffix;
}

std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

cModuleReloader::cModuleReloader(cModuleManager& modules, iModuleInput* input, double stable_seconds,
                                 double gone_seconds, std::string probe_program)
    : modules_(modules),
      input_(input),
      stable_seconds_(stable_seconds),
      gone_seconds_(gone_seconds),
      probe_program_(std::move(probe_program)) {}

cModuleReloader::cStamp cModuleReloader::stamp_of(const std::string& path) { return regular_file_stamp(path); }

bool cModuleReloader::is_module(const std::string& path) const {
    const std::string directory = kModuleSourceDirectory;  // "bin/"
    if (path.rfind(directory, 0) != 0 || path.find('/', directory.size()) != std::string::npos) return false;
    return ::fnmatch(modules_.pattern().c_str(), file_name_of(path).c_str(), 0) == 0;
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
            std::cerr << "# WARNING: \"" << it->first << "\" was removed; the module loaded from it keeps running"
                      << std::endl;
            outcomes.push_back({false, it->first, "removed; the running module stays"});
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
    const std::string file_name = file_name_of(path);
    auto refuse = [&](const std::string& reason, const std::string& detail = "") {
        std::cerr << "## ERROR: the rebuilt \"" << path << "\" was not taken: " << reason << "; the running module stays"
                  << std::endl;
        if (!detail.empty()) std::cerr << "##        " << detail << std::endl;
        return cReloadOutcome{false, path, detail.empty() ? reason : reason + ": " + detail};
    };

    const std::string cached = modules_.cache_directory() + cached_name(file_name, ++serial_);
    if (!copy_file(modules_.source_directory() + file_name, cached, true)) return refuse("it cannot be copied into the cache");
    // The copy is what gets opened, here and in the trial: the file itself may be written again
    // at any moment, and pages mapped from a file that changes underneath are not to be trusted.
    if (!(stamp_of(path) == settled)) {
        delete_file(cached);
        return std::nullopt;
    }
    std::string cut_short;
    if (!library_file_whole(cached, cut_short)) {
        delete_file(cached);
        return refuse("it is not whole", cut_short);
    }
    if (!probe_program_.empty()) {
        const cLibraryProbe trial = probe_library(probe_program_, cached, kLibraryProbeSeconds);
        if (trial.outcome != cLibraryProbe::loads) delete_file(cached);
        switch (trial.outcome) {
            case cLibraryProbe::loads: break;
            case cLibraryProbe::not_loaded: return refuse("it cannot be loaded", trial.detail);
            case cLibraryProbe::lacks_export: return refuse("it lacks the export " + trial.detail);
            case cLibraryProbe::crashed:
                return refuse("loading it crashed a trial process (" + trial.detail + ")",
                              "a library still being written, cut short or corrupt; the next one written is tried");
            case cLibraryProbe::hung:
                return refuse("loading it did not end within " +
                              std::to_string(static_cast<int>(kLibraryProbeSeconds)) + " s in a trial process");
            case cLibraryProbe::not_run: return refuse("no trial process could be started", trial.detail);
            case cLibraryProbe::failed: return refuse("loading it ended a trial process", trial.detail);
        }
    }

    std::string loader_error;
    void* library = load_library(cached, loader_error);
    if (!library) {
        delete_file(cached);
        return refuse("it cannot be loaded", without_line_end(loader_error));
    }
    auto discard = [&](const std::string& reason, const std::string& detail = "") {
        unload_library(library);
        delete_file(cached);
        return refuse(reason, detail);
    };
    auto create = reinterpret_cast<CreateSceneFn>(library_export(library, kCreateSceneExport));
    auto destroy = reinterpret_cast<DeleteSceneFn>(library_export(library, kDeleteSceneExport));
    if (!create || !destroy) {
        return discard(std::string("it lacks the export ") + (!create ? kCreateSceneExport : kDeleteSceneExport));
    }
    cRenderModuleBase* scene = nullptr;
    try {
        scene = create();
    } catch (const std::exception& e) {
        return discard("its CreateScene threw", e.what());
    } catch (...) {
        return discard("its CreateScene threw");
    }
    if (!scene) return discard("its CreateScene returned no scene");
    // An image the new scene's init cannot load gets a stand-in; the running scene, drawing the
    // real thing, is worth more than that.
    auto* gfx = dynamic_cast<gfxContext*>(input_ ? input_->gfx() : nullptr);
    const uint64_t images_failed = gfx ? gfx->textures().failed_loads() : 0;
    std::string init_error;
    try {
        scene->init(input_);
    } catch (const std::exception& e) {
        init_error = e.what();
        if (init_error.empty()) init_error = "an exception";
    } catch (...) {
        init_error = "an exception";
    }
    const std::string image_error =
        gfx && gfx->textures().failed_loads() != images_failed ? gfx->textures().withdraw_failures_since(images_failed) : "";
    if (!init_error.empty()) {
        destroy(&scene);
        return discard("its scene's init threw", init_error);
    }
    if (!image_error.empty()) {
        destroy(&scene);
        return discard("its scene's init cannot load an image", image_error);
    }

    // Everything of the new one works: now the old one goes.
    cCodeModule* module = modules_.find(file_name);
    if (module) {
        if (module->scene && module->delete_entry) {
            module->delete_entry(&module->scene);
            unload_library(module->library);
            if (!module->loaded_path.empty()) delete_file(module->loaded_path);
        } else if (!module->scene) {
            unload_library(module->library);  // loaded without a scene, or not loaded at all
        }
        // A scene whose library gave no DeleteScene cannot be freed; its library stays loaded.
    } else {
        auto added = std::make_unique<cCodeModule>();
        added->file_name = file_name;
        module = added.get();
        modules_.append(std::move(added));
    }
    module->loaded_path = cached;
    module->library = library;
    module->file_time = file_time(cached);
    module->create_entry = create;
    module->delete_entry = destroy;
    module->scene = scene;

    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    std::cout << "# note: switched to the rebuilt \"" << path << "\" (" << static_cast<int>(ms + 0.5) << " ms)" << std::endl;
    return cReloadOutcome{true, path, "switched to the rebuilt module"};
}
