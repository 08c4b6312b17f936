// Track source text to ".track" files. Depends on the source parser and the all-or-nothing
// file writer; never writes a file unless the whole source is good.
#include "host/sync/track_compile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "base/files/file_utils.h"
#include "base/files/sibling_temp.h"
#include "host/sync/track_file.h"

namespace {

// Temporaries of the writers of this folder: the track files', the source's and its backup's,
// and the second name an earlier editor gave the source while it made its backup.
bool is_stale_temporary(const std::string& name, const std::string& source_name) {
    std::string target;
    if (name == source_name + ".bak.partial") return true;
    if (!sibling_temp_target(name, target)) return false;
    return is_track_file_name(target) || target == source_name || target == source_name + ".bak";
}

}  // namespace

cCompileOutcome compile_track_text(std::string_view text, const std::string& directory) {
    cCompileOutcome outcome;
    outcome.parsed = parse_track_source(text);
    if (!outcome.parsed.ok()) return outcome;
    for (const cSourceTrack& track : outcome.parsed.tracks) outcome.keys += track.keys.size();
    outcome.write = write_compiled_tracks(outcome.parsed, directory);
    return outcome;
}

std::vector<cTrackFileWrite> compiled_track_files(const cParsedSource& parsed) {
    std::vector<cTrackFileWrite> files;
    files.reserve(parsed.tracks.size());
    for (const cSourceTrack& track : parsed.tracks) files.push_back({track_file_name(track.name), encode_track(track.keys)});
    return files;
}

cWriteOutcome write_compiled_tracks(const cParsedSource& parsed, const std::string& directory) {
    return write_track_files(directory, compiled_track_files(parsed));
}

cTrackFolderRepair repair_track_folder(const std::string& source_path, const std::string& directory) {
    cTrackFolderRepair repair;
    const std::string source_name = std::filesystem::path(source_path).filename().string();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
        std::string name = entry.path().filename().string();
        struct stat info {};
        if (!is_stale_temporary(name, source_name) || ::lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        if (::unlink(entry.path().c_str()) == 0) repair.removed.push_back(name);
    }
    std::sort(repair.removed.begin(), repair.removed.end());

    std::string text, reason;
    if (!read_whole_file(source_path, text, reason)) {
        repair.read_error = "cannot read \"" + source_path + "\": " + reason;
        return repair;
    }
    repair.parsed = parse_track_source(text);
    if (repair.parsed.ok()) repair.write = write_compiled_tracks(repair.parsed, directory);
    return repair;
}

std::vector<std::string> stray_track_files(const std::string& directory, const std::vector<cSourceTrack>& tracks) {
    std::set<std::string> expected;
    for (const cSourceTrack& track : tracks) expected.insert(track_file_name(track.name));
    std::error_code ec;
    std::set<std::string> stray;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
        std::string name = entry.path().filename().string();
        if (is_track_file_name(name) && !expected.count(name)) stray.insert(name);
    }
    return {stray.begin(), stray.end()};
}
