// The edit requests of the page and their checks. Depends on nlohmann-json, the key text of
// host/sync and source_document. Refuses (never clamps) a row outside the music, a value that
// is not a finite 32-bit float, a key or track the source does not have, and a key put on a
// row that another key keeps (naming that key), so the page can say what is in the way.
//
// Requests (every key names its track and, for an existing key, its row):
//   {"op":"move", "keys":[{"track":"kick","row":96,"to_row":100,"value":0.5}, ...]}   to_row and value optional
//   {"op":"add", "keys":[{"track":"kick","row":98,"value":0.5,"interpolation":"linear"}, ...]}
//   {"op":"paste" | "duplicate", "keys": as for add}   a key on a row that has one replaces it
//   {"op":"delete" | "cut", "keys":[{"track":"kick","row":96}, ...]}
//   {"op":"interpolation", "interpolation":"smooth", "keys":[{"track":"kick","row":96}, ...]}
//   {"op":"add_track", "name":"glow"}
//   {"op":"rename_track", "track":"glow", "to":"glow2"}
//   {"op":"delete_track", "track":"glow"}
//   {"op":"move_track", "track":"glow", "before":"kick"}   before "" (or left out): to the end
#include "authoring/editor/edit_request.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "authoring/editor/source_document.h"
#include "host/sync/track_text.h"

namespace {

using nlohmann::json;

// Reads the fields of one request. The first refusal is kept (status and reason); every
// reader then returns nothing, so callers stop at the first empty result.
class cFieldReader {
public:
    explicit cFieldReader(cEditPlan& plan) : plan_(plan) {}

    bool refuse(int status, std::string text) {
        if (plan_.status == 200) {
            plan_.status = status;
            plan_.error = std::move(text);
        }
        return false;
    }

    const json* field(const json& object, const char* name) {
        auto found = object.find(name);
        if (found != object.end()) return &*found;
        refuse(400, std::string("'") + name + "' is missing");
        return nullptr;
    }

    std::optional<std::string> string(const json& object, const char* name) {
        const json* value = field(object, name);
        if (!value) return std::nullopt;
        if (value->is_string()) return value->get<std::string>();
        refuse(400, std::string("'") + name + "' must be a string");
        return std::nullopt;
    }

