// The capture loop over the host application (host/app/demo_host.h): the GL limits checked,
// start-up with the "no sound" device at the render size, then per frame the render pass, the
// read-back into the ring and the hand-over to the pipeline. Every GL call is made here, on
// the main thread. It never redirects the console: the show's start-up lines stay on standard
// output.
#include "tools/democapture/capture_session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>

#include "base/files/file_utils.h"
#include "gfx/gl/gl_entry_points.h"
#include "host/app/demo_host.h"
#include "host/modules/module_manager.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/capture_pipeline.h"
#include "tools/democapture/capture_stats.h"
#include "tools/democapture/frame_reader.h"
#include "tools/democapture/gl_limits.h"
#include "tools/democapture/music_clock.h"
#include "tools/democapture/partial_files.h"
#include "tools/democapture/png_writer.h"
#include "tools/democapture/progress_bar.h"
#include "tools/democapture/video_output.h"

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

std::string size_text(int32_t w, int32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// True when the GL reported running out of memory since the last look; clears the errors.
bool gl_out_of_memory() {
    bool out_of_memory = false;
    for (int i = 0; i < 64; ++i) {
        const GLenum status = glGetError();
        if (status == GL_NO_ERROR) break;
        out_of_memory = out_of_memory || status == GL_OUT_OF_MEMORY;
    }
    return out_of_memory;
}

// The folder next to the video that its segments are encoded into.
std::string work_folder_for(const std::string& partial) {
    const std::filesystem::path p(partial);
    return (p.parent_path() / (p.stem().string() + ".segments")).string();
}

}  // namespace

std::vector<cCaptureStep> range_steps(int64_t from_ms, int64_t to_ms, int32_t fps) {
    std::vector<cCaptureStep> steps;
    const int64_t first = grid_frame_at(from_ms, fps);
    const int64_t count = frame_count(from_ms, to_ms, fps);
    steps.reserve(static_cast<size_t>(count) + 1);
    // The first frame, too, follows the frame one step before it, as in a run of the whole show.
    if (count > 0 && first > 0) steps.push_back({grid_time_ms(first - 1, fps), "", first - 1});
    for (int64_t n = 0; n < count; ++n) steps.push_back({grid_time_ms(first + n, fps), range_frame_name(n), first + n});
    return steps;
}

std::vector<cCaptureStep> single_steps(const std::vector<int64_t>& times_ms, int32_t fps) {
    std::vector<cCaptureStep> steps;
    const double step_ms = 1000.0 / fps;
    for (int64_t t : times_ms) {
        // A time on the grid is rendered exactly as that frame of a range, its step before too.
        const bool on_grid = (t * fps) % 1000 == 0;
        const int64_t k = t * fps / 1000;
        const double before = on_grid ? grid_time_ms(k - 1, fps) : static_cast<double>(t) - step_ms;
        if (before >= 0.0) steps.push_back({before, "", -1});
        steps.push_back({on_grid ? grid_time_ms(k, fps) : static_cast<double>(t), single_frame_name(t), -1});
    }
    return steps;
}

