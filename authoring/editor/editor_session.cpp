// The editor's document and history. Depends on host/sync (parser, compiler into track files),
// the source file writer, the development mode's control surface and the event hub. Nothing
// reaches the disk unless the track compiler accepts it; the previous source is always kept;
// no change is based on, or written over, a source another program is writing.
//
// [SECTION] state   [SECTION] edits   [SECTION] previews   [SECTION] the disk
#include "authoring/editor/editor_session.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iostream>

#include "authoring/editor/editor_config.h"
#include "host/sync/sync_config.h"
#include "host/sync/track_compile.h"
#include "host/sync/track_file.h"
#include "host/sync/track_text.h"

namespace {

using nlohmann::json;

// [{"name":"kick","keys":[[row,value,interpolation],...]},...], written straight into text:
// a show of 20,000 keys is a few hundred kilobytes, made once per version. Values are the
// float's shortest decimal (0.1375, not 0.13750000298023224); Math.fround on the page gives
// back the very same float. Names are letters, digits, '_' and '-', but go through the JSON
// writer all the same.
std::string tracks_json(const cParsedSource& parsed) {
    std::string out = "[";
    char number[64];
    auto put = [&](auto value) {
        auto [end, ec] = std::to_chars(number, number + sizeof number, value);
        out.append(number, ec == std::errc() ? end : number);
    };
    for (std::size_t t = 0; t < parsed.tracks.size(); ++t) {
        const cSourceTrack& track = parsed.tracks[t];
        out += t ? ",{\"name\":" : "{\"name\":";
        out += json(track.name).dump();
        out += ",\"keys\":[";
        for (std::size_t k = 0; k < track.keys.size(); ++k) {
            out += k ? ",[" : "[";
            put(track.keys[k].row);
            out += ',';
            put(track.keys[k].value);
            out += ',';
            put(track.keys[k].interpolation);
            out += ']';
        }
        out += "]}";
    }
    return out + "]";
}

json problems_json(const cParsedSource& parsed) {
    constexpr std::size_t kShown = 20;
    json list = json::array();
    for (std::size_t i = 0; i < parsed.problems.size() && i < kShown; ++i) {
        const cSourceProblem& p = parsed.problems[i];
        list.push_back({{"line", p.line}, {"column", p.column}, {"message", p.message}});
    }
    return list;
}

std::string first_problem(const cParsedSource& parsed) {
    const cSourceProblem& p = parsed.problems.front();
    return std::string(kSyncSourcePath) + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": " + p.message;
}

json refusal(const std::string& reason) { return {{"error", reason}}; }

// The source's real place: a source that is a link to a file elsewhere is replaced there, and
// stays a link.
std::string real_path(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
    return ec ? path.string() : real.string();
}

}  // namespace

json player_json(const cDevState& state) {
    return {{"music_ms", state.music_ms},           {"paused", state.paused},
            {"loop_on", state.loop_on},             {"loop_start_ms", state.loop_start_ms},
            {"loop_end_ms", state.loop_end_ms},     {"av_offset_ms", state.av_offset_ms},
            {"frame", state.frame}};
}

cEditorSession::cEditorSession(iDevControl& dev, const std::string& show_dir, cShowTimeline timeline, cEventHub& hub)
    : dev_(dev),
      source_path_(real_path(std::filesystem::path(show_dir) / kSyncSourcePath)),
      sync_dir_((std::filesystem::path(show_dir) / kSyncBasePath).string()),
      timeline_(std::move(timeline)),
      limits_{0, timeline_.last_row},
      hub_(hub) {}

