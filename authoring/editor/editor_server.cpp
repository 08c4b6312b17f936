// The editor's HTTP server: the gate reads requests whole on 127.0.0.1, cpp-httplib routes them
// on a few workers (event streams on threads of their own), one handler per verb, the page from
// the compiled-in files, Server-Sent Events for the push. Depends on the session (document and
// history), the request guard, the event hub and the development mode's control surface.
// No path of a request ever reaches the file system; nothing is served before the guard; no
// client can make the player's exit wait.
//
// [SECTION] replies   [SECTION] routes   [SECTION] requests from the gate
// [SECTION] events of the show   [SECTION] start and stop
#include "authoring/editor/editor_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "authoring/editor/editor_session.h"
#include "authoring/editor/event_stream.h"
#include "authoring/editor/gate_stream.h"
#include "authoring/editor/http_gate.h"
#include "authoring/editor/page_files.h"
#include "authoring/editor/request_guard.h"
#include "authoring/editor/show_timeline.h"
#include "authoring/editor/waveform_peaks.h"
#include "authoring/editor/worker_pool.h"
#include "host/sync/sync_config.h"

namespace {

using nlohmann::json;

// ---- [SECTION] replies ----
void reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& reason) { reply(res, status, {{"error", reason}}); }

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

// On the threads of the event streams; any other thread refuses to open one.
thread_local bool t_stream_thread = false;

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

class cEditorServerImpl final : public cEditorServer {
public:
    cEditorServerImpl(iDevControl& dev, const std::string& show_dir, std::string token, const cEditorOptions& options)
        : dev_(dev),
          show_dir_(show_dir),
          session_(dev, show_dir, load_show_timeline(show_dir), hub_),
          gate_(gate_settings(options)),
          requests_(editor_config::request_threads, editor_config::max_queued_requests),
          streams_(editor_config::stream_threads, 0) {
        address_.token = std::move(token);
    }

    ~cEditorServerImpl() override { stop(); }

    int port() const override { return address_.port; }
    const std::string& token() const override { return address_.token; }
    std::string url() const override {
        return "http://" + std::string(editor_config::listen_host) + ":" + std::to_string(address_.port) + "/?" +
               editor_config::token_query + "=" + address_.token;
    }

    bool open_source(std::string& error) { return session_.open(error); }

    // Binds the port; false when it is taken.
    bool bind(const cEditorOptions& options) {
        configure();
        if (!gate_.bind(editor_config::listen_host, options.any_free_port ? 0 : options.port)) return false;
        address_.port = gate_.port();
        return true;
    }

    void run() {
        // Decoded on a thread that nobody waits for: the show starts meanwhile, a page asking
        // early is told to ask again, and the player's exit does not wait for the decoder
        // (which cannot be interrupted). The thread owns all it touches: the path, and the
        // slot by a shared pointer.
        std::string music = (std::filesystem::path(show_dir_) / editor_config::music_path).string();
        std::thread([slot = peaks_, music] {
            std::string text = peaks_json(load_waveform_peaks(music, editor_config::peak_buckets_per_second));
            std::lock_guard<std::mutex> lock(slot->mutex);
            slot->json = std::move(text);
            slot->ready = true;
        }).detach();
        // The library ends long answers (event streams) once its socket reads as none.
        http_.open(gate_.listen_socket());
        gate_.start([this](cWholeRequest& request) { return dispatch(request); });
        pump_ = std::thread([this] { pump(); });
        session_.set_state_listener([this] {
            {
                std::lock_guard<std::mutex> lock(pump_mutex_);
                state_pending_ = true;
            }
            pump_ready_.notify_one();
        });
        subscription_ = dev_.subscribe([this](const cDevEvent& event) {
            {
                std::lock_guard<std::mutex> lock(pump_mutex_);
                pump_events_.push_back(event);
            }
            pump_ready_.notify_one();
        });
        subscribed_ = true;
    }

private:
    iDevControl& dev_;
    std::string show_dir_;
    cEditorAddress address_;
    cEventHub hub_;
    cEditorSession session_;
    // The library's routing and answers, fed by the gate instead of its own sockets.
    class cRouter final : public httplib::Server {
    public:
        bool serve(httplib::Stream& stream, bool close_after, bool& closed) {
            return process_request(stream, close_after, closed, [](httplib::Request&) {});
        }
        void open(int fd) { svr_sock_ = fd; }
        void close() { svr_sock_ = INVALID_SOCKET; }
    };
    cRouter http_;
    cHttpGate gate_;
    cWorkerPool requests_, streams_;
    std::atomic<bool> stopping_{false};
    struct cPeaksSlot {
        std::mutex mutex;
        bool ready = false;
        std::string json;
    };
    std::shared_ptr<cPeaksSlot> peaks_ = std::make_shared<cPeaksSlot>();
    std::thread pump_;
    int subscription_ = 0;
    bool subscribed_ = false;

