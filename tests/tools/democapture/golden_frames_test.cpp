// The show's picture against the stored golden frames: every frame listed in
// tests/golden/golden_frames.txt is rendered with democapture and compared with its PNG.
// A frame that differs leaves the rendered frame and a difference picture in the test's
// output folder, named in the failure. Regenerate deliberately: tools/democapture/update_golden.sh
// The same frames drawn by the machine's own GPU are reported, not judged (label gpu).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "capture_test_support.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string golden_dir = std::string(DEMO_SOURCE_DIR) + "/tests/golden";

struct cGoldenFrame {
    std::string show;
    int64_t time_ms = 0;
    std::string what;
    int line = 0;
};

std::vector<cGoldenFrame> read_golden_list(std::string& problem) {
    std::vector<cGoldenFrame> frames;
    std::ifstream in(golden_dir + "/golden_frames.txt");
    if (!in) {
        problem = "cannot read " + golden_dir + "/golden_frames.txt";
        return frames;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        cGoldenFrame frame;
        frame.line = number;
        if (!(fields >> frame.show >> frame.time_ms)) {
            problem = "golden_frames.txt:" + std::to_string(number) + ": expected SHOW TIME_MS DESCRIPTION";
            return {};
        }
        std::getline(fields >> std::ws, frame.what);
        frames.push_back(frame);
    }
    return frames;
}

std::string golden_file_name(int64_t time_ms) {
    char name[64];
    std::snprintf(name, sizeof name, "at_%06lldms.png", static_cast<long long>(time_ms));
    return name;
}

TEST(GoldenFrames, list_names_stored_frames_of_known_shows_and_covers_the_module_switched_off) {
    std::string problem;
    const auto frames = read_golden_list(problem);
    ASSERT_TRUE(problem.empty()) << problem;
    ASSERT_GE(frames.size(), 6u) << "the golden list should cover every pass of the show";
    bool module_off = false;
    for (const auto& frame : frames) {
        EXPECT_TRUE(frame.show == "show" || frame.show == "module_off")
            << "golden_frames.txt:" << frame.line << ": unknown show \"" << frame.show << "\"";
        EXPECT_FALSE(frame.what.empty()) << "golden_frames.txt:" << frame.line << ": say what the frame shows";
        const std::string stored = golden_dir + "/" + frame.show + "/" + golden_file_name(frame.time_ms);
        EXPECT_TRUE(fs::is_regular_file(stored)) << stored << " is listed but not stored; run tools/democapture/update_golden.sh";
        module_off = module_off || frame.show == "module_off";
    }
    EXPECT_TRUE(module_off);
}

// The renderer named in democapture's "# glinfo" report; empty when there is none.
std::string renderer_of(const cProcessResult& run) {
    static const std::string label = "#         Renderer: ";
    const size_t at = run.out.find(label);
    if (at == std::string::npos) return {};
    const size_t from = at + label.size();
    return run.out.substr(from, run.out.find('\n', from) - from);
}

bool software_renderer(const std::string& renderer) {
    for (const char* name : {"llvmpipe", "softpipe", "Software Rasterizer"})
        if (renderer.find(name) != std::string::npos) return true;
    return false;
}

struct cGoldenResult {
    cGoldenFrame frame;
    cPictureComparison comparison;
    std::string rendered_path;    // set for a frame that differs
    std::string difference_path;  // set for a frame that differs and has the stored size
};

// Renders every listed frame with democapture (one run per show, its times in list order, as
// update_golden.sh renders them) and compares each with its stored picture. A frame that differs
// is left in output_dir with a picture of the difference. False, with problem set, when a capture
// fails or a picture is missing; renderer is what the captures drew with.
bool render_golden_frames(const std::vector<cGoldenFrame>& frames, const std::string& output_dir,
                          const cProcessOptions& options, std::vector<cGoldenResult>& results, std::string& renderer,
                          std::string& problem) {
    std::map<std::string, std::string> times_of;
    for (const auto& frame : frames) {
        std::string& times = times_of[frame.show];
        times += (times.empty() ? "" : ",") + std::to_string(frame.time_ms);
    }
    cTempDir work;
    // Only this run's frames are left for a reader to look at.
    std::error_code ignored;
    fs::remove_all(output_dir, ignored);
    for (const auto& [show, times] : times_of) {
        std::string show_dir = built_show_dir();
        if (show == "module_off") {
            show_dir = work / "module_off_show";
            make_module_off_show(built_show_dir(), show_dir);
        }
        const std::string out = work / ("frames_" + show);
        const cProcessResult run = run_democapture({"--show", show_dir, "--out", out, "--at", times}, options);
        if (!run.exited || run.status != 0) {
            problem = "capture of " + show + " failed:\n" + run.err;
            return false;
        }
        renderer = renderer_of(run);

        for (const auto& frame : frames) {
            if (frame.show != show) continue;
            const std::string name = golden_file_name(frame.time_ms);
            const cPicture expected = read_picture(golden_dir + "/" + show + "/" + name);
            const cPicture actual = read_picture(out + "/" + name);
            if (expected.empty() || actual.empty()) {
                problem = expected.empty() ? "cannot read the golden frame " + show + "/" + name
                                           : "the capture wrote no " + name;
                return false;
            }
            cGoldenResult result{frame, {}, {}, {}};
            cPicture difference;
            result.comparison = compare_pictures(expected, actual, &difference);
            if (!result.comparison.matches()) {
                fs::create_directories(output_dir);
                result.rendered_path = output_dir + "/" + show + "_" + name;
                fs::copy_file(out + "/" + name, result.rendered_path, fs::copy_options::overwrite_existing);
                if (result.comparison.same_size) {
                    result.difference_path = output_dir + "/" + show + "_diff_" + name;
                    write_picture(difference, result.difference_path);
                }
            }
            results.push_back(result);
        }
    }
    return true;
}

