// The capture loop over the host application (host/app/demo_host.h), in three steps that each
// return a status and a message: prepare (the GL limits checked, start-up with the "no sound"
// device at the render size, the output opened), render the range (per frame the render pass,
// the read-back into the ring and the hand-over to the pipeline), finish. Every GL call is made
// here, on the main thread. It never redirects the console: the show's start-up lines stay on
// standard output.
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

// ---- the capture's steps ----

namespace {

// What a step of a capture ends with: status 0 goes on to the next step; any other is the
// process's status, with the line that says why.
struct cStepOutcome {
    int status = 0;
    std::string message;
};

cStepOutcome failure(int status, const std::string& message) { return {status, message}; }

// One capture, from the show's start-up to its output in place.
class cCaptureRun {
public:
    explicit cCaptureRun(cCapturePlan& plan) : plan_(plan), kind_(output_kind(plan.output)) {}

    // The GL limits, the show started at the render size and checked, the output opened.
    cStepOutcome prepare();
    // Every step of the plan rendered and handed to the output, which is then completed (or,
    // when a frame could not be finished or the window asked to stop, its unfinished files
    // removed).
    cStepOutcome render_range();
    // The output put in place, and what was written said on standard output.
    cStepOutcome finish();

private:
    cStepOutcome check_render_size();
    cStepOutcome start_show();
    cStepOutcome check_show();
    cStepOutcome open_output();
    cStepOutcome open_sink(const cVideoSettings& video, cCapturePipeline::cCompressorFactory& compressors,
                           iFrameSink*& sink);
    void hand_over_oldest();
    cStepOutcome complete_output(bool stopped);
    std::string picture_text() const;

