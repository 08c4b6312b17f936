// Shader, image and model reloads over the graphics context's stores, with the console lines
// of their outcomes (the stores write the compiler's and loader's own at once), and the bursts
// that gather them. Prints nothing itself.
#include "authoring/dev/asset_reloader.h"

#include <algorithm>
#include <filesystem>

#include "base/files/file_utils.h"
#include "gfx/context/gfx_context.h"
#include "gfx/textures/texture_decoder.h"
#include "authoring/dev/dev_config.h"

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "\"" : ", \"") + name + "\"";
    return text;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string normal_path(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

std::optional<std::string> bytes_of(const std::string& path) {
    std::string bytes, reason;
    if (!read_whole_file(path, bytes, reason)) return std::nullopt;
    return bytes;
}

std::string counted(size_t count, const char* one, const char* several) {
    return std::to_string(count) + " " + (count == 1 ? one : several);
}

cReloadOutcome texture_not_reloaded(const std::string& path, const std::string& error) {
    return cReloadOutcome{false, path, error}.problem("## ERROR: \"" + path + "\" was not reloaded: " + error +
                                                      "; the texture keeps its pixels");
}

std::string reloaded_line(const std::string& path) { return "# note: reloaded \"" + path + "\""; }

// A shader file whose programs were rebuilt, or some of which kept their previous version.
cReloadOutcome shader_outcome(const std::string& path, const std::vector<std::string>& rebuilt,
                              const std::vector<std::string>& kept, const std::string& error_log) {
    if (!kept.empty()) {
        return cReloadOutcome{false, path, first_line_of(error_log)}.problem(
            "## ERROR: \"" + path + "\" did not build; " + joined(kept) +
            (kept.size() == 1 ? " keeps its" : " keep their") + " previous version");
    }
    return cReloadOutcome{true, path, "reloaded " + joined(rebuilt)}.info(reloaded_line(path) + ": " + joined(rebuilt));
}

}  // namespace

// One burst: what is still to do, and what came of what was done.
struct cAssetReloader::cBurst {
    std::set<std::string> shader_files;    // changed shader files some program is made from
    std::deque<std::string> programs;      // to rebuild, each once
    std::deque<cFileChange> others;        // images to decode, models to reload, removals to tell
    std::set<std::string> files;           // every file of the burst something is made from
    std::vector<std::string> rebuilt, kept;
    std::string first_error;               // the first failed program's compiler log
    std::vector<cReloadOutcome> failures;  // the first few, to show
    size_t failure_count = 0;
    size_t models = 0;
    int frames = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // The one file of a burst of one file, with what its own reload says.
    std::optional<cReloadOutcome> single;
};

cAssetReloader::cAssetReloader(gfxContext& gfx)
    : gfx_(gfx), decoder_(std::make_unique<cTextureDecoder>(gfx.textures().limits())) {}
cAssetReloader::~cAssetReloader() = default;

bool cAssetReloader::takes(const std::string& path) const {
    const std::string folder = folder_of(path);
    return folder == dev_config::kShaderFolder || folder == dev_config::kTextureFolder ||
           folder == dev_config::kModelFolder;
}

std::vector<cReloadOutcome> cAssetReloader::files_changed(const std::vector<cFileChange>& changes, double) {
    take(changes);
    return {};
}

std::optional<cReloadOutcome> cAssetReloader::shader_changed(const std::string& path) {
    const cShaderManager::cReload result = gfx_.shaders().reload_file(path);
    if (result.reloaded.empty() && result.kept.empty()) return std::nullopt;
    return shader_outcome(path, result.reloaded, result.kept, result.error);
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
        outcomes.push_back(cReloadOutcome{true, replaced.path, "reloaded"}.info(reloaded_line(replaced.path)));
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
        return cReloadOutcome{false, path, error}.problem("## ERROR: \"" + path + "\" was not reloaded: " + error +
                                                          "; the model keeps its mesh");
    }
    return cReloadOutcome{true, path, "reloaded"}.info(reloaded_line(path));
}

