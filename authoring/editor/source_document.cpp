// Key, rename and new-track edits of the track source, planned line by line over the parser's
// line numbers and written out in one pass. Depends on host/sync's parser and key text only.
// Never reorders, rewrites or drops a line the edit does not touch.
//
// [SECTION] lines of the text   [SECTION] the plan and its output   [SECTION] key edits
// [SECTION] tracks   [SECTION] track blocks
#include "authoring/editor/source_document.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "host/sync/track_text.h"

namespace {

// ---- [SECTION] lines of the text ----
// Numbered exactly as the parser numbers them: a leading byte-order mark is not part of line 1,
// lines end at "\n", and a "\r" before it belongs to the line end.
struct cRawLine {
    std::string_view content;
    std::string_view end;  // "\n", "\r\n", or empty for a last line without a line end
};

// The lines as offsets into the text: a large source is edited without a record per line.
class cRawText {
public:
    explicit cRawText(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            bom = text.substr(0, 3);
            text.remove_prefix(3);
        }
        body_ = text;
        starts_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 2);
        for (std::size_t start = 0; start < text.size();) {
            starts_.push_back(start);
            std::size_t newline = text.find('\n', start);
            start = newline == std::string_view::npos ? text.size() : newline + 1;
        }
        starts_.push_back(text.size());
        if (count() > 0 && line(0).end.find('\n') != std::string_view::npos) eol = std::string(line(0).end);
    }

    std::size_t count() const { return starts_.size() - 1; }

    // Line index (0 is line 1).
    cRawLine line(std::size_t index) const {
        std::string_view whole = body_.substr(starts_[index], starts_[index + 1] - starts_[index]);
        std::size_t content = whole.size();
        if (content > 0 && whole[content - 1] == '\n') --content;
        if (content > 0 && whole[content - 1] == '\r') --content;
        return {whole.substr(0, content), whole.substr(content)};
    }

    std::string_view bom;
    std::string eol = "\n";  // the line end of new lines: that of the text's first line

private:
    std::string_view body_;
    std::vector<std::size_t> starts_;  // of every line, then the end of the text
};

bool is_blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

bool is_comment_line(std::string_view line) {
    std::size_t first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && line[first] == '#';
}

// A key line's comment with the blanks before it ("   # the drop"), kept when the key changes.
std::string_view comment_tail(std::string_view line) {
    std::size_t hash = line.find('#');
    if (hash == std::string_view::npos) return {};
    std::size_t end = hash;
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    return line.substr(end);
}

// The first BEAT:ROW position in a comment line ("# -- verse1, 32:0, 10.67 s --" marks row 256).
std::optional<int32_t> marker_row(std::string_view line) {
    if (!is_comment_line(line)) return std::nullopt;
    std::string_view rest = line.substr(line.find('#') + 1);
    constexpr std::string_view kBlanks = " \t";
    constexpr std::string_view kPunctuation = ",;.()[]";
    while (!rest.empty()) {
        std::size_t first = rest.find_first_not_of(kBlanks);
        if (first == std::string_view::npos) break;
        rest.remove_prefix(first);
        std::size_t last = std::min(rest.find_first_of(kBlanks), rest.size());
        std::string_view token = rest.substr(0, last);
        rest.remove_prefix(last);
        while (!token.empty() && kPunctuation.find(token.front()) != std::string_view::npos) token.remove_prefix(1);
        while (!token.empty() && kPunctuation.find(token.back()) != std::string_view::npos) token.remove_suffix(1);
        if (token.find(':') == std::string_view::npos) continue;
        cTokenError ignored;
        if (std::optional<int32_t> row = parse_position(token, ignored)) return row;
    }
    return std::nullopt;
}

// ---- [SECTION] the plan and its output ----
// What happens to the lines; only the lines an edit touches have entries.
struct cPlan {
    std::map<std::size_t, std::string> replaced;                    // by line index (0 is line 1)
    std::vector<char> dropped;
    std::map<std::size_t, std::vector<std::string>> inserted_after;  // by line number (0: before line 1)

    explicit cPlan(std::size_t lines) : dropped(lines, 0) {}
};

