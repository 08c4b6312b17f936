// Timing and processor-time sums of a capture and their report. Standard library and
// getrusage/clock_gettime only.
#include "tools/democapture/capture_stats.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>

namespace {

double seconds_of(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

}  // namespace

double process_cpu_seconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double children_cpu_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
}

void cCaptureStats::mark(eCapturePhase phase) {
    const auto now = std::chrono::steady_clock::now();
    seconds_[static_cast<int>(phase)] += std::chrono::duration<double>(now - last_).count();
    last_ = now;
}

double cCaptureStats::frame_seconds() const {
    return seconds(eCapturePhase::render) + seconds(eCapturePhase::read_back) + seconds(eCapturePhase::waiting) +
           seconds(eCapturePhase::other);
}

std::string cCaptureStats::report(int64_t frames, const std::string& what) const {
    const double frame_time = frame_seconds();
    const double working = frame_time + seconds(eCapturePhase::finish);
    const double total = seconds(eCapturePhase::startup) + working;
    auto percent = [frame_time, this](eCapturePhase p) { return frame_time > 0 ? 100.0 * seconds(p) / frame_time : 0.0; };
    auto per_frame_ms = [frames](double s) { return frames > 0 ? 1000.0 * s / static_cast<double>(frames) : 0.0; };
    auto rate = [frames](double s) { return s > 0 ? static_cast<double>(frames) / s : 0.0; };
    char text[2048];
    std::snprintf(text, sizeof text,
                  "# capture stats: %lld frames %s\n"
                  "#   start-up    %8.2f s\n"
                  "#   frames      %8.2f s  %7.2f fps\n"
                  "#     render       %5.1f %%  (the render pass)\n"
                  "#     read back    %5.1f %%  (pixel-buffer reads and their conversion into frames)\n"
                  "#     waiting      %5.1f %%  (for a free frame: the encoding is behind)\n"
                  "#     other        %5.1f %%  (clock, messages, swap)\n"
                  "#   finish      %8.2f s  (the last frames, the encoders' end and the mux)\n"
                  "#   throughput  %8.2f fps  (frames and finish, without start-up)\n"
                  "#   total       %8.2f s  %7.2f fps overall\n"
                  "#   cpu render  %8.2f ms/frame  (this process outside the encoding threads: rendering, reading back)\n"
                  "#   cpu encode  %8.2f ms/frame  (compression threads, the writer, encoder processes)\n",
                  static_cast<long long>(frames), what.c_str(), seconds(eCapturePhase::startup), frame_time,
                  rate(frame_time), percent(eCapturePhase::render), percent(eCapturePhase::read_back),
                  percent(eCapturePhase::waiting), percent(eCapturePhase::other), seconds(eCapturePhase::finish),
                  rate(working), total, rate(total), per_frame_ms(process_cpu - pipeline_cpu),
                  per_frame_ms(pipeline_cpu + children_cpu));
    return text;
}