bool cEditorSession::open(std::string& error) {
    cSourceRead read;
    if (!read_source_file(source_path_, read, error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    parsed_ = parse_track_source(read.text);
    if (parsed_.ok()) shown_ = parsed_;
    text_ = std::make_shared<const std::string>(std::move(read.text));
    seen_stamp_ = settled_stamp_ = read.stamp;
    seen_since_ = std::chrono::steady_clock::now();
    return true;
}

uint64_t cEditorSession::version() {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

// ---- [SECTION] state ----
std::string cEditorSession::state_locked() {
    if (tracks_text_version_ != version_) {
        tracks_text_ = tracks_json(shown_);
        tracks_text_version_ = version_;
    }
    json undo = json::array(), redo = json::array();
    std::size_t skip = undo_.size() > editor_config::history_shown ? undo_.size() - editor_config::history_shown : 0;
    for (std::size_t i = skip; i < undo_.size(); ++i) undo.push_back(undo_[i].label);
    for (std::size_t i = redo_.size(); i-- > 0 && redo.size() < editor_config::history_shown;) {
        redo.push_back(redo_[i].label);
    }
    json rest = {{"version", version_},
                 {"source",
                  {{"path", kSyncSourcePath},
                   {"ok", parsed_.ok() && !disk_broken_},
                   {"problems", problems_json(disk_broken_ ? disk_broken_parse_ : parsed_)}}},
                 {"history", {{"undo", std::move(undo)}, {"redo", std::move(redo)}}},
                 {"timeline", timeline_json(timeline_)},
                 {"player", player_json(dev_.state())}};
    // {"tracks": [...], and the rest of the object.
    return "{\"tracks\":" + tracks_text_ + "," + rest.dump().substr(1);
}

std::string cEditorSession::state_text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_locked();
}

void cEditorSession::set_state_listener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_listener_ = std::move(listener);
}

void cEditorSession::publish_state() {
    std::lock_guard<std::mutex> lock(mutex_);
    hub_.publish("state", state_locked());
}

void cEditorSession::publish_state_locked(const std::string& notice) {
    if (state_listener_) {
        state_listener_();
    } else {
        hub_.publish("state", state_locked());
    }
    if (!notice.empty()) hub_.publish("notice", json{{"text", notice}}.dump());
}

std::shared_ptr<cEventQueue> cEditorSession::open_stream() {
    // Under the lock, so no state published meanwhile can arrive before this one.
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<cEventQueue> queue = hub_.open_stream();
    if (queue) queue->push(cEventHub::message("state", state_locked()), editor_config::max_queued_events);
    return queue;
}

bool cEditorSession::version_matches(const json& request, cEditorReply& reply) {
    if (!request.is_object() || !request.contains("version") || !request["version"].is_number_unsigned()) {
        reply = {400, refusal("'version' is missing or not a version: every change names the version it was made on")};
        return false;
    }
    if (request["version"].get<uint64_t>() != version_) {
        reply = {409, {{"error", "the tracks changed meanwhile (version " + std::to_string(version_) + "); look again"},
                       {"version", version_}}};
        return false;
    }
    return true;
}

// ---- [SECTION] edits ----
cEditorReply cEditorSession::edit(const json& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    cEditorReply reply = edit_locked(request);
    // A change that was not written leaves the show with the source's keys, not a drag's.
    if (preview_on_) end_preview();
    return reply;
}

cEditorReply cEditorSession::edit_locked(const json& request) {
    cEditorReply reply;
    if (!version_matches(request, reply) || !sync_with_disk(reply)) return reply;
    if (!parsed_.ok()) {
        return {422, refusal("the source has a problem (" + first_problem(parsed_) + "); correct it in the text first")};
    }
    cEditPlan plan = plan_edit(request, *text_, parsed_, limits_);
    if (plan.status != 200) return {plan.status, refusal(plan.error)};
    if (plan.text == *text_) return {200, {{"version", version_}, {"changed", false}}};
    cParsedSource next = parse_track_source(plan.text);
    if (!next.ok()) return {422, refusal("the track compiler refuses it: " + first_problem(next))};

    auto after = std::make_shared<const std::string>(std::move(plan.text));
    if (!write(after, next, reply)) return reply;
    undo_.push_back({plan.label, text_, after});
    if (undo_.size() > editor_config::history_depth) undo_.pop_front();
    redo_.clear();
    adopt(after, std::move(next));
    publish_state_locked("");
    return {200, {{"version", version_}, {"changed", true}, {"label", plan.label}}};
}

cEditorReply cEditorSession::undo(const json& request) { return restore(true, request); }
cEditorReply cEditorSession::redo(const json& request) { return restore(false, request); }

cEditorReply cEditorSession::restore(bool undo, const json& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    cEditorReply reply = restore_locked(undo, request);
    if (preview_on_) end_preview();
    return reply;
}

cEditorReply cEditorSession::restore_locked(bool undo, const json& request) {
    cEditorReply reply;
    if (!version_matches(request, reply) || !sync_with_disk(reply)) return reply;
    const std::size_t available = undo ? undo_.size() : redo_.size();
    if (available == 0) return {422, refusal(undo ? "nothing to undo" : "nothing to redo")};
    std::size_t steps = 1;
    if (auto found = request.find("steps"); found != request.end()) {
        if (!found->is_number_unsigned() || found->get<uint64_t>() == 0) {
            return {400, refusal("'steps' must be a whole number of at least 1")};
        }
        if (found->get<uint64_t>() > available) {
            return {422, refusal("there are only " + std::to_string(available) + " steps to " + (undo ? "undo" : "redo"))};
        }
        steps = static_cast<std::size_t>(found->get<uint64_t>());
    }
    // Every step between goes over at once: one write, straight to the text of the last one.
    const cStep& last = undo ? undo_[undo_.size() - steps] : redo_[redo_.size() - steps];
    const std::shared_ptr<const std::string> target = undo ? last.before : last.after;
    const std::string label = (undo ? "undo " : "redo ") + last.label +
                              (steps > 1 ? " and " + std::to_string(steps - 1) + " more" : "");
    cParsedSource parsed = parse_track_source(*target);
    if (!write(target, parsed, reply)) return reply;
    for (std::size_t i = 0; i < steps; ++i) {
        if (undo) {
            redo_.push_back(undo_.back());
            undo_.pop_back();
        } else {
            undo_.push_back(redo_.back());
            redo_.pop_back();
        }
    }
    adopt(target, std::move(parsed));
    publish_state_locked("");
    return {200, {{"version", version_}, {"changed", true}, {"label", label}}};
}

// ---- [SECTION] previews ----
cEditorReply cEditorSession::preview(const json& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto end = request.find("end"); request.is_object() && end != request.end()) {
        if (!end->is_boolean() || !end->get<bool>()) return {400, refusal("'end' can only be true")};
        if (preview_on_) end_preview();
        return {200, {{"version", version_}}};
    }
    cEditorReply reply;
    if (!version_matches(request, reply)) return reply;
    if (!parsed_.ok() || disk_broken_) {
        return {422, refusal("the source has a problem; correct it in the text first")};
    }
    auto op = request.find("op");
    if (op == request.end() || !op->is_string() ||
        (*op != "move" && *op != "paste" && *op != "duplicate")) {
        return {400, refusal("only a move, a paste or a duplicate is previewed")};
    }
    cEditPlan plan = plan_edit(request, *text_, parsed_, limits_);
    if (plan.status != 200) return {plan.status, refusal(plan.error)};
    cParsedSource next = parse_track_source(plan.text);
    if (!next.ok()) return {422, refusal("the track compiler refuses it: " + first_problem(next))};
    std::vector<cDevTrackKeys> tracks;
    for (const std::string& name : plan.tracks) {
        for (const cSourceTrack& t : next.tracks) {
            if (t.name == name) tracks.push_back({name, t.keys});
        }
    }
    dev_.request_preview(std::move(tracks));
    preview_on_ = true;
    preview_at_ = std::chrono::steady_clock::now();
    return {200, {{"version", version_}, {"tracks", plan.tracks}}};
}

