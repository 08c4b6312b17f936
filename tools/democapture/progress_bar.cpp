// Formatting and in-place redrawing of the progress bar. Standard C I/O only; it never writes
// to standard output, which carries the show's and the tool's reports.
#include "tools/democapture/progress_bar.h"

#include <algorithm>
#include <cmath>

#include "tools/democapture/capture_config.h"

using namespace capture_config;

namespace {

std::string clock_text(double seconds) {
    const auto whole = static_cast<int64_t>(std::llround(std::max(0.0, seconds)));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                      static_cast<long long>(whole % 60));
    }
    return text;
}

}  // namespace

std::string progress_text(int64_t done, int64_t total, double elapsed_seconds) {
    const double fraction = total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0) : 1.0;
    const int filled = static_cast<int>(fraction * progress_bar_cells);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(progress_bar_cells - filled), '.');
    const double fps = elapsed_seconds > 0 ? static_cast<double>(done) / elapsed_seconds : 0.0;
    std::string left = "--:--";
    if (done >= total) {
        left = clock_text(0);
    } else if (fps > 0) {
        left = clock_text(static_cast<double>(total - done) / fps);
    }
    char text[256];
    std::snprintf(text, sizeof text, "[%s] frame %lld/%lld %5.1f%% %6.1f fps %s left", bar.c_str(),
                  static_cast<long long>(done), static_cast<long long>(total), fraction * 100.0, fps, left.c_str());
    return text;
}

cProgressBar::cProgressBar(int64_t total, std::FILE* out, bool in_place)
    : total_(total), out_(out), in_place_(in_place), start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

void cProgressBar::update(int64_t done) {
    if (!in_place_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && std::chrono::duration<double>(now - last_draw_).count() < progress_interval_seconds) return;
    last_draw_ = now;
    draw(done, false);
}

void cProgressBar::finish(int64_t done) { draw(done, true); }

void cProgressBar::draw(int64_t done, bool final_line) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string text = progress_text(done, total_, elapsed);
    // Blank out what a longer previous line left on the terminal.
    const size_t length = text.size();
    if (in_place_ && length < last_length_) text.append(last_length_ - length, ' ');
    last_length_ = length;
    std::fprintf(out_, "%s%s%s", in_place_ ? "\r" : "", text.c_str(), final_line ? "\n" : "");
    std::fflush(out_);
    drawn_ = true;
}