std::string write_out(const cRawText& raw, const cPlan& plan, std::size_t size_hint) {
    std::string out;
    out.reserve(size_hint);
    out.append(raw.bom);
    bool missing_eol = false;  // the last line written had no line end and more follows
    auto put = [&](std::string_view content, std::string_view end) {
        if (missing_eol) out.append(raw.eol);
        out.append(content);
        out.append(end);
        missing_eol = end.empty();
    };
    auto inserted = plan.inserted_after.begin();
    auto put_inserted = [&](std::size_t after) {
        if (inserted == plan.inserted_after.end() || inserted->first != after) return;
        for (const std::string& line : inserted->second) put(line, raw.eol);
        ++inserted;
    };
    auto replaced = plan.replaced.begin();
    put_inserted(0);
    for (std::size_t i = 0; i < raw.count(); ++i) {
        cRawLine line = raw.line(i);
        bool is_replaced = replaced != plan.replaced.end() && replaced->first == i;
        if (!plan.dropped[i]) put(is_replaced ? std::string_view(replaced->second) : line.content, line.end);
        if (is_replaced) ++replaced;
        put_inserted(i + 1);
    }
    return out;
}

bool same_key(const cSyncKey& a, const cSyncKey& b) {
    return a.row == b.row && a.interpolation == b.interpolation && std::memcmp(&a.value, &b.value, sizeof a.value) == 0;
}

// ---- [SECTION] key edits ----
struct cFinalKey {
    cSyncKey key;
    int origin = -1;   // index of the old key it came from; -1 for a new key
    bool anchor = false;   // an old key still at its row: it keeps its line for sure
    bool keeps_line = false;
};

class cTrackPlanner {
public:
    cTrackPlanner(const cRawText& raw, const cSourceTrack& track, int block_end, cPlan& plan)
        : raw_(raw), track_(track), block_end_(block_end), plan_(plan) {}

    bool plan(const std::vector<const cKeyEdit*>& edits, std::string& error) {
        if (!collect(edits, error)) return false;
        classify_moved_keys();
        place();
        return true;
    }

private:
    const cRawText& raw_;
    const cSourceTrack& track_;
    int block_end_;  // the track's last line (before the next header, or the text's last)
    cPlan& plan_;
    std::vector<cFinalKey> finals_;
    std::map<int, std::vector<std::pair<int, int32_t>>> markers_;  // by the line after which they were sought

    std::string_view line(int number) const { return raw_.line(static_cast<std::size_t>(number - 1)).content; }
    int key_line(int origin) const { return track_.key_lines[static_cast<std::size_t>(origin)]; }
    int32_t old_row(int origin) const { return track_.keys[static_cast<std::size_t>(origin)].row; }

    bool collect(const std::vector<const cKeyEdit*>& edits, std::string& error) {
        const std::vector<cSyncKey>& keys = track_.keys;
        std::vector<const cKeyEdit*> edit_of(keys.size(), nullptr);
        for (const cKeyEdit* edit : edits) {
            if (!edit->from_row) {
                if (edit->to) finals_.push_back({*edit->to, -1});
                continue;
            }
            auto at = std::lower_bound(keys.begin(), keys.end(), *edit->from_row,
                                       [](const cSyncKey& key, int32_t row) { return key.row < row; });
            if (at == keys.end() || at->row != *edit->from_row) {
                error = "track '" + track_.name + "' has no key at row " + std::to_string(*edit->from_row) + " (" +
                        format_position(*edit->from_row) + ")";
                return false;
            }
            std::size_t index = static_cast<std::size_t>(at - keys.begin());
            if (edit_of[index]) {
                error = "the key at row " + std::to_string(at->row) + " of track '" + track_.name +
                        "' is named twice in one edit";
                return false;
            }
            edit_of[index] = edit;
        }
        for (std::size_t i = 0; i < keys.size(); ++i) {
            int origin = static_cast<int>(i);
            if (!edit_of[i]) {
                finals_.push_back({keys[i], origin});
            } else if (edit_of[i]->to) {
                finals_.push_back({*edit_of[i]->to, origin});
            } else {
                plan_.dropped[static_cast<std::size_t>(key_line(origin) - 1)] = 1;
            }
        }
        std::stable_sort(finals_.begin(), finals_.end(),
                         [](const cFinalKey& a, const cFinalKey& b) { return a.key.row < b.key.row; });
        for (cFinalKey& f : finals_) f.anchor = f.keeps_line = f.origin >= 0 && f.key.row == old_row(f.origin);
        return true;
    }