std::optional<cReloadOutcome> cAssetReloader::removed(const std::string& path) {
    if (!in_use(path)) return std::nullopt;
    return cReloadOutcome{false, path, "removed; what was made from it stays in use"}.problem(
        "# WARNING: \"" + path + "\" was removed; what was made from it stays in use");
}

bool cAssetReloader::in_use(const std::string& path) {
    return gfx_.shaders().uses_file(path) || gfx_.textures().uses_file(path) || gfx_.models().uses_file(path);
}

bool cAssetReloader::unchanged(const std::string& path) const {
    auto it = built_.find(normal_path(path));
    if (it == built_.end()) return false;
    const std::optional<std::string> bytes = bytes_of(path);
    return bytes && *bytes == it->second;
}

void cAssetReloader::remember(const std::string& path, std::optional<std::string> bytes) {
    if (bytes) built_[normal_path(path)] = std::move(*bytes);
}

// ---- bursts ----

void cAssetReloader::take(const std::vector<cFileChange>& changes) {
    std::vector<std::string> shader_files;
    for (const cFileChange& change : changes) {
        if (!takes(change.path)) continue;
        const std::string folder = folder_of(change.path);
        const bool shader = folder == dev_config::kShaderFolder;
        const bool written = change.kind == cFileChange::written;
        if (written && folder != dev_config::kTextureFolder && unchanged(change.path)) continue;
        if (!burst_) burst_ = std::make_unique<cBurst>();
        if (written && shader) {
            // Written again while its burst goes on, it is taken again: its programs may have
            // been rebuilt from what it held before.
            if (gfx_.shaders().uses_file(change.path)) {
                burst_->shader_files.insert(change.path);
                burst_->files.insert(change.path);
                shader_files.push_back(change.path);
            }
        } else {
            burst_->others.push_back(change);
        }
    }
    if (shader_files.empty()) return;
    // A program waiting already is rebuilt from whatever its files hold by then.
    for (const std::string& name : gfx_.shaders().programs_using(shader_files)) {
        if (std::find(burst_->programs.begin(), burst_->programs.end(), name) == burst_->programs.end()) {
            burst_->programs.push_back(name);
        }
    }
}

std::vector<cReloadOutcome> cAssetReloader::step(double budget_seconds) {
    if (!burst_) return {};
    ++burst_->frames;
    const auto started = std::chrono::steady_clock::now();
    const auto budget = std::chrono::duration<double>(budget_seconds);
    int programs = 0;
    do {
        if (!burst_->programs.empty() && programs < dev_config::kProgramsPerFrame) {
            rebuild_next();
            ++programs;
        } else if (!burst_->others.empty()) {
            reload_next();
        } else {
            break;
        }
    } while (std::chrono::steady_clock::now() - started < budget);
    if (!burst_->programs.empty() || !burst_->others.empty()) return {};
    return finish();
}

void cAssetReloader::rebuild_next() {
    const std::string name = burst_->programs.front();
    burst_->programs.pop_front();
    // The bytes are read before the build: a write after it comes with a change of its own.
    const cShaderProgram* built = gfx_.shaders().find(name);
    const std::string vertex = built ? built->vertex_path : "", fragment = built ? built->fragment_path : "";
    std::optional<std::string> vertex_bytes = bytes_of(vertex), fragment_bytes = bytes_of(fragment);
    std::string log;
    if (gfx_.shaders().rebuild(name, log)) {
        remember(vertex, std::move(vertex_bytes));
        remember(fragment, std::move(fragment_bytes));
        burst_->rebuilt.push_back(name);
        return;
    }
    // The shader store has told the failure and the compiler's log.
    burst_->kept.push_back(name);
    if (burst_->first_error.empty()) burst_->first_error = log.empty() ? "the program could not be made" : log;
    const cShaderProgram* record = gfx_.shaders().find(name);
    // Named by its changed file, the fragment file when both changed (one program's own).
    std::string path = record ? record->vertex_path : name;
    if (record && burst_->shader_files.count(record->fragment_path) != 0) path = record->fragment_path;
    failed(cReloadOutcome{false, path, "program \"" + name + "\": " + first_line_of(log)});
}

