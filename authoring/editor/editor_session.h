// The editor's document: the track source as it is on disk, its version, and the shared edit
// history. Every change goes through here under one lock: checked against the version the
// page saw and against the file on disk (which must be whole: a file another program is still
// writing is waited for), validated by the track compiler, written with its track files all
// or nothing, handed to the playing show, and pushed to every page.
// Knows nothing of HTTP beyond the status numbers its replies carry.
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "authoring/control/dev_control.h"
#include "authoring/editor/edit_request.h"
#include "authoring/editor/event_stream.h"
#include "authoring/editor/show_timeline.h"
#include "authoring/editor/source_file.h"
#include "host/sync/track_source.h"

struct cEditorReply {
    // 200, or 400 / 409 / 422 / 500 with {"error": reason}; 503 with {"error": reason,
    // "settling": true, "retry_ms": N} while another program writes the source.
    int status = 200;
    nlohmann::json body;
};

nlohmann::json player_json(const cDevState& state);

class cEditorSession {
public:
    cEditorSession(iDevControl& dev, const std::string& show_dir, cShowTimeline timeline, cEventHub& hub);

    // Reads the source. False (reason in error) when the file cannot be read.
    bool open(std::string& error);

    // The whole state: version, tracks, the source's problems, history, time line, player.
    std::string state_text();
    // {"version": N, "op": ...} (edit_request.h); undo and redo take {"version": N} and
    // optionally "steps" (how many steps at once, one write: a click on the history).
    cEditorReply edit(const nlohmann::json& request);
    cEditorReply undo(const nlohmann::json& request);
    cEditorReply redo(const nlohmann::json& request);
    // A key edit as edit() takes it (move, paste, duplicate), shown by the playing show at once
    // and saved nowhere: the keys of the tracks it changes go to the show, which plays them
    // until the next reload of those tracks. The same checks as an edit, and the same refusals.
    // {"version": N, "end": true} gives the show the source's keys again (a drag let go without
    // a change); so does a preview left without a word for a few seconds (a page gone
    // mid-drag), and any edit, undo or redo.
    cEditorReply preview(const nlohmann::json& request);
    // Whether the file of a show's event is one this editor removed a moment ago (the track
    // file of a renamed or deleted track): the show's word about its removal concerns nobody.
    bool removed_by_editor(const std::string& path);
    // A page's event stream, starting with the whole state; null when too many are open.
    std::shared_ptr<cEventQueue> open_stream();
    // The source may have changed on disk (the show reloaded it): a whole text other than the
    // one the editor holds becomes the new version, undoable like an edit, and goes to every
    // page; a text that parses with problems is shown with them, and changes wait for its fix.
    void check_disk();
    // The same, when the file is not as the editor last saw it settled; cheap otherwise (one
    // stat). Called now and then, so a save the show did not report is taken once it settles.
    void poll_disk();

    uint64_t version();

    // Called (under the session's lock: it must only wake someone) whenever the state changed;
    // that someone then calls publish_state from its own thread, so an edit's answer does not
    // wait for every page's copy to be made. Without a listener, changes are published at once.
    void set_state_listener(std::function<void()> listener);
    // The current state to every open page.
    void publish_state();

private:
    struct cStep {
        std::string label;
        std::shared_ptr<const std::string> before, after;
    };

    iDevControl& dev_;
    std::string source_path_;
    std::string sync_dir_;
    cShowTimeline timeline_;
    cEditLimits limits_;
    cEventHub& hub_;
    std::function<void()> state_listener_;

    std::mutex mutex_;
    std::shared_ptr<const std::string> text_;
    cParsedSource parsed_;        // of text_
    cParsedSource shown_;         // the last problem-free parse: what the show plays
    // A quiet source on disk that does not parse (not taken): its problems go to the pages.
    bool disk_broken_ = false;
    std::string disk_broken_text_;
    cParsedSource disk_broken_parse_;
    // The file as last seen, and since when unchanged (for a file whose times are not to be
    // trusted); the file as last found settled (for poll_disk).
    cFileStamp seen_stamp_, settled_stamp_;
    std::chrono::steady_clock::time_point seen_since_;
    uint64_t version_ = 1;
    std::string tracks_text_;          // the tracks of shown_ as JSON, made once per version
    uint64_t tracks_text_version_ = 0;
    std::deque<cStep> undo_;
    std::vector<cStep> redo_;
    // The show plays keys of a preview; since when it was last asked for.
    bool preview_on_ = false;
    std::chrono::steady_clock::time_point preview_at_;
    // Track files this editor removed (paths as the show names them), and when.
    std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> removed_files_;

    std::string state_locked();
    void publish_state_locked(const std::string& notice);
    bool version_matches(const nlohmann::json& request, cEditorReply& refusal);
    // True when the file on disk is the text the editor holds, whole; otherwise the refusal
    // says why (a change taken from the disk, a file being written, a source with a problem).
    bool sync_with_disk(cEditorReply& refusal);
    void adopt(std::shared_ptr<const std::string> text, cParsedSource parsed);
    // The source and its track files, all or nothing; false with the refusal to send.
    bool write(const std::shared_ptr<const std::string>& text, const cParsedSource& parsed, cEditorReply& refusal);
    void remove_dropped_track_files(const cParsedSource& parsed);
    void end_preview();
    cEditorReply restore(bool undo, const nlohmann::json& request);
    cEditorReply edit_locked(const nlohmann::json& request);
    cEditorReply restore_locked(bool undo, const nlohmann::json& request);
};
