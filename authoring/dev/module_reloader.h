// Live reload of scene modules: a rebuilt "bin/render*.so" is taken once its writer has
// finished (closed it, and its size, times and file stayed the same for a moment, waited out
// in the frame after the close, and again over the copy). The module manager replaces the
// module: the library is copied into the cache under a new name, its headers checked for a
// file cut short, the copy opened by a trial process (a library caught half-written or corrupt
// crashes that one, not the show), then loaded and its scene created and initialised here;
// only when all of that succeeds is the old scene deleted and its library closed. Otherwise
// the old one keeps running, and the outcome says why. Main thread only, between frames, with
// the GL context current (a scene's init loads its programs and textures).
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_stamp.h"
#include "authoring/dev/file_reloader.h"
#include "authoring/dev/reload_outcome.h"

class cModuleManager;
class cRenderModuleBase;
class iModuleInput;
struct cModuleRefusal;

class cModuleReloader final : public iFileReloader {
public:
    // stable_seconds: how long a written library must stay unchanged; gone_seconds: how long a
    // removed one may stay away before that is reported; probe_program: the player, which
    // tries each library in a process of its own (empty: no trial, for harnesses that are not
    // the player).
    cModuleReloader(cModuleManager& modules, iModuleInput* input, double stable_seconds, double gone_seconds,
                    std::string probe_program = {});

    // Whether path (relative to the show directory) names a module library.
    bool takes(const std::string& path) const override;
    // Libraries written and removed; nothing is told at once.
    std::vector<cReloadOutcome> files_changed(const std::vector<cFileChange>& changes, double now) override;
    // The writer closed the library (or moved it into place) at now (seconds, monotonic).
    void library_written(const std::string& path, double now);
    // The library was removed. A linker removes its output before writing it anew, so this is
    // reported (its scene keeps running) only when the file has not come back a while later.
    void library_removed(const std::string& path, double now);
    // Swaps in the libraries that have stayed unchanged long enough, and reports the ones
    // that stayed away; one outcome each.
    std::vector<cReloadOutcome> poll(double now);
    bool pending() const { return !pending_.empty() || !removed_.empty(); }

private:
    // The whole stamp: a write in place keeps the size, and a new file put in place keeps
    // neither time nor inode.
    using cStamp = cFileStamp;
    struct cPending {
        cStamp stamp;
        double checked_at = 0.0;
    };

    static cStamp stamp_of(const std::string& path);
    // Nothing when the file changed while it was copied: it is waited for again.
    std::optional<cReloadOutcome> swap_in(const std::string& path, const cStamp& settled);
    // The new scene's init, refused when it throws or cannot load an image.
    std::optional<cModuleRefusal> init_scene(cRenderModuleBase& scene);

    cModuleManager& modules_;
    iModuleInput* input_;
    double stable_seconds_;
    double gone_seconds_;
    std::string probe_program_;
    std::map<std::string, cPending> pending_;
    std::map<std::string, double> removed_;  // path -> when it went
};
