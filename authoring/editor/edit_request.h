// An edit as the page sends it (JSON) turned into the new source text: checks the request's
// shape, names, rows and values, then asks source_document for the text. Whether that text is
// a good source is the track compiler's decision, made by the caller. Never touches files.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/sync/track_source.h"

// Rows a key may be put on: from the start of the music to its end.
struct cEditLimits {
    int32_t first_row = 0;
    int32_t last_row = 0;
};

struct cEditPlan {
    int status = 200;     // 400: not an edit request; 422: it names what is not there or is out of range
    std::string error;
    std::string label;    // what the history calls it ("move 3 keys on kick")
    std::string text;     // the new source when status is 200
    std::vector<std::string> tracks;  // the tracks whose keys change (key edits only)
};

// edit: {"op": "move" | "add" | "paste" | "duplicate" | "delete" | "cut" | "interpolation" |
// "add_track" | "rename_track" | "delete_track" | "move_track", ...} (the fields of each op are
// listed in edit_request.cpp). parsed must be the problem-free
// parse of text.
cEditPlan plan_edit(const nlohmann::json& edit, std::string_view text, const cParsedSource& parsed,
                    const cEditLimits& limits);
