// The module manager: finds the render-module libraries of the show, copies each into the
// cache directory, loads the copy, resolves CreateScene and DeleteScene and creates the
// scene. Runs once at start-up; never reloads, unloads or deletes a module or its scene.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/modules/code_module.h"

class cModuleManager {
public:
    // Directories end with "/"; the host passes the absolute forms of "bin/" and
    // "bin/dll_cache/" and the pattern "render*.so". The cache directory is not created here.
    cModuleManager(std::string source_directory, std::string cache_directory, std::string pattern);

    // Empties the cache directory, then adds every module found, in the order found.
    void load_all();
    // Copies one module into the cache, loads it and appends it, whether it loaded or not.
    void add_module(const std::string& file_name);
    // Loads the cached copy of one module; false (after the error block) when it cannot.
    bool load_module(cCodeModule& module);

    // Every module found, in load order; a module without a scene is to be skipped.
    const std::vector<std::unique_ptr<cCodeModule>>& modules() const { return modules_; }
    // The module loaded from file_name, or null. The development mode swaps its library.
    cCodeModule* find(const std::string& file_name);
    // Appends a module loaded elsewhere (a library that appeared while the show runs).
    void append(std::unique_ptr<cCodeModule> module) { modules_.push_back(std::move(module)); }

    const std::string& source_directory() const { return source_directory_; }
    const std::string& cache_directory() const { return cache_directory_; }
    const std::string& pattern() const { return pattern_; }

private:
    std::string source_directory_;
    std::string cache_directory_;
    std::string pattern_;
    std::vector<std::unique_ptr<cCodeModule>> modules_;
};
