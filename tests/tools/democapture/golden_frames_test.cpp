// The show's picture against the stored golden frames: every frame listed in
// tests/golden/golden_frames.txt is rendered with democapture and compared with its PNG.
// A frame that differs leaves the rendered frame and a difference picture in the test's
// output folder, named in the failure. Regenerate deliberately: tools/democapture/update_golden.sh
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

TEST(GoldenFrames, rendered_frames_match_the_stored_pictures) {
    std::string problem;
    const auto frames = read_golden_list(problem);
    ASSERT_TRUE(problem.empty()) << problem;

    // One capture per show, with its times in list order (as update_golden.sh renders them).
    std::map<std::string, std::string> times_of;
    for (const auto& frame : frames) {
        std::string& times = times_of[frame.show];
        times += (times.empty() ? "" : ",") + std::to_string(frame.time_ms);
    }
    cTempDir work;
    // Only this run's failures are left for a reader to look at.
    const std::string output_dir = GOLDEN_OUTPUT_DIR;
    std::error_code ignored;
    fs::remove_all(output_dir, ignored);
    for (const auto& [show, times] : times_of) {
        std::string show_dir = built_show_dir();
        if (show == "module_off") {
            show_dir = work / "module_off_show";
            make_module_off_show(built_show_dir(), show_dir);
        }
        const std::string out = work / ("frames_" + show);
        const cProcessResult run = run_democapture({"--show", show_dir, "--out", out, "--at", times});
        ASSERT_TRUE(run.exited && run.status == 0) << "capture of " << show << " failed:\n" << run.err;

        for (const auto& frame : frames) {
            if (frame.show != show) continue;
            const std::string name = golden_file_name(frame.time_ms);
            const cPicture expected = read_picture(golden_dir + "/" + show + "/" + name);
            const cPicture actual = read_picture(out + "/" + name);
            ASSERT_FALSE(expected.empty()) << "cannot read the golden frame " << show << "/" << name;
            ASSERT_FALSE(actual.empty()) << "the capture wrote no " << name;
            cPicture difference;
            const cPictureComparison result = compare_pictures(expected, actual, &difference);
            if (result.matches()) continue;

            fs::create_directories(output_dir);
            const std::string rendered_path = output_dir + "/" + show + "_" + name;
            const std::string difference_path = output_dir + "/" + show + "_diff_" + name;
            fs::copy_file(out + "/" + name, rendered_path, fs::copy_options::overwrite_existing);
            if (result.same_size) write_picture(difference, difference_path);
            ADD_FAILURE() << show << " at " << frame.time_ms << " ms (" << frame.what << ") differs from "
                          << golden_dir << "/" << show << "/" << name << ": "
                          << (result.same_size ? std::to_string(result.differing) + " of " +
                                                     std::to_string(result.pixels) + " pixels off by more than " +
                                                     std::to_string(max_channel_difference) + " (largest " +
                                                     std::to_string(result.max_difference) + ")"
                                               : std::string("the sizes differ"))
                          << "\n  rendered:   " << rendered_path
                          << (result.same_size ? "\n  difference: " + difference_path : std::string())
                          << "\n  if the change is deliberate: tools/democapture/update_golden.sh";
        }
    }
}

}  // namespace
