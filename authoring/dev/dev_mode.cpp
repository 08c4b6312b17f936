// Start-up of the development mode over the host application: the console tee, the track
// files checked against their source, the show, the development loop and the browser editor's
// server on the loop's control surface. When the session's loop returns, the editor's server is
// stopped first (its threads read the session's control surface and write to the console),
// then the session with its reloaders (their threads); the show itself is released by the end
// of the process, as in the release player. Nothing here ever waits on the terminal.
#include "authoring/dev/dev_mode.h"

#include <filesystem>
#include <iostream>
#include <memory>

#include "base/files/file_utils.h"
#include "base/log/console.h"
#include "host/app/av_offset.h"
#include "host/app/demo_host.h"
#include "host/show/host_constants.h"
#include "authoring/dev/console_tee.h"
#include "authoring/dev/dev_session.h"
#include "authoring/dev/dev_signals.h"
#include "authoring/editor/editor_server.h"
#include "host/modules/library_probe.h"
#include "host/modules/module_input.h"
#include "host/sync/sync_config.h"
#include "host/sync/track_compile.h"

namespace {

// A player stopped in the middle of an edit (killed, a power cut) leaves the source ahead of
// some track files, and temporaries beside them. Before the show reads a track, the source is
// compiled again where its track files differ (they are its compiled output), and the
// temporaries go. A source with a problem leaves the track files as they are.
void repair_track_files() {
    std::error_code ec;
    if (!std::filesystem::is_directory(kSyncBasePath, ec)) return;
    cTrackFolderRepair repair = repair_track_folder(kSyncSourcePath, kSyncBasePath);
    if (!repair.removed.empty()) {
        std::cout << "# note: removed " << repair.removed.size() << " temporary file"
                  << (repair.removed.size() == 1 ? "" : "s") << " left in \"" << kSyncBasePath
                  << "\" by an edit that was stopped half-way" << std::endl;
    }
    if (!repair.read_error.empty()) {
        if (std::filesystem::exists(kSyncSourcePath, ec)) std::cerr << "# WARNING: " << repair.read_error << std::endl;
        return;
    }
    if (!repair.parsed.ok()) {
        const cSourceProblem& p = repair.parsed.problems.front();
        std::cerr << "# WARNING: \"" << kSyncSourcePath << "\" has a problem (line " << p.line << ":" << p.column << ": "
                  << p.message << "); the track files stay as they are until it is corrected" << std::endl;
    } else if (!repair.write.ok) {
        std::cerr << "## ERROR: the track files could not be compiled again from \"" << kSyncSourcePath
                  << "\": " << repair.write.error << std::endl;
    } else if (repair.write.written > 0) {
        std::cout << "# note: " << repair.write.written << " track file" << (repair.write.written == 1 ? "" : "s")
                  << " differed from \"" << kSyncSourcePath << "\" and " << (repair.write.written == 1 ? "was" : "were")
                  << " compiled again" << std::endl;
    }
}

}  // namespace

int run_dev_mode(const cDevOptions& options) {
    // First, so that it is the exit's last step: after the console's copy.
    prepare_end_by_signal();
    // The terminal is for reading here: a soft assertion reports and goes on.
    assertions_never_wait();
    redirect_console_with_tee();
    // As the player: started in show/bin/, every relative path resolves against show/.
    set_current_directory("..");
    std::cout << "cwd: " << current_directory() << std::endl;
    repair_track_files();

    // Lives until the process ends, as everything of the show does.
    auto* host = new cDemoHost();
    cStartupOptions startup;
    startup.fullscreen = false;  // a resizable window; the picture is letterboxed into it
    startup.stand_in_images = true;
    host->start_up(startup);
    host->input->set_av_offset_ms(av_offset_from_environment());
    cDevOptions session_options = options;
    session_options.library_probe_program = library_probe_program();
    auto session = std::make_unique<cDevSession>(*host, session_options);

    cEditorOptions editor_options;
    editor_options.port = options.editor_port;
    editor_options.show_end_ms = host_constants::show_end_ms;
    editor_options.music_path = host_constants::music_path;
    std::unique_ptr<cEditorServer> editor = start_editor(editor_options, session->control(), ".");
    const int status = session->run();
    // No thread of the editor or of the reloaders outlives this: the process's own exit steps
    // (static objects, the console tee's last copy) never run under them.
    editor.reset();
    session.reset();
    return status;
}
