// Timing sums of a capture and their report. Standard library only.
#include "tools/democapture/capture_stats.h"

#include <cstdio>

#include "tools/democapture/capture_config.h"

void cCaptureStats::mark(eCapturePhase phase) {
    const auto now = std::chrono::steady_clock::now();
    seconds_[static_cast<int>(phase)] += std::chrono::duration<double>(now - last_).count();
    last_ = now;
}

double cCaptureStats::frame_seconds() const {
    return seconds(eCapturePhase::render) + seconds(eCapturePhase::read_back) + seconds(eCapturePhase::encode) +
           seconds(eCapturePhase::other);
}

std::string cCaptureStats::report(int64_t frames, const std::string& output_kind) const {
    const double frame_time = frame_seconds();
    const double total = seconds(eCapturePhase::startup) + frame_time + seconds(eCapturePhase::finish);
    auto share = [frame_time](double s) { return frame_time > 0 ? 100.0 * s / frame_time : 0.0; };
    char text[1024];
    std::snprintf(text, sizeof text,
                  "# capture stats: %lld frames of %dx%d to %s\n"
                  "#   start-up  %8.2f s\n"
                  "#   frames    %8.2f s  %7.2f fps\n"
                  "#     render     %5.1f %%  (render pass and glFinish)\n"
                  "#     read back  %5.1f %%  (glReadPixels and flip)\n"
                  "#     encode     %5.1f %%  (%s)\n"
                  "#     other      %5.1f %%  (clock, messages, swap)\n"
                  "#   finish    %8.2f s  (the encoder's last frames and the file)\n"
                  "#   total     %8.2f s  %7.2f fps overall\n",
                  static_cast<long long>(frames), capture_config::frame_width, capture_config::frame_height,
                  output_kind.c_str(), seconds(eCapturePhase::startup), frame_time,
                  frame_time > 0 ? static_cast<double>(frames) / frame_time : 0.0, share(seconds(eCapturePhase::render)),
                  share(seconds(eCapturePhase::read_back)), share(seconds(eCapturePhase::encode)),
                  output_kind == "video" ? "waiting for the encoder to take the frame" : "PNG compression and file",
                  share(seconds(eCapturePhase::other)), seconds(eCapturePhase::finish), total,
                  total > 0 ? static_cast<double>(frames) / total : 0.0);
    return text;
}
