// Track source text to ".track" files. Depends on the source parser and the all-or-nothing
// file writer; never writes a file unless the whole source is good.
#include "host/sync/track_compile.h"

#include <cstring>
#include <filesystem>
#include <set>

#include "host/sync/sync_config.h"

cCompileOutcome compile_track_text(std::string_view text, const std::string& directory) {
    cCompileOutcome outcome;
    outcome.parsed = parse_track_source(text);
    if (!outcome.parsed.ok()) return outcome;
    for (const cSourceTrack& track : outcome.parsed.tracks) outcome.keys += track.keys.size();
    outcome.write = write_compiled_tracks(outcome.parsed, directory);
    return outcome;
}

cWriteOutcome write_compiled_tracks(const cParsedSource& parsed, const std::string& directory) {
    std::vector<cTrackFileWrite> files;
    files.reserve(parsed.tracks.size());
    for (const cSourceTrack& track : parsed.tracks) files.push_back({track_file_name(track.name), encode_track(track.keys)});
    return write_track_files(directory, files);
}

std::vector<std::string> stray_track_files(const std::string& directory, const std::vector<cSourceTrack>& tracks) {
    std::set<std::string> expected;
    for (const cSourceTrack& track : tracks) expected.insert(track_file_name(track.name));
    std::error_code ec;
    std::set<std::string> stray;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
        std::string name = entry.path().filename().string();
        bool is_track = name.size() > std::strlen(kSyncTrackSuffix) + 1 && name.rfind(kSyncTrackPrefix, 0) == 0 &&
                        name.ends_with(kSyncTrackSuffix);
        if (is_track && !expected.count(name)) stray.insert(name);
    }
    return {stray.begin(), stray.end()};
}
