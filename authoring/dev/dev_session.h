// The development mode's frame loop over the host application: per frame the window's
// messages (the transport's keys), the tools' requests, the settled file changes (tracks,
// shaders, images, models, modules), the frame itself (after the frame one step before it,
// where the time jumped or stands), the read-out, the state published for the tools, and the
// events delivered to them. While paused and nothing changes, nothing is drawn. Every reload's
// outcome is told here, once: on the console, in the read-out, and to the tools when it failed.
// Ends nothing itself: the loop returns, and the caller tears down.
// Main thread only; the host must have been started up.
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "authoring/dev/asset_reloader.h"
#include "authoring/dev/dev_control_queue.h"
#include "authoring/dev/dev_options.h"
#include "authoring/dev/dev_readout.h"
#include "authoring/dev/dev_transport.h"
#include "authoring/dev/file_watcher.h"
#include "authoring/dev/module_reloader.h"
#include "authoring/dev/track_reloader.h"

class cDemoHost;
class cWindow;
struct cWindowMessage;

class cDevSession {
public:
    // Takes over the host's window procedure (given back on destruction). The watcher starts on
    // the show's folders.
    cDevSession(cDemoHost& host, const cDevOptions& options);
    ~cDevSession();
    cDevSession(const cDevSession&) = delete;
    cDevSession& operator=(const cDevSession&) = delete;

    // Resumes the music and runs frames until the show is asked to end: by Escape, q, Q or the
    // window's close (status 0), or by SIGINT or SIGTERM (128 + its number, said on the
    // console; the process is to end by that signal once its exit steps have run).
    int run();
    // One turn of the loop; false once the show was asked to end (the turn then did nothing
    // more). The music must have been started (start() does it).
    bool run_frame();
    void start();

    iDevControl& control() { return control_; }
    cDevTransport& transport() { return transport_; }
    cDevReadout& readout() { return readout_; }
    const cDevOptions& options() const { return options_; }
    uint64_t frames_drawn() const { return frames_; }
    // Whether the last run_frame drew (and presented) a frame.
    bool drew() const { return drew_; }

    // The window procedure's decision for one message (public for tests): keys of the
    // transport and the read-out; Escape, q, Q and the close request end the loop.
    void handle_message(const cWindowMessage& message);

private:
    static int window_procedure(cWindow& window, const cWindowMessage& message);
    void apply_requests();
    void apply_changes(double now);
    void dispatch_changes(const std::vector<cFileChange>& changes, double now);
    void report(const cReloadOutcome& outcome, double now);
    void draw_frame(const cFramePlan& plan, double now);
    void publish(int32_t time_ms);
    double prime_step_ms() const;

    cDemoHost& host_;
    cDevOptions options_;
    cDevTransport transport_;
    cDevReadout readout_;
    cDevControl control_;
    cFileWatcher watcher_;
    cTrackReloader tracks_;
    cAssetReloader assets_;
    cModuleReloader modules_;
    // Every change goes to the first that takes its file.
    const std::array<iFileReloader*, 3> reloaders_{&modules_, &tracks_, &assets_};
    // The window's procedure before the session's, given back at the end.
    int (*host_procedure_)(cWindow&, const cWindowMessage&) = nullptr;
    void* host_procedure_context_ = nullptr;
    bool end_asked_ = false;  // from the window
    bool dirty_ = true;  // something to show while paused
    bool drew_ = false;
    uint64_t frames_ = 0;
    int32_t last_time_ms_ = 0;
};
