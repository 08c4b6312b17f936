// Track reloads over the sync device. The new keys of every track are built first (on the
// worker for the live reloads); only then are they swapped in, so a frame sees all old keys or
// all new ones. Old keys go back to the worker to be freed. Outcomes carry their console lines
// (information or problems); nothing is printed here.
#include "authoring/dev/track_reloader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include "base/files/file_utils.h"
#include "host/sync/sync_device.h"
#include "host/sync/track_file.h"
#include "host/sync/track_source.h"

namespace {

// Problems listed one per line before the summary; the rest are counted.
constexpr int kMaxReportedProblems = 25;
// Tracks named in the one line of a burst of track files; the rest are counted.
constexpr size_t kMaxNamedTracks = 8;

bool read_whole(const std::string& path, std::string& out) {
    std::string reason;
    return read_whole_file(path, out, reason);
}

cReloadOutcome failed(const std::string& path, const std::string& message) { return {false, path, message}; }

// A problem's text as the console and the read-out may show it: the source's own words can
// hold control bytes (a terminal's escape sequences), which are shown as \xHH instead.
std::string shown(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

bool same_keys(const cSyncTrack& track, const cSyncKey* keys, size_t count) {
    if (!track.keys || static_cast<size_t>(track.key_count) != count) return false;
    for (size_t i = 0; i < count; ++i) {
        const cSyncKey& a = track.keys[i];
        if (a.row != keys[i].row || a.interpolation != keys[i].interpolation ||
            std::memcmp(&a.value, &keys[i].value, sizeof a.value) != 0) {
            return false;
        }
    }
    return true;
}

// A source with problems: each told with its line and column (the first few), the read-out
// gets the first.
cReloadOutcome problems_outcome(const std::vector<cSourceProblem>& problems, const std::string& label) {
    const cSourceProblem& first = problems.front();
    auto where = [&](const cSourceProblem& p) {
        return std::to_string(p.line) + ":" + std::to_string(p.column) + ": " + shown(p.message);
    };
    cReloadOutcome outcome = failed(kSyncSourcePath, "line " + where(first));
    const int count = static_cast<int>(problems.size());
    if (count == 1) {
        // A source cut short (a writer that stopped half-way) has one problem: one line.
        outcome.problem("## ERROR: " + label + ":" + where(first) + "; every track keeps its keys");
        return outcome;
    }
    for (int i = 0; i < count && i < kMaxReportedProblems; ++i) {
        outcome.problem("## ERROR: " + label + ":" + where(problems[static_cast<size_t>(i)]));
    }
    if (count > kMaxReportedProblems) {
        outcome.problem("## ... and " + std::to_string(count - kMaxReportedProblems) + " more");
    }
    outcome.problem("## ERROR: " + std::to_string(count) + " problems in \"" + label + "\"; every track keeps its keys");
    return outcome;
}

// A track that took the keys of its file.
struct cTakenTrack {
    std::string name, path;
    size_t count = 0;
};

// Track files taken: one by name and path, several in one line.
cReloadOutcome track_files_outcome(const std::vector<cTakenTrack>& taken) {
    if (taken.size() == 1) {
        const cTakenTrack& file = taken.front();
        const std::string keys = std::to_string(file.count) + " keys";
        return cReloadOutcome{true, file.path, "reloaded track " + file.name + " (" + keys + ")"}.info(
            "# note: reloaded track \"" + file.name + "\" from \"" + file.path + "\" (" + keys + ")");
    }
    std::string names;
    for (size_t i = 0; i < taken.size() && i < kMaxNamedTracks; ++i) {
        names += (i == 0 ? "\"" : ", \"") + taken[i].name + "\"";
    }
    if (taken.size() > kMaxNamedTracks) names += " and " + std::to_string(taken.size() - kMaxNamedTracks) + " more";
    const std::string message = "reloaded " + std::to_string(taken.size()) + " tracks from their files";
    return cReloadOutcome{true, kSyncBasePath, message}.info("# note: " + message + ": " + names);
}

// The keys in an array of their own (one spare, as the store's arrays have), or null without
// memory for it.
std::unique_ptr<cSyncKey[]> copy_keys(const std::vector<cSyncKey>& keys) {
    std::unique_ptr<cSyncKey[]> copy(new (std::nothrow) cSyncKey[keys.size() + 1]);
    if (copy) std::copy(keys.begin(), keys.end(), copy.get());
    return copy;
}

}  // namespace

// ---- what goes to the worker and what comes back ----

struct cTrackReloader::cJob {
    enum kind_t { tool_text, source_file, track_files };
    kind_t kind = tool_text;
    uint64_t serial = 0;
    std::string text;                // tool_text: the source
    std::string label;               // sources: how reports name it
    cFileStamp stamp;                // source_file: what it was when it settled
    bool force = false;              // source_file: parse it even when it is the text parsed last
    std::vector<std::string> paths;  // track_files
};

struct cTrackReloader::cPrepared {
    struct cNewKeys {
        std::string name;
        std::unique_ptr<cSyncKey[]> keys;
        int32_t count = 0;
    };
    struct cTrackFile {
        std::string path, name, error;
        std::unique_ptr<cSyncKey[]> keys;
        size_t count = 0;
    };
    cJob::kind_t kind = cJob::tool_text;
    uint64_t serial = 0;
    std::string label;
    // A source file that changed again while it was read: a newer write is on its way.
    bool superseded = false;
    bool unreadable = false;
    std::string error;               // besides the problems: out of memory
    uint64_t same_as = 0;            // the file holds the text of this earlier job
    std::vector<cSourceProblem> problems;
    std::vector<cNewKeys> tracks;
    size_t key_total = 0;
    std::string text;                // the source, for the tools
    std::vector<cTrackFile> files;
};

// What the worker uses: its own copy of the source's path, the jobs and their results under the
// lock, and the text it parsed last. Whoever of the reloader and the worker goes last frees it.
struct cTrackReloader::cShared {
    explicit cShared(std::string path) : source_path_(std::move(path)) {}

