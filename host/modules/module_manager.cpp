// Module discovery, cache copy, loading and replacement. Every failure at start-up is reported
// in the console conventions and skipped: a module that does not load stays in the list
// without a scene. A replacement gives its outcome to the caller instead, and every step that
// fails leaves the running module untouched and removes what it made (the copy, the library,
// the scene). Uses the file utilities for search, copy and delete, the dynamic loader service
// and the trial of a library in a process of its own.
#include "host/modules/module_manager.h"

#include <exception>
#include <iostream>
#include <utility>

#include "base/files/file_utils.h"
#include "host/modules/dynamic_library.h"
#include "host/modules/library_probe.h"
#include "host/modules/module_config.h"

namespace {

// "render_x.so" as "render_x.7.so": a name the loader has never seen, so the new copy is
// never taken for the library already loaded.
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

// Why a trial refuses the library, or nothing when it loads.
std::optional<cModuleRefusal> trial_refusal(const cLibraryProbe& trial) {
    switch (trial.outcome) {
        case cLibraryProbe::loads: return std::nullopt;
        case cLibraryProbe::not_loaded: return cModuleRefusal{"it cannot be loaded", trial.detail};
        case cLibraryProbe::lacks_export: return cModuleRefusal{"it lacks the export " + trial.detail, ""};
        case cLibraryProbe::crashed:
            return cModuleRefusal{"loading it crashed a trial process (" + trial.detail + ")",
                                  "a library still being written, cut short or corrupt; the next one written is tried"};
        case cLibraryProbe::hung:
            return cModuleRefusal{"loading it did not end within " +
                                      std::to_string(static_cast<int>(kLibraryProbeSeconds)) + " s in a trial process",
                                  ""};
        case cLibraryProbe::not_run: return cModuleRefusal{"no trial process could be started", trial.detail};
        case cLibraryProbe::failed: return cModuleRefusal{"loading it ended a trial process", trial.detail};
    }
    return cModuleRefusal{"loading it ended a trial process", trial.detail};
}

cModuleReplacement refused(cModuleRefusal why) { return {cModuleReplacement::refused, std::move(why)}; }

// The new module on its way in: what is undone when a later step fails.
struct cCandidate {
    std::string cached;
    void* library = nullptr;
    CreateSceneFn create = nullptr;
    DeleteSceneFn destroy = nullptr;
    cRenderModuleBase* scene = nullptr;

    // Its scene first (made by the library's code), then the library, then the copy.
    cModuleReplacement undo(cModuleReplacement why) {
        if (scene && destroy) destroy(&scene);
        if (library) unload_library(library);
        delete_file(cached);
        return why;
    }
};

// Makes and readies the candidate's scene; a refusal when it cannot.
std::optional<cModuleRefusal> make_scene(cCandidate& next, const cModuleReplaceSteps& steps) {
    try {
        next.scene = next.create();
    } catch (const std::exception& e) {
        return cModuleRefusal{"its CreateScene threw", e.what()};
    } catch (...) {
        return cModuleRefusal{"its CreateScene threw", ""};
    }
    if (!next.scene) return cModuleRefusal{"its CreateScene returned no scene", ""};
    if (!steps.init_scene) return std::nullopt;
    try {
        return steps.init_scene(*next.scene);
    } catch (const std::exception& e) {
        return cModuleRefusal{"its scene's init threw", *e.what() ? e.what() : "an exception"};
    } catch (...) {
        return cModuleRefusal{"its scene's init threw", "an exception"};
    }
}

}  // namespace

cModuleManager::cModuleManager(std::string source_directory, std::string cache_directory, std::string pattern)
    : source_directory_(std::move(source_directory)),
      cache_directory_(std::move(cache_directory)),
      pattern_(std::move(pattern)) {}

void cModuleManager::load_all() {
    // Stale copies from an earlier run go first, modules or not.
    std::vector<std::string> stale;
    find_files(cache_directory_ + kModuleCachePattern, stale);
    for (const std::string& name : stale) delete_file(cache_directory_ + name);

    std::vector<std::string> found;
    std::string search = source_directory_ + pattern_;
    find_files(search, found);
    if (found.empty()) {
        std::cerr << "# warning: didn't find any dlls in \"" << search << "\"" << std::endl;
        std::cerr << "# cwd: " << current_directory() << std::endl;
        return;
    }
    for (const std::string& name : found) add_module(name);
}