void cAssetReloader::reload_next() {
    const cFileChange change = burst_->others.front();
    burst_->others.pop_front();
    std::optional<cReloadOutcome> outcome;
    if (change.kind == cFileChange::removed) {
        outcome = removed(change.path);
    } else if (folder_of(change.path) == dev_config::kTextureFolder) {
        // Decoded elsewhere: the image tells its own outcome once it is in place.
        texture_changed(change.path);
    } else {
        std::optional<std::string> bytes = bytes_of(change.path);
        outcome = model_changed(change.path);
        if (outcome && outcome->ok) {
            ++burst_->models;
            remember(change.path, std::move(bytes));
        }
    }
    if (!outcome) return;
    burst_->files.insert(change.path);
    burst_->single = outcome;
    // Successes are summed up at the end.
    if (!outcome->ok) failed(*outcome);
}

void cAssetReloader::failed(const cReloadOutcome& outcome) {
    // Past the first few, failures are only counted.
    if (++burst_->failure_count <= static_cast<size_t>(dev_config::kMaxReportedFailures)) {
        burst_->failures.push_back(outcome);
    }
}

std::vector<cReloadOutcome> cAssetReloader::finish() {
    std::unique_ptr<cBurst> burst = std::move(burst_);
    if (burst->files.empty()) return {};  // nothing in use changed
    if (burst->files.size() == 1) return {single_file_outcome(*burst)};
    std::vector<cReloadOutcome> outcomes = burst->failures;
    outcomes.push_back(summary_outcome(*burst));
    return outcomes;
}

cReloadOutcome cAssetReloader::single_file_outcome(const cBurst& burst) {
    // One file: told as its reload always was.
    const std::string& path = *burst.files.begin();
    if (burst.rebuilt.empty() && burst.kept.empty()) {
        // A model or a removal (written more than once, the failures on the way are told too).
        cReloadOutcome outcome = *burst.single;
        std::vector<cConsoleLine>& lines = outcome.console;
        lines.clear();
        for (const cReloadOutcome& failure : burst.failures) {
            lines.insert(lines.end(), failure.console.begin(), failure.console.end());
        }
        if (outcome.ok) lines.insert(lines.end(), burst.single->console.begin(), burst.single->console.end());
        return outcome;
    }
    return shader_outcome(path, burst.rebuilt, burst.kept, burst.first_error);
}

cReloadOutcome cAssetReloader::summary_outcome(const cBurst& burst) {
    // The readout names the folder every file lies in, or the show's data.
    std::string where = folder_of(*burst.files.begin());
    for (const std::string& path : burst.files) {
        if (folder_of(path) != where) where = "data";
    }
    std::string what = counted(burst.rebuilt.size(), "program rebuilt", "programs rebuilt");
    if (burst.models > 0) what += ", " + counted(burst.models, "model", "models");
    std::string message = "reloaded " + counted(burst.files.size(), "file", "files") + " (" + what + ")";
    if (burst.failure_count > 0) message += "; " + counted(burst.failure_count, "failure", "failures");
    cReloadOutcome outcome{burst.failure_count == 0, where, message};
    const size_t untold = burst.failure_count - burst.failures.size();
    if (untold > 0) outcome.problem("## ... and " + counted(untold, "more failure", "more failures"));
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - burst.started).count();
    outcome.info("# note: " + message + " over " + counted(static_cast<size_t>(burst.frames), "frame", "frames") +
                 " (" + std::to_string(static_cast<long>(ms + 0.5)) + " ms)");
    return outcome;
}
