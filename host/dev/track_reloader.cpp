// Track reloads over the sync device. The new keys of every track are built first; only then
// are they swapped in, so a frame sees all old keys or all new ones. Information to standard
// output, problems to standard error.
#include "host/dev/track_reloader.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "host/sync/sync_config.h"
#include "host/sync/sync_device.h"
#include "host/sync/track_file.h"
#include "host/sync/track_source.h"

namespace {

// Problems listed one per line before the summary; the rest are counted.
constexpr int kMaxReportedProblems = 25;

bool read_whole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

cReloadOutcome failed(const std::string& path, const std::string& message) { return {false, path, message}; }

bool same_keys(const cSyncTrack& track, const std::vector<cSyncKey>& keys) {
    if (!track.keys || static_cast<size_t>(track.key_count) != keys.size()) return false;
    for (size_t i = 0; i < keys.size(); ++i) {
        const cSyncKey& a = track.keys[i];
        if (a.row != keys[i].row || a.interpolation != keys[i].interpolation ||
            std::memcmp(&a.value, &keys[i].value, sizeof a.value) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

cReloadOutcome cTrackReloader::apply_source(const std::string& text, const std::string& label) {
    const std::string path = kSyncSourcePath;
    const cParsedSource parsed = parse_track_source(text);
    if (!parsed.ok()) {
        int shown = 0;
        for (const cSourceProblem& p : parsed.problems) {
            if (shown++ == kMaxReportedProblems) break;
            std::cerr << "## ERROR: " << label << ":" << p.line << ":" << p.column << ": " << p.message << std::endl;
        }
        const int count = static_cast<int>(parsed.problems.size());
        if (count > kMaxReportedProblems) std::cerr << "## ... and " << count - kMaxReportedProblems << " more" << std::endl;
        std::cerr << "## ERROR: " << count << (count == 1 ? " problem" : " problems") << " in \"" << label
                  << "\"; every track keeps its keys" << std::endl;
        const cSourceProblem& first = parsed.problems.front();
        return failed(path, "line " + std::to_string(first.line) + ":" + std::to_string(first.column) + ": " + first.message);
    }
    struct cNewKeys {
        cSyncTrack* track;
        std::unique_ptr<cSyncKey[]> keys;
        int32_t count;
    };
    std::vector<cNewKeys> replacements;
    size_t key_total = 0;
    for (const cSourceTrack& source : parsed.tracks) {
        cSyncTrack* track = sync_.track(source.name.c_str());
        if (!track) return failed(path, "the show has no track store");
        std::unique_ptr<cSyncKey[]> keys(new (std::nothrow) cSyncKey[source.keys.size() + 1]);
        if (!keys) return failed(path, "out of memory");
        for (size_t i = 0; i < source.keys.size(); ++i) keys[i] = source.keys[i];
        replacements.push_back({track, std::move(keys), static_cast<int32_t>(source.keys.size())});
        key_total += source.keys.size();
    }
    for (cNewKeys& replacement : replacements) {
        replacement.track->keys = std::move(replacement.keys);
        replacement.track->key_count = replacement.count;
    }
    applied_source_ = text;
    std::cout << "# note: reloaded \"" << label << "\": " << parsed.tracks.size() << " tracks, " << key_total << " keys"
              << std::endl;
    return {true, path, "reloaded: " + std::to_string(parsed.tracks.size()) + " tracks, " + std::to_string(key_total) + " keys"};
}

cReloadOutcome cTrackReloader::reload_source_file(std::string& text) {
    const std::string path = kSyncSourcePath;
    if (!read_whole(path, text)) {
        std::cerr << "# WARNING: cannot read \"" << path << "\"; every track keeps its keys" << std::endl;
        return failed(path, "cannot be read; every track keeps its keys");
    }
    if (!applied_source_.empty() && text == applied_source_) return {true, path, ""};
    return apply_source(text, path);
}

cReloadOutcome cTrackReloader::reload_track_file(const std::string& path) {
    const std::string name = track_name_of_file(path);
    cSyncTrack* track = sync_.registered_track(name.c_str());
    if (!track) return {true, path, ""};
    std::string bytes, error;
    std::vector<cSyncKey> keys;
    if (!read_whole(path, bytes)) {
        error = "it cannot be read";
    } else if (!decode_track(bytes, keys, error)) {
        error = "it is not a whole track file: " + error;
    }
    if (!error.empty()) {
        std::cerr << "# WARNING: \"" << path << "\": " << error << "; track \"" << name << "\" keeps its keys" << std::endl;
        return failed(path, error);
    }
    if (same_keys(*track, keys)) return {true, path, ""};
    std::unique_ptr<cSyncKey[]> copy(new (std::nothrow) cSyncKey[keys.size() + 1]);
    if (!copy) return failed(path, "out of memory");
    for (size_t i = 0; i < keys.size(); ++i) copy[i] = keys[i];
    track->keys = std::move(copy);
    track->key_count = static_cast<int32_t>(keys.size());
    applied_source_.clear();
    std::cout << "# note: reloaded track \"" << name << "\" from \"" << path << "\" (" << keys.size() << " keys)"
              << std::endl;
    return {true, path, "reloaded track " + name + " (" + std::to_string(keys.size()) + " keys)"};
}

std::optional<cReloadOutcome> cTrackReloader::removed(const std::string& path) {
    if (path == kSyncSourcePath) {
        std::cerr << "# WARNING: \"" << path << "\" was removed; every track keeps its keys" << std::endl;
        return cReloadOutcome{false, path, "removed; every track keeps its keys"};
    }
    const std::string name = track_name_of_file(path);
    if (!sync_.registered_track(name.c_str())) return std::nullopt;
    std::cerr << "# WARNING: \"" << path << "\" was removed; track \"" << name << "\" keeps its keys" << std::endl;
    return cReloadOutcome{false, path, "removed; the track keeps its keys"};
}
