// The editor's routes and handlers over cpp-httplib's router. Depends on the session (document
// and history), the event hub, the request guard, the page's compiled-in files, the music's
// peaks and the development mode's control surface. No path of a request ever reaches the file
// system; nothing is served before the guard; no handler waits on the show or the decoder.
//
// [SECTION] replies   [SECTION] routes   [SECTION] reading   [SECTION] writing
#include "authoring/editor/editor_routes.h"

#include <httplib.h>

#include <string>

#include "authoring/editor/editor_config.h"
#include "authoring/editor/editor_session.h"
#include "authoring/editor/event_stream.h"
#include "authoring/editor/music_peaks.h"
#include "authoring/editor/page_files.h"

namespace {

using nlohmann::json;

// ---- [SECTION] replies ----
void reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& reason) { reply(res, status, {{"error", reason}}); }

void answer(httplib::Response& res, const cEditorReply& r) { reply(res, r.status, r.body); }

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// "application/json" in any case, with or without parameters ("; charset=utf-8"), and nothing
// else: a form or plain text from another page would not need the browser's permission; JSON does.
bool is_json_type(const std::string& type) {
    std::string media = lower(type.substr(0, type.find(';')));
    const std::size_t first = media.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    media = media.substr(first, media.find_last_not_of(" \t") - first + 1);
    return media == "application/json";
}

// The body of a verb: a JSON object sent as application/json.
bool read_body(const httplib::Request& req, httplib::Response& res, json& body) {
    if (!is_json_type(req.get_header_value("Content-Type"))) {
        refuse(res, 415, "send the body as application/json");
        return false;
    }
    try {
        body = json::parse(req.body);
    } catch (const json::exception& e) {
        // The library's words without its "[json.exception.parse_error.101] " tag.
        std::string why = e.what();
        if (why.rfind("[json.exception.", 0) == 0 && why.find("] ") != std::string::npos) why.erase(0, why.find("] ") + 2);
        refuse(res, 400, "the body is not JSON: " + why);
        return false;
    }
    if (!body.is_object()) {
        refuse(res, 400, "the body is not a JSON object");
        return false;
    }
    return true;
}

// A time in whole milliseconds; the show clamps it to its length.
bool read_ms(const json& body, const char* name, int64_t& out, httplib::Response& res) {
    auto found = body.find(name);
    if (found == body.end() || !found->is_number_integer()) {
        refuse(res, 400, std::string("'") + name + "' must be a whole number of milliseconds");
        return false;
    }
    out = found->get<int64_t>();
    return true;
}

// On the threads of the event streams; any other thread refuses to open one.
thread_local bool t_stream_thread = false;

}  // namespace

void mark_event_stream_thread(bool stream) { t_stream_thread = stream; }

// ---- [SECTION] routes ----
void cEditorRoutes::install(httplib::Server& http) {
    guard(http);
    std::size_t count = 0;
    const cPageFile* files = page_files(count);
    for (std::size_t i = 0; i < count; ++i) serve_page_file(http, files[i], files[i].path);
    if (const cPageFile* index = find_page_file("/index.html")) serve_page_file(http, *index, "/");

    http.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) { get_state(res); });
    http.Get("/api/peaks", [this](const httplib::Request&, httplib::Response& res) { get_peaks(res); });
    http.Get(kEventStreamPath, [this](const httplib::Request&, httplib::Response& res) { get_events(res); });

    post(http, "/api/edit", &cEditorRoutes::post_edit);
    post(http, "/api/undo", &cEditorRoutes::post_undo);
    post(http, "/api/redo", &cEditorRoutes::post_redo);
    post(http, "/api/preview", &cEditorRoutes::post_preview);
    post(http, "/api/seek", &cEditorRoutes::post_seek);
    post(http, "/api/pause", &cEditorRoutes::post_pause);
    post(http, "/api/loop", &cEditorRoutes::post_loop);
}

// Before every route: the guard (Host, Origin, token); after every answer: headers that keep
// the page to itself.
void cEditorRoutes::guard(httplib::Server& http) {
    // The gate has checked the sizes already; this is the library's own guard as well.
    http.set_payload_max_length(editor_config::max_body_bytes);

    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        cGuardVerdict verdict = check_request(req, address_);
        if (verdict.status == 0) return httplib::Server::HandlerResponse::Unhandled;
        if (verdict.status == 401) res.set_header("WWW-Authenticate", "Token realm=\"editor\"");
        refuse(res, verdict.status, verdict.reason);
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("X-Frame-Options", "DENY");
        // The page talks to this server alone and may not be framed by another page.
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
                       "frame-ancestors 'none'; form-action 'none'");
    });
}

