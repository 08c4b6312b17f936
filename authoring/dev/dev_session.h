// The development mode's frame loop over the host application: per frame the window's
// messages (the transport's keys), the tools' requests, the settled file changes (tracks,
// shaders, images, models, modules), the frame itself (after the frame one step before it,
// where the time jumped or stands), the read-out, the state published for the tools, and the
// events delivered to them. While paused and nothing changes, nothing is drawn.
// Main thread only; the host must have been started up.
#pragma once
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
struct cWindowMessage;

class cDevSession {
public:
    // Takes over the host's window procedure. The watcher starts on the show's folders.
    cDevSession(cDemoHost& host, const cDevOptions& options);
    ~cDevSession();
    cDevSession(const cDevSession&) = delete;
    cDevSession& operator=(const cDevSession&) = delete;

    // Resumes the music and runs frames until the process ends (Escape, q, Q, the window's
    // close, or an interrupt from the terminal).
    [[noreturn]] void run();
    // One turn of the loop; false once the show was asked to end from the terminal. The music
    // must have been started (start() does it).
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
    // transport and the read-out; Escape, q, Q and the close request end the process.
    void handle_message(const cWindowMessage& message);

private:
    void apply_requests();
    void apply_changes(double now);
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
    bool dirty_ = true;  // something to show while paused
    bool drew_ = false;
    uint64_t frames_ = 0;
    int32_t last_time_ms_ = 0;
};
