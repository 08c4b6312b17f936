// The show's time line as the editor draws it: the musical grid, the sections of the music
// (from the timeline file the music generator writes beside the music), the show's end (as the
// player tells it) and the last row a key may be put on. Reads one small JSON file; never writes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct cShowSection {
    std::string name;
    int32_t start_row = 0;
    int32_t end_row = 0;
};

struct cShowTimeline {
    double beats_per_minute = 0;
    int rows_per_beat = 0;
    int beats_per_bar = 0;
    int64_t show_end_ms = 0;
    int32_t last_row = 0;                 // the end of the music; the show's end without a timeline file
    std::vector<cShowSection> sections;   // empty without a timeline file
    std::string note;                     // why there are no sections, when there are none
};

cShowTimeline load_show_timeline(const std::string& show_dir, int64_t show_end_ms);

nlohmann::json timeline_json(const cShowTimeline& timeline);
