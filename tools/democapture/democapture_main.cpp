// Entry point of democapture: reads the command line (a capture, or "join"), checks the show
// and the output places (status 2 and one line for anything wrong there, status 1 where the
// place or the encoder cannot work), then runs the capture, the chunk processes or the join.
// Holds no capture logic of its own.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_cores.h"
#include "tools/democapture/capture_identity.h"
#include "tools/democapture/capture_jobs.h"
#include "tools/democapture/capture_join.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/capture_session.h"
#include "tools/democapture/earlier_frames.h"
#include "tools/democapture/frame_layout.h"
#include "tools/democapture/partial_files.h"
#include "tools/democapture/video_encoder.h"

using namespace capture_config;

namespace {

constexpr int status_failed = 1;
constexpr int status_bad_arguments = 2;

int refuse(const std::string& message) {
    std::cerr << "## ERROR: democapture: " << message << " (democapture --help shows the options)" << std::endl;
    return status_bad_arguments;
}

int fail(const std::string& message) {
    std::cerr << "## ERROR: democapture: " << message << std::endl;
    return status_failed;
}

int place_status(ePlace place, const std::string& error) {
    return place == ePlace::unwritable ? fail(error) : refuse(error);
}

// A chunk process ends with the capture that started it, whatever way that one ends.
void follow_parent() {
    const char* parent = std::getenv(parent_environment);
    if (!parent) return;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (std::to_string(::getppid()) != parent) ::raise(SIGTERM);
}

int join_main(const std::vector<std::string>& args) {
    const cParsedJoin parsed = parse_join_options(args);
    if (!parsed.error.empty()) return refuse(parsed.error);
    if (parsed.options.help) {
        std::cout << join_usage();
        return 0;
    }
    const cJoinOptions& o = parsed.options;
    cJoinPlan plan;
    plan.show_dir = o.show_dir.empty() ? default_show_directory() : absolute_from_here(o.show_dir);
    if (output_kind(o.output).sound) {
        std::string error;
        if (!check_show_directory(plan.show_dir, error)) return refuse("join: " + error);
    }
    plan.output = o.output;
    plan.target = absolute_from_here(o.target);
    plan.chunks = o.chunks;
    return run_join(plan);
}

int capture_main(const std::vector<std::string>& args) {
    const cParsedOptions parsed = parse_capture_options(args);
    if (!parsed.error.empty()) return refuse(parsed.error);
    cCaptureOptions options = parsed.options;
    if (options.help) {
        std::cout << capture_usage();
        return 0;
    }

    cCapturePlan plan;
    plan.show_dir = options.show_dir.empty() ? default_show_directory() : absolute_from_here(options.show_dir);
    std::string error;
    if (!check_show_directory(plan.show_dir, error)) return refuse(error);

    const cOutputKind& kind = output_kind(options.output);
    plan.output = options.output;
    plan.layout = frame_layout(options.width, options.height, options.supersample);
    plan.fps = options.fps;
    plan.crf = options.crf;
    plan.stats = options.stats;
    plan.measure = options.measure;
    const int32_t cores = usable_cores();
    plan.threads = options.threads > 0 ? options.threads : cores;
    if (!options.at_ms.empty()) {
        plan.steps = single_steps(options.at_ms, options.fps);
    } else {
        plan.steps = range_steps(options.from_ms, options.to_ms, options.fps);
        plan.is_range = true;
        cRangeManifest& m = plan.manifest;
        m.output = kind.record_name;
        m.fps = options.fps;
        m.first_frame = grid_frame_at(options.from_ms, options.fps);
        m.frames = frame_count(options.from_ms, options.to_ms, options.fps);
        m.from_ms = options.from_ms;
        m.to_ms = options.to_ms;
        m.width = options.width;
        m.height = options.height;
        m.supersample = options.supersample;
        m.crf = kind.quality ? options.crf : -1;
        if (!show_identity(plan.show_dir, m.show, error)) return fail(error);
        m.build = build_identity();
    }
    for (const char* program : {encoder_program, probe_program}) {
        if (options.output != eOutput::none && !kind.folder && find_on_path(program).empty()) {
            return fail(std::string("\"") + program + "\" was not found on the PATH; it is needed for " + kind.option);
        }
    }

    if (options.output != eOutput::none) options.target = absolute_from_here(options.target);
    // Headless unless the caller chose a video driver: no display is needed.
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (!driver || !*driver) ::setenv("SDL_VIDEODRIVER", "offscreen", 1);

    // A range into a folder of an earlier, longer one: its later frames must not stay.
    if (kind.folder && plan.is_range) {
        std::string note;
        const ePlace place = clear_earlier_frames(options.target, plan.manifest.frames, note, error);
        if (place != ePlace::usable) return place_status(place, error);
        if (!note.empty()) std::cout << "# note: democapture: " << note << std::endl;
    }
    if (options.jobs > 1) {
        std::string note;
        options.jobs = useful_jobs(options.jobs, cores, note);
        if (!note.empty()) std::cout << "# note: democapture: " << note << std::endl;
    }
    // The output place is checked before anything is rendered, for --jobs too (whose join
    // writes it last).
    plan.target = options.target;
    if (kind.folder) {
        const ePlace place = prepare_out_directory(plan.target, error);
        if (place != ePlace::usable) return place_status(place, error);
    } else if (options.output != eOutput::none) {
        const ePlace place = prepare_video_target(plan.target, plan.target_partial, error);
        if (place != ePlace::usable) return place_status(place, error);
        plan.target_slot = partial_files::hold(plan.target_partial);
    }
    if (options.jobs > 1) {
        if (plan.target_slot >= 0) {
            ::unlink(plan.target_partial.c_str());
            partial_files::release(plan.target_slot);
        }
        return run_jobs(options, plan.show_dir, plan.manifest);
    }
    return run_capture(plan);
}

}  // namespace

int main(int argc, char** argv) {
    partial_files::install();
    follow_parent();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool join = !args.empty() && args.front() == "join";
    const int status = join ? join_main(std::vector<std::string>(args.begin() + 1, args.end())) : capture_main(args);
    if (status != 0) remove_empty_created_folders();
    return status;
}