    void work();
    cPrepared prepare(cJob& job);
    void prepare_source(cJob& job, cPrepared& out);

    const std::string source_path_;

    // ---- under lock_ ----
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<cJob> queue_;
    std::vector<cPrepared> done_;
    std::vector<std::unique_ptr<cSyncKey[]>> to_free_;
    bool working_ = false;
    bool stop_ = false;

    // ---- worker thread ----
    uint64_t parsed_serial_ = 0;  // the last source parsed without problems and handed over
    std::shared_ptr<const std::string> parsed_text_;
};

cTrackReloader::cTrackReloader(cSyncDevice& sync, std::string source_path, double stable_seconds)
    : sync_(sync),
      source_path_(std::move(source_path)),
      stable_seconds_(stable_seconds),
      shared_(std::make_shared<cShared>(source_path_)) {
    worker_ = std::thread([shared = shared_] { shared->work(); });
}

cTrackReloader::~cTrackReloader() {
    bool busy = false;
    {
        std::lock_guard<std::mutex> guard(shared_->lock_);
        shared_->stop_ = true;
        shared_->queue_.clear();
        busy = shared_->working_;
    }
    shared_->wake_.notify_all();
    // A huge source being parsed would hold the show's end for seconds: the worker finishes it
    // on the state it shares, and touches nothing else.
    if (busy) {
        worker_.detach();
    } else {
        worker_.join();
    }
}

// ---- the main loop's side ----

bool cTrackReloader::takes(const std::string& path) const {
    if (path == source_path_) return true;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t prefix = std::strlen(kSyncTrackPrefix), suffix = std::strlen(kSyncTrackSuffix);
    return folder == kSyncBasePath && name.size() > prefix + suffix && name.rfind(kSyncTrackPrefix, 0) == 0 &&
           name.ends_with(kSyncTrackSuffix);
}

std::vector<cReloadOutcome> cTrackReloader::files_changed(const std::vector<cFileChange>& changes, double now) {
    std::vector<cReloadOutcome> outcomes;
    std::vector<std::string> track_files;
    for (const cFileChange& change : changes) {
        if (change.kind == cFileChange::removed) {
            if (std::optional<cReloadOutcome> outcome = removed(change.path)) outcomes.push_back(std::move(*outcome));
        } else if (change.path == source_path_) {
            source_written(now);
        } else {
            track_files.push_back(change.path);
        }
    }
    track_files_written(std::move(track_files));
    return outcomes;
}

void cTrackReloader::submit(cJob job) {
    job.serial = next_serial_++;
    {
        std::lock_guard<std::mutex> guard(shared_->lock_);
        std::vector<cJob>& queue = shared_->queue_;
        if (job.kind == cJob::track_files) {
            if (!queue.empty() && queue.back().kind == cJob::track_files) {
                for (std::string& path : job.paths) {
                    std::vector<std::string>& waiting = queue.back().paths;
                    if (std::find(waiting.begin(), waiting.end(), path) == waiting.end()) waiting.push_back(std::move(path));
                }
                return;
            }
        } else {
            // A newer source makes a waiting one pointless.
            std::erase_if(queue, [](const cJob& waiting) { return waiting.kind != cJob::track_files; });
        }
        queue.push_back(std::move(job));
    }
    shared_->wake_.notify_one();
}

void cTrackReloader::submit_text(std::string text, std::string label) {
    cJob job;
    job.kind = cJob::tool_text;
    job.text = std::move(text);
    job.label = std::move(label);
    submit(std::move(job));
}

void cTrackReloader::source_written(double now) {
    source_pending_ = true;
    source_stamp_ = regular_file_stamp(source_path_);
    source_checked_at_ = now;
}

void cTrackReloader::track_files_written(std::vector<std::string> paths) {
    if (paths.empty()) return;
    cJob job;
    job.kind = cJob::track_files;
    job.paths = std::move(paths);
    submit(std::move(job));
}

bool cTrackReloader::busy() const {
    std::lock_guard<std::mutex> guard(shared_->lock_);
    return shared_->working_ || !shared_->queue_.empty() || !shared_->done_.empty();
}

std::vector<cTrackUpdate> cTrackReloader::poll(double now) {
    if (source_pending_ && now - source_checked_at_ >= stable_seconds_) {
        const cFileStamp stamp = regular_file_stamp(source_path_);
        if (!stamp.exists) {
            source_pending_ = false;  // gone again; its removal is told on its own
        } else if (!same_size_and_mtime(stamp, source_stamp_)) {
            source_stamp_ = stamp;  // still being written: wait on
            source_checked_at_ = now;
        } else {
            source_pending_ = false;
            cJob job;
            job.kind = cJob::source_file;
            job.label = source_path_;
            job.stamp = stamp;
            submit(std::move(job));
        }
    }
    std::vector<cPrepared> done;
    {
        std::lock_guard<std::mutex> guard(shared_->lock_);
        done.swap(shared_->done_);
    }
    std::vector<cTrackUpdate> updates;
    for (cPrepared& prepared : done) apply(prepared, updates);
    if (!garbage_.empty()) {
        {
            std::lock_guard<std::mutex> guard(shared_->lock_);
            for (auto& keys : garbage_) shared_->to_free_.push_back(std::move(keys));
        }
        garbage_.clear();
        shared_->wake_.notify_one();
    }
    return updates;
}

void cTrackReloader::discard(std::unique_ptr<cSyncKey[]> keys) {
    if (keys) garbage_.push_back(std::move(keys));
}

void cTrackReloader::apply(cPrepared& prepared, std::vector<cTrackUpdate>& updates) {
    if (prepared.kind == cJob::track_files) {
        apply_track_files(prepared, updates);
        return;
    }
    if (prepared.superseded) return;
    const std::string path = kSyncSourcePath;
    if (prepared.unreadable) {
        updates.push_back({failed(path, "cannot be read; every track keeps its keys")
                               .problem("# WARNING: cannot read \"" + prepared.label + "\"; every track keeps its keys"),
                           false, ""});
        return;
    }
    if (!prepared.error.empty()) {
        updates.push_back({failed(path, prepared.error)
                               .problem("## ERROR: \"" + prepared.label + "\" was not taken: " + prepared.error +
                                        "; every track keeps its keys"),
                           false, ""});
        return;
    }
    if (prepared.same_as != 0) {
        if (prepared.same_as == applied_serial_) {
            updates.push_back({{true, path, ""}, true, std::move(prepared.text)});
            return;
        }
        // The text parsed last is not the one in effect (a track file changed a track since):
        // the file's text is taken in full after all.
        cJob job;
        job.kind = cJob::source_file;
        job.label = prepared.label;
        job.stamp = regular_file_stamp(source_path_);
        job.force = true;
        submit(std::move(job));
        return;
    }
    updates.push_back(apply_source_keys(prepared));
}

cTrackUpdate cTrackReloader::apply_source_keys(cPrepared& prepared) {
    const std::string path = kSyncSourcePath;
    const std::string& label = prepared.label;
    if (!prepared.problems.empty()) return {problems_outcome(prepared.problems, label), false, ""};
    std::vector<cSyncTrack*> tracks;
    for (const cPrepared::cNewKeys& source : prepared.tracks) {
        cSyncTrack* track = sync_.track(source.name.c_str());
        if (!track) return {failed(path, "the show has no track store"), false, ""};
        tracks.push_back(track);
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        std::swap(tracks[i]->keys, prepared.tracks[i].keys);
        tracks[i]->key_count = prepared.tracks[i].count;
        discard(std::move(prepared.tracks[i].keys));
    }
    applied_serial_ = prepared.serial;
    const std::string counts =
        std::to_string(prepared.tracks.size()) + " tracks, " + std::to_string(prepared.key_total) + " keys";
    cReloadOutcome outcome{true, path, "reloaded: " + counts};
    outcome.info("# note: reloaded \"" + label + "\": " + counts);
    return {std::move(outcome), true, std::move(prepared.text)};
}

void cTrackReloader::apply_track_files(cPrepared& prepared, std::vector<cTrackUpdate>& updates) {
    if (!prepared.error.empty()) {
        updates.push_back({failed(kSyncBasePath, prepared.error)
                               .problem("# WARNING: the written track files were not read: " + prepared.error +
                                        "; every track keeps its keys"),
                           false, ""});
        return;
    }
    std::vector<cTakenTrack> reloaded;
    size_t failures = 0;
    for (cPrepared::cTrackFile& file : prepared.files) {
        cSyncTrack* track = sync_.registered_track(file.name.c_str());
        if (!track) continue;  // read on its first use anyway
        if (!file.error.empty()) {
            if (++failures <= static_cast<size_t>(dev_config::kMaxReportedFailures)) {
                updates.push_back({failed(file.path, file.error)
                                       .problem("# WARNING: \"" + file.path + "\": " + file.error + "; track \"" +
                                                file.name + "\" keeps its keys"),
                                   false, ""});
            }
            continue;
        }
        if (same_keys(*track, file.keys.get(), file.count)) continue;
        std::swap(track->keys, file.keys);
        track->key_count = static_cast<int32_t>(file.count);
        discard(std::move(file.keys));
        // The source in effect no longer says what every track it names holds.
        applied_serial_ = 0;
        reloaded.push_back({file.name, file.path, file.count});
    }
    const size_t untold = failures > static_cast<size_t>(dev_config::kMaxReportedFailures)
                              ? failures - static_cast<size_t>(dev_config::kMaxReportedFailures)
                              : 0;
    // Told after the last failure told, before what was taken.
    if (untold > 0) {
        const std::string more = std::to_string(untold) + " more track files were not taken";
        updates.back().outcome.problem("# WARNING: ... and " + more);
    }
    if (!reloaded.empty()) updates.push_back({track_files_outcome(reloaded), false, ""});
}

// ---- at once ----

cReloadOutcome cTrackReloader::apply_source(const std::string& text, const std::string& label) {
    cJob job;
    job.kind = cJob::tool_text;
    job.text = text;
    job.label = label;
    cPrepared prepared;
    prepared.kind = job.kind;
    prepared.label = label;
    shared_->prepare_source(job, prepared);
    std::vector<cTrackUpdate> updates;
    apply(prepared, updates);
    // Not a job of the worker's: a file holding the text the worker parsed last is taken anew.
    if (updates.front().outcome.ok) applied_serial_ = 0;
    return updates.front().outcome;
}

cReloadOutcome cTrackReloader::reload_track_file(const std::string& path) {
    cJob job;
    job.kind = cJob::track_files;
    job.paths = {path};
    cPrepared prepared = shared_->prepare(job);
    std::vector<cTrackUpdate> updates;
    apply_track_files(prepared, updates);
    if (updates.empty()) return {true, path, ""};
    return updates.front().outcome;
}

std::optional<cReloadOutcome> cTrackReloader::removed(const std::string& path) {
    if (path == source_path_ || path == kSyncSourcePath) {
        source_pending_ = false;
        return cReloadOutcome{false, path, "removed; every track keeps its keys"}.problem(
            "# WARNING: \"" + path + "\" was removed; every track keeps its keys");
    }
    const std::string name = track_name_of_file(path);
    if (!sync_.registered_track(name.c_str())) return std::nullopt;
    return cReloadOutcome{false, path, "removed; the track keeps its keys"}.problem(
        "# WARNING: \"" + path + "\" was removed; track \"" + name + "\" keeps its keys");
}

void cTrackReloader::preview(std::vector<cDevTrackKeys>& tracks) {
    for (cDevTrackKeys& wanted : tracks) {
        cSyncTrack* track = sync_.track(wanted.name.c_str());
        std::unique_ptr<cSyncKey[]> keys = copy_keys(wanted.keys);
        if (!track || !keys) continue;  // no store, or no memory: the track keeps its keys
        std::swap(track->keys, keys);
        track->key_count = static_cast<int32_t>(wanted.keys.size());
        discard(std::move(keys));
        // The source in effect no longer says what this track holds.
        applied_serial_ = 0;
    }
}

// ---- the worker ----

void cTrackReloader::cShared::work() {
    // Raising one's own niceness needs no privilege; where it fails the worker runs as it is.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), dev_config::kTrackWorkerNice);
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty() || !to_free_.empty(); });
        if (stop_) return;
        std::vector<std::unique_ptr<cSyncKey[]>> freed;
        freed.swap(to_free_);
        if (queue_.empty()) {
            lock.unlock();
            freed.clear();
            lock.lock();
            continue;
        }
        cJob job = std::move(queue_.front());
        queue_.erase(queue_.begin());
        working_ = true;
        lock.unlock();
        freed.clear();
        cPrepared prepared = prepare(job);
        const bool source = job.kind != cJob::track_files;
        std::shared_ptr<const std::string> parsed;
        if (source && !prepared.tracks.empty()) parsed = std::make_shared<const std::string>(prepared.text);
        lock.lock();
        working_ = false;
        const bool newer_source = std::any_of(queue_.begin(), queue_.end(),
                                              [](const cJob& waiting) { return waiting.kind != cJob::track_files; });
        if (source && newer_source) {
            // It would be replaced at once: dropped (and freed) here.
            lock.unlock();
            { const cPrepared dropped = std::move(prepared); }
            parsed.reset();
            lock.lock();
            continue;
        }
        if (parsed) {
            parsed_serial_ = job.serial;
            parsed_text_ = std::move(parsed);
        }
        done_.push_back(std::move(prepared));
    }
}

