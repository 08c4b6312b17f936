// TGA files before the decoder: run-length coded pixels expanded to exactly the pixels written
// here by hand (a packet that runs past the image's last pixel included), and files cut short
// in their header, image ID or pixels refused with the decoder's kind of message and no bitmap.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "gfx/textures/image_file.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

// 3 x 2 pixels, 24 bits, bottom row first; three packets: (1,2,3) twice, three raw pixels, and
// (200,100,50) three times of which the image needs one.
std::string run_length_coded() {
    std::string tga = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 24, 0};
    tga += {char(0x81), 1, 2, 3};
    tga += {0x02, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    tga += {char(0x82), char(200), 100, 50};
    return tga;
}

}  // namespace

TEST(TargaFiles, run_length_coded_pixels_arrive_as_written_and_short_files_are_refused) {
    cTempDir dir;
    cImage image = load_image(dir.write("rle.tga", run_length_coded()));
    ASSERT_NE(image.bitmap, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(image.bitmap), 3u);
    EXPECT_EQ(FreeImage_GetHeight(image.bitmap), 2u);
    EXPECT_EQ(FreeImage_GetBPP(image.bitmap), 24u);
    const unsigned char bottom[9] = {1, 2, 3, 1, 2, 3, 10, 20, 30};
    const unsigned char top[9] = {40, 50, 60, 70, 80, 90, 200, 100, 50};
    EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(image.bitmap, 0), bottom, 9), 0);
    EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(image.bitmap, 1), top, 9), 0);
    unload_image(image);

    const std::string whole = run_length_coded();
    std::string long_id = whole;
    long_id[0] = 32;  // an image ID longer than the rest of the file
    const struct {
        const char* name;
        std::string bytes;
        const char* message;
    } refused[] = {
        {"cut_in_pixels.tga", whole.substr(0, whole.size() - 2), "the file ends inside its run-length coded pixels"},
        {"cut_in_packet.tga", whole.substr(0, 18 + 4 + 1), "the file ends inside its run-length coded pixels"},
        {"long_id.tga", long_id, "the file ends before its image data"},
    };
    for (const auto& r : refused) {
        cCaptureStream err(STDERR_FILENO);
        cImage bad = load_image(dir.write(r.name, r.bytes));
        const std::string said = err.stop();
        EXPECT_EQ(bad.bitmap, nullptr) << r.name;
        EXPECT_NE(said.find(std::string("Format\n") + r.message + " ***\n"), std::string::npos) << r.name << ": " << said;
        unload_image(bad);
    }
}