    // A moved key keeps its line while it stays between the same two anchors, on the same side
    // of every position comment between them, and in the same order as its moved neighbours.
    void classify_moved_keys() {
        const std::size_t old_count = track_.keys.size();
        std::vector<char> anchored(old_count, 0);
        for (const cFinalKey& f : finals_) {
            if (f.anchor) anchored[static_cast<std::size_t>(f.origin)] = 1;
        }
        std::vector<int> old_prev(old_count, -1), old_next(old_count, -1);
        for (int i = 0, last = -1; i < static_cast<int>(old_count); ++i) {
            old_prev[static_cast<std::size_t>(i)] = last;
            if (anchored[static_cast<std::size_t>(i)]) last = i;
        }
        for (int i = static_cast<int>(old_count) - 1, next = -1; i >= 0; --i) {
            old_next[static_cast<std::size_t>(i)] = next;
            if (anchored[static_cast<std::size_t>(i)]) next = i;
        }
        std::vector<int> new_prev(finals_.size(), -1), new_next(finals_.size(), -1);
        for (std::size_t k = 0, last = SIZE_MAX; k < finals_.size(); ++k) {
            new_prev[k] = last == SIZE_MAX ? -1 : finals_[last].origin;
            if (finals_[k].anchor) last = k;
        }
        for (std::size_t k = finals_.size(), next = SIZE_MAX; k-- > 0;) {
            new_next[k] = next == SIZE_MAX ? -1 : finals_[next].origin;
            if (finals_[k].anchor) next = k;
        }
        // Per gap (named by the anchor before it): the origin of the last kept moved key, and
        // whether the moved keys of the gap changed order.
        std::map<int, int> last_in_gap;
        std::map<int, bool> gap_reordered;
        for (std::size_t k = 0; k < finals_.size(); ++k) {
            cFinalKey& f = finals_[k];
            if (f.origin < 0 || f.anchor) continue;
            std::size_t o = static_cast<std::size_t>(f.origin);
            f.keeps_line = new_prev[k] == old_prev[o] && new_next[k] == old_next[o] &&
                           !crosses_marker(f, old_prev[o], old_next[o]);
            if (!f.keeps_line) continue;
            auto seen = last_in_gap.find(new_prev[k]);
            if (seen != last_in_gap.end() && seen->second > f.origin) gap_reordered[new_prev[k]] = true;
            last_in_gap[new_prev[k]] = f.origin;
        }
        for (std::size_t k = 0; k < finals_.size(); ++k) {
            cFinalKey& f = finals_[k];
            if (f.origin >= 0 && !f.anchor && gap_reordered.count(new_prev[k])) f.keeps_line = false;
        }
    }

    bool crosses_marker(const cFinalKey& f, int prev_anchor, int next_anchor) const {
        int from = prev_anchor >= 0 ? key_line(prev_anchor) : track_.line;
        int to = next_anchor >= 0 ? key_line(next_anchor) : block_end_ + 1;
        int own = key_line(f.origin);
        for (int l = from + 1; l < to; ++l) {
            std::optional<int32_t> mark = marker_row(line(l));
            if (!mark) continue;
            if (l < own && f.key.row < *mark) return true;
            if (l > own && f.key.row >= *mark) return true;
        }
        return false;
    }

    // The position comments after line `after`, up to the next kept line (or, after the last
    // one, up to the first blank line: a comment further down belongs to the next track).
    const std::vector<std::pair<int, int32_t>>& markers_after(int after, int next_kept_line) {
        auto found = markers_.find(after);
        if (found != markers_.end()) return found->second;
        std::vector<std::pair<int, int32_t>>& list = markers_[after];
        int stop = next_kept_line > 0 ? next_kept_line : block_end_ + 1;
        for (int l = after + 1; l < stop; ++l) {
            if (next_kept_line <= 0 && is_blank(line(l))) break;
            if (std::optional<int32_t> mark = marker_row(line(l))) list.push_back({l, *mark});
        }
        return list;
    }

    std::string key_text(const cSyncKey& key, int origin) const {
        std::string text = format_key_line(key);
        if (origin >= 0) text.append(comment_tail(line(key_line(origin))));
        return text;
    }

