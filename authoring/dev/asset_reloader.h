// Live reload of the graphics assets through the graphics context's stores: shader files
// (every program made from the file is rebuilt; one that fails keeps its previous version),
// images and models (reloaded in place, so scenes holding the pointer see the new data).
// The changed files of one hand-out of the watcher are one burst: every program made from any
// of them is rebuilt once, the work is spread over frames, and a burst of several files is
// summed up in one line, with only failures told one by one (the first few). A shader or model
// file whose bytes are those it was last built from (touched, or copied over itself) is passed
// over. Images are decoded on a thread of their own and go to GL a few rows a frame, so a huge
// one never holds the show up; each has its own outcome when it is in place. Outcomes carry
// their console lines; nothing is printed here. Main thread only, with the GL context current,
// between frames.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "authoring/dev/file_reloader.h"
#include "authoring/dev/file_watcher.h"
#include "authoring/dev/reload_outcome.h"

class gfxContext;
class cTextureDecoder;

class cAssetReloader final : public iFileReloader {
public:
    explicit cAssetReloader(gfxContext& gfx);
    ~cAssetReloader() override;

    // Files of the show's shader, image and model folders.
    bool takes(const std::string& path) const override;
    // Taken into the burst under way (see take); nothing is told at once.
    std::vector<cReloadOutcome> files_changed(const std::vector<cFileChange>& changes, double now) override;

    // Each gives nothing when no program, texture or model is made from the file.
    std::optional<cReloadOutcome> shader_changed(const std::string& path);
    // Nothing at once: the image is decoded elsewhere and its outcome comes from poll_images.
    std::optional<cReloadOutcome> texture_changed(const std::string& path);
    std::optional<cReloadOutcome> model_changed(const std::string& path);
    // A file in use that was removed: reported; what was made from it stays in use.
    std::optional<cReloadOutcome> removed(const std::string& path);

    // Takes changed files of the show's shader, image and model folders (others are passed
    // over) into the burst under way, or starts one.
    void take(const std::vector<cFileChange>& changes);
    // Works on the burst until budget_seconds are spent (one step at least). Once it is done,
    // its outcomes: a burst of one file as that file's reload, otherwise each failure (the
    // first few, with their lines) and one summary of the whole burst.
    std::vector<cReloadOutcome> step(double budget_seconds);
    bool busy() const { return burst_ != nullptr; }

    // Once per frame: the images decoded since, checked and started on their way to GL, and
    // the next rows of those under way (a share of the time between two calls); one outcome
    // per image done.
    std::vector<cReloadOutcome> poll_images();
    // Whether an image is being decoded or uploaded.
    bool images_pending();
    // The images drawn as stand-ins ("PATH: REASON"), and whether that list changed since the
    // last call.
    bool take_stand_ins_changed();
    std::vector<std::string> stand_ins() const;

private:
    struct cBurst;

    bool in_use(const std::string& path);
    // Whether the file holds the bytes it held when what is made from it was last built here.
    bool unchanged(const std::string& path) const;
    void remember(const std::string& path, std::optional<std::string> bytes);
    void rebuild_next();
    void reload_next();
    void failed(const cReloadOutcome& outcome);
    std::vector<cReloadOutcome> finish();
    static cReloadOutcome single_file_outcome(const cBurst& burst);
    static cReloadOutcome summary_outcome(const cBurst& burst);

    gfxContext& gfx_;
    std::unique_ptr<cTextureDecoder> decoder_;
    uint64_t stand_ins_seen_ = 0;
    double last_poll_ = -1.0;  // seconds of the monotonic clock
    std::unique_ptr<cBurst> burst_;
    std::map<std::string, std::string> built_;  // normal path -> the bytes last built from
};
