// The editor's HTTP server: cpp-httplib on 127.0.0.1, one handler per verb, the page from the
// compiled-in files, Server-Sent Events for the push. Depends on the session (document and
// history), the request guard, the event hub and the development mode's control surface.
// No path of a request ever reaches the file system; nothing is served before the guard.
//
// [SECTION] replies   [SECTION] routes   [SECTION] events of the show   [SECTION] start and stop
#include "host/editor/editor_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <future>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/editor/editor_session.h"
#include "host/editor/event_stream.h"
#include "host/editor/page_files.h"
#include "host/editor/request_guard.h"
#include "host/editor/show_timeline.h"
#include "host/editor/waveform_peaks.h"
#include "host/sync/sync_config.h"

namespace {

using nlohmann::json;

// ---- [SECTION] replies ----
void reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& reason) { reply(res, status, {{"error", reason}}); }

// The body of a verb: a JSON object sent as application/json (a form or plain text from
// another page would not need the browser's permission; JSON does).
bool read_body(const httplib::Request& req, httplib::Response& res, json& body) {
    std::string type = req.get_header_value("Content-Type");
    if (type.rfind("application/json", 0) != 0) {
        refuse(res, 415, "send the body as application/json");
        return false;
    }
    body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
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

class cEditorServerImpl final : public cEditorServer {
public:
    cEditorServerImpl(iDevControl& dev, const std::string& show_dir, std::string token)
        : dev_(dev), show_dir_(show_dir), session_(dev, show_dir, load_show_timeline(show_dir), hub_) {
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
        if (options.any_free_port) {
            address_.port = http_.bind_to_any_port(editor_config::listen_host);
            return address_.port > 0;
        }
        address_.port = options.port;
        return http_.bind_to_port(editor_config::listen_host, options.port);
    }

    void run() {
        // Decoded on a thread of its own: the show starts meanwhile, and the first page waits.
        std::string music = (std::filesystem::path(show_dir_) / editor_config::music_path).string();
        peaks_ = std::async(std::launch::async, [music] {
                     return peaks_json(load_waveform_peaks(music, editor_config::peak_buckets_per_second));
                 }).share();
        listener_ = std::thread([this] { http_.listen_after_bind(); });
        // The library's stop does nothing until the server runs: an editor stopped right after
        // it started would leave its listener running, and stop would wait for it for ever.
        for (int i = 0; i < 5000 && !http_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
    httplib::Server http_;
    std::shared_future<std::string> peaks_;
    std::thread listener_, pump_;
    int subscription_ = 0;
    bool subscribed_ = false;

    std::mutex pump_mutex_;
    std::condition_variable pump_ready_;
    std::deque<cDevEvent> pump_events_;
    bool state_pending_ = false;
    bool pump_stop_ = false;

    // ---- [SECTION] routes ----
    void configure() {
        // Only SO_REUSEADDR: the library's default also sets SO_REUSEPORT, which would let a
        // second program bind the same port and share the editor's connections.
        http_.set_socket_options([](int sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        http_.new_task_queue = [] { return new httplib::ThreadPool(editor_config::server_threads); };
        // Answers go out in more than one write; without this, the kernel may hold the last one
        // back for a delayed acknowledgement (tens of milliseconds).
        http_.set_tcp_nodelay(true);
        http_.set_payload_max_length(editor_config::max_body_bytes);
        http_.set_read_timeout(editor_config::socket_timeout_seconds);
        http_.set_write_timeout(editor_config::socket_timeout_seconds);

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
            if (peaks_.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
                refuse(res, 503, "the music is still being decoded");
                return;
            }
            res.set_content(peaks_.get(), "application/json");
        });
        http_.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { open_events(res); });

        post("/api/edit", [this](const json& body, httplib::Response& res) { answer(res, session_.edit(body)); });
        post("/api/undo", [this](const json& body, httplib::Response& res) { answer(res, session_.undo(body)); });
        post("/api/redo", [this](const json& body, httplib::Response& res) { answer(res, session_.redo(body)); });
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
        std::shared_ptr<cEventQueue> queue = session_.open_stream();
        if (!queue) {
            refuse(res, 503, "too many pages are open");
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
                if (event.kind == cDevEvent::reload_failed) {
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
        hub_.close_all();
        http_.stop();
        if (listener_.joinable()) listener_.join();
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
    auto server = std::make_unique<cEditorServerImpl>(dev, show_dir, std::move(token));
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
