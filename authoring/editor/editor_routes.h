// The editor's routes: the guard before every request, the headers after it, the page's files,
// and one short handler per verb, each of which reads its request and calls the code that does
// the work (the session's edits, which compile with the track tool's own code; the show's
// control surface). Knows nothing of sockets, threads or the server's start and stop.
#pragma once
#include <memory>

#include <nlohmann/json.hpp>

#include "authoring/control/dev_control.h"
#include "authoring/editor/request_guard.h"

namespace httplib {
struct Request;
struct Response;
class Server;
}  // namespace httplib

class cEditorSession;
class cEventHub;
class cMusicPeaks;
struct cPageFile;

// The path of the pages' event stream: the server runs it on a thread of its own.
inline constexpr const char* kEventStreamPath = "/api/events";

// The server marks the threads that may hold an event stream open; on any other thread (the
// stream asked for by another spelling of its path) a stream is refused, or it would hold a
// request worker for good.
void mark_event_stream_thread(bool stream);

class cEditorRoutes {
public:
    cEditorRoutes(cEditorSession& session, cEventHub& hub, iDevControl& dev, const cEditorAddress& address,
                  std::shared_ptr<cMusicPeaks> peaks)
        : session_(session), hub_(hub), dev_(dev), address_(address), peaks_(std::move(peaks)) {}

    // Every route and handler of the editor on http.
    void install(httplib::Server& http);

private:
    using cVerb = void (cEditorRoutes::*)(const nlohmann::json& body, httplib::Response& res);

    void guard(httplib::Server& http);
    void serve_page_file(httplib::Server& http, const cPageFile& file, const std::string& path);
    void post(httplib::Server& http, const char* path, cVerb verb);

    void get_state(httplib::Response& res);
    void get_peaks(httplib::Response& res);
    void get_events(httplib::Response& res);
    void post_edit(const nlohmann::json& body, httplib::Response& res);
    void post_undo(const nlohmann::json& body, httplib::Response& res);
    void post_redo(const nlohmann::json& body, httplib::Response& res);
    void post_preview(const nlohmann::json& body, httplib::Response& res);
    void post_seek(const nlohmann::json& body, httplib::Response& res);
    void post_pause(const nlohmann::json& body, httplib::Response& res);
    void post_loop(const nlohmann::json& body, httplib::Response& res);

    cEditorSession& session_;
    cEventHub& hub_;
    iDevControl& dev_;
    const cEditorAddress& address_;
    std::shared_ptr<cMusicPeaks> peaks_;
};
