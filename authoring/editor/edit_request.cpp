// The edit requests of the page and their checks. Depends on nlohmann-json, the key text of
// host/sync and source_document. Refuses (never clamps) a row outside the music, a value that
// is not a finite 32-bit float, and a key or track the source does not have.
//
// Requests (every key names its track and, for an existing key, its row):
//   {"op":"move", "keys":[{"track":"kick","row":96,"to_row":100,"value":0.5}, ...]}   to_row and value optional
//   {"op":"add", "keys":[{"track":"kick","row":98,"value":0.5,"interpolation":"linear"}, ...]}
//   {"op":"delete", "keys":[{"track":"kick","row":96}, ...]}
//   {"op":"interpolation", "interpolation":"smooth", "keys":[{"track":"kick","row":96}, ...]}
//   {"op":"add_track", "name":"glow"}
//   {"op":"rename_track", "track":"glow", "to":"glow2"}
#include "authoring/editor/edit_request.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
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

void plan_keys(cEditPlan& plan, cFieldReader& reader, const std::vector<cKeyEdit>& edits, const std::string& verb,
               std::string_view text, const cParsedSource& parsed) {
    cTextEdit made = edit_keys(text, parsed, edits);
    if (!made.ok) {
        reader.refuse(422, made.error);
        return;
    }
    plan.text = std::move(made.text);
    plan.label = verb + " " + keys_label(edits);
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
            return true;
        });
        if (read) plan_keys(plan, reader, edits, "move", text, parsed);
    } else if (*op == "add") {
        bool read = read_keys(reader, edit, [&](const json& k) {
            std::optional<std::string> track = reader.string(k, "track");
            std::optional<int32_t> row = track ? reader.target_row(k, "row", limits) : std::nullopt;
            std::optional<float> value = row ? reader.value(k, "value") : std::nullopt;
            std::optional<int32_t> kind = value ? reader.interpolation(k, "interpolation") : std::nullopt;
            if (!kind) return false;
            edits.push_back({*track, std::nullopt, cSyncKey{*row, *value, *kind}});
            return true;
        });
        if (read) plan_keys(plan, reader, edits, "add", text, parsed);
    } else if (*op == "delete") {
        bool read = read_keys(reader, edit, [&](const json& k) {
            std::optional<std::string> track = reader.string(k, "track");
            const cSyncKey* old = track ? reader.existing_key(k, parsed, *track) : nullptr;
            if (!old) return false;
            edits.push_back({*track, old->row, std::nullopt});
            return true;
        });
        if (read) plan_keys(plan, reader, edits, "delete", text, parsed);
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
        if (read) plan_keys(plan, reader, edits, std::string(interpolation_name(*code)), text, parsed);
    } else if (*op == "add_track" || *op == "rename_track") {
        bool add = *op == "add_track";
        std::optional<std::string> name = reader.string(edit, add ? "name" : "track");
        std::optional<std::string> to = !name ? std::nullopt : add ? name : reader.string(edit, "to");
        if (!to) return plan;
        cTextEdit made = add ? add_track(text, *name) : rename_track(text, parsed, *name, *to);
        if (!made.ok) {
            reader.refuse(422, made.error);
            return plan;
        }
        plan.text = std::move(made.text);
        plan.label = add ? "add track " + *name : "rename track " + *name + " to " + *to;
    } else {
        reader.refuse(400, "unknown op '" + *op + "' (move, add, delete, interpolation, add_track, rename_track)");
    }
    return plan;
}