int run_capture(cCapturePlan& plan) {
    cCaptureStats stats;
    const cFrameLayout& layout = plan.layout;
    const bool png = !plan.out_dir.empty();
    const bool h264 = !plan.video_file.empty();
    const bool master = !plan.master_file.empty();
    const int32_t render_w = layout.render_width(), render_h = layout.render_height();

    // A size the GL cannot hold is refused before the show's window is asked for.
    cGLLimits limits;
    std::string error;
    if (!probe_gl_limits(limits, error)) {
        report_error(error);
        return 1;
    }
    const std::string refusal = render_size_refusal(limits, render_w, render_h);
    if (!refusal.empty()) {
        report_error(refusal + "; choose a smaller --size or --supersample");
        return 2;
    }

    if (!set_current_directory(plan.show_dir)) {
        report_error("cannot enter the show directory \"" + plan.show_dir + "\": " + std::strerror(errno));
        return 1;
    }
    // Captures of one show start one at a time (the chunks of --jobs, or captures run side by
    // side): each start-up empties the show's module cache and loads its own copies from it.
    const int cache_lock = ::open(host_constants::module_cache_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cache_lock >= 0) ::flock(cache_lock, LOCK_EX);
    auto* host = new cDemoHost();  // lives until the process ends, as in the player
    cStartupOptions startup;
    startup.audio_device = host_constants::audio_device_no_sound;
    startup.fullscreen = false;
    startup.show_window = true;
    startup.width = render_w;
    startup.height = render_h;
    host->start_up(startup);
    if (cache_lock >= 0) ::close(cache_lock);
    host->window.procedure = capture_window_procedure;
    // The player goes on without a module that did not load; a capture would only record the
    // background.
    if (host->modules->modules().empty()) {
        report_error("the show has no module in bin/, so there is nothing to capture");
        return 1;
    }
    for (const auto& module : host->modules->modules()) {
        if (!module->scene) {
            report_error("the module \"" + module->file_name + "\" did not load (see above); without it the "
                         "frames would not show the show");
            return 1;
        }
    }
    if (host->sound.stream == 0) {
        report_error("the show's music could not be loaded, and without it there is no clock to set");
        return 1;
    }
    // The clock cannot go past the music: a frame later than its end would show the end.
    const double music_ms = host->sound.length_ms();
    for (const auto& step : plan.steps) {
        if (step.time_ms < music_ms) continue;
        report_error("the frame at " + std::to_string(static_cast<int64_t>(step.time_ms)) +
                     " ms is past the end of the show's music at " + std::to_string(static_cast<int64_t>(music_ms)) +
                     " ms, where the show's clock stops; capture an earlier " + (plan.is_range ? "range" : "time"));
        return 2;
    }
    if (gl_out_of_memory()) {
        report_error("the GL implementation ran out of memory for the render targets of a " +
                     size_text(render_w, render_h) + " render; choose a smaller --size or --supersample");
        return 2;
    }

    std::unique_ptr<cFrameReader> reader;
    if (plan.measure != eMeasure::render) {
        reader = std::make_unique<cFrameReader>(layout, read_back_ring);
        if (!reader->create(host->window, error)) {
            report_error(error);
            return 2;
        }
    }

    // The output: a sink on the writer thread, and for PNG the compressors on the pool.
    cVideoSettings video;
    video.width = layout.width;
    video.height = layout.height;
    video.fps = plan.fps;
    video.crf = plan.crf;
    video.music = absolute_path(show_music_path);
    video.first_frame = plan.manifest.first_frame;
    video.frames = plan.manifest.frames;
    video.tag = manifest_text(plan.manifest, ';');
    // Read before the first frame, so that music the encoder cannot read stops nothing half-way.
    if ((h264 || master) && !probe_music_rate(video.music, video.music_rate, error)) {
        report_error(error);
        return 1;
    }
    std::unique_ptr<iFrameSink> png_sink;
    std::unique_ptr<cVideoSink> video_sink;
    int work_slot = -1;
    cCapturePipeline::cCompressorFactory compressors;
    if (png) {
        png_sink = std::make_unique<cPngSink>(plan.out_dir);
        const int32_t w = layout.width, h = layout.height;
        compressors = [w, h] { return std::make_unique<cPngCompressor>(w, h); };
    } else if (h264) {
        plan.work_folder = work_folder_for(plan.target_partial);
        std::error_code ec;
        if (!std::filesystem::create_directory(plan.work_folder, ec)) {
            report_error("cannot make the work folder \"" + plan.work_folder + "\": " + ec.message());
            return 1;
        }
        work_slot = partial_files::hold_folder(plan.work_folder);
        video_sink = make_h264_sink(video, plan.work_folder, plan.target_partial);
    } else if (master) {
        video_sink = make_master_sink(video, plan.target_partial);
    }
    iFrameSink* sink = png ? png_sink.get() : video_sink.get();
    std::unique_ptr<cCapturePipeline> pipeline;
    // The same number of frames in flight for every output: for a video they let the encoder's
    // pace vary (a new segment's encoder starting) without holding up the rendering.
    const int32_t frames_in_flight = plan.threads + frames_in_flight_beyond_threads;
    if (sink) {
        pipeline = std::make_unique<cCapturePipeline>(layout.frame_bytes(), frames_in_flight, png ? plan.threads : 0,
                                                      compressors, *sink);
    }

    // The record of an earlier range in the folder would vouch for frames about to be replaced:
    // it goes before the first frame does.
    if (png && (plan.is_range || plan.measure != eMeasure::none)) {
        ::unlink((plan.out_dir + "/" + manifest_file).c_str());
    }
    int64_t kept_total = 0;
    for (const auto& step : plan.steps) kept_total += step.file_name.empty() ? 0 : 1;
    stats.mark(eCapturePhase::startup);
    const double cpu_at_start = process_cpu_seconds();
    const double children_at_start = children_cpu_seconds();

    // Frames whose read is under way, oldest first, and the hand-over of the oldest.
    std::deque<const cCaptureStep*> reading;
    bool failed = false;
    auto hand_over_oldest = [&]() {
        cFrame* frame = pipeline->take_free();
        stats.mark(eCapturePhase::waiting);
        if (!frame || !reader->finish_oldest(frame->pixels.data(), error)) {
            failed = true;
            return;
        }
        frame->file_name = reading.front()->file_name;
        frame->grid_frame = reading.front()->grid_frame;
        reading.pop_front();
        pipeline->submit(frame);
        stats.mark(eCapturePhase::read_back);
    };

    cProgressBar progress(kept_total, stderr, ::isatty(STDERR_FILENO) == 1);
    int64_t kept = 0;
    bool rendered_once = false;
    for (const auto& step : plan.steps) {
        set_music_time(host->sound, step.time_ms);
        host->window.dispatch_messages();
        stats.mark(eCapturePhase::other);
        if (stop_requested) break;
        // Measuring the output alone: the first kept frame is the picture of every frame.
        const bool render = plan.measure != eMeasure::output || !rendered_once;
        if (render) {
            host->render_pass();
            if (plan.measure == eMeasure::render) glFinish();  // nothing else waits for the GL
        }
        stats.mark(eCapturePhase::render);
        if (!step.file_name.empty()) {
            rendered_once = true;
            if (reader) {
                if (reader->full()) hand_over_oldest();
                if (failed) break;
                reader->start();
                reading.push_back(&step);
                stats.mark(eCapturePhase::read_back);
            }
            ++kept;
        }
        host->sound.update();
        if (render) host->window.swap_buffers();
        stats.mark(eCapturePhase::other);
        if (pipeline && pipeline->failed()) break;
        progress.update(kept);
    }
    while (!failed && !stop_requested && reader && !reader->empty()) hand_over_oldest();
    progress.finish(kept);

    bool done = !failed && !stop_requested;
    if (pipeline) {
        // A failed pipeline returns at once, with the failure that stopped the frames.
        if (done || pipeline->failed()) {
            std::string pipeline_error;
            if (!pipeline->finish(pipeline_error)) {
                done = false;
                error = pipeline_error;
            }
        } else {
            pipeline->stop();
        }
    }
    if (done && video_sink) done = video_sink->close(error);
    stats.mark(eCapturePhase::finish);
    stats.process_cpu = process_cpu_seconds() - cpu_at_start;
    stats.children_cpu = children_cpu_seconds() - children_at_start;
    if (pipeline) stats.pipeline_cpu = pipeline->compress_cpu_seconds() + pipeline->write_cpu_seconds();

    if (!done) {
        if (video_sink) video_sink->abandon();
        partial_files::abandon_all();
        if (stop_requested) {
            report_error(png ? "stopped from the window after " + std::to_string(kept) + " frames"
                             : "stopped from the window; the unfinished video was removed");
        } else {
            report_error(error + (png ? "; the frames before it stay" : "; no video was written"));
        }
        return 1;
    }

    const std::string what = "of " + size_text(layout.width, layout.height) +
                             (layout.supersample > 1 ? " (supersampled " + std::to_string(layout.supersample) + "x)" : "");
    if (png) {
        if (plan.is_range && plan.measure == eMeasure::none) {
            // Written last: its presence says the folder holds the whole range.
            const std::string record = manifest_text(plan.manifest, '\n');
            if (!write_file_in_place(plan.out_dir + "/" + manifest_file, reinterpret_cast<const uint8_t*>(record.data()),
                                     record.size(), error)) {
                report_error(error);
                return 1;
            }
        }
        std::cout << "# democapture: wrote " << kept << " frames " << what << " to \"" << plan.out_dir << "\""
                  << std::endl;
    } else if (video_sink) {
        const std::string& target = h264 ? plan.video_file : plan.master_file;
        if (std::rename(plan.target_partial.c_str(), target.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            partial_files::abandon_all();
            report_error("cannot put the video in place as \"" + target + "\": " + reason);
            return 1;
        }
        partial_files::release(plan.target_slot);
        if (work_slot >= 0) {
            partial_files::remove_folder(plan.work_folder.c_str());
            partial_files::release(work_slot);
        }
        std::cout << "# democapture: wrote \"" << target << "\": " << kept << " frames " << what << " at " << plan.fps
                  << " fps, music " << plan.manifest.from_ms << " ms to " << plan.manifest.to_ms << " ms" << std::endl;
    } else {
        std::cout << "# democapture: rendered " << kept << " frames " << what << ", nothing written" << std::endl;
    }
    if (plan.stats) {
        const std::string output = png ? "PNG, " + std::to_string(plan.threads) + " threads"
                                   : h264 ? std::string("H.264")
                                   : master ? std::string("FFV1")
                                            : std::string("nothing (render only)");
        std::cout << stats.report(kept, what + " to " + output) << std::flush;
    }
    return 0;
}