    std::optional<int64_t> integer(const json& object, const char* name) {
        const json* value = field(object, name);
        if (!value) return std::nullopt;
        if (value->is_number_unsigned()) {
            uint64_t u = value->get<uint64_t>();
            if (u <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(u);
            refuse(422, std::string("'") + name + "' is out of range");
            return std::nullopt;
        }
        if (value->is_number_integer()) return value->get<int64_t>();
        refuse(400, std::string("'") + name + "' must be a whole number");
        return std::nullopt;
    }

    // A row where a key is put: inside the music.
    std::optional<int32_t> target_row(const json& object, const char* name, const cEditLimits& limits) {
        std::optional<int64_t> row = integer(object, name);
        if (!row) return std::nullopt;
        if (*row >= limits.first_row && *row <= limits.last_row) return static_cast<int32_t>(*row);
        refuse(422, "row " + row_text(*row) + " lies outside the music (rows " + std::to_string(limits.first_row) + " to " +
                        std::to_string(limits.last_row) + ")");
        return std::nullopt;
    }

    // The row of an existing key of track; the key must be there.
    const cSyncKey* existing_key(const json& object, const cParsedSource& parsed, const std::string& track) {
        std::optional<int64_t> row = integer(object, "row");
        if (!row) return nullptr;
        const cSourceTrack* found = nullptr;
        for (const cSourceTrack& t : parsed.tracks) {
            if (t.name == track) found = &t;
        }
        if (!found) {
            refuse(422, "no track '" + track + "'");
            return nullptr;
        }
        auto at = std::lower_bound(found->keys.begin(), found->keys.end(), *row,
                                   [](const cSyncKey& key, int64_t r) { return key.row < r; });
        if (at != found->keys.end() && at->row == *row) return &*at;
        refuse(422, "track '" + track + "' has no key at row " + row_text(*row));
        return nullptr;
    }

    std::optional<float> value(const json& object, const char* name) {
        const json* v = field(object, name);
        if (!v) return std::nullopt;
        if (!v->is_number()) {
            refuse(400, std::string("'") + name + "' must be a number");
            return std::nullopt;
        }
        double d = v->get<double>();
        // Larger magnitudes would round to infinity in the track file's 32-bit float.
        if (std::isfinite(d) && std::fabs(d) <= static_cast<double>(FLT_MAX)) return static_cast<float>(d);
        refuse(422, std::string("'") + name + "' is not a finite 32-bit float");
        return std::nullopt;
    }

    std::optional<int32_t> interpolation(const json& object, const char* name) {
        std::optional<std::string> text = string(object, name);
        if (!text) return std::nullopt;
        if (std::optional<int32_t> code = interpolation_code(*text)) return code;
        refuse(422, "unknown interpolation '" + *text + "' (use step, linear, smooth or quadratic)");
        return std::nullopt;
    }

    const json* key_list(const json& edit) {
        const json* keys = field(edit, "keys");
        if (!keys) return nullptr;
        if (!keys->is_array() || keys->empty()) {
            refuse(400, "'keys' must be a list of at least one key");
            return nullptr;
        }
        for (const json& key : *keys) {
            if (!key.is_object()) {
                refuse(400, "every entry of 'keys' must be an object");
                return nullptr;
            }
        }
        return keys;
    }

private:
    cEditPlan& plan_;

    static std::string row_text(int64_t row) {
        if (row < INT32_MIN || row > INT32_MAX) return std::to_string(row);
        return std::to_string(row) + " (" + format_position(static_cast<int32_t>(row)) + ")";
    }
};

// "3 keys on kick", "1 key on kick and word_t"
std::string keys_label(const std::vector<cKeyEdit>& edits) {
    std::set<std::string> tracks;
    for (const cKeyEdit& e : edits) tracks.insert(e.track);
    std::string names;
    std::size_t i = 0;
    for (const std::string& t : tracks) {
        if (i == 3) {
            names += " and " + std::to_string(tracks.size() - 3) + " more";
            break;
        }
        if (i++) names += i == tracks.size() ? " and " : ", ";
        names += t;
    }
    return std::to_string(edits.size()) + (edits.size() == 1 ? " key on " : " keys on ") + names;
}

// "+1:2", "-0:4": a distance in rows as the source writes positions.
std::string offset_text(int64_t rows) {
    return (rows < 0 ? "-" : "+") + format_position(static_cast<int32_t>(rows < 0 ? -rows : rows));
}

std::string key_text(const std::string& track, int32_t row) { return track + " " + format_position(row); }

bool same_value(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What a move did, in the history's words: "move kick 1:0 to 1:2", "set kick 1:0 to 0.75
// (was 1)", "move 3 keys on kick by +0:2 and set them to 0.75".
std::string move_label(const std::vector<cKeyEdit>& edits, const std::vector<cSyncKey>& olds) {
    std::set<int64_t> offsets;
    std::set<float> values;
    bool any_value = false;
    for (std::size_t i = 0; i < edits.size(); ++i) {
        offsets.insert(static_cast<int64_t>(edits[i].to->row) - olds[i].row);
        values.insert(edits[i].to->value);
        any_value = any_value || !same_value(edits[i].to->value, olds[i].value);
    }
    const bool any_row = offsets.size() > 1 || *offsets.begin() != 0;
    if (edits.size() == 1) {
        const cKeyEdit& e = edits.front();
        std::string at = key_text(e.track, olds.front().row);
        std::string value = format_value(e.to->value) + " (was " + format_value(olds.front().value) + ")";
        if (!any_value) return "move " + at + " to " + format_position(e.to->row);
        if (!any_row) return "set " + at + " to " + value;
        return "move " + at + " to " + format_position(e.to->row) + " and set it to " + value;
    }
    std::string rows = offsets.size() == 1 ? "by " + offset_text(*offsets.begin()) : "to other rows";
    std::string to_values = values.size() == 1 ? "to " + format_value(*values.begin()) : "";
    std::string what = keys_label(edits);
    if (!any_value) return "move " + what + " " + rows;
    if (!any_row) return to_values.empty() ? "change the values of " + what : "set " + what + " " + to_values;
    return "move " + what + " " + rows + (to_values.empty() ? " and change their values" : " and set them " + to_values);
}

// "add kick 5:0 = -2.5", "paste 8 keys on kick and word_t at 36:0, replacing 2"
std::string new_keys_label(const std::string& verb, const std::vector<cKeyEdit>& edits, std::size_t replaced) {
    int32_t first = edits.front().to->row;
    for (const cKeyEdit& e : edits) first = std::min(first, e.to->row);
    std::string text = edits.size() == 1 && verb == "add"
                           ? verb + " " + key_text(edits.front().track, first) + " = " + format_value(edits.front().to->value)
                           : verb + " " + keys_label(edits) + " at " + format_position(first);
    if (replaced > 0) text += ", replacing " + std::to_string(replaced);
    return text;
}

std::string removed_keys_label(const std::string& verb, const std::vector<cKeyEdit>& edits) {
    if (edits.size() == 1) return verb + " " + key_text(edits.front().track, *edits.front().from_row);
    return verb + " " + keys_label(edits);
}

// A key that ends on a row where another key of its track stays, or two keys that end on one
// row: the first such, in words that name the key in the way. Empty when every row is free.
std::string landing_conflict(const std::vector<cKeyEdit>& edits, const cParsedSource& parsed, const std::string& verb) {
    std::map<std::string, std::vector<const cKeyEdit*>> by_track;
    for (const cKeyEdit& e : edits) by_track[e.track].push_back(&e);
    for (const auto& [name, list] : by_track) {
        const cSourceTrack* track = nullptr;
        for (const cSourceTrack& t : parsed.tracks) {
            if (t.name == name) track = &t;
        }
        if (!track) continue;
        std::set<int32_t> leaving;
        for (const cKeyEdit* e : list) {
            if (e->from_row) leaving.insert(*e->from_row);
        }
        std::map<int32_t, const cKeyEdit*> landed;
        for (const cKeyEdit* e : list) {
            if (!e->to) continue;
            const int32_t row = e->to->row;
            std::string what = e->from_row ? "move " + key_text(name, *e->from_row) + " to " + format_position(row)
                                           : verb + " a key at " + key_text(name, row);
            auto other = landed.find(row);
            if (other != landed.end()) {
                return "cannot " + what + ": another key of the change lands there too; nothing was changed";
            }
            landed[row] = e;
            auto at = std::lower_bound(track->keys.begin(), track->keys.end(), row,
                                       [](const cSyncKey& key, int32_t r) { return key.row < r; });
            if (at != track->keys.end() && at->row == row && !leaving.count(row)) {
                return "cannot " + what + ": the key there (" + format_value(at->value) + ", " +
                       std::string(interpolation_name(at->interpolation)) + ") is in the way; move or delete it first";
            }
        }
    }
    return {};
}

// Reads every entry of "keys" with read_key, which adds to edits; false at the first refusal.
template <typename ReadKey>
bool read_keys(cFieldReader& reader, const json& edit, ReadKey read_key) {
    const json* keys = reader.key_list(edit);
    if (!keys) return false;
    for (const json& k : *keys) {
        if (!read_key(k)) return false;
    }
    return true;
}

void plan_keys(cEditPlan& plan, cFieldReader& reader, const std::vector<cKeyEdit>& edits, std::string label,
               std::string_view text, const cParsedSource& parsed) {
    cTextEdit made = edit_keys(text, parsed, edits);
    if (!made.ok) {
        reader.refuse(422, made.error);
        return;
    }
    plan.text = std::move(made.text);
    plan.label = std::move(label);
    std::set<std::string> tracks;
    for (const cKeyEdit& e : edits) {
        if (tracks.insert(e.track).second) plan.tracks.push_back(e.track);
    }
}

const cSourceTrack* find_track(const cParsedSource& parsed, const std::string& name) {
    for (const cSourceTrack& t : parsed.tracks) {
        if (t.name == name) return &t;
    }
    return nullptr;
}

// The existing key of the track on that row, if any.
const cSyncKey* key_on_row(const cParsedSource& parsed, const std::string& track, int32_t row) {
    const cSourceTrack* t = find_track(parsed, track);
    if (!t) return nullptr;
    auto at = std::lower_bound(t->keys.begin(), t->keys.end(), row,
                               [](const cSyncKey& key, int32_t r) { return key.row < r; });
    return at != t->keys.end() && at->row == row ? &*at : nullptr;
}

// New keys: add refuses a row that has a key; paste and duplicate replace that key.
void plan_new_keys(cEditPlan& plan, cFieldReader& reader, const json& edit, const std::string& verb,
                   std::string_view text, const cParsedSource& parsed, const cEditLimits& limits) {
    const bool replaces = verb != "add";
    std::vector<cKeyEdit> edits;
    std::set<std::pair<std::string, int32_t>> taken;
    std::size_t replaced = 0;
    bool read = read_keys(reader, edit, [&](const json& k) {
        std::optional<std::string> track = reader.string(k, "track");
        std::optional<int32_t> row = track ? reader.target_row(k, "row", limits) : std::nullopt;
        std::optional<float> value = row ? reader.value(k, "value") : std::nullopt;
        std::optional<int32_t> kind = value ? reader.interpolation(k, "interpolation") : std::nullopt;
        if (!kind) return false;
        if (!find_track(parsed, *track)) return reader.refuse(422, "no track '" + *track + "'");
        if (!taken.insert({*track, *row}).second) {
            return reader.refuse(422, "cannot " + verb + " two keys on row " + std::to_string(*row) + " (" +
                                          format_position(*row) + ") of " + *track + "; nothing was changed");
        }
        std::optional<int32_t> from;
        if (replaces && key_on_row(parsed, *track, *row)) {
            from = *row;
            ++replaced;
        }
        edits.push_back({*track, from, cSyncKey{*row, *value, *kind}});
        return true;
    });
    if (!read) return;
    if (std::string conflict = landing_conflict(edits, parsed, verb); !conflict.empty()) {
        reader.refuse(422, conflict);
        return;
    }
    plan_keys(plan, reader, edits, new_keys_label(verb, edits, replaced), text, parsed);
}

void plan_track_edit(cEditPlan& plan, cFieldReader& reader, const json& edit, const std::string& op,
                     std::string_view text, const cParsedSource& parsed) {
    cTextEdit made;
    if (op == "add_track") {
        std::optional<std::string> name = reader.string(edit, "name");
        if (!name) return;
        made = add_track(text, *name);
        plan.label = "add track " + *name;
    } else {
        std::optional<std::string> name = reader.string(edit, "track");
        if (!name) return;
        if (op == "rename_track") {
            std::optional<std::string> to = reader.string(edit, "to");
            if (!to) return;
            if (to->empty()) {
                reader.refuse(422, "a track needs a name; to remove track '" + *name + "', delete it");
                return;
            }
            made = rename_track(text, parsed, *name, *to);
            plan.label = "rename track " + *name + " to " + *to;
        } else if (op == "delete_track") {
            const cSourceTrack* track = find_track(parsed, *name);
            if (track && parsed.tracks.size() == 1) {
                reader.refuse(422, "'" + *name + "' is the only track, and the source needs one; add another first");
                return;
            }
            made = delete_track(text, parsed, *name);
            if (track) {
                plan.label = "delete track " + *name + " (" + std::to_string(track->keys.size()) +
                             (track->keys.size() == 1 ? " key)" : " keys)");
            }
        } else {
            std::string before;
            if (edit.contains("before") && !edit["before"].is_null()) {
                std::optional<std::string> named = reader.string(edit, "before");
                if (!named) return;
                before = *named;
            }
            made = move_track(text, parsed, *name, before);
            plan.label = "move track " + *name + (before.empty() ? " to the end" : " before " + before);
        }
    }
    if (!made.ok) {
        reader.refuse(422, made.error);
        return;
    }
    plan.text = std::move(made.text);
}

}  // namespace

cEditPlan plan_edit(const json& edit, std::string_view text, const cParsedSource& parsed, const cEditLimits& limits) {
    cEditPlan plan;
    cFieldReader reader(plan);
    if (!edit.is_object()) {
        reader.refuse(400, "the edit must be a JSON object");
        return plan;
    }
    std::optional<std::string> op = reader.string(edit, "op");
    if (!op) return plan;
    std::vector<cKeyEdit> edits;
    if (*op == "move") {
        std::vector<cSyncKey> olds;
        bool read = read_keys(reader, edit, [&](const json& k) {
            std::optional<std::string> track = reader.string(k, "track");
            const cSyncKey* old = track ? reader.existing_key(k, parsed, *track) : nullptr;
            if (!old) return false;
            cSyncKey key = *old;
            if (k.contains("to_row")) {
                std::optional<int32_t> row = reader.target_row(k, "to_row", limits);
                if (!row) return false;
                key.row = *row;
            }
            if (k.contains("value")) {
                std::optional<float> value = reader.value(k, "value");
                if (!value) return false;
                key.value = *value;
            }
            edits.push_back({*track, old->row, key});
            olds.push_back(*old);
            return true;
        });
        if (!read) return plan;
        if (std::string conflict = landing_conflict(edits, parsed, "move"); !conflict.empty()) {
            reader.refuse(422, conflict);
            return plan;
        }
        plan_keys(plan, reader, edits, move_label(edits, olds), text, parsed);
    } else if (*op == "add" || *op == "paste" || *op == "duplicate") {
        plan_new_keys(plan, reader, edit, *op, text, parsed, limits);
    } else if (*op == "delete" || *op == "cut") {
        bool read = read_keys(reader, edit, [&](const json& k) {
            std::optional<std::string> track = reader.string(k, "track");
            const cSyncKey* old = track ? reader.existing_key(k, parsed, *track) : nullptr;
            if (!old) return false;
            edits.push_back({*track, old->row, std::nullopt});
            return true;
        });
        if (read) plan_keys(plan, reader, edits, removed_keys_label(*op, edits), text, parsed);
    } else if (*op == "interpolation") {
        std::optional<int32_t> code = reader.interpolation(edit, "interpolation");
        bool read = code && read_keys(reader, edit, [&](const json& k) {
            std::optional<std::string> track = reader.string(k, "track");
            const cSyncKey* old = track ? reader.existing_key(k, parsed, *track) : nullptr;
            if (!old) return false;
            cSyncKey key = *old;
            key.interpolation = *code;
            edits.push_back({*track, old->row, key});
            return true;
        });
        if (read) {
            std::string what = edits.size() == 1 ? key_text(edits.front().track, *edits.front().from_row) : keys_label(edits);
            plan_keys(plan, reader, edits, "make " + what + " " + std::string(interpolation_name(*code)), text, parsed);
        }
    } else if (*op == "add_track" || *op == "rename_track" || *op == "delete_track" || *op == "move_track") {
        plan_track_edit(plan, reader, edit, *op, text, parsed);
    } else {
        reader.refuse(400, "unknown op '" + *op +
                               "' (move, add, paste, duplicate, delete, cut, interpolation, add_track, rename_track, "
                               "delete_track, move_track)");
    }
    return plan;
}
