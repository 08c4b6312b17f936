// Entry point of democapture: reads the command line, checks the show and the output places
// (status 2 and one line for anything wrong there), then runs the capture. Holds no capture
// logic of its own.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/capture_session.h"
#include "tools/democapture/partial_files.h"

namespace {

constexpr int status_bad_arguments = 2;

int refuse(const std::string& message) {
    std::cerr << "## ERROR: democapture: " << message << " (democapture --help shows the options)" << std::endl;
    return status_bad_arguments;
}

}  // namespace

int main(int argc, char** argv) {
    partial_files::install();
    const cParsedOptions parsed = parse_capture_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) return refuse(parsed.error);
    const cCaptureOptions& options = parsed.options;
    if (options.help) {
        std::cout << capture_usage();
        return 0;
    }

    cCapturePlan plan;
    plan.show_dir = options.show_dir.empty() ? default_show_directory() : absolute_from_here(options.show_dir);
    std::string error;
    if (!check_show_directory(plan.show_dir, error)) return refuse(error);

    plan.fps = options.fps;
    plan.stats = options.stats;
    if (!options.at_ms.empty()) {
        plan.steps = single_steps(options.at_ms, options.fps);
    } else {
        plan.steps = range_steps(options.from_ms, options.to_ms, options.fps);
        plan.music_from_ms = options.from_ms;
        plan.music_length_ms = options.to_ms - options.from_ms;
    }

    if (!options.out_dir.empty()) {
        plan.out_dir = absolute_from_here(options.out_dir);
        if (!prepare_out_directory(plan.out_dir, error)) return refuse(error);
    } else {
        plan.video_file = absolute_from_here(options.video_file);
        if (!prepare_video_target(plan.video_file, plan.video_partial, error)) return refuse(error);
        plan.video_slot = partial_files::hold(plan.video_partial);
    }

    // Headless unless the caller chose a video driver: no display is needed.
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (!driver || !*driver) ::setenv("SDL_VIDEODRIVER", "offscreen", 1);

    return run_capture(plan);
}