void cModuleManager::add_module(const std::string& file_name) {
    auto module = std::make_unique<cCodeModule>();
    module->file_name = file_name;
    std::string source = source_directory_ + file_name;
    // A failed copy is reported by copy_file; the load below then finds whatever is cached.
    copy_file(source, cache_directory_ + file_name_of(source), true);
    load_module(*module);
    modules_.push_back(std::move(module));
}

bool cModuleManager::load_module(cCodeModule& module) {
    std::string path = cache_directory_ + module.file_name;
    std::string loader_error;
    void* library = load_library(path, loader_error);
    if (!library) {
        std::cerr << "## ERROR: code module-load failed: \"" << path << "\"" << std::endl;
        module.file_time = 0;
        if (!loader_error.empty()) std::cerr << "##        " << loader_error << std::flush;
        std::cerr << "##        cwd: \"" << current_directory() << "\"" << std::endl;
        return false;
    }
    module.library = library;
    module.loaded_path = path;
    module.file_time = file_time(path);
    module.delete_entry = reinterpret_cast<DeleteSceneFn>(library_export(library, kDeleteSceneExport));
    module.create_entry = reinterpret_cast<CreateSceneFn>(library_export(library, kCreateSceneExport));
    if (module.create_entry) module.scene = module.create_entry();
    return true;
}

cModuleReplacement cModuleManager::replace_module(const std::string& file_name, const cModuleReplaceSteps& steps) {
    cCandidate next;
    next.cached = cache_directory_ + cached_name(file_name, ++serial_);
    if (!copy_file(source_directory_ + file_name, next.cached, true)) {
        return refused({"it cannot be copied into the cache", ""});
    }
    // The copy is what gets opened, here and in the trial: the file itself may be written again
    // at any moment, and pages mapped from a file that changes underneath are not to be trusted.
    if (steps.copy_is_current && !steps.copy_is_current()) return next.undo({cModuleReplacement::written_again, {}});
    std::string cut_short;
    if (!library_file_whole(next.cached, cut_short)) return next.undo(refused({"it is not whole", cut_short}));
    if (!steps.probe_program.empty()) {
        const cLibraryProbe trial = probe_library(steps.probe_program, next.cached, kLibraryProbeSeconds);
        if (std::optional<cModuleRefusal> why = trial_refusal(trial)) return next.undo(refused(*why));
    }

    std::string loader_error;
    next.library = load_library(next.cached, loader_error);
    if (!next.library) return next.undo(refused({"it cannot be loaded", without_line_end(loader_error)}));
    next.create = reinterpret_cast<CreateSceneFn>(library_export(next.library, kCreateSceneExport));
    next.destroy = reinterpret_cast<DeleteSceneFn>(library_export(next.library, kDeleteSceneExport));
    if (!next.create || !next.destroy) {
        const char* missing = !next.create ? kCreateSceneExport : kDeleteSceneExport;
        return next.undo(refused({std::string("it lacks the export ") + missing, ""}));
    }
    if (std::optional<cModuleRefusal> why = make_scene(next, steps)) return next.undo(refused(*why));

    // Everything of the new one works: now the old one goes, and the new one takes its place.
    cCodeModule* module = find(file_name);
    if (module) {
        retire(*module);
    } else {
        modules_.push_back(std::make_unique<cCodeModule>());
        module = modules_.back().get();
        module->file_name = file_name;
    }
    module->loaded_path = next.cached;
    module->library = next.library;
    module->file_time = file_time(next.cached);
    module->create_entry = next.create;
    module->delete_entry = next.destroy;
    module->scene = next.scene;
    return {cModuleReplacement::replaced, {}};
}

void cModuleManager::retire(cCodeModule& module) const {
    if (module.scene && !module.delete_entry) return;  // a scene that cannot be freed keeps its library
    if (module.scene) module.delete_entry(&module.scene);
    unload_library(module.library);  // a module loaded without a scene, or not loaded at all, too
    // The copy of one that did not load at start-up is of no use either.
    const std::string copy = module.loaded_path.empty() ? cache_directory_ + module.file_name : module.loaded_path;
    if (file_exists(copy)) delete_file(copy);
}

cCodeModule* cModuleManager::find(const std::string& file_name) {
    for (const auto& module : modules_) {
        if (module->file_name == file_name) return module.get();
    }
    return nullptr;
}