void cEditorSession::end_preview() {
    preview_on_ = false;
    // The source as it is on disk now, which the show would take by itself: a save from another
    // program that the show took while the drag went on is not put back to the editor's text.
    cSourceRead read;
    std::string error;
    if (read_source_file(source_path_, read, error) && !read.changing && parse_track_source(read.text).ok()) {
        dev_.request_tracks(std::move(read.text));
    } else if (parsed_.ok()) {
        dev_.request_tracks(*text_);
    }
}

bool cEditorSession::removed_by_editor(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    std::erase_if(removed_files_, [&](const auto& entry) {
        return now - entry.second > std::chrono::milliseconds(editor_config::removal_report_ms);
    });
    for (const auto& entry : removed_files_) {
        if (entry.first == path) return true;
    }
    return false;
}

void cEditorSession::adopt(std::shared_ptr<const std::string> text, cParsedSource parsed) {
    text_ = std::move(text);
    parsed_ = std::move(parsed);
    if (parsed_.ok()) shown_ = parsed_;
    ++version_;
}

// ---- [SECTION] the disk ----
// The track files are prepared first and the source put in place over the very text the edit
// was based on; only then are the track files renamed in, and when that fails the source goes
// back. So the page's answer tells the truth: the edit is on disk whole, or not at all. A kill
// between the steps leaves the source ahead of its track files (the development mode compiles
// them again at its next start) and temporaries (removed then too).
bool cEditorSession::write(const std::shared_ptr<const std::string>& text, const cParsedSource& parsed,
                           cEditorReply& reply) {
    const std::string unchanged = "; nothing was changed";
    cTrackFileSet tracks;
    if (parsed.ok()) {
        cWriteOutcome prepared = tracks.prepare(sync_dir_, compiled_track_files(parsed));
        if (!prepared.ok) {
            reply = {500, refusal("the track files cannot be written: " + prepared.error + unchanged)};
            return false;
        }
    }
    cSourceReplacement source(source_path_);
    std::string error;
    if (!source.prepare(*text, *text_, error)) {
        reply = {500, refusal(error + unchanged)};
        return false;
    }
    switch (source.put(error)) {
        case cSourceReplacement::cPut::failed:
            reply = {500, refusal(error + unchanged)};
            return false;
        case cSourceReplacement::cPut::changed_outside:
            reply = {409,
                     {{"error", std::string(kSyncSourcePath) +
                                    " was changed by another program while the change was written; that save stays; look again"},
                      {"version", version_}}};
            return false;
        case cSourceReplacement::cPut::done:
            break;
    }
    if (parsed.ok()) {
        cWriteOutcome committed = tracks.commit();
        if (!committed.ok) {
            source.take_back();
            reply = {500, refusal("the track files cannot be written: " + committed.error + unchanged)};
            return false;
        }
    }
    source.finish();
    dev_.request_tracks(*text);
    preview_on_ = false;
    if (parsed.ok()) remove_dropped_track_files(parsed);
    return true;
}

