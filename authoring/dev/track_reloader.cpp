// Track reloads over the sync device. The new keys of every track are built first (on the
// worker for the live reloads); only then are they swapped in, so a frame sees all old keys or
// all new ones. Old keys go back to the worker to be freed. Information to standard output,
// problems to standard error, always from the main thread.
#include "authoring/dev/track_reloader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
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

cTrackReloader::cTrackReloader(cSyncDevice& sync, std::string source_path, double stable_seconds)
    : sync_(sync), source_path_(std::move(source_path)), stable_seconds_(stable_seconds) {
    worker_ = std::thread([this] { work(); });
}

cTrackReloader::~cTrackReloader() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

// ---- the main loop's side ----

void cTrackReloader::submit(cJob job) {
    job.serial = next_serial_++;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (job.kind == cJob::track_files) {
            if (!queue_.empty() && queue_.back().kind == cJob::track_files) {
                for (std::string& path : job.paths) {
                    std::vector<std::string>& waiting = queue_.back().paths;
                    if (std::find(waiting.begin(), waiting.end(), path) == waiting.end()) waiting.push_back(std::move(path));
                }
                return;
            }
        } else {
            // A newer source makes a waiting one pointless.
            std::erase_if(queue_, [](const cJob& waiting) { return waiting.kind != cJob::track_files; });
        }
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
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
    std::lock_guard<std::mutex> guard(lock_);
    return working_ || !queue_.empty() || !done_.empty();
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
        std::lock_guard<std::mutex> guard(lock_);
        done.swap(done_);
    }
    std::vector<cTrackUpdate> updates;
    for (cPrepared& prepared : done) apply(prepared, updates);
    if (!garbage_.empty()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (auto& keys : garbage_) to_free_.push_back(std::move(keys));
        }
        garbage_.clear();
        wake_.notify_one();
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
        std::cerr << "# WARNING: cannot read \"" << prepared.label << "\"; every track keeps its keys" << std::endl;
        updates.push_back({failed(path, "cannot be read; every track keeps its keys"), false, ""});
        return;
    }
    if (!prepared.error.empty()) {
        std::cerr << "## ERROR: \"" << prepared.label << "\" was not taken: " << prepared.error
                  << "; every track keeps its keys" << std::endl;
        updates.push_back({failed(path, prepared.error), false, ""});
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
    if (!prepared.problems.empty()) {
        const std::vector<cSourceProblem>& problems = prepared.problems;
        const cSourceProblem& first = problems.front();
        const int count = static_cast<int>(problems.size());
        if (count == 1) {
            // A source cut short (a writer that stopped half-way) has one problem: one line.
            std::cerr << "## ERROR: " << label << ":" << first.line << ":" << first.column << ": "
                      << shown(first.message) << "; every track keeps its keys" << std::endl;
        } else {
            for (int i = 0; i < count && i < kMaxReportedProblems; ++i) {
                const cSourceProblem& p = problems[static_cast<size_t>(i)];
                std::cerr << "## ERROR: " << label << ":" << p.line << ":" << p.column << ": " << shown(p.message)
                          << std::endl;
            }
            if (count > kMaxReportedProblems) std::cerr << "## ... and " << count - kMaxReportedProblems << " more" << std::endl;
            std::cerr << "## ERROR: " << count << " problems in \"" << label << "\"; every track keeps its keys"
                      << std::endl;
        }
        return {failed(path, "line " + std::to_string(first.line) + ":" + std::to_string(first.column) + ": " +
                                 shown(first.message)),
                false, ""};
    }
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
    std::cout << "# note: reloaded \"" << label << "\": " << counts << std::endl;
    return {{true, path, "reloaded: " + counts}, true, std::move(prepared.text)};
}

void cTrackReloader::apply_track_files(cPrepared& prepared, std::vector<cTrackUpdate>& updates) {
    if (!prepared.error.empty()) {
        std::cerr << "# WARNING: the written track files were not read: " << prepared.error
                  << "; every track keeps its keys" << std::endl;
        updates.push_back({failed(kSyncBasePath, prepared.error), false, ""});
        return;
    }
    std::vector<const cPrepared::cTrackFile*> reloaded;
    size_t failures = 0;
    for (cPrepared::cTrackFile& file : prepared.files) {
        cSyncTrack* track = sync_.registered_track(file.name.c_str());
        if (!track) continue;  // read on its first use anyway
        if (!file.error.empty()) {
            if (++failures <= static_cast<size_t>(dev_config::kMaxReportedFailures)) {
                std::cerr << "# WARNING: \"" << file.path << "\": " << file.error << "; track \"" << file.name
                          << "\" keeps its keys" << std::endl;
                updates.push_back({failed(file.path, file.error), false, ""});
            }
            continue;
        }
        if (same_keys(*track, file.keys.get(), file.count)) continue;
        std::swap(track->keys, file.keys);
        track->key_count = static_cast<int32_t>(file.count);
        discard(std::move(file.keys));
        // The source in effect no longer says what every track it names holds.
        applied_serial_ = 0;
        reloaded.push_back(&file);
    }
    const size_t untold = failures > static_cast<size_t>(dev_config::kMaxReportedFailures)
                              ? failures - static_cast<size_t>(dev_config::kMaxReportedFailures)
                              : 0;
    if (untold > 0) std::cerr << "# WARNING: ... and " << untold << " more track files were not taken" << std::endl;
    if (reloaded.size() == 1) {
        const cPrepared::cTrackFile& file = *reloaded.front();
        std::cout << "# note: reloaded track \"" << file.name << "\" from \"" << file.path << "\" (" << file.count
                  << " keys)" << std::endl;
        updates.push_back({{true, file.path, "reloaded track " + file.name + " (" + std::to_string(file.count) + " keys)"},
                           false, ""});
    } else if (reloaded.size() > 1) {
        std::string names;
        for (size_t i = 0; i < reloaded.size() && i < kMaxNamedTracks; ++i) {
            names += (i == 0 ? "\"" : ", \"") + reloaded[i]->name + "\"";
        }
        if (reloaded.size() > kMaxNamedTracks) names += " and " + std::to_string(reloaded.size() - kMaxNamedTracks) + " more";
        const std::string message = "reloaded " + std::to_string(reloaded.size()) + " tracks from their files";
        std::cout << "# note: " << message << ": " << names << std::endl;
        updates.push_back({{true, kSyncBasePath, message}, false, ""});
    }
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
    prepare_source(job, prepared);
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
    cPrepared prepared = prepare(job);
    std::vector<cTrackUpdate> updates;
    apply_track_files(prepared, updates);
    if (updates.empty()) return {true, path, ""};
    return updates.front().outcome;
}

std::optional<cReloadOutcome> cTrackReloader::removed(const std::string& path) {
    if (path == source_path_ || path == kSyncSourcePath) {
        source_pending_ = false;
        std::cerr << "# WARNING: \"" << path << "\" was removed; every track keeps its keys" << std::endl;
        return cReloadOutcome{false, path, "removed; every track keeps its keys"};
    }
    const std::string name = track_name_of_file(path);
    if (!sync_.registered_track(name.c_str())) return std::nullopt;
    std::cerr << "# WARNING: \"" << path << "\" was removed; track \"" << name << "\" keeps its keys" << std::endl;
    return cReloadOutcome{false, path, "removed; the track keeps its keys"};
}

// ---- the worker ----

void cTrackReloader::work() {
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

cTrackReloader::cPrepared cTrackReloader::prepare(cJob& job) {
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

void cTrackReloader::prepare_source(cJob& job, cPrepared& out) {
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
