// The module manager: finds the render-module libraries of the show, copies each into the
// cache directory, loads the copy, resolves CreateScene and DeleteScene and creates the
// scene. At start-up it loads every module once; afterwards only replace_module changes a
// module, on request (the development mode's live reload), and only ever one whole module.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/modules/code_module.h"

// Why a replacement was refused: a few words, and the loader's or the module's own where
// there are any (may be empty).
struct cModuleRefusal {
    std::string reason;
    std::string detail;
};

// What replace_module came to. Whatever it is, the module list is either as it was or has
// the new module in place of the old one, never anything between.
struct cModuleReplacement {
    enum result_t {
        replaced,       // the new library's scene is in the module's place; the old one is gone
        written_again,  // the file changed while it was copied: nothing changed, try it again
        refused,        // nothing changed; refusal says why
    };
    result_t result = refused;
    cModuleRefusal refusal;
};

// The steps of a replacement that are the caller's.
struct cModuleReplaceSteps {
    // Tries the cached copy in a process of its own first ("PROGRAM --probe-library COPY"), so
    // that a library whose loading crashes ends that process; empty: no trial.
    std::string probe_program;
    // Asked once the copy is made: false when the file was written again meanwhile.
    std::function<bool()> copy_is_current;
    // Readies the new scene (its init) while the old one still runs; a refusal undoes the
    // replacement. Exceptions it lets through refuse it as well.
    std::function<std::optional<cModuleRefusal>(cRenderModuleBase& scene)> init_scene;
};

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

    // Replaces the module loaded from file_name (or adds it, a library that appeared while
    // the show runs) with the library that file holds now: copied into the cache under a name
    // never used before, its headers checked for a file cut short, tried, loaded, its exports
    // resolved and its scene created and readied. Only then is the old scene deleted (its
    // DeleteScene), its library closed and its copy deleted, in that order. A step that fails
    // undoes the ones before it. Tells nothing itself (the file utilities report a failed copy
    // or delete as everywhere): the caller tells the outcome.
    // Main thread, between frames (the scene's init may need the graphics context).
    cModuleReplacement replace_module(const std::string& file_name, const cModuleReplaceSteps& steps);

    // Every module found, in load order; a module without a scene is to be skipped.
    const std::vector<std::unique_ptr<cCodeModule>>& modules() const { return modules_; }
    // The module loaded from file_name, or null.
    cCodeModule* find(const std::string& file_name);

    const std::string& source_directory() const { return source_directory_; }
    const std::string& cache_directory() const { return cache_directory_; }
    const std::string& pattern() const { return pattern_; }

private:
    // Deletes the module's scene, closes its library and deletes its copy, where it can.
    void retire(cCodeModule& module) const;

    std::string source_directory_;
    std::string cache_directory_;
    std::string pattern_;
    std::vector<std::unique_ptr<cCodeModule>> modules_;
    uint32_t serial_ = 0;  // makes every replacement's cached copy a name of its own
};