// A track the change removed (a rename, a deletion, an undone new track) leaves a file the show
// would still read; it goes when it holds exactly what the source compiled to, and when the
// source on disk now (another program may have saved since) does not define the track either.
// The show then reads the track as a start without its file would: no keys, value 0.
void cEditorSession::remove_dropped_track_files(const cParsedSource& parsed) {
    std::vector<const cSourceTrack*> dropped;
    for (const cSourceTrack& old : shown_.tracks) {
        bool kept = false;
        for (const cSourceTrack& now : parsed.tracks) kept = kept || now.name == old.name;
        if (!kept) dropped.push_back(&old);
    }
    if (dropped.empty()) return;
    std::string on_disk, error;
    if (!read_source_file(source_path_, on_disk, error)) return;
    cParsedSource current = parse_track_source(on_disk);
    std::vector<cDevTrackKeys> emptied;
    const auto now = std::chrono::steady_clock::now();
    for (const cSourceTrack* old : dropped) {
        bool defined = false;
        for (const cSourceTrack& now : current.tracks) defined = defined || now.name == old->name;
        std::string path = sync_dir_ + track_file_name(old->name), bytes;
        if (!defined && read_source_file(path, bytes, error) && bytes == encode_track(old->keys) &&
            ::unlink(path.c_str()) == 0) {
            removed_files_.push_back({std::string(kSyncBasePath) + track_file_name(old->name), now});
            emptied.push_back({old->name, {}});
        }
    }
    if (!emptied.empty()) dev_.request_preview(std::move(emptied));
}

