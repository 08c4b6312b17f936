// The capture loop over the host application (host/app/demo_host.h): start-up with the "no
// sound" device and no full screen, render pass per frame, read-back, PNG or video output.
// It never redirects the console: the show's start-up lines stay on standard output.
#include "tools/democapture/capture_session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "gfx/gl/gl_entry_points.h"
#include "host/app/demo_host.h"
#include "base/files/file_utils.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_stats.h"
#include "tools/democapture/frame_reader.h"
#include "tools/democapture/music_clock.h"
#include "tools/democapture/partial_files.h"
#include "tools/democapture/png_writer.h"
#include "tools/democapture/progress_bar.h"
#include "tools/democapture/video_encoder.h"

using namespace capture_config;

namespace {

bool stop_requested = false;

// Instead of the player's procedure, which ends the process on the spot: a capture stops
// between frames, so the unfinished output can be removed.
int capture_window_procedure(cWindow& window, const cWindowMessage& message) {
    if (message_ends_show(message)) stop_requested = true;
    if (message.kind == cWindowMessage::resized) window.request_repaint();
    return 0;
}

void report_error(const std::string& message) { std::cerr << "## ERROR: democapture: " << message << std::endl; }

}  // namespace

std::vector<cCaptureStep> range_steps(int64_t from_ms, int64_t to_ms, int32_t fps) {
    std::vector<cCaptureStep> steps;
    const int64_t count = frame_count(from_ms, to_ms, fps);
    steps.reserve(static_cast<size_t>(count) + 1);
    // The first frame, too, follows the frame one step before it, as in a run of the whole show.
    const double before = static_cast<double>(from_ms) - 1000.0 / fps;
    if (count > 0 && before >= 0.0) steps.push_back({before, ""});
    for (int64_t n = 0; n < count; ++n) steps.push_back({frame_time_ms(from_ms, n, fps), range_frame_name(n)});
    return steps;
}

std::vector<cCaptureStep> single_steps(const std::vector<int64_t>& times_ms, int32_t fps) {
    std::vector<cCaptureStep> steps;
    const double step_ms = 1000.0 / fps;
    for (int64_t t : times_ms) {
        const double before = static_cast<double>(t) - step_ms;
        if (before >= 0.0) steps.push_back({before, ""});
        steps.push_back({static_cast<double>(t), single_frame_name(t)});
    }
    return steps;
}

int run_capture(cCapturePlan& plan) {
    cCaptureStats stats;
    const bool video = !plan.video_file.empty();

    if (!set_current_directory(plan.show_dir)) {
        report_error("cannot enter the show directory \"" + plan.show_dir + "\": " + std::strerror(errno));
        return 1;
    }
    auto* host = new cDemoHost();  // lives until the process ends, as in the player
    cStartupOptions startup;
    startup.audio_device = host_constants::audio_device_no_sound;
    startup.fullscreen = false;
    startup.show_window = true;
    host->start_up(startup);
    host->window.procedure = capture_window_procedure;
    if (host->sound.stream == 0) {
        report_error("the show's music could not be loaded, and without it there is no clock to set");
        return 1;
    }
    cFrameReader reader(frame_width, frame_height);
    std::string error;
    if (!reader.fit_window(host->window, error)) {
        report_error(error);
        return 1;
    }

    int64_t kept_total = 0;
    for (const auto& step : plan.steps) kept_total += step.file_name.empty() ? 0 : 1;

    cVideoEncoder encoder;
    std::unique_ptr<cPngWriter> png;
    if (video) {
        cVideoSettings settings;
        settings.output = plan.video_partial;
        settings.width = frame_width;
        settings.height = frame_height;
        settings.fps = plan.fps;
        settings.music = absolute_path(show_music_path);
        settings.music_from_ms = plan.music_from_ms;
        settings.music_length_ms = plan.music_length_ms;
        if (!encoder.start(settings, error)) {
            report_error(error);
            return 1;
        }
    } else {
        png = std::make_unique<cPngWriter>(frame_width, frame_height);
    }
    stats.mark(eCapturePhase::startup);

    cProgressBar progress(kept_total, stderr, ::isatty(STDERR_FILENO) == 1);
    int64_t kept = 0;
    bool failed = false;
    for (const auto& step : plan.steps) {
        set_music_time(host->sound, step.time_ms);
        host->window.dispatch_messages();
        stats.mark(eCapturePhase::other);
        if (stop_requested) break;
        host->render_pass();
        glFinish();
        stats.mark(eCapturePhase::render);
        if (!step.file_name.empty()) {
            reader.read();
            stats.mark(eCapturePhase::read_back);
            if (video) {
                if (!encoder.write_frame(reader.pixels().data(), reader.pixels().size())) {
                    failed = true;  // the encoder has gone; finish() says how it ended
                }
            } else if (!png->write(reader.pixels().data(), plan.out_dir + "/" + step.file_name, error)) {
                progress.finish(kept);
                report_error(error);
                return 1;
            }
            stats.mark(eCapturePhase::encode);
            ++kept;
        }
        host->sound.update();
        host->window.swap_buffers();
        stats.mark(eCapturePhase::other);
        if (failed) break;
        progress.update(kept);
    }
    progress.finish(kept);

    if (stop_requested) {
        encoder.abort();
        partial_files::abandon_all();
        report_error(video ? "stopped from the window; the unfinished video was removed"
                           : "stopped from the window after " + std::to_string(kept) + " frames");
        return 1;
    }
    if (video) {
        const bool encoded = encoder.finish(error);
        stats.mark(eCapturePhase::finish);
        if (!encoded) {
            partial_files::abandon_all();
            report_error(error + "; no video was written");
            return 1;
        }
        if (std::rename(plan.video_partial.c_str(), plan.video_file.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            partial_files::abandon_all();
            report_error("cannot put the video in place as \"" + plan.video_file + "\": " + reason);
            return 1;
        }
        partial_files::release(plan.video_slot);
        std::cout << "# democapture: wrote \"" << plan.video_file << "\": " << kept << " frames at " << plan.fps
                  << " fps, music " << plan.music_from_ms << " ms to " << plan.music_from_ms + plan.music_length_ms
                  << " ms" << std::endl;
    } else {
        std::cout << "# democapture: wrote " << kept << " frames to \"" << plan.out_dir << "\"" << std::endl;
    }
    if (plan.stats) std::cout << stats.report(kept, video ? "video" : "png") << std::flush;
    return 0;
}