// "N of M pixels off by more than 2 (largest D)", or that the sizes differ.
std::string how_far(const cPictureComparison& c) {
    if (!c.same_size) return "the sizes differ";
    return std::to_string(c.differing) + " of " + std::to_string(c.pixels) + " pixels off by more than " +
           std::to_string(max_channel_difference) + " (largest " + std::to_string(c.max_difference) + ")";
}

TEST(GoldenFrames, rendered_frames_match_the_stored_pictures) {
    std::string problem, renderer;
    const auto frames = read_golden_list(problem);
    ASSERT_TRUE(problem.empty()) << problem;
    std::vector<cGoldenResult> results;
    ASSERT_TRUE(render_golden_frames(frames, GOLDEN_OUTPUT_DIR, {}, results, renderer, problem)) << problem;
    // The stored frames are llvmpipe's; the test's environment pins it for democapture too.
    ASSERT_NE(renderer.find("llvmpipe"), std::string::npos)
        << "the frames were drawn by \"" << renderer << "\", not by Mesa's llvmpipe";

    for (const auto& r : results) {
        if (r.comparison.matches()) continue;
        ADD_FAILURE() << r.frame.show << " at " << r.frame.time_ms << " ms (" << r.frame.what << ") differs from "
                      << golden_dir << "/" << r.frame.show << "/" << golden_file_name(r.frame.time_ms) << ": "
                      << how_far(r.comparison) << "\n  rendered:   " << r.rendered_path
                      << (r.difference_path.empty() ? std::string() : "\n  difference: " + r.difference_path)
                      << "\n  if the change is deliberate: tools/democapture/update_golden.sh";
    }
}

// Opt-in (ctest label gpu, registered without the software pinning): the frames drawn by this
// machine's own GL driver, and how far each is from the stored ones. It reports; it never fails
// on a difference. SDL's offscreen driver takes the first EGL device, which on a Mesa-only
// machine is the software one, so the devices after it are tried until one is not software.
TEST(GoldenFramesOnThisGpu, report_how_far_the_frames_of_the_own_driver_differ) {
    if (std::getenv("DEMO_GOLDEN_ON_OWN_GPU") == nullptr) GTEST_SKIP() << "opt-in: ./run-tests -L gpu -V";
    std::string problem;
    const auto frames = read_golden_list(problem);
    ASSERT_TRUE(problem.empty()) << problem;

    cTempDir probe;
    cProcessOptions chosen;
    std::string renderer;
    for (const std::string device : {"", "1", "2", "3"}) {
        cProcessOptions options;
        if (!device.empty()) options.env.push_back("SDL_HINT_EGL_DEVICE=" + device);
        const cProcessResult run =
            run_democapture({"--show", built_show_dir(), "--out", probe / ("device" + device), "--at", "0"}, options);
        if (!run.exited || run.status != 0) continue;  // no such device, or it cannot draw
        const std::string drawn_by = renderer_of(run);
        if (renderer.empty() || (software_renderer(renderer) && !software_renderer(drawn_by))) {
            chosen = options;
            renderer = drawn_by;
        }
        if (!software_renderer(renderer)) break;
    }
    ASSERT_FALSE(renderer.empty()) << "no EGL device opened";

    std::vector<cGoldenResult> results;
    const std::string output_dir = std::string(GOLDEN_OUTPUT_DIR) + "_gpu";
    ASSERT_TRUE(render_golden_frames(frames, output_dir, chosen, results, renderer, problem)) << problem;
    std::ostringstream report;
    report << "# golden frames drawn by \"" << renderer << "\""
           << (software_renderer(renderer) ? " (no GPU driver was found: this is a software rasteriser)" : "")
           << "\n";
    int beyond = 0;
    for (const auto& r : results) {
        beyond += r.comparison.matches() ? 0 : 1;
        report << "#   " << r.frame.show << " at " << r.frame.time_ms << " ms: " << how_far(r.comparison)
               << (r.comparison.matches() ? "" : ", beyond the golden tolerance")
               << (r.difference_path.empty() ? std::string() : "; difference: " + r.difference_path) << "\n";
    }
    report << "# " << beyond << " of " << results.size() << " frames beyond the tolerance of the software frames\n";
    std::cout << report.str() << std::flush;
    fs::create_directories(output_dir);
    std::ofstream(output_dir + "/report.txt") << report.str();
}

}  // namespace
