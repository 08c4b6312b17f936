// Module discovery, cache copy and loading. Every failure is reported in the console
// conventions and skipped: a module that does not load stays in the list without a scene.
// Uses the file utilities for search, copy and delete, and the dynamic loader service.
#include "host/modules/module_manager.h"

#include <iostream>
#include <utility>

#include "base/files/file_utils.h"
#include "host/modules/dynamic_library.h"
#include "host/modules/module_config.h"

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

cCodeModule* cModuleManager::find(const std::string& file_name) {
    for (const auto& module : modules_) {
        if (module->file_name == file_name) return module.get();
    }
    return nullptr;
}
