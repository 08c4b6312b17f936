// Sections and the music's end from "data/muzak/recut.timeline.json" (written with the music
// by tools/music/make_recut.py), the grid from the sync code's constants, the show's end as given.
// A missing or malformed file leaves the sections empty and says why in the note.
#include "authoring/editor/show_timeline.h"

#include <cmath>
#include <filesystem>

#include "base/files/file_read.h"
#include "authoring/editor/editor_config.h"
#include "host/sync/sync_config.h"

namespace {

int32_t row_of_ms(int64_t ms) {
    constexpr double kRowsPerSecond = kSyncBeatsPerMinute / 60.0 * kSyncRowsPerBeat;
    return static_cast<int32_t>(std::ceil(static_cast<double>(ms) * kRowsPerSecond / 1000.0));
}

}  // namespace

cShowTimeline load_show_timeline(const std::string& show_dir, int64_t show_end_ms) {
    cShowTimeline timeline;
    timeline.beats_per_minute = kSyncBeatsPerMinute;
    timeline.rows_per_beat = kSyncRowsPerBeatInt;
    timeline.beats_per_bar = editor_config::beats_per_bar;
    timeline.show_end_ms = show_end_ms;
    timeline.last_row = row_of_ms(timeline.show_end_ms);

    std::string path = (std::filesystem::path(show_dir) / editor_config::timeline_path).string();
    std::string text;
    if (!read_whole_file(path, text, cReadOptions{}).ok()) {
        timeline.note = "no \"" + std::string(editor_config::timeline_path) + "\": no sections";
        return timeline;
    }
    nlohmann::json data = nlohmann::json::parse(text, nullptr, false);
    const nlohmann::json* sections = data.is_object() && data.contains("sections") ? &data["sections"] : nullptr;
    if (!sections || !sections->is_array()) {
        timeline.note = "\"" + std::string(editor_config::timeline_path) + "\" lists no sections";
        return timeline;
    }
    for (const nlohmann::json& s : *sections) {
        bool good = s.is_object() && s.contains("name") && s["name"].is_string() && s.contains("start_beat") &&
                    s["start_beat"].is_number_integer() && s.contains("end_beat") && s["end_beat"].is_number_integer();
        if (!good) continue;
        int64_t start = s["start_beat"].get<int64_t>(), end = s["end_beat"].get<int64_t>();
        if (start < 0 || end <= start || end > INT32_MAX / kSyncRowsPerBeatInt) continue;
        timeline.sections.push_back({s["name"].get<std::string>(), static_cast<int32_t>(start * kSyncRowsPerBeatInt),
                                     static_cast<int32_t>(end * kSyncRowsPerBeatInt)});
        timeline.last_row = std::max(timeline.last_row, timeline.sections.back().end_row);
    }
    return timeline;
}

nlohmann::json timeline_json(const cShowTimeline& timeline) {
    nlohmann::json sections = nlohmann::json::array();
    for (const cShowSection& s : timeline.sections) {
        sections.push_back({{"name", s.name}, {"start_row", s.start_row}, {"end_row", s.end_row}});
    }
    return {{"beats_per_minute", timeline.beats_per_minute}, {"rows_per_beat", timeline.rows_per_beat},
            {"beats_per_bar", timeline.beats_per_bar},       {"show_end_ms", timeline.show_end_ms},
            {"last_row", timeline.last_row},                 {"sections", sections},
            {"note", timeline.note}};
}