bool cEditorSession::sync_with_disk(cEditorReply& reply) {
    cSourceRead read;
    std::string error;
    if (!read_source_file(source_path_, read, error)) {
        reply = {409, refusal(error + "; nothing was written")};
        return false;
    }
    auto now = std::chrono::steady_clock::now();
    if (!(read.stamp == seen_stamp_)) {
        seen_stamp_ = read.stamp;
        seen_since_ = now;
    }
    if (read.text == *text_ && !read.changing) {
        settled_stamp_ = read.stamp;
        if (disk_broken_) {
            disk_broken_ = false;
            publish_state_locked("");
        }
        return true;
    }
    // Quiet: unchanged for the settle time by the file's own times, or, for a file whose times
    // say otherwise (a clock ahead, a time set by the writer), by this session's looks at it.
    const double settle = editor_config::source_settle_ms / 1000.0;
    const double unchanged_for =
        std::max(read.age_seconds, std::chrono::duration<double>(now - seen_since_).count());
    if (read.changing || unchanged_for < settle) {
        int wait_ms = static_cast<int>((settle - std::min(unchanged_for, settle)) * 1000.0) + 1;
        reply = {503,
                 {{"error", std::string(kSyncSourcePath) +
                                " is being written by another program; the change waits until the file is whole"},
                  {"settling", true},
                  {"retry_ms", read.changing ? editor_config::source_settle_ms : wait_ms}}};
        return false;
    }
    settled_stamp_ = read.stamp;
    cParsedSource parsed = parse_track_source(read.text);
    if (!parsed.ok()) {
        // Not taken: the editor goes on from the last whole text, and the pages show the problem.
        if (!disk_broken_ || disk_broken_text_ != read.text) {
            disk_broken_ = true;
            disk_broken_text_ = read.text;
            disk_broken_parse_ = parsed;
            publish_state_locked("");
        }
        reply = {422, refusal("the source has a problem (" + first_problem(parsed) + "); correct it in the text first")};
        return false;
    }
    disk_broken_ = false;
    auto after = std::make_shared<const std::string>(std::move(read.text));
    undo_.push_back({"change on disk", text_, after});
    if (undo_.size() > editor_config::history_depth) undo_.pop_front();
    redo_.clear();
    adopt(after, std::move(parsed));
    publish_state_locked(std::string(kSyncSourcePath) + " was changed outside the editor; the pages show it now");
    std::string reason = std::string(kSyncSourcePath) + " was changed outside the editor; look again";
    reply = {409, {{"error", reason}, {"version", version_}}};
    return false;
}

void cEditorSession::check_disk() {
    std::lock_guard<std::mutex> lock(mutex_);
    cEditorReply ignored;
    sync_with_disk(ignored);
}

void cEditorSession::poll_disk() {
    std::lock_guard<std::mutex> lock(mutex_);
    // A page that went away in the middle of a drag leaves the show its source's keys.
    if (preview_on_ && std::chrono::steady_clock::now() - preview_at_ >
                           std::chrono::milliseconds(editor_config::preview_idle_ms)) {
        end_preview();
    }
    if (file_stamp(source_path_) == settled_stamp_) return;
    cEditorReply ignored;
    sync_with_disk(ignored);
}
