// The browser editor of the show's sync tracks, served by the player in development mode:
// a small HTTP server on the loopback interface with the page compiled in, JSON verbs that
// edit the track source and drive the player, and a push of every change to every open page.
// start_editor is the one entry point; the editor stops when the returned object is destroyed.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "authoring/control/dev_control.h"
#include "authoring/editor/editor_config.h"

struct cEditorOptions {
    int port = editor_config::default_port;  // 0: no editor
    // What the editor knows of the show beyond its control surface, told by the player that
    // owns it: the show's last time, and its music (relative to the show directory). Required.
    int64_t show_end_ms = 0;
    std::string music_path;
    // Tests and benchmarks: take any free port instead of `port`.
    bool any_free_port = false;
    // Print the address line on standard output (the player does; tests read url()).
    bool announce = true;
    // How long a request may take to arrive whole (tests of slow clients shorten it).
    int request_deadline_ms = editor_config::request_deadline_ms;
};

class cEditorServer {
public:
    virtual ~cEditorServer() = default;
    virtual int port() const = 0;
    virtual const std::string& token() const = 0;
    // "http://127.0.0.1:PORT/?token=..."
    virtual std::string url() const = 0;
};

// Starts the editor over the show in show_dir (the folder holding data/), driving the show
// through dev. Prints "# editor: http://127.0.0.1:PORT/?token=..." on standard output. Null,
// after one line on standard error, when the port is taken, the source cannot be read or the
// show's facts are missing from options (the show goes on without the editor); null without a
// word when options.port is 0.
std::unique_ptr<cEditorServer> start_editor(const cEditorOptions& options, iDevControl& dev, const std::string& show_dir);