    void place() {
        std::vector<int> next_kept(finals_.size() + 1, 0);  // line of the first kept key at or after k
        for (std::size_t k = finals_.size(); k-- > 0;) {
            next_kept[k] = finals_[k].keeps_line ? key_line(finals_[k].origin) : next_kept[k + 1];
        }
        int previous_line = track_.line;
        for (std::size_t k = 0; k < finals_.size(); ++k) {
            const cFinalKey& f = finals_[k];
            if (f.keeps_line) {
                previous_line = key_line(f.origin);
                if (!same_key(f.key, track_.keys[static_cast<std::size_t>(f.origin)])) {
                    plan_.replaced[static_cast<std::size_t>(previous_line - 1)] = key_text(f.key, f.origin);
                }
                continue;
            }
            if (f.origin >= 0) plan_.dropped[static_cast<std::size_t>(key_line(f.origin) - 1)] = 1;
            int after = previous_line;
            for (const auto& [marker_line, row] : markers_after(previous_line, next_kept[k + 1])) {
                if (row <= f.key.row) after = marker_line;
            }
            plan_.inserted_after[static_cast<std::size_t>(after)].push_back(key_text(f.key, f.origin));
        }
    }
};

const cSourceTrack* find_source_track(const cParsedSource& parsed, std::string_view name, std::size_t* index = nullptr) {
    for (std::size_t i = 0; i < parsed.tracks.size(); ++i) {
        if (parsed.tracks[i].name == name) {
            if (index) *index = i;
            return &parsed.tracks[i];
        }
    }
    return nullptr;
}

std::string not_a_track_name(std::string_view name) {
    return "'" + std::string(name) + "' is not a track name: letters, digits, '_' and '-' only, at most 128";
}

}  // namespace

cTextEdit edit_keys(std::string_view text, const cParsedSource& parsed, const std::vector<cKeyEdit>& edits) {
    cTextEdit result;
    std::map<std::string_view, std::size_t> index_of;
    for (std::size_t i = 0; i < parsed.tracks.size(); ++i) index_of.emplace(parsed.tracks[i].name, i);
    std::vector<std::vector<const cKeyEdit*>> by_track(parsed.tracks.size());
    for (const cKeyEdit& edit : edits) {
        auto found = index_of.find(edit.track);
        if (found == index_of.end()) {
            result.error = "no track '" + edit.track + "'";
            return result;
        }
        by_track[found->second].push_back(&edit);
    }
    cRawText raw(text);
    cPlan plan(raw.count());
    for (std::size_t i = 0; i < parsed.tracks.size(); ++i) {
        if (by_track[i].empty()) continue;
        int block_end = i + 1 < parsed.tracks.size() ? parsed.tracks[i + 1].line - 1 : static_cast<int>(raw.count());
        cTrackPlanner planner(raw, parsed.tracks[i], block_end, plan);
        if (!planner.plan(by_track[i], result.error)) return result;
    }
    result.text = write_out(raw, plan, text.size() + 64 * edits.size());
    result.ok = true;
    return result;
}

// ---- [SECTION] tracks ----
cTextEdit rename_track(std::string_view text, const cParsedSource& parsed, std::string_view from, std::string_view to) {
    cTextEdit result;
    const cSourceTrack* track = find_source_track(parsed, from);
    if (!track) {
        result.error = "no track '" + std::string(from) + "'";
        return result;
    }
    if (!is_valid_track_name(to)) {
        result.error = not_a_track_name(to);
        return result;
    }
    cRawText raw(text);
    std::string_view header = raw.line(static_cast<std::size_t>(track->line - 1)).content;
    // "track" and the name are the first two tokens of a good header; the name ends at a blank
    // or at the comment.
    std::size_t name_start = header.find_first_not_of(" \t", header.find_first_not_of(" \t") + 5);
    std::size_t name_end = std::min(header.find_first_of(" \t#", name_start), header.size());
    cPlan plan(raw.count());
    plan.replaced[static_cast<std::size_t>(track->line - 1)] =
        std::string(header.substr(0, name_start)) + std::string(to) + std::string(header.substr(name_end));
    result.text = write_out(raw, plan, text.size() + to.size());
    result.ok = true;
    return result;
}

