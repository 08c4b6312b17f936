// The editor's document and history. Depends on host/sync (parser, compiler into track files),
// the source file writer, the development mode's control surface and the event hub. Nothing
// reaches the disk unless the track compiler accepts it; the previous source is always kept.
//
// [SECTION] state   [SECTION] edits   [SECTION] the disk
#include "host/editor/editor_session.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <iostream>

#include "host/editor/editor_config.h"
#include "host/editor/source_file.h"
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
    std::string text;
    if (!read_source_file(source_path_, text, error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    parsed_ = parse_track_source(text);
    if (parsed_.ok()) shown_ = parsed_;
    text_ = std::make_shared<const std::string>(std::move(text));
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
                 {"source", {{"path", kSyncSourcePath}, {"ok", parsed_.ok()}, {"problems", problems_json(parsed_)}}},
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
    std::string failure = write(after, next);
    if (!failure.empty()) return {500, refusal(failure)};
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
    cEditorReply reply;
    if (!version_matches(request, reply) || !sync_with_disk(reply)) return reply;
    if (undo ? undo_.empty() : redo_.empty()) return {422, refusal(undo ? "nothing to undo" : "nothing to redo")};
    cStep step = undo ? undo_.back() : redo_.back();
    const std::shared_ptr<const std::string>& target = undo ? step.before : step.after;
    cParsedSource parsed = parse_track_source(*target);
    std::string failure = write(target, parsed);
    if (!failure.empty()) return {500, refusal(failure)};
    if (undo) {
        undo_.pop_back();
        redo_.push_back(step);
    } else {
        redo_.pop_back();
        undo_.push_back(step);
    }
    adopt(target, std::move(parsed));
    publish_state_locked("");
    return {200, {{"version", version_}, {"changed", true}, {"label", (undo ? "undo " : "redo ") + step.label}}};
}

void cEditorSession::adopt(std::shared_ptr<const std::string> text, cParsedSource parsed) {
    text_ = std::move(text);
    parsed_ = std::move(parsed);
    if (parsed_.ok()) shown_ = parsed_;
    ++version_;
}

// ---- [SECTION] the disk ----
// The source, its backup, the track files (when the text compiles), then the show. Returns
// why the source could not be written; the track files are secondary (the show gets the text
// itself), so trouble with them is reported on the console and the edit stands.
std::string cEditorSession::write(const std::shared_ptr<const std::string>& text, const cParsedSource& parsed) {
    std::string error;
    if (!replace_source_file(source_path_, *text, *text_, error)) return error + "; nothing was changed";
    if (parsed.ok()) {
        cWriteOutcome written = write_compiled_tracks(parsed, sync_dir_);
        if (!written.ok) {
            std::cerr << "# WARNING: the editor could not update the track files: " << written.error << std::endl;
        }
        // A track the change removed (a rename, an undone new track) leaves a file the show
        // would still read; it goes when it holds exactly what the source compiled to.
        for (const cSourceTrack& old : shown_.tracks) {
            bool kept = false;
            for (const cSourceTrack& now : parsed.tracks) kept = kept || now.name == old.name;
            if (kept) continue;
            std::string path = sync_dir_ + track_file_name(old.name);
            std::string bytes;
            if (read_source_file(path, bytes, error) && bytes == encode_track(old.keys)) ::unlink(path.c_str());
        }
    }
    dev_.request_tracks(*text);
    return {};
}

bool cEditorSession::sync_with_disk(cEditorReply& reply) {
    std::string text, error;
    if (!read_source_file(source_path_, text, error)) {
        reply = {409, refusal(error + "; nothing was written")};
        return false;
    }
    if (text == *text_) return true;
    auto after = std::make_shared<const std::string>(std::move(text));
    undo_.push_back({"change on disk", text_, after});
    if (undo_.size() > editor_config::history_depth) undo_.pop_front();
    redo_.clear();
    adopt(after, parse_track_source(*after));
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
