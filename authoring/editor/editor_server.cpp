// The editor's HTTP server, its start and its stop: the gate reads requests whole on 127.0.0.1,
// cpp-httplib routes them (editor_routes) on a few workers, event streams on workers of their
// own, and the bridge carries the show's events to the pages. Depends on the session, the
// gate, the worker pools, the routes, the bridge and the development mode's control surface.
// No client can make the player's exit wait: stopping wakes every thread and joins it.
//
// [SECTION] requests from the gate   [SECTION] start and stop
#include "authoring/editor/editor_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <iostream>

#include "authoring/editor/editor_routes.h"
#include "authoring/editor/editor_session.h"
#include "authoring/editor/event_stream.h"
#include "authoring/editor/gate_stream.h"
#include "authoring/editor/http_gate.h"
#include "authoring/editor/music_peaks.h"
#include "authoring/editor/request_guard.h"
#include "authoring/editor/show_event_bridge.h"
#include "authoring/editor/show_timeline.h"
#include "authoring/editor/worker_pool.h"

namespace {

cGateSettings gate_settings(const cEditorOptions& options) {
    cGateSettings settings;
    settings.framing.max_head_bytes = editor_config::max_head_bytes;
    settings.framing.max_body_bytes = editor_config::max_body_bytes;
    settings.request_deadline = std::chrono::milliseconds(options.request_deadline_ms);
    settings.idle_deadline = std::chrono::milliseconds(editor_config::idle_connection_ms);
    settings.drain_time = std::chrono::milliseconds(editor_config::drain_ms);
    settings.max_waiting = editor_config::max_waiting_connections;
    return settings;
}

// The library's routing and answers, fed by the gate instead of its own sockets.
class cRouter final : public httplib::Server {
public:
    bool serve(httplib::Stream& stream, bool close_after, bool& closed) {
        return process_request(stream, close_after, closed, [](httplib::Request&) {});
    }
    // The library ends long answers (event streams) once its socket reads as none.
    void open(int fd) { svr_sock_ = fd; }
    void close() { svr_sock_ = INVALID_SOCKET; }
};

class cEditorServerImpl final : public cEditorServer {
public:
    cEditorServerImpl(iDevControl& dev, const cEditorOptions& options, const std::string& show_dir, std::string token)
        : music_path_((std::filesystem::path(show_dir) / options.music_path).string()),
          session_(dev, show_dir, load_show_timeline(show_dir, options.show_end_ms), hub_),
          routes_(session_, hub_, dev, address_, peaks_),
          bridge_(dev, session_, hub_),
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
    bool bind(const cEditorOptions& options);
    void start();

private:
    std::string music_path_;
    cEditorAddress address_;
    cEventHub hub_;
    cEditorSession session_;
    std::shared_ptr<cMusicPeaks> peaks_ = std::make_shared<cMusicPeaks>();
    cEditorRoutes routes_;
    cShowEventBridge bridge_;
    cRouter http_;
    cHttpGate gate_;
    cWorkerPool requests_, streams_;
    std::atomic<bool> stopping_{false};

    bool dispatch(cWholeRequest& request);
    void serve(cWholeRequest& request, bool stream);
    void stop();
};

// ---- [SECTION] requests from the gate ----
// On the gate's thread: never waits. False when no thread can take the request now.
bool cEditorServerImpl::dispatch(cWholeRequest& request) {
    const bool stream = request.path == kEventStreamPath;
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

void cEditorServerImpl::serve(cWholeRequest& request, bool stream) {
    mark_event_stream_thread(stream);
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

// ---- [SECTION] start and stop ----
// Binds the port; false when it is taken.
bool cEditorServerImpl::bind(const cEditorOptions& options) {
    routes_.install(http_);
    if (!gate_.bind(editor_config::listen_host, options.any_free_port ? 0 : options.port)) return false;
    address_.port = gate_.port();
    return true;
}

void cEditorServerImpl::start() {
    // Decoded meanwhile: the show starts, and a page asking early is told to ask again.
    cMusicPeaks::decode_detached(peaks_, music_path_);
    http_.open(gate_.listen_socket());
    gate_.start([this](cWholeRequest& request) { return dispatch(request); });
    bridge_.start();
}

// Whatever the clients do, nothing here waits on one: the bridge's thread is woken and joined,
// the streams are woken and end, every socket is shut (a write in progress fails at once),
// then the workers are joined.
void cEditorServerImpl::stop() {
    bridge_.stop();
    stopping_ = true;
    http_.close();
    hub_.close_all();
    gate_.stop();
    streams_.stop();
    requests_.stop();
}

// The player tells them; without the show's end every key would lie outside the show.
bool has_show_facts(const cEditorOptions& options) {
    if (options.show_end_ms > 0 && !options.music_path.empty()) return true;
    std::cerr << "## ERROR: the editor was started without the show's end or its music; the show goes on without the "
                 "editor"
              << std::endl;
    return false;
}

}  // namespace

std::unique_ptr<cEditorServer> start_editor(const cEditorOptions& options, iDevControl& dev, const std::string& show_dir) {
    if (options.port == 0 && !options.any_free_port) return nullptr;
    if (!has_show_facts(options)) return nullptr;
    std::string token = make_editor_token();
    if (token.empty()) {
        std::cerr << "## ERROR: the editor could not read the system's random source for its token; the show goes on "
                     "without the editor"
                  << std::endl;
        return nullptr;
    }
    auto server = std::make_unique<cEditorServerImpl>(dev, options, show_dir, std::move(token));
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
    server->start();
    if (options.announce) std::cout << "# editor: " << server->url() << std::endl;
    return server;
}
