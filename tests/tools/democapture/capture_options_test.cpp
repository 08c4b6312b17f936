// The capture tool's pieces without a window: the command lines and their refusals, the frame
// grid, names and chunk splits, the steps before a capture's first frame, the frame layout and
// the read-back conversion, the range record, the pipeline's order and bounds, the progress
// text, the encoders' command lines, the temporary names, the clean-up of held files and
// folders, the music clock over the show's real music, and the picture comparison the golden
// test relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "capture_test_support.h"
#include "host/audio/audio_api.h"
#include "base/files/file_utils.h"
#include "host/sound/sound_module_bass.h"
#include "support/temp_dir.h"
#include "tools/democapture/capture_jobs.h"
#include "tools/democapture/capture_manifest.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/capture_pipeline.h"
#include "tools/democapture/capture_session.h"
#include "tools/democapture/frame_layout.h"
#include "tools/democapture/music_clock.h"
#include "tools/democapture/partial_files.h"
#include "tools/democapture/png_encoder.h"
#include "tools/democapture/png_writer.h"
#include "tools/democapture/progress_bar.h"
#include "tools/democapture/video_encoder.h"

namespace {

cParsedOptions parse(std::vector<std::string> args) { return parse_capture_options(args); }

TEST(CaptureOptions, defaults_cover_the_whole_show_at_sixty_frames_per_second) {
    const cParsedOptions p = parse({"--out", "frames"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.from_ms, 0);
    EXPECT_EQ(p.options.to_ms, 88250);
    EXPECT_EQ(p.options.fps, 60);
    EXPECT_EQ(p.options.show_dir, "");
    EXPECT_EQ(p.options.width, 1280);
    EXPECT_EQ(p.options.height, 720);
    EXPECT_EQ(p.options.supersample, 1);
    EXPECT_EQ(p.options.jobs, 1);
    EXPECT_EQ(frame_count(p.options.from_ms, p.options.to_ms, p.options.fps), 5295);
    EXPECT_EQ(parse({"--video", "v.mp4"}).options.crf, 18);
}

TEST(CaptureOptions, both_value_forms_and_every_option_are_read) {
    const cParsedOptions p =
        parse({"--show=/s", "--from", "1000", "--to=2000", "--fps", "24", "--video", "v.mp4", "--stats"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.show_dir, "/s");
    EXPECT_EQ(p.options.from_ms, 1000);
    EXPECT_EQ(p.options.to_ms, 2000);
    EXPECT_EQ(p.options.fps, 24);
    EXPECT_EQ(p.options.output, eOutput::h264);
    EXPECT_EQ(p.options.target, "v.mp4");
    EXPECT_TRUE(p.options.stats);

    const cParsedOptions more = parse({"--master=m.mkv", "--size", "3840x2160", "--supersample=4", "--jobs", "3",
                                       "--threads", "5", "--to", "500"});
    ASSERT_EQ(more.error, "");
    EXPECT_EQ(more.options.output, eOutput::master);
    EXPECT_EQ(more.options.target, "m.mkv");
    EXPECT_EQ(more.options.width, 3840);
    EXPECT_EQ(more.options.height, 2160);
    EXPECT_EQ(more.options.supersample, 4);
    EXPECT_EQ(more.options.jobs, 3);
    EXPECT_EQ(more.options.threads, 5);
    EXPECT_EQ(parse({"--video", "v.mp4", "--crf", "0"}).options.crf, 0);
    EXPECT_EQ(parse({"--measure", "render"}).options.measure, eMeasure::render);
    // Any size in range for PNG files and the master, odd ones too; the smallest and largest.
    EXPECT_EQ(parse({"--out", "d", "--size", "321x181"}).error, "");
    EXPECT_EQ(parse({"--master", "m.mkv", "--size", "7679x4319"}).error, "");
    EXPECT_EQ(parse({"--video", "v.mp4", "--size", "320x180"}).error, "");
    EXPECT_EQ(parse({"--video", "v.mp4", "--size", "7680x4320"}).error, "");

    // The show's last millisecond is still part of it; at 60 fps its frame is at 88250 ms.
    EXPECT_EQ(parse({"--out", "d", "--from", "88000", "--to", "88251"}).error, "");
    const cParsedOptions at = parse({"--out", "d", "--at", "5000,0,88250"});
    ASSERT_EQ(at.error, "");
    EXPECT_EQ(at.options.at_ms, (std::vector<int64_t>{5000, 0, 88250}));
    EXPECT_TRUE(parse({"--help"}).options.help);
}

TEST(CaptureOptions, frame_rates_from_one_to_240_are_taken_and_nothing_else) {
    EXPECT_EQ(parse({"--out", "d", "--fps", "1"}).error, "");
    EXPECT_EQ(parse({"--out", "d", "--fps", "240"}).error, "");
    for (const char* fps : {"0", "241", "1000", "-1", "60.5", "sixty", "", "99999999999999999999"}) {
        EXPECT_NE(parse({"--out", "d", "--fps", fps}).error, "") << "--fps " << fps;
    }
}

TEST(CaptureOptions, unusable_command_lines_are_refused_with_one_line) {
    const std::vector<std::vector<std::string>> bad = {
        {"--out", "d", "--from", "2000", "--to", "1000"},  // from after to
        {"--out", "d", "--from", "1000", "--to", "1000"},  // nothing to render
        {"--out", "d", "--from", "-5"},
        {"--out", "d", "--to", "12.5"},
        {"--out", "d", "--frobnicate"},
        {"--out", "d", "stray"},
        {"--out"},                                          // no value
        {"--out", ""},
        {},                                                 // no output
        {"--out", "d", "--video", "v.mp4"},
        {"--video", "v.mp4", "--at", "1000"},
        {"--out", "d", "--at", "1000", "--from", "0"},
        {"--out", "d", "--at", "1000,,2000"},
        {"--out", "d", "--at", "1000,"},
        {"--out", "d", "--stats=yes"},
        {"--out", "d", "--size", "0x0"},
        {"--out", "d", "--size", "319x180"},
        {"--out", "d", "--size", "320x179"},
        {"--out", "d", "--size", "7681x4320"},
        {"--out", "d", "--size", "1920"},
        {"--out", "d", "--size", "1920x"},
        {"--out", "d", "--size", "x1080"},
        {"--out", "d", "--size", "-1920x1080"},
        {"--out", "d", "--size", "1920X1080"},
        {"--out", "d", "--supersample", "0"},
        {"--out", "d", "--supersample", "5"},
        {"--out", "d", "--crf", "20"},                      // a video setting without a video
        {"--video", "v.mp4", "--crf", "52"},
        {"--video", "v.mp4", "--master", "m.mkv"},
        {"--out", "d", "--jobs", "0"},
        {"--out", "d", "--from", "1", "--to", "10"},       // between two frames at 60 fps: none
        {"--out", "d", "--from", "20000", "--to", "20090", "--jobs", "7"},  // six frames
        {"--out", "d", "--at", "1000", "--jobs", "2"},
        {"--out", "d", "--threads", "0"},
        {"--out", "d", "--measure", "fast"},
        {"--measure", "render", "--out", "d"},
        {"--measure", "output"},                            // measuring the output needs one
        {"--measure", "render", "--jobs", "2"},
        // Past the show's last millisecond, 88250, whose frames would be black.
        {"--out", "d", "--from", "88000", "--to", "88267"},  // a frame at 88266.67 ms
        {"--master", "m.mkv", "--from", "89000", "--to", "95000"},
        {"--out", "d", "--at", "1000,88251"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += " " + a;
        const cParsedOptions p = parse(args);
        EXPECT_NE(p.error, "") << "accepted:" << joined;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(CaptureOptions, an_odd_size_is_refused_for_h264_naming_the_even_sizes_beside_it) {
    const std::string error = parse({"--video", "v.mp4", "--size", "1281x721"}).error;
    EXPECT_NE(error.find("1280x720 or 1282x722"), std::string::npos) << error;
    EXPECT_NE(error.find("--master"), std::string::npos) << "the outputs that take it are named: " << error;
    EXPECT_NE(parse({"--video", "v.mp4", "--size", "7679x4320"}).error.find("7678x4320"), std::string::npos);
}

TEST(CaptureOptions, join_takes_one_output_and_its_chunks_in_any_order) {
    const cParsedJoin j = parse_join_options({"--master", "all.mkv", "b.mkv", "a.mkv", "--show=/s"});
    ASSERT_EQ(j.error, "");
    EXPECT_EQ(j.options.output, eOutput::master);
    EXPECT_EQ(j.options.target, "all.mkv");
    EXPECT_EQ(j.options.show_dir, "/s");
    EXPECT_EQ(j.options.chunks, (std::vector<std::string>{"b.mkv", "a.mkv"}));
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"a", "b"}, {"--out", "d"}, {"--out", "d", "--video", "v.mp4", "a"}, {"--out", "d", "--fps", "3", "a"}}) {
        const std::string error = parse_join_options(bad).error;
        EXPECT_EQ(error.rfind("join: ", 0), 0u) << error;
    }
}

TEST(FrameSchedule, count_rounds_up_and_times_step_by_a_frame) {
    EXPECT_EQ(frame_count(0, 1000, 60), 60);
    EXPECT_EQ(frame_count(20000, 20090, 60), 6);  // 5.4 frames: the sixth starts inside the range
    EXPECT_EQ(frame_count(0, 1500, 1), 2);
    EXPECT_EQ(frame_count(0, 1, 240), 1);
    EXPECT_EQ(frame_count(5, 5, 60), 0);
    // One grid for the whole show: a range takes the frames whose time lies in it.
    EXPECT_EQ(frame_count(10, 40, 60), 2);      // 16.67 and 33.33 ms
    EXPECT_EQ(grid_frame_at(17, 60), 2);        // the first frame at or after 17 ms is 33.33 ms
    EXPECT_EQ(grid_frame_at(20000, 60), 1200);
    EXPECT_DOUBLE_EQ(grid_time_ms(3, 60), 50.0);
    EXPECT_DOUBLE_EQ(grid_time_ms(1201, 60), 20016.0 + 2.0 / 3.0);
    // A split lands on the latest whole millisecond that starts at its frame.
    EXPECT_EQ(grid_split_ms(1200, 60), 20000);
    EXPECT_EQ(grid_split_ms(1, 60), 16);
    EXPECT_EQ(grid_split_ms(7, 24), 291);       // frame 7 at 24 fps: 291.67 ms
    for (int32_t fps : {1, 7, 24, 59, 60, 239, 240})
        for (int64_t k = 0; k < 3000; k += 7) ASSERT_EQ(grid_frame_at(grid_split_ms(k, fps), fps), k) << fps << " " << k;
    EXPECT_EQ(video_segment_frames(60), 120);
}

TEST(FrameSchedule, chunks_split_a_range_evenly_and_an_h264_range_only_at_key_frames) {
    auto firsts = [](const std::vector<cChunkRange>& chunks) {
        std::vector<int64_t> v;
        for (const auto& c : chunks) v.push_back(c.first_frame);
        v.push_back(chunks.back().end_frame);
        return v;
    };
    auto times = [](const std::vector<cChunkRange>& chunks) {
        std::vector<int64_t> v;
        for (const auto& c : chunks) v.push_back(c.from_ms);
        v.push_back(chunks.back().to_ms);
        return v;
    };
    const auto four = split_range(0, 1000, 60, 4, 0);
    EXPECT_EQ(firsts(four), (std::vector<int64_t>{0, 15, 30, 45, 60}));
    EXPECT_EQ(times(four), (std::vector<int64_t>{0, 250, 500, 750, 1000}));
    // A range off the grid keeps its own ends; its five frames in chunks of two and three.
    const auto odd = split_range(20001, 20090, 60, 2, 0);
    EXPECT_EQ(firsts(odd), (std::vector<int64_t>{1201, 1203, 1206}));
    EXPECT_EQ(times(odd), (std::vector<int64_t>{20001, 20050, 20090}));
    // 10 fps, key frames every 20 frames: 0..50 has two inside, so at most three chunks.
    EXPECT_EQ(firsts(split_range(0, 5000, 10, 3, 20)), (std::vector<int64_t>{0, 20, 40, 50}));
    EXPECT_EQ(firsts(split_range(0, 5000, 10, 8, 20)), (std::vector<int64_t>{0, 20, 40, 50}));
    EXPECT_EQ(firsts(split_range(0, 5000, 10, 2, 20)), (std::vector<int64_t>{0, 20, 50}));
    EXPECT_EQ(firsts(split_range(500, 1500, 10, 4, 20)), (std::vector<int64_t>{5, 15}));  // no key frame inside
    EXPECT_EQ(split_range(0, 1000, 60, 1, 0).size(), 1u);
}

TEST(FrameLayout, another_shape_gets_the_largest_centred_picture_of_the_show_and_renders_it_supersampled) {
    auto check = [](int32_t w, int32_t h, int32_t n, int32_t x, int32_t y, int32_t pw, int32_t ph) {
        const cFrameLayout l = frame_layout(w, h, n);
        EXPECT_EQ(l.picture_x, x) << w << "x" << h;
        EXPECT_EQ(l.picture_y, y) << w << "x" << h;
        EXPECT_EQ(l.picture_width, pw) << w << "x" << h;
        EXPECT_EQ(l.picture_height, ph) << w << "x" << h;
        EXPECT_EQ(l.render_width(), pw * n);
        EXPECT_EQ(l.render_height(), ph * n);
    };
    check(1280, 720, 1, 0, 0, 1280, 720);
    check(3840, 2160, 2, 0, 0, 3840, 2160);
    check(1000, 1000, 1, 0, 218, 1000, 563);   // 1000 x 9/16 = 562.5, rounded; bars above and below
    check(1920, 800, 1, 249, 0, 1422, 800);    // 800 x 16/9 = 1422.2; bars left and right
    check(320, 4320, 3, 0, 2070, 320, 180);
    check(1281, 721, 1, 0, 0, 1281, 721);      // 1281 x 9/16 = 720.6: the 16:9 picture rounds to fill it
    EXPECT_EQ(frame_layout(1920, 1080, 4).read_bytes(), size_t{7680} * 4320 * 4);
}

TEST(FrameLayout, a_read_back_is_flipped_averaged_per_block_and_placed_between_untouched_bars) {
    // A 4x4 frame whose 16:9 picture is 4x2 rows 1 and 2, supersampled 2: a read-back of 8x4
    // BGRA pixels, bottom row first. Each pixel holds (x + 10 y, 100 + x, 200 - y, 255), with y
    // counted from the bottom, so the mean of a block is easy to work out by hand.
    const cFrameLayout l = frame_layout(320, 320, 2);
    ASSERT_EQ(l.picture_height, 180);
    cFrameLayout small = l;
    small.width = 4;
    small.height = 4;
    small.picture_x = 0;
    small.picture_y = 1;
    small.picture_width = 4;
    small.picture_height = 2;
    std::vector<uint8_t> read(8 * 4 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            uint8_t* p = &read[(y * 8 + x) * 4];
            p[0] = static_cast<uint8_t>(x + 10 * y);
            p[1] = static_cast<uint8_t>(100 + x);
            p[2] = static_cast<uint8_t>(200 - y);
            p[3] = 255;
        }
    std::vector<uint8_t> frame(4 * 4 * 3, 7);
    place_picture(small, read.data(), frame.data(), 0, 2);
    // Frame row 1 (top of the picture) is read-back rows 3 and 2; its first pixel averages
    // x 0..1, y 2..3: blue (0+1+20+21+30+31... ) = (20 + 21 + 30 + 31) / 4 = 25.5 -> 26 (rounded),
    // green (100 + 101) / 2 = 100.5 -> 101, red (198 + 197) / 2 = 197.5 -> 198.
    const uint8_t* top = &frame[(1 * 4 + 0) * 3];
    EXPECT_EQ(top[0], 26);
    EXPECT_EQ(top[1], 101);
    EXPECT_EQ(top[2], 198);
    // Its last pixel: x 6..7: blue (26 + 27 + 36 + 37) / 4 = 31.5 -> 32, green 106.5 -> 107.
    EXPECT_EQ(frame[(1 * 4 + 3) * 3 + 0], 32);
    EXPECT_EQ(frame[(1 * 4 + 3) * 3 + 1], 107);
    // Frame row 2 is read-back rows 1 and 0: blue (0 + 1 + 10 + 11) / 4 = 5.5 -> 6, red 199.5 -> 200.
    EXPECT_EQ(frame[(2 * 4 + 0) * 3 + 0], 6);
    EXPECT_EQ(frame[(2 * 4 + 0) * 3 + 2], 200);
    // The bars (rows 0 and 3) are not written.
    for (int i = 0; i < 12; ++i) EXPECT_EQ(frame[i], 7);
    for (int i = 36; i < 48; ++i) EXPECT_EQ(frame[i], 7);

    // Without supersampling the channels are copied: the top frame row is the top read-back row.
    small.supersample = 1;
    small.picture_height = 2;
    std::vector<uint8_t> plain(4 * 4 * 3, 0);
    std::vector<uint8_t> one(4 * 2 * 4);
    for (size_t i = 0; i < one.size(); ++i) one[i] = static_cast<uint8_t>(i);
    place_picture(small, one.data(), plain.data(), 0, 2);
    EXPECT_EQ(plain[(1 * 4 + 0) * 3 + 0], 16);  // read-back row 1 (the upper), pixel 0, blue
    EXPECT_EQ(plain[(1 * 4 + 1) * 3 + 2], 22);  // pixel 1: bytes 20..23, red is 22 (alpha 23 dropped)
    EXPECT_EQ(plain[(2 * 4 + 3) * 3 + 1], 13);  // read-back row 0, pixel 3, green
}

TEST(RangeRecord, reads_back_what_it_writes_in_both_forms_and_refuses_damage) {
    cRangeManifest m;
    m.output = "h264";
    m.fps = 60;
    m.first_frame = 1200;
    m.frames = 360;
    m.from_ms = 20000;
    m.to_ms = 26000;
    m.width = 1920;
    m.height = 1080;
    m.supersample = 2;
    m.crf = 23;
    m.show = "4eacb885";
    m.build = "a8271ea1";
    for (char separator : {'\n', ';'}) {
        cRangeManifest back;
        std::string error;
        ASSERT_TRUE(parse_manifest(manifest_text(m, separator), back, error)) << error;
        EXPECT_EQ(manifest_text(back, '\n'), manifest_text(m, '\n'));
    }
    EXPECT_EQ(manifest_text(m, ';'), "democapture-range 1;output=h264;fps=60;first_frame=1200;frames=360;"
                                     "from_ms=20000;to_ms=26000;size=1920x1080;supersample=2;crf=23;show=4eacb885;"
                                     "build=a8271ea1");
    cRangeManifest back;
    std::string error;
    EXPECT_FALSE(parse_manifest("output=png;fps=60", back, error));  // no magic line
    EXPECT_FALSE(parse_manifest("democapture-range 1;output=png;fps=x;first_frame=0;frames=1;from_ms=0;to_ms=1;"
                                "size=4x4;supersample=1",
                                back, error));
    EXPECT_FALSE(parse_manifest("democapture-range 1;output=png;fps=60;first_frame=0;frames=0;from_ms=0;to_ms=1;"
                                "size=4x4;supersample=1;show=ab;build=cd",
                                back, error));
    // A record that names no show and build cannot vouch for joining with another.
    EXPECT_FALSE(parse_manifest("democapture-range 1;output=png;fps=60;first_frame=0;frames=1;from_ms=0;to_ms=1;"
                                "size=4x4;supersample=1",
                                back, error));
    EXPECT_NE(error.find("which show and build"), std::string::npos) << error;
    cRangeManifest other = m;
    EXPECT_EQ(manifest_mismatch(m, other), "");
    other.first_frame = 99;  // the range is not a setting
    EXPECT_EQ(manifest_mismatch(m, other), "");
    other.supersample = 1;
    EXPECT_NE(manifest_mismatch(m, other).find("supersampling 2 and 1"), std::string::npos);
    other = m;
    other.width = 1280;
    EXPECT_NE(manifest_mismatch(m, other).find("sizes 1920x1080 and 1280x1080"), std::string::npos);
    other = m;
    other.show = "4eacb886";
    EXPECT_NE(manifest_mismatch(m, other).find("different shows"), std::string::npos);
    other = m;
    other.build = "a8271ea2";
    EXPECT_NE(manifest_mismatch(m, other).find("different builds"), std::string::npos);
}

// A compressor that takes longer for earlier frames, so that they finish out of order.
class cSlowFirstCompressor final : public iFrameCompressor {
public:
    explicit cSlowFirstCompressor(std::atomic<int>& live) : live_(live) {}
    bool compress(cFrame& frame, std::string&) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(frame.sequence % 4 == 0 ? 20 : 1));
        frame.encoded.assign(1, static_cast<uint8_t>(frame.pixels[0] + 1));
        ++live_;
        return true;
    }

private:
    std::atomic<int>& live_;
};

class cRecordingSink final : public iFrameSink {
public:
    bool put(cFrame& frame, std::string& error) override {
        if (static_cast<int>(order.size()) == fail_at) {
            error = "disk full";
            return false;
        }
        order.push_back(frame.encoded.empty() ? frame.pixels[0] : frame.encoded[0]);
        return true;
    }
    std::vector<int> order;
    int fail_at = -1;
};

TEST(CapturePipeline, frames_are_written_in_order_with_a_bounded_number_in_flight_and_a_failure_stops_them) {
    std::atomic<int> compressed{0};
    cRecordingSink sink;
    {
        cCapturePipeline pipeline(16, 5, 3, [&compressed] { return std::make_unique<cSlowFirstCompressor>(compressed); },
                                  sink);
        EXPECT_EQ(pipeline.frames_in_flight(), 5);  // three threads, one being written, one being filled
        std::vector<cFrame*> held;
        for (int i = 0; i < 5; ++i) held.push_back(pipeline.take_free());
        // All five are out: a sixth waits until one comes back from the writer.
        std::atomic<cFrame*> sixth{nullptr};
        std::thread taker([&] { sixth = pipeline.take_free(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(sixth.load(), nullptr);
        for (int i = 0; i < 5; ++i) {
            held[i]->pixels[0] = static_cast<uint8_t>(i);
            pipeline.submit(held[i]);
        }
        taker.join();
        ASSERT_NE(sixth.load(), nullptr);
        sixth.load()->pixels[0] = 5;
        pipeline.submit(sixth.load());
        for (int i = 6; i < 40; ++i) {
            cFrame* f = pipeline.take_free();
            f->pixels[0] = static_cast<uint8_t>(i);
            pipeline.submit(f);
        }
        std::string error;
        ASSERT_TRUE(pipeline.finish(error)) << error;
        EXPECT_GT(pipeline.compress_cpu_seconds(), 0.0);
    }
    std::vector<int> expected;
    for (int i = 0; i < 40; ++i) expected.push_back(i + 1);
    EXPECT_EQ(sink.order, expected);
    EXPECT_EQ(compressed.load(), 40);

    // Without compressors the frames go straight to the writer; a failing write stops the rest.
    cRecordingSink failing;
    failing.fail_at = 3;
    cCapturePipeline raw(16, 2, 0, nullptr, failing);
    EXPECT_EQ(raw.frames_in_flight(), 2);
    // Never fewer frames than the compressors need to keep the main thread going.
    cRecordingSink unused;
    EXPECT_EQ(cCapturePipeline(16, 2, 4, [&compressed] { return std::make_unique<cSlowFirstCompressor>(compressed); },
                               unused)
                  .frames_in_flight(),
              5);
    int submitted = 0;
    for (int i = 0; i < 20; ++i) {
        cFrame* f = raw.take_free();
        if (!f) break;
        f->pixels[0] = static_cast<uint8_t>(i);
        raw.submit(f);
        ++submitted;
    }
    EXPECT_LT(submitted, 20) << "take_free must give up once the writer failed";
    std::string error;
    EXPECT_FALSE(raw.finish(error));
    EXPECT_EQ(error, "disk full");
    EXPECT_EQ(failing.order, (std::vector<int>{0, 1, 2}));
}

TEST(FrameSchedule, names_sort_in_time_order) {
    EXPECT_EQ(range_frame_name(0), "frame_000000.png");
    EXPECT_EQ(range_frame_name(5294), "frame_005294.png");
    EXPECT_EQ(range_frame_name(1234567), "frame_1234567.png");
    EXPECT_EQ(single_frame_name(10833), "at_010833ms.png");
    EXPECT_EQ(single_frame_name(0), "at_000000ms.png");
}

TEST(FrameSchedule, every_first_frame_follows_the_frame_one_step_before_it_as_in_the_show) {
    // A range from 0 starts like the show: nothing before the first frame.
    auto steps = range_steps(0, 100, 60);
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_EQ(steps.front().file_name, "frame_000000.png");

    steps = range_steps(20000, 20100, 60);
    ASSERT_EQ(steps.size(), 7u);
    EXPECT_EQ(steps[0].file_name, "");
    EXPECT_DOUBLE_EQ(steps[0].time_ms, 20000.0 - 1000.0 / 60.0);
    EXPECT_EQ(steps[1].file_name, "frame_000000.png");
    EXPECT_DOUBLE_EQ(steps[1].time_ms, 20000.0);
    EXPECT_EQ(steps[6].file_name, "frame_000005.png");

    steps = single_steps({10833, 5, 20000}, 30);
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_DOUBLE_EQ(steps[0].time_ms, 10833.0 - 1000.0 / 30.0);
    EXPECT_EQ(steps[0].file_name, "");
    EXPECT_EQ(steps[1].file_name, "at_010833ms.png");
    EXPECT_EQ(steps[2].file_name, "at_000005ms.png");  // less than a step from 0: nothing before it
    EXPECT_EQ(steps[3].file_name, "");
    EXPECT_EQ(steps[4].file_name, "at_020000ms.png");
}

TEST(ProgressBar, text_shows_frame_percent_rate_and_time_left) {
    const std::string half = progress_text(50, 100, 2.0);
    EXPECT_NE(half.find("frame 50/100"), std::string::npos) << half;
    EXPECT_NE(half.find("50.0%"), std::string::npos) << half;
    EXPECT_NE(half.find("25.0 fps"), std::string::npos) << half;
    EXPECT_NE(half.find("0:02 left"), std::string::npos) << half;
    EXPECT_NE(progress_text(0, 100, 0.0).find("--:-- left"), std::string::npos);
    EXPECT_NE(progress_text(100, 100, 4.0).find("0:00 left"), std::string::npos);
    EXPECT_NE(progress_text(1, 5296, 1.0).find("1:28:15 left"), std::string::npos);
    EXPECT_EQ(progress_text(3, 7, 1.0).find('\n'), std::string::npos);
}

TEST(VideoEncoder, commands_fix_every_setting_that_decides_the_bits_and_cut_the_music_to_the_frames) {
    cVideoSettings s;
    s.width = 1920;
    s.height = 1080;
    s.fps = 60;
    s.crf = 23;
    s.music = "/show/data/muzak/recut.mp3";
    s.first_frame = 1201;  // 20016.667 ms
    s.frames = 90;         // 1.5 s
    s.tag = "democapture-range 1;output=h264";
    auto after = [](const std::vector<std::string>& cmd, const std::string& flag) -> std::string {
        for (size_t i = 0; i + 1 < cmd.size(); ++i)
            if (cmd[i] == flag) return cmd[i + 1];
        return "(missing)";
    };
    auto has = [](const std::vector<std::string>& cmd, const std::string& word) {
        return std::find(cmd.begin(), cmd.end(), word) != cmd.end();
    };
    const auto segment = h264_segment_command(s, "/w/segment_000010.mp4");
    EXPECT_EQ(segment.front(), "ffmpeg");
    EXPECT_EQ(segment.back(), "/w/segment_000010.mp4");
    EXPECT_EQ(after(segment, "-video_size"), "1920x1080");
    EXPECT_EQ(after(segment, "-framerate"), "60");
    EXPECT_EQ(after(segment, "-pixel_format"), "bgr24");  // the order the frames are read back in
    EXPECT_EQ(after(segment, "-c:v"), "libx264");
    EXPECT_EQ(after(segment, "-crf"), "23");
    EXPECT_EQ(after(segment, "-pix_fmt"), "yuv420p");
    EXPECT_EQ(after(segment, "-colorspace"), "bt709");
    EXPECT_EQ(after(segment, "-threads"), "4");  // never the machine's core count
    EXPECT_EQ(after(segment, "-fflags"), "+bitexact");
    EXPECT_EQ(after(segment, "-f"), "rawvideo");
    EXPECT_TRUE(has(segment, "mp4"));
    EXPECT_FALSE(has(segment, "-ss")) << "segments carry no music";

    s.music_rate = 44100;
    const auto master = master_command(s, "/out/.m.partial-1.mkv");
    EXPECT_EQ(after(master, "-c:v"), "ffv1");
    EXPECT_EQ(after(master, "-g"), "1");  // every frame a key frame: chunks cut anywhere
    EXPECT_EQ(after(master, "-pix_fmt"), "bgr0");  // RGB kept exactly
    EXPECT_EQ(after(master, "-c:a"), "flac");
    // The music decoded from its start, never seeked into, and cut at the frames' samples:
    // 735 samples a frame at 44.1 kHz and 60 fps, from frame 1201 for 90 frames.
    EXPECT_FALSE(has(master, "-ss"));
    EXPECT_EQ(after(master, "-filter:a"),
              "apad=whole_len=948885,atrim=start_sample=882735:end_sample=948885,asetpts=N/SR/TB");
    EXPECT_EQ(after(master, "-metadata"), "comment=democapture-range 1;output=h264");
    EXPECT_EQ(master[master.size() - 2], "matroska");

    const auto mux = mux_command(s, "/w/list.txt", false, "/out/.v.partial-1.mp4");
    EXPECT_EQ(after(mux, "-f"), "concat");
    EXPECT_EQ(after(mux, "-c:v"), "copy");
    EXPECT_EQ(after(mux, "-c:a"), "aac");
    EXPECT_TRUE(has(mux, "1:a:0"));
    EXPECT_EQ(mux[mux.size() - 2], "mp4");
    EXPECT_EQ(after(mux_command(s, "/w/list.txt", true, "/o.mkv"), "-c:a"), "flac");

    // 59 fps: frame 1 sounds from sample 747.46, frame 60 from 44847.46; each cut starts at the
    // sample sounding then, so a range ending at a frame and one starting there share none.
    s.fps = 59;
    s.first_frame = 1;
    s.frames = 59;
    EXPECT_EQ(after(master_command(s, "/o.mkv"), "-filter:a"),
              "apad=whole_len=44847,atrim=start_sample=747:end_sample=44847,asetpts=N/SR/TB");
    s.music.clear();
    EXPECT_FALSE(has(master_command(s, "/o.mkv"), "-ss"));
    EXPECT_FALSE(has(mux_command(s, "/l", false, "/o.mp4"), "1:a:0"));

    // Each piece of a concat list lasts its frames; quotes in paths are escaped.
    EXPECT_EQ(concat_list_text({{"/a/it's.mp4", 30}, {"/b.mp4", 45}}, 60),
              "ffconcat version 1.0\nfile '/a/it'\\''s.mp4'\nduration 0.500000\nfile '/b.mp4'\nduration 0.750000\n");
}

// Pixels that take every path of the row filters: random bytes (differences that wrap around
// 0 and 255), black and white in turn, flat areas and ramps in each channel apart, and at odd
// sizes rows whose byte count is not a multiple of anything convenient.
std::vector<uint8_t> test_frame_pixels(int32_t width, int32_t height, uint32_t seed) {
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    uint32_t state = seed;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            state = state * 1664525u + 1013904223u;
            switch ((x / 7 + y / 5) % 4) {
                case 0:
                    p[0] = static_cast<uint8_t>(state >> 24);
                    p[1] = static_cast<uint8_t>(state >> 16);
                    p[2] = static_cast<uint8_t>(state >> 8);
                    break;
                case 1: p[0] = p[1] = p[2] = (x + y) % 2 ? 255 : 0; break;
                case 2: p[0] = 17, p[1] = 128, p[2] = 250; break;
                default:
                    p[0] = static_cast<uint8_t>(x);
                    p[1] = static_cast<uint8_t>(y * 3);
                    p[2] = static_cast<uint8_t>(255 - x - y);
                    break;
            }
        }
    }
    return bgr;
}

TEST(PngFrames, a_written_frame_decodes_to_exactly_its_pixels_at_any_size_and_with_every_filter) {
    cTempDir dir;
    const std::vector<std::pair<int32_t, int32_t>> sizes = {{1, 1}, {2, 3}, {5, 1}, {321, 181}, {1280, 720}, {7, 4321}};
    for (const auto& [w, h] : sizes) {
        // The capture's own path: the compressor of the pool and the writer of the files.
        cFrame frame;
        frame.pixels = test_frame_pixels(w, h, static_cast<uint32_t>(w * 7919 + h));
        frame.file_name = "frame_" + std::to_string(w) + "x" + std::to_string(h) + ".png";
        cPngCompressor compressor(w, h);
        cPngSink sink(dir.path());
        std::string error;
        ASSERT_TRUE(compressor.compress(frame, error)) << error;
        ASSERT_TRUE(sink.put(frame, error)) << error;
        const cPicture back = read_picture(dir / frame.file_name);
        EXPECT_EQ(back.bits_per_pixel, 24) << frame.file_name;
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, h);
        EXPECT_TRUE(back.bgr == frame.pixels) << frame.file_name << " does not decode to its pixels";
    }
    // Every filter the encoder offers (the benchmark weighs them), at an odd size.
    const int32_t w = 333, h = 77;
    const std::vector<uint8_t> pixels = test_frame_pixels(w, h, 5);
    for (ePngFilter filter : {ePngFilter::none, ePngFilter::sub, ePngFilter::up, ePngFilter::average, ePngFilter::paeth}) {
        for (int level : {0, 1, 3}) {
            cPngEncoder encoder(w, h, filter, level);
            std::vector<uint8_t> png;
            ASSERT_TRUE(encoder.encode(pixels.data(), png));
            const cPicture back = read_picture(dir.write("filtered.png", std::string(png.begin(), png.end())));
            EXPECT_TRUE(back.width == w && back.height == h && back.bgr == pixels)
                << "filter " << static_cast<int>(filter) << ", level " << level << " does not decode to its pixels";
        }
    }
}

TEST(OutputFiles, temporary_names_sit_next_to_the_target_hidden_and_distinct) {
    const std::string partial = partial_name_for("/out/dir/show.mp4");
    EXPECT_EQ(std::filesystem::path(partial).parent_path(), "/out/dir");
    EXPECT_EQ(std::filesystem::path(partial).filename().string().front(), '.');
    EXPECT_EQ(std::filesystem::path(partial).extension(), ".mp4");
    EXPECT_NE(partial, "/out/dir/show.mp4");
    EXPECT_NE(partial_name_for("/out/a.png"), partial_name_for("/out/b.png"));
}

TEST(OutputFiles, abandoning_removes_held_files_and_spares_released_ones) {
    cTempDir dir;
    const std::string held = dir.write("held.mp4", "half a video");
    const std::string done = dir.write("done.png", "a whole picture");
    const int held_slot = partial_files::hold(held);
    const int done_slot = partial_files::hold(done);
    ASSERT_GE(held_slot, 0);
    ASSERT_GE(done_slot, 0);
    partial_files::release(done_slot);
    partial_files::abandon_all();
    EXPECT_FALSE(std::filesystem::exists(held));
    EXPECT_TRUE(std::filesystem::exists(done));
    // Abandoning again touches nothing: the slot was given up.
    dir.write("held.mp4", "a new file of the same name");
    partial_files::abandon_all();
    EXPECT_TRUE(std::filesystem::exists(held));
}

TEST(OutputFiles, abandoning_removes_held_folders_with_their_files) {
    cTempDir dir;
    dir.write("work/segment_000000.mp4", "a segment");
    dir.write("work/.segment_000001.mp4", "another");
    dir.write("empty_unless/kept.txt", "a finished chunk");
    const int work = partial_files::hold_folder(dir / "work");
    const int only_if_empty = partial_files::hold_folder(dir / "empty_unless", false);
    ASSERT_GE(work, 0);
    ASSERT_GE(only_if_empty, 0);
    partial_files::abandon_all();
    EXPECT_FALSE(std::filesystem::exists(dir / "work"));
    EXPECT_TRUE(std::filesystem::exists(dir / "empty_unless/kept.txt"));
}

TEST(OutputFiles, output_places_are_checked_before_anything_is_written) {
    cTempDir dir;
    std::string error;
    EXPECT_EQ(prepare_out_directory(dir / "new/deeper", error), ePlace::usable) << error;
    EXPECT_TRUE(std::filesystem::is_directory(dir / "new/deeper"));
    EXPECT_TRUE(files_in(dir / "new/deeper").empty()) << "the write probe was left behind";

    const std::string file = dir.write("plain.txt", "x");
    EXPECT_EQ(prepare_out_directory(file, error), ePlace::refused);
    EXPECT_EQ(prepare_out_directory(file + "/sub", error), ePlace::refused);

    std::string partial;
    EXPECT_EQ(prepare_video_target(dir / "missing/v.mp4", partial, error), ePlace::refused);
    EXPECT_EQ(prepare_video_target(dir / "new", partial, error), ePlace::refused);  // a directory
    EXPECT_EQ(prepare_video_target(file + "/v.mp4", partial, error), ePlace::refused);
    ASSERT_EQ(prepare_video_target(dir / "v.mp4", partial, error), ePlace::usable) << error;
    EXPECT_TRUE(std::filesystem::exists(partial));  // reserved
    EXPECT_FALSE(std::filesystem::exists(dir / "v.mp4"));
}

TEST(OutputFiles, a_show_needs_its_data_and_its_music) {
    cTempDir dir;
    std::string error;
    EXPECT_FALSE(check_show_directory(dir / "nowhere", error));
    EXPECT_FALSE(check_show_directory(dir.path(), error));
    EXPECT_NE(error.find("data/"), std::string::npos) << error;
    std::filesystem::create_directories(dir / "data");
    EXPECT_FALSE(check_show_directory(dir.path(), error));
    EXPECT_NE(error.find("recut.mp3"), std::string::npos) << error;
    dir.write("data/muzak/recut.mp3", "bytes");
    EXPECT_TRUE(check_show_directory(dir.path(), error)) << error;
}

// The clock the modules read is the music position in whole milliseconds; a frame rendered
// "at" a time must read that time, not the millisecond before it.
TEST(MusicClock, every_frame_time_reads_back_as_itself_rounded_down) {
    static cSoundModule_bass sound;  // the audio layer has one device per process
    const std::string cwd = current_directory();
    ASSERT_TRUE(set_current_directory(DEMO_SOURCE_DIR));
    sound.init_device(nullptr, BASS_DEVICE_NOSOUND);
    sound.load("data/muzak/recut.mp3");
    set_current_directory(cwd);
    ASSERT_NE(sound.stream, 0u);

    int wrong = 0;
    std::string first_wrong;
    for (int32_t t = 0; t <= 88250; ++t) {
        if (set_music_time(sound, t) != t || sound.position_ms() != t) {
            if (wrong++ == 0) first_wrong = std::to_string(t) + " ms reads " + std::to_string(sound.position_ms());
        }
    }
    EXPECT_EQ(wrong, 0) << "first: " << first_wrong;
    // 59 and 239 fps put frames a hair below a whole millisecond, where rounding a position up
    // to the next sample would read the following millisecond.
    for (int32_t fps : {24, 25, 30, 59, 60, 144, 239, 240}) {
        for (int64_t n = 0; n < 88250 * fps / 1000; ++n) {
            const double t = grid_time_ms(n, fps);
            ASSERT_EQ(set_music_time(sound, t), static_cast<int32_t>(std::floor(t))) << fps << " fps, frame " << n;
        }
    }
}

TEST(PictureComparison, tolerates_two_steps_per_channel_on_all_but_a_thousandth_of_the_pixels) {
    cPicture base{100, 100, 24, std::vector<uint8_t>(100 * 100 * 3, 128)};
    cPicture near = base;
    for (auto& v : near.bgr) v = 130;  // every channel two steps off
    EXPECT_TRUE(compare_pictures(base, near).matches());

    cPicture few = base;
    few.bgr[0] = 200;  // one pixel of 10000 far off: 0.01 %
    EXPECT_TRUE(compare_pictures(base, few).matches());

    cPicture many = base;
    for (int i = 0; i < 11; ++i) many.bgr[i * 3 + 1] = 131;  // 0.11 % three steps off
    cPicture difference;
    const cPictureComparison result = compare_pictures(base, many, &difference);
    EXPECT_FALSE(result.matches());
    EXPECT_EQ(result.differing, 11);
    EXPECT_EQ(result.max_difference, 3);
    EXPECT_GT(difference.bgr[2], difference.bgr[0]) << "a differing pixel is drawn red";
    EXPECT_EQ(difference.bgr[11 * 3 + 2], difference.bgr[11 * 3]) << "a matching pixel is drawn grey";

    cPicture smaller{100, 99, 24, std::vector<uint8_t>(100 * 99 * 3, 128)};
    EXPECT_FALSE(compare_pictures(base, smaller).matches());
}

}  // namespace