cTextEdit add_track(std::string_view text, std::string_view name) {
    cTextEdit result;
    if (!is_valid_track_name(name)) {
        result.error = not_a_track_name(name);
        return result;
    }
    cRawText raw(text);
    cPlan plan(raw.count());
    std::vector<std::string>& tail = plan.inserted_after[raw.count()];
    if (raw.count() > 0 && !is_blank(raw.line(raw.count() - 1).content)) tail.push_back("");
    tail.push_back(format_track_header(name));
    result.text = write_out(raw, plan, text.size() + name.size() + 16);
    result.ok = true;
    return result;
}

// ---- [SECTION] track blocks ----
namespace {

// Line indexes (0 is line 1) of a track's block: [first, last], trailing blank lines left out.
struct cBlock {
    std::size_t first = 0, last = 0;
};

std::size_t block_start(const cRawText& raw, const cParsedSource& parsed, std::size_t track) {
    std::size_t header = static_cast<std::size_t>(parsed.tracks[track].line - 1);
    if (track == 0) return header;
    std::size_t first = header;
    while (first > 0 && is_comment_line(raw.line(first - 1).content)) --first;
    // Comments right under the previous track's lines are its own.
    return first < header && first > 0 && is_blank(raw.line(first - 1).content) ? first : header;
}

cBlock block_of(const cRawText& raw, const cParsedSource& parsed, std::size_t track) {
    cBlock block{block_start(raw, parsed, track), 0};
    std::size_t end = track + 1 < parsed.tracks.size() ? block_start(raw, parsed, track + 1) : raw.count();
    block.last = end - 1;
    while (block.last > block.first && is_blank(raw.line(block.last).content)) --block.last;
    return block;
}

// Drops the block and one side's blank lines: those after it, or for the last block those
// before it, so that the blocks around it stay one blank line apart.
void drop_block(const cRawText& raw, cPlan& plan, const cBlock& block) {
    for (std::size_t i = block.first; i <= block.last; ++i) plan.dropped[i] = 1;
    std::size_t after = block.last + 1;
    bool blank_after = false;
    for (; after < raw.count() && is_blank(raw.line(after).content); ++after) {
        plan.dropped[after] = 1;
        blank_after = true;
    }
    if (after < raw.count() || blank_after) return;
    for (std::size_t i = block.first; i > 0 && is_blank(raw.line(i - 1).content); --i) plan.dropped[i - 1] = 1;
}

}  // namespace

cTextEdit delete_track(std::string_view text, const cParsedSource& parsed, std::string_view name) {
    cTextEdit result;
    std::size_t index = 0;
    if (!find_source_track(parsed, name, &index)) {
        result.error = "no track '" + std::string(name) + "'";
        return result;
    }
    cRawText raw(text);
    cPlan plan(raw.count());
    drop_block(raw, plan, block_of(raw, parsed, index));
    result.text = write_out(raw, plan, text.size());
    result.ok = true;
    return result;
}

cTextEdit move_track(std::string_view text, const cParsedSource& parsed, std::string_view name, std::string_view before) {
    cTextEdit result;
    std::size_t index = 0, target = parsed.tracks.size();
    if (!find_source_track(parsed, name, &index)) {
        result.error = "no track '" + std::string(name) + "'";
        return result;
    }
    if (!before.empty() && !find_source_track(parsed, before, &target)) {
        result.error = "no track '" + std::string(before) + "'";
        return result;
    }
    if (before == name) {
        result.error = "a track cannot be moved before itself";
        return result;
    }
    cRawText raw(text);
    // Already there: the text stays as it is.
    if (target == index + 1) {
        result.text = std::string(text);
        result.ok = true;
        return result;
    }
    const cBlock block = block_of(raw, parsed, index);
    std::vector<std::string> lines;
    for (std::size_t i = block.first; i <= block.last; ++i) lines.emplace_back(raw.line(i).content);
    cPlan plan(raw.count());
    drop_block(raw, plan, block);
    if (target < parsed.tracks.size()) {
        lines.emplace_back();
        plan.inserted_after[block_start(raw, parsed, target)] = std::move(lines);
    } else {
        const cBlock last = block_of(raw, parsed, parsed.tracks.size() - 1);
        lines.insert(lines.begin(), std::string());
        plan.inserted_after[last.last + 1] = std::move(lines);
    }
    result.text = write_out(raw, plan, text.size() + 2);
    result.ok = true;
    return result;
}