void cEditorRoutes::serve_page_file(httplib::Server& http, const cPageFile& file, const std::string& path) {
    bool is_index = path == "/" || path == "/index.html";
    // Routes are regular expressions; page file names hold dots.
    std::string pattern;
    for (char c : path) {
        if (c == '.') pattern += '\\';
        pattern += c;
    }
    http.Get(pattern, [this, &file, is_index](const httplib::Request&, httplib::Response& res) {
        res.set_content(reinterpret_cast<const char*>(file.bytes), file.size, file.content_type);
        // The page's modules and its event stream carry no token of their own.
        if (is_index) res.set_header("Set-Cookie", token_cookie(address_));
    });
}

void cEditorRoutes::post(httplib::Server& http, const char* path, cVerb verb) {
    http.Post(path, [this, verb](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (read_body(req, res, body)) (this->*verb)(body, res);
    });
}

// ---- [SECTION] reading ----
void cEditorRoutes::get_state(httplib::Response& res) { res.set_content(session_.state_text(), "application/json"); }

void cEditorRoutes::get_peaks(httplib::Response& res) {
    // Never waits for the decoder: a worker held here would be one fewer for the pages.
    std::string peaks;
    if (!peaks_->copy(peaks)) {
        res.set_header("Retry-After", std::to_string(editor_config::peaks_retry_seconds));
        refuse(res, 503, "the music is still being decoded; ask again in a moment");
        return;
    }
    res.set_content(peaks, "application/json");
}

void cEditorRoutes::get_events(httplib::Response& res) {
    // A stream reached by another spelling of its path would hold a worker for good.
    if (!t_stream_thread) {
        refuse(res, 400, std::string("open the event stream as ") + kEventStreamPath);
        return;
    }
    std::shared_ptr<cEventQueue> queue = session_.open_stream();
    if (!queue) {
        refuse(res, 503, "the editor is stopping");
        return;
    }
    res.set_chunked_content_provider(
        "text/event-stream",
        [queue](std::size_t, httplib::DataSink& sink) {
            std::string chunk;
            if (!queue->wait(chunk, std::chrono::seconds(editor_config::keep_alive_seconds))) return false;
            if (chunk.empty()) chunk = ": keep-alive\n\n";
            return sink.write(chunk.data(), chunk.size());
        },
        [this, queue](bool) { hub_.close_stream(queue); });
}

// ---- [SECTION] writing ----
void cEditorRoutes::post_edit(const json& body, httplib::Response& res) { answer(res, session_.edit(body)); }

void cEditorRoutes::post_undo(const json& body, httplib::Response& res) { answer(res, session_.undo(body)); }

void cEditorRoutes::post_redo(const json& body, httplib::Response& res) { answer(res, session_.redo(body)); }

// A drag's keys for the show to play, checked as the edit would be; writes no file.
void cEditorRoutes::post_preview(const json& body, httplib::Response& res) { answer(res, session_.preview(body)); }

void cEditorRoutes::post_seek(const json& body, httplib::Response& res) {
    int64_t ms = 0;
    if (!read_ms(body, "ms", ms, res)) return;
    dev_.request_seek(ms);
    reply(res, 200, {{"ok", true}});
}

void cEditorRoutes::post_pause(const json& body, httplib::Response& res) {
    auto paused = body.find("paused");
    if (paused != body.end() && paused->is_boolean()) {
        dev_.request_pause(paused->get<bool>());
    } else if (body.value("toggle", false) == true) {
        dev_.request_toggle_pause();
    } else {
        refuse(res, 400, "send {\"paused\": true|false} or {\"toggle\": true}");
        return;
    }
    reply(res, 200, {{"ok", true}});
}

void cEditorRoutes::post_loop(const json& body, httplib::Response& res) {
    int64_t start = 0, end = 0;
    if (!read_ms(body, "start_ms", start, res) || !read_ms(body, "end_ms", end, res)) return;
    dev_.request_loop(start, end);
    reply(res, 200, {{"ok", true}});
}