    std::mutex pump_mutex_;
    std::condition_variable pump_ready_;
    std::deque<cDevEvent> pump_events_;
    bool state_pending_ = false;
    bool pump_stop_ = false;

    // ---- [SECTION] routes ----
    static cGateSettings gate_settings(const cEditorOptions& options) {
        cGateSettings settings;
        settings.framing.max_head_bytes = editor_config::max_head_bytes;
        settings.framing.max_body_bytes = editor_config::max_body_bytes;
        settings.request_deadline = std::chrono::milliseconds(options.request_deadline_ms);
        settings.idle_deadline = std::chrono::milliseconds(editor_config::idle_connection_ms);
        settings.drain_time = std::chrono::milliseconds(editor_config::drain_ms);
        settings.max_waiting = editor_config::max_waiting_connections;
        return settings;
    }

    void configure() {
        // The gate has checked the sizes already; this is the library's own guard as well.
        http_.set_payload_max_length(editor_config::max_body_bytes);

        http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            cGuardVerdict verdict = check_request(req, address_);
            if (verdict.status == 0) return httplib::Server::HandlerResponse::Unhandled;
            if (verdict.status == 401) res.set_header("WWW-Authenticate", "Token realm=\"editor\"");
            refuse(res, verdict.status, verdict.reason);
            return httplib::Server::HandlerResponse::Handled;
        });
        http_.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-store");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("Referrer-Policy", "no-referrer");
            res.set_header("X-Frame-Options", "DENY");
            // The page talks to this server alone and may not be framed by another page.
            res.set_header("Content-Security-Policy",
                           "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
                           "frame-ancestors 'none'; form-action 'none'");
        });

        std::size_t count = 0;
        const cPageFile* files = page_files(count);
        for (std::size_t i = 0; i < count; ++i) serve_page_file(files[i], files[i].path);
        if (const cPageFile* index = find_page_file("/index.html")) serve_page_file(*index, "/");

        http_.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(session_.state_text(), "application/json");
        });
        http_.Get("/api/peaks", [this](const httplib::Request&, httplib::Response& res) {
            // Never waits for the decoder: a worker held here would be one fewer for the pages.
            std::lock_guard<std::mutex> lock(peaks_->mutex);
            if (!peaks_->ready) {
                res.set_header("Retry-After", std::to_string(editor_config::peaks_retry_seconds));
                refuse(res, 503, "the music is still being decoded; ask again in a moment");
                return;
            }
            res.set_content(peaks_->json, "application/json");
        });
        http_.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { open_events(res); });

        post("/api/edit", [this](const json& body, httplib::Response& res) { answer(res, session_.edit(body)); });
        post("/api/undo", [this](const json& body, httplib::Response& res) { answer(res, session_.undo(body)); });
        post("/api/redo", [this](const json& body, httplib::Response& res) { answer(res, session_.redo(body)); });
        post("/api/preview", [this](const json& body, httplib::Response& res) { answer(res, session_.preview(body)); });
        post("/api/seek", [this](const json& body, httplib::Response& res) {
            int64_t ms = 0;
            if (!read_ms(body, "ms", ms, res)) return;
            dev_.request_seek(ms);
            reply(res, 200, {{"ok", true}});
        });
        post("/api/pause", [this](const json& body, httplib::Response& res) {
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
        });
        post("/api/loop", [this](const json& body, httplib::Response& res) {
            int64_t start = 0, end = 0;
            if (!read_ms(body, "start_ms", start, res) || !read_ms(body, "end_ms", end, res)) return;
            dev_.request_loop(start, end);
            reply(res, 200, {{"ok", true}});
        });
    }

    void serve_page_file(const cPageFile& file, const std::string& path) {
        bool is_index = path == "/" || path == "/index.html";
        // Routes are regular expressions; page file names hold dots.
        std::string pattern;
        for (char c : path) {
            if (c == '.') pattern += '\\';
            pattern += c;
        }
        http_.Get(pattern, [this, &file, is_index](const httplib::Request&, httplib::Response& res) {
            res.set_content(reinterpret_cast<const char*>(file.bytes), file.size, file.content_type);
            // The page's modules and its event stream carry no token of their own.
            if (is_index) res.set_header("Set-Cookie", token_cookie(address_));
        });
    }

    template <typename Handler>
    void post(const std::string& path, Handler handler) {
        http_.Post(path, [handler](const httplib::Request& req, httplib::Response& res) {
            json body;
            if (read_body(req, res, body)) handler(body, res);
        });
    }

    static void answer(httplib::Response& res, const cEditorReply& r) { reply(res, r.status, r.body); }

    void open_events(httplib::Response& res) {
        // A stream reached by another spelling of its path would hold a worker for good.
        if (!t_stream_thread) {
            refuse(res, 400, "open the event stream as /api/events");
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

    // ---- [SECTION] requests from the gate ----
    // On the gate's thread: never waits. False when no thread can take the request now.
    bool dispatch(cWholeRequest& request) {
        const bool stream = request.path == "/api/events";
        const int fd = request.fd;
        cWorkerPool::Job job = [this, r = std::move(request), stream](bool run) mutable {
            if (run) {
                serve(r, stream);
            } else {
                gate_.close(r.fd);
            }
        };
        if ((stream ? streams_ : requests_).try_post(job)) return true;
        request.fd = fd;
        return false;
    }

    void serve(cWholeRequest& request, bool stream) {
        t_stream_thread = stream;
        cGateStream connection(request.fd, request.bytes, std::chrono::milliseconds(editor_config::write_timeout_ms),
                               stopping_);
        bool closed = false;
        // An event stream ends its connection: the page opens a new one when it wants one.
        const bool served = http_.serve(connection, stream || stopping_, closed);
        if (served && !closed && !stream && !connection.broken() && !stopping_) {
            gate_.keep(request.fd, std::move(request.rest));
        } else {
            gate_.close(request.fd);
        }
    }

    // ---- [SECTION] events of the show ----
    // Runs on the editor's own thread: the show's listener only queues, so the main loop never
    // waits on a write or a page; and every change of the tracks goes to the pages from here.
    void pump() {
        auto period = std::chrono::milliseconds(editor_config::player_push_ms);
        auto next_player = std::chrono::steady_clock::now() + period;
        std::unique_lock<std::mutex> lock(pump_mutex_);
        while (!pump_stop_) {
            pump_ready_.wait_until(lock, next_player,
                                   [this] { return pump_stop_ || state_pending_ || !pump_events_.empty(); });
            if (pump_stop_) break;
            std::deque<cDevEvent> events;
            events.swap(pump_events_);
            bool state_pending = state_pending_;
            state_pending_ = false;
            lock.unlock();
            if (state_pending) session_.publish_state();
            bool player_changed = false;
            for (const cDevEvent& event : events) {
                if (event.kind == cDevEvent::tracks_reloaded) session_.check_disk();
                if (event.kind == cDevEvent::reload_failed && !session_.removed_by_editor(event.path)) {
                    hub_.publish("notice", json{{"text", "the show could not apply \"" + event.path + "\": " + event.text},
                                                {"error", true}}
                                               .dump());
                    // A source saved with an error: the pages show it, with its problems.
                    if (event.path == kSyncSourcePath) session_.check_disk();
                }
                if (event.kind == cDevEvent::state_changed) player_changed = true;
            }
            // A save the show has not reported (or one still settling then) is taken from here.
            session_.poll_disk();
            auto now = std::chrono::steady_clock::now();
            if (player_changed || now >= next_player) {
                if (hub_.stream_count() > 0) hub_.publish("player", player_json(dev_.state()).dump());
                next_player = now + period;
            }
            lock.lock();
        }
    }

    // ---- [SECTION] start and stop ----
    void stop() {
        if (subscribed_) dev_.unsubscribe(subscription_);
        subscribed_ = false;
        {
            std::lock_guard<std::mutex> lock(pump_mutex_);
            pump_stop_ = true;
        }
        pump_ready_.notify_one();
        if (pump_.joinable()) pump_.join();
        // Whatever the clients do, nothing below waits on one: the streams are woken and end,
        // every socket is shut (a write in progress fails at once), then the threads are joined.
        stopping_ = true;
        http_.close();
        hub_.close_all();
        gate_.stop();
        streams_.stop();
        requests_.stop();
    }
};

}  // namespace

std::unique_ptr<cEditorServer> start_editor(const cEditorOptions& options, iDevControl& dev, const std::string& show_dir) {
    if (options.port == 0 && !options.any_free_port) return nullptr;
    std::string token = make_editor_token();
    if (token.empty()) {
        std::cerr << "## ERROR: the editor could not read the system's random source for its token; the show goes on "
                     "without the editor"
                  << std::endl;
        return nullptr;
    }
    auto server = std::make_unique<cEditorServerImpl>(dev, show_dir, std::move(token), options);
    std::string error;
    if (!server->open_source(error)) {
        std::cerr << "# WARNING: the editor is off: " << error << "; the show goes on without it" << std::endl;
        return nullptr;
    }
    if (!server->bind(options)) {
        std::cerr << "# WARNING: the editor is off: " << editor_config::listen_host << ":" << options.port
                  << " is taken by another program (choose another with --editor-port N); the show goes on without it"
                  << std::endl;
        return nullptr;
    }
    server->run();
    if (options.announce) std::cout << "# editor: " << server->url() << std::endl;
    return server;
}