    cCapturePlan& plan_;
    const cOutputKind& kind_;
    cCaptureStats stats_;
    cDemoHost* host_ = nullptr;  // lives until the process ends, as in the player
    std::unique_ptr<cFrameReader> reader_;
    std::unique_ptr<iFrameSink> png_sink_;
    std::unique_ptr<cVideoSink> video_sink_;
    std::unique_ptr<cCapturePipeline> pipeline_;
    int work_slot_ = -1;
    double cpu_at_start_ = 0;
    double children_at_start_ = 0;
    std::deque<const cCaptureStep*> reading_;  // frames whose read is under way, oldest first
    bool read_failed_ = false;
    std::string error_;
    int64_t kept_ = 0;
};

cStepOutcome cCaptureRun::prepare() {
    for (auto part : {&cCaptureRun::check_render_size, &cCaptureRun::start_show, &cCaptureRun::check_show,
                      &cCaptureRun::open_output}) {
        cStepOutcome outcome = (this->*part)();
        if (outcome.status != 0) return outcome;
    }
    return {};
}

// A size the GL cannot hold is refused before the show's window is asked for.
cStepOutcome cCaptureRun::check_render_size() {
    cGLLimits limits;
    if (!probe_gl_limits(limits, error_)) return failure(1, error_);
    const std::string refusal = render_size_refusal(limits, plan_.layout.render_width(), plan_.layout.render_height());
    if (!refusal.empty()) return failure(2, refusal + "; choose a smaller --size or --supersample");
    return {};
}

cStepOutcome cCaptureRun::start_show() {
    if (!set_current_directory(plan_.show_dir)) {
        return failure(1, "cannot enter the show directory \"" + plan_.show_dir + "\": " + std::strerror(errno));
    }
    // Captures of one show start one at a time (the chunks of --jobs, or captures run side by
    // side): each start-up empties the show's module cache and loads its own copies from it.
    const int cache_lock = ::open(host_constants::module_cache_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cache_lock >= 0) ::flock(cache_lock, LOCK_EX);
    host_ = new cDemoHost();
    cStartupOptions startup;
    startup.audio_device = host_constants::audio_device_no_sound;
    startup.fullscreen = false;
    startup.show_window = true;
    startup.width = plan_.layout.render_width();
    startup.height = plan_.layout.render_height();
    host_->start_up(startup);
    if (cache_lock >= 0) ::close(cache_lock);
    host_->window.procedure = capture_window_procedure;
    return {};
}

// What the player would go on without, a capture cannot: it would only record the background.
cStepOutcome cCaptureRun::check_show() {
    if (host_->modules->modules().empty()) {
        return failure(1, "the show has no module in bin/, so there is nothing to capture");
    }
    for (const auto& module : host_->modules->modules()) {
        if (!module->scene) {
            return failure(1, "the module \"" + module->file_name +
                                  "\" did not load (see above); without it the frames would not show the show");
        }
    }
    if (host_->sound.stream == 0) {
        return failure(1, "the show's music could not be loaded, and without it there is no clock to set");
    }
    // The clock cannot go past the music: a frame later than its end would show the end.
    const double music_ms = host_->sound.length_ms();
    for (const auto& step : plan_.steps) {
        if (step.time_ms < music_ms) continue;
        return failure(2, "the frame at " + std::to_string(static_cast<int64_t>(step.time_ms)) +
                              " ms is past the end of the show's music at " +
                              std::to_string(static_cast<int64_t>(music_ms)) +
                              " ms, where the show's clock stops; capture an earlier " +
                              (plan_.is_range ? "range" : "time"));
    }
    if (gl_out_of_memory()) {
        return failure(2, "the GL implementation ran out of memory for the render targets of a " +
                              size_text(plan_.layout.render_width(), plan_.layout.render_height()) +
                              " render; choose a smaller --size or --supersample");
    }
    return {};
}

// The read-back, and the output: a sink on the writer thread, and for PNG the compressors on
// the pool.
cStepOutcome cCaptureRun::open_output() {
    const cFrameLayout& layout = plan_.layout;
    if (plan_.measure != eMeasure::render) {
        reader_ = std::make_unique<cFrameReader>(layout, read_back_ring);
        if (!reader_->create(host_->window, error_)) return failure(2, error_);
    }
    cVideoSettings video;
    video.width = layout.width;
    video.height = layout.height;
    video.fps = plan_.fps;
    video.crf = plan_.crf;
    video.music = absolute_path(show_music_path);
    video.first_frame = plan_.manifest.first_frame;
    video.frames = plan_.manifest.frames;
    video.tag = manifest_text(plan_.manifest, ';');
    // Read before the first frame, so that music the encoder cannot read stops nothing half-way.
    if (kind_.sound && !probe_music_rate(video.music, video.music_rate, error_)) return failure(1, error_);
    cCapturePipeline::cCompressorFactory compressors;
    iFrameSink* sink = nullptr;
    cStepOutcome opened = open_sink(video, compressors, sink);
    if (opened.status != 0) return opened;
    // The same number of frames in flight for every output: for a video they let the encoder's
    // pace vary (a new segment's encoder starting) without holding up the rendering.
    const int32_t frames_in_flight = plan_.threads + frames_in_flight_beyond_threads;
    if (sink) {
        pipeline_ = std::make_unique<cCapturePipeline>(layout.frame_bytes(), frames_in_flight,
                                                       kind_.own_threads ? plan_.threads : 0, compressors, *sink);
    }
    // The record of an earlier range in the folder would vouch for frames about to be replaced:
    // it goes before the first frame does.
    if (kind_.folder && (plan_.is_range || plan_.measure != eMeasure::none)) {
        ::unlink((plan_.target + "/" + manifest_file).c_str());
    }
    stats_.mark(eCapturePhase::startup);
    cpu_at_start_ = process_cpu_seconds();
    children_at_start_ = children_cpu_seconds();
    return {};
}

// The sink of the output: for PNG the writer of the files, with the compressors for the pool.
cStepOutcome cCaptureRun::open_sink(const cVideoSettings& video, cCapturePipeline::cCompressorFactory& compressors,
                                    iFrameSink*& sink) {
    const cFrameLayout& layout = plan_.layout;
    switch (plan_.output) {
        case eOutput::png: {
            png_sink_ = std::make_unique<cPngSink>(plan_.target);
            const int32_t w = layout.width, h = layout.height;
            compressors = [w, h] { return std::make_unique<cPngCompressor>(w, h); };
            sink = png_sink_.get();
            break;
        }
        case eOutput::h264: {
            plan_.work_folder = work_folder_for(plan_.target_partial);
            std::error_code ec;
            if (!std::filesystem::create_directory(plan_.work_folder, ec)) {
                return failure(1, "cannot make the work folder \"" + plan_.work_folder + "\": " + ec.message());
            }
            work_slot_ = partial_files::hold_folder(plan_.work_folder);
            video_sink_ = make_h264_sink(video, plan_.work_folder, plan_.target_partial);
            sink = video_sink_.get();
            break;
        }
        case eOutput::master:
            video_sink_ = make_master_sink(video, plan_.target_partial);
            sink = video_sink_.get();
            break;
        case eOutput::none:
            break;
    }
    return {};
}

// The oldest frame whose read is under way, finished into a free frame of the pipeline.
void cCaptureRun::hand_over_oldest() {
    cFrame* frame = pipeline_->take_free();
    stats_.mark(eCapturePhase::waiting);
    if (!frame || !reader_->finish_oldest(frame->pixels.data(), error_)) {
        read_failed_ = true;
        return;
    }
    frame->file_name = reading_.front()->file_name;
    frame->grid_frame = reading_.front()->grid_frame;
    reading_.pop_front();
    pipeline_->submit(frame);
    stats_.mark(eCapturePhase::read_back);
}

cStepOutcome cCaptureRun::render_range() {
    int64_t kept_total = 0;
    for (const auto& step : plan_.steps) kept_total += step.file_name.empty() ? 0 : 1;
    cProgressBar progress(kept_total, stderr, ::isatty(STDERR_FILENO) == 1);
    bool rendered_once = false;
    for (const auto& step : plan_.steps) {
        set_music_time(host_->sound, step.time_ms);
        host_->window.dispatch_messages();
        stats_.mark(eCapturePhase::other);
        if (stop_requested) break;
        // Measuring the output alone: the first kept frame is the picture of every frame.
        const bool render = plan_.measure != eMeasure::output || !rendered_once;
        if (render) {
            host_->render_pass();
            if (plan_.measure == eMeasure::render) glFinish();  // nothing else waits for the GL
        }
        stats_.mark(eCapturePhase::render);
        if (!step.file_name.empty()) {
            rendered_once = true;
            if (reader_) {
                if (reader_->full()) hand_over_oldest();
                if (read_failed_) break;
                reader_->start();
                reading_.push_back(&step);
                stats_.mark(eCapturePhase::read_back);
            }
            ++kept_;
        }
        host_->sound.update();
        if (render) host_->window.swap_buffers();
        stats_.mark(eCapturePhase::other);
        if (pipeline_ && pipeline_->failed()) break;
        progress.update(kept_);
    }
    while (!read_failed_ && !stop_requested && reader_ && !reader_->empty()) hand_over_oldest();
    progress.finish(kept_);
    return complete_output(read_failed_ || stop_requested);
}

// Waits for the frames in flight and closes the video; when the range was cut short or the
// output failed, removes what is unfinished.
cStepOutcome cCaptureRun::complete_output(bool stopped) {
    bool done = !stopped;
    if (pipeline_) {
        // A failed pipeline returns at once, with the failure that stopped the frames.
        if (done || pipeline_->failed()) {
            std::string pipeline_error;
            if (!pipeline_->finish(pipeline_error)) {
                done = false;
                error_ = pipeline_error;
            }
        } else {
            pipeline_->stop();
        }
    }
    if (done && video_sink_) done = video_sink_->close(error_);
    stats_.mark(eCapturePhase::finish);
    stats_.process_cpu = process_cpu_seconds() - cpu_at_start_;
    stats_.children_cpu = children_cpu_seconds() - children_at_start_;
    if (pipeline_) stats_.pipeline_cpu = pipeline_->compress_cpu_seconds() + pipeline_->write_cpu_seconds();
    if (done) return {};

    if (video_sink_) video_sink_->abandon();
    partial_files::abandon_all();
    if (stop_requested) {
        return failure(1, kind_.folder ? "stopped from the window after " + std::to_string(kept_) + " frames"
                                       : "stopped from the window; the unfinished video was removed");
    }
    return failure(1, error_ + (kind_.folder ? "; the frames before it stay" : "; no video was written"));
}

std::string cCaptureRun::picture_text() const {
    const cFrameLayout& layout = plan_.layout;
    return "of " + size_text(layout.width, layout.height) +
           (layout.supersample > 1 ? " (supersampled " + std::to_string(layout.supersample) + "x)" : "");
}

cStepOutcome cCaptureRun::finish() {
    const std::string what = picture_text();
    if (kind_.folder) {
        if (plan_.is_range && plan_.measure == eMeasure::none) {
            // Written last: its presence says the folder holds the whole range.
            const std::string record = manifest_text(plan_.manifest, '\n');
            if (!write_file_in_place(plan_.target + "/" + manifest_file, reinterpret_cast<const uint8_t*>(record.data()),
                                     record.size(), error_)) {
                return failure(1, error_);
            }
        }
        std::cout << "# democapture: wrote " << kept_ << " frames " << what << " to \"" << plan_.target << "\""
                  << std::endl;
    } else if (video_sink_) {
        const std::string& target = plan_.target;
        if (std::rename(plan_.target_partial.c_str(), target.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            partial_files::abandon_all();
            return failure(1, "cannot put the video in place as \"" + target + "\": " + reason);
        }
        partial_files::release(plan_.target_slot);
        if (work_slot_ >= 0) {
            partial_files::remove_folder(plan_.work_folder.c_str());
            partial_files::release(work_slot_);
        }
        std::cout << "# democapture: wrote \"" << target << "\": " << kept_ << " frames " << what << " at " << plan_.fps
                  << " fps, music " << plan_.manifest.from_ms << " ms to " << plan_.manifest.to_ms << " ms" << std::endl;
    } else {
        std::cout << "# democapture: rendered " << kept_ << " frames " << what << ", nothing written" << std::endl;
    }
    if (plan_.stats) {
        const std::string output = kind_.stats_name +
                                   (kind_.own_threads ? ", " + std::to_string(plan_.threads) + " threads" : std::string());
        std::cout << stats_.report(kept_, what + " to " + output) << std::flush;
    }
    return {};
}

}  // namespace

int run_capture(cCapturePlan& plan) {
    cCaptureRun run(plan);
    for (auto step : {&cCaptureRun::prepare, &cCaptureRun::render_range, &cCaptureRun::finish}) {
        const cStepOutcome outcome = (run.*step)();
        if (outcome.status != 0) {
            report_error(outcome.message);
            return outcome.status;
        }
    }
    return 0;
}