cTrackReloader::cPrepared cTrackReloader::cShared::prepare(cJob& job) {
    cPrepared prepared;
    prepared.kind = job.kind;
    prepared.serial = job.serial;
    prepared.label = job.label;
    try {
        if (job.kind == cJob::track_files) {
            for (const std::string& path : job.paths) {
                cPrepared::cTrackFile file;
                file.path = path;
                file.name = track_name_of_file(path);
                std::string bytes;
                std::vector<cSyncKey> keys;
                if (!read_whole(path, bytes)) {
                    file.error = "it cannot be read";
                } else if (!decode_track(bytes, keys, file.error)) {
                    file.error = "it is not a whole track file: " + file.error;
                } else if (!(file.keys = copy_keys(keys))) {
                    file.error = "out of memory";
                } else {
                    file.count = keys.size();
                }
                prepared.files.push_back(std::move(file));
            }
        } else {
            prepare_source(job, prepared);
        }
    } catch (const std::exception& e) {
        // Nothing may leave the worker: the show goes on with the keys it has.
        prepared.error = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what();
        prepared.tracks.clear();
        prepared.files.clear();
    }
    return prepared;
}

void cTrackReloader::cShared::prepare_source(cJob& job, cPrepared& out) {
    if (job.kind == cJob::source_file) {
        if (!read_whole(source_path_, out.text)) {
            out.unreadable = true;
            return;
        }
        const cFileStamp now = regular_file_stamp(source_path_);
        if (!same_size_and_mtime(now, job.stamp) || static_cast<size_t>(now.size) != out.text.size()) {
            out.superseded = true;  // written again meanwhile: that write is taken in turn
            return;
        }
        // Same as the text parsed last: whether that is still in effect is the main loop's to
        // say.
        if (!job.force && parsed_text_ && *parsed_text_ == out.text) {
            out.same_as = parsed_serial_;
            return;
        }
    } else {
        out.text = std::move(job.text);
    }
    const cParsedSource parsed = parse_track_source(out.text);
    if (!parsed.ok()) {
        out.problems = parsed.problems;
        return;
    }
    for (const cSourceTrack& source : parsed.tracks) {
        std::unique_ptr<cSyncKey[]> keys = copy_keys(source.keys);
        if (!keys) {
            out.error = "out of memory";
            out.tracks.clear();
            return;
        }
        out.tracks.push_back({source.name, std::move(keys), static_cast<int32_t>(source.keys.size())});
        out.key_total += source.keys.size();
    }
}
