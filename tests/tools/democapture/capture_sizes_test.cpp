// The show captured at other sizes than its own 1280 x 720 against the golden frames: frames at
// 1920 x 1080 and 3840 x 2160, and frames supersampled twice, scaled down by area averaging,
// match the golden frames closely (the same picture, composed the same way, only sharper);
// another shape gets the same picture between black bars.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "support/temp_dir.h"

namespace {

const std::string golden_dir = std::string(DEMO_SOURCE_DIR) + "/tests/golden/show/";

// Measured with llvmpipe: 94.3 to 98.2 % of the pixels within 2 steps, a mean difference of
// 0.49 to 0.59 steps. The bounds leave room for another GL implementation's rounding, not for a
// picture composed differently: a glow blurred over a fixed number of texels instead of a fixed
// share of the picture gives 86 % and 0.99 at 1920 x 1080, 84 % and 1.45 at 3840 x 2160.
constexpr int tolerance = 2;
constexpr double min_share_within = 0.92;
constexpr double max_mean_difference = 0.8;

void expect_close_to_golden(const std::string& frame_file, const std::string& label) {
    const cPicture golden = read_picture(golden_dir + std::filesystem::path(frame_file).filename().string());
    const cPicture frame = read_picture(frame_file);
    ASSERT_FALSE(golden.empty());
    ASSERT_FALSE(frame.empty()) << frame_file;
    const cCloseness c = closeness(golden, scale_down_by_area(frame, golden.width, golden.height), tolerance);
    EXPECT_GE(c.share_within, min_share_within) << label << " " << frame_file;
    EXPECT_LE(c.mean_difference, max_mean_difference) << label << " " << frame_file;
    std::cout << "# " << label << " " << std::filesystem::path(frame_file).filename().string() << ": "
              << 100.0 * c.share_within << " % of the pixels within " << tolerance << ", mean difference "
              << c.mean_difference << std::endl;
}

TEST(CaptureSizes, larger_and_supersampled_frames_scaled_down_match_the_golden_frames) {
    cTempDir dir;
    struct cCase {
        std::vector<std::string> args;
        std::string times;
        int width;
        int height;
    };
    // The glow, the tunnel and the words (52 s); the duck over the brightest glow (88 s).
    const cCase cases[] = {
        {{"--size", "1920x1080"}, "52000,88000", 1920, 1080},
        {{"--size", "3840x2160"}, "88000", 3840, 2160},
        {{"--supersample", "2"}, "52000,88000", 1280, 720},
    };
    int n = 0;
    for (const cCase& c : cases) {
        const std::string out = dir / ("sizes" + std::to_string(n++));
        std::vector<std::string> args = {"--out", out, "--at", c.times};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const cProcessResult run = run_democapture(args);
        ASSERT_TRUE(run.exited && run.status == 0) << run.err;
        for (const auto& name : files_in(out)) {
            const cPicture frame = read_picture(out + "/" + name);
            EXPECT_EQ(frame.width, c.width) << name;
            EXPECT_EQ(frame.height, c.height) << name;
            expect_close_to_golden(out + "/" + name, c.args[0] + " " + c.args[1]);
        }
    }
}

TEST(CaptureSizes, another_shape_gets_the_same_picture_between_black_bars) {
    cTempDir dir;
    cProcessResult run = run_democapture({"--out", dir / "wide", "--at", "52000", "--size", "640x360"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    run = run_democapture({"--out", dir / "square", "--at", "52000", "--size", "640x640"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    const cPicture wide = read_picture(dir / "wide/at_052000ms.png");
    const cPicture square = read_picture(dir / "square/at_052000ms.png");
    ASSERT_EQ(square.width, 640);
    ASSERT_EQ(square.height, 640);
    // The 640 x 360 picture sits in rows 140 to 499, exactly; black above and below.
    const size_t row = 640 * 3;
    const std::vector<uint8_t> middle(square.bgr.begin() + 140 * row, square.bgr.begin() + 500 * row);
    EXPECT_TRUE(middle == wide.bgr) << "the picture between the bars is not the 640x360 frame";
    EXPECT_TRUE(std::all_of(square.bgr.begin(), square.bgr.begin() + 140 * row, [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(square.bgr.begin() + 500 * row, square.bgr.end(), [](uint8_t v) { return v == 0; }));
}

}  // namespace
