// democapture as a whole program over the built show, headless: the files a capture writes
// (and the earlier range's later frames it removes), frames that repeat exactly, the video
// with its music, the refusals (status 2, one line, nothing written; a frame past the music's
// end too), the places and programs that fail (status 1, one line), and that no half-written
// file survives a failing encoder, an interrupt, a full disk or a file-size limit while the
// finished frames stay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "capture_test_support.h"
#include "tools/democapture/capture_options.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += n + " ";
    return text;
}

// The same frames in two folders, which hold the same names.
void expect_same_frames(const std::string& a, const std::string& b) {
    const auto names = files_in(a);
    ASSERT_EQ(names, files_in(b));
    for (const auto& name : names) EXPECT_EQ(frame_file_difference(a + "/" + name, b + "/" + name), "") << name;
}

TEST(DemoCaptureFiles, single_frames_and_ranges_write_exactly_the_expected_files) {
    cTempDir dir;
    cProcessResult run = run_democapture({"--out", dir / "at", "--at", "20250,20000"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(files_in(dir / "at"), (std::vector<std::string>{"at_020000ms.png", "at_020250ms.png"}));

    // 90 ms at 60 fps is 5.4 frames: six frames start inside the range.
    run = run_democapture({"--out", dir / "range", "--from", "20000", "--to", "20090"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    const auto names = files_in(dir / "range");
    EXPECT_EQ(joined(names), "democapture.txt frame_000000.png frame_000001.png frame_000002.png "
                             "frame_000003.png frame_000004.png frame_000005.png ");

    const cPicture picture = read_picture(dir / "range/frame_000000.png");
    EXPECT_EQ(picture.width, 1280);
    EXPECT_EQ(picture.height, 720);
    EXPECT_EQ(picture.bits_per_pixel, 24);

    // The show's own start-up lines stay on standard output; the tool never redirects them.
    EXPECT_NE(run.out.find("# glinfo"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("# bass streaming file"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("# democapture: wrote 6 frames"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(built_show_dir() + "/stdout.txt"));
}

TEST(DemoCaptureFiles, frames_are_the_same_on_every_run_and_wherever_a_capture_starts) {
    cTempDir dir;
    const std::vector<std::string> range = {"--from", "10750", "--to", "10900"};
    auto args = [&range](const std::string& out) {
        std::vector<std::string> a = {"--out", out};
        a.insert(a.end(), range.begin(), range.end());
        return a;
    };
    cProcessResult run = run_democapture(args(dir / "first"));
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    run = run_democapture(args(dir / "second"));
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    expect_same_frames(dir / "first", dir / "second");

    // The circle's trail depends on the previous frame: a single frame and a later start see
    // the same previous frame as the range, so they show the same picture.
    run = run_democapture({"--out", dir / "single", "--at", "10800"});  // frame 3 of the range
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(frame_file_difference(dir / "first/frame_000003.png", dir / "single/at_010800ms.png"), "");
    run = run_democapture({"--out", dir / "later", "--from", "10800", "--to", "10850"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(frame_file_difference(dir / "first/frame_000003.png", dir / "later/frame_000000.png"), "");
    // ... and the frames are not all alike: the picture moves.
    EXPECT_NE(frame_file_difference(dir / "first/frame_000000.png", dir / "first/frame_000008.png"), "");
}

std::string probe(const std::string& file, const std::string& entries, const std::string& select = "") {
    std::vector<std::string> args = {"/usr/bin/ffprobe", "-v", "error"};
    if (!select.empty()) args.insert(args.end(), {"-select_streams", select});
    args.insert(args.end(), {"-count_frames", "-show_entries", entries, "-of", "default=noprint_wrappers=1", file});
    return run_process(args).out;
}

TEST(DemoCaptureVideo, a_short_range_gives_an_h264_video_of_its_frames_with_the_music) {
    cTempDir dir;
    const cProcessResult run =
        run_democapture({"--video", dir / "clip.mp4", "--from", "20000", "--to", "21000", "--fps", "30"});
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"clip.mp4"}) << "no temporary file may stay";

    const std::string video = probe(dir / "clip.mp4", "stream=codec_name,pix_fmt,width,height,nb_read_frames", "v:0");
    EXPECT_NE(video.find("codec_name=h264"), std::string::npos) << video;
    EXPECT_NE(video.find("pix_fmt=yuv420p"), std::string::npos) << video;
    EXPECT_NE(video.find("width=1280"), std::string::npos) << video;
    EXPECT_NE(video.find("height=720"), std::string::npos) << video;
    EXPECT_NE(video.find("nb_read_frames=30\n"), std::string::npos) << video;

    const std::string audio = probe(dir / "clip.mp4", "stream=codec_type,duration", "a:0");
    EXPECT_NE(audio.find("codec_type=audio"), std::string::npos) << "no audio stream: " << audio;

    const std::string format = probe(dir / "clip.mp4", "format=duration");
    const size_t at = format.find("duration=");
    ASSERT_NE(at, std::string::npos) << format;
    EXPECT_NEAR(std::stod(format.substr(at + 9)), 1.0, 0.05) << format;
}

TEST(DemoCaptureRefusals, bad_arguments_end_with_status_2_one_line_and_nothing_written) {
    cTempDir dir;
    const std::string file = dir.write("a_file.txt", "not a folder");
    const std::string empty_show = dir / "empty_show";
    fs::create_directories(empty_show + "/bin");
    const std::string out = dir / "out";
    fs::create_directories(out);
    const std::string video = out + "/v.mp4";

    const std::vector<std::vector<std::string>> cases = {
        {"--out", out, "--from", "3000", "--to", "2000"},
        {"--video", video, "--from", "3000", "--to", "2000"},
        {"--video", video, "--fps", "0"},
        {"--video", video, "--fps", "1000"},
        {"--out", out, "--fps", "241"},
        {"--video", video, "--show", empty_show},
        {"--video", video, "--show", dir / "no_such_show"},
        {"--out", file},
        {"--out", file + "/frames"},
        {"--video", file + "/v.mp4"},
        {"--video", dir / "missing_folder/v.mp4"},
        {"--video", out},
        {"--video", video, "--colour", "red"},
        {"--out", out, "--at", "1000", "--video", video},
        {"--out", out, "--size", "0x0"},
        {"--out", out, "--size", "8000x4500"},
        {"--video", video, "--size", "1279x720"},  // yuv420p needs even sizes
        {"--out", out, "--supersample", "5"},
        {"--out", out, "--jobs", "0"},
        {"--out", out, "--from", "20000", "--to", "20090", "--jobs", "7"},  // six frames
        // Beyond the GL implementation's limits: refused at start, before the show's window,
        // and the folders made for the frames go again.
        {"--out", out, "--size", "7680x4320", "--supersample", "4"},
        {"--out", dir / "new/frames", "--size", "7680x4320", "--supersample", "4"},
        // --jobs refuses what its join would, before a chunk is captured.
        {"--out", file, "--jobs", "2", "--from", "20000", "--to", "20200"},
        {"--video", out, "--jobs", "2", "--from", "20000", "--to", "20200"},
        {"--out", dir / "new/frames", "--size", "7680x4320", "--supersample", "4", "--jobs", "2"},
    };
    const auto before = files_in(dir / "");
    for (const auto& args : cases) {
        const cProcessResult run = run_democapture(args);
        const std::string what = joined(args);
        EXPECT_TRUE(run.exited) << what;
        EXPECT_EQ(run.status, 2) << what << "\n" << run.err;
        EXPECT_EQ(count_lines(run.err), 1u) << what << "\n" << run.err;
        EXPECT_NE(run.err.find("democapture"), std::string::npos) << what;
        EXPECT_EQ(run.out, "") << what;
        EXPECT_TRUE(files_in(out).empty()) << what << " left: " << joined(files_in(out));
        EXPECT_EQ(files_in(dir / ""), before) << what << " left: " << joined(files_in(dir / ""));
        EXPECT_EQ(slurp(file), "not a folder") << what;
    }
    EXPECT_EQ(files_in(empty_show + "/bin").size(), 0u);
}

TEST(DemoCaptureRefusals, a_missing_encoder_or_an_unwritable_place_fails_with_status_1_and_one_line) {
    cTempDir dir;
    const std::string out = dir / "out";
    fs::create_directories(out);
    cProcessOptions no_encoder;
    no_encoder.env = {"PATH=" + (dir / "empty")};
    for (const auto& args : std::vector<std::vector<std::string>>{{"--video", out + "/v.mp4"},
                                                                   {"--master", out + "/m.mkv"}}) {
        const cProcessResult run = run_democapture(args, no_encoder);
        EXPECT_TRUE(run.exited && run.status == 1) << run.status << " " << run.err;
        EXPECT_EQ(count_lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("\"ffmpeg\" was not found on the PATH"), std::string::npos) << run.err;
        EXPECT_TRUE(files_in(out).empty()) << joined(files_in(out));
    }
    // The chunks of --jobs are read back with ffprobe: without it nothing is captured.
    fs::create_directories(dir / "encoder_only");
    fs::create_symlink("/usr/bin/ffmpeg", dir / "encoder_only/ffmpeg");
    cProcessOptions no_probe;
    no_probe.env = {"PATH=" + (dir / "encoder_only")};
    const cProcessResult jobs =
        run_democapture({"--video", out + "/v.mp4", "--jobs", "2", "--from", "20000", "--to", "20200"}, no_probe);
    EXPECT_TRUE(jobs.exited && jobs.status == 1) << jobs.status << " " << jobs.err;
    EXPECT_EQ(count_lines(jobs.err), 1u) << jobs.err;
    EXPECT_NE(jobs.err.find("\"ffprobe\" was not found on the PATH"), std::string::npos) << jobs.err;
    EXPECT_TRUE(files_in(out).empty()) << joined(files_in(out));
    if (!can_mount_privately()) GTEST_SKIP() << "no private mounts here: the read-only file system is not tried";
    // A read-only file system, mounted in a namespace of the test's own.
    cProcessOptions options;
    options.env = {"TOOL=" + democapture_path(), "MNT=" + (dir / "mnt")};
    fs::create_directories(dir / "mnt");
    const std::string script =
        "mount -t tmpfs tmpfs \"$MNT\" && mkdir \"$MNT/out\" && mount -o remount,ro \"$MNT\" || exit 90\n"
        "for target in \"--out $MNT/out\" \"--out $MNT/new\" \"--video $MNT/v.mp4\" \"--master $MNT/m.mkv\"; do\n"
        "  \"$TOOL\" $target --from 0 --to 100; echo \"status $?\"\n"
        "done\n";
    const cProcessResult run = run_process({"/usr/bin/unshare", "-rm", "/bin/sh", "-c", script}, options);
    ASSERT_TRUE(run.exited && run.status == 0) << run.status << " " << run.err;
    EXPECT_EQ(run.out, "status 1\nstatus 1\nstatus 1\nstatus 1\n") << run.err;
    EXPECT_EQ(count_lines(run.err), 4u) << run.err;
    size_t said = 0;
    for (size_t at = run.err.find("Read-only file system"); at != std::string::npos;
         at = run.err.find("Read-only file system", at + 1)) {
        ++said;
    }
    EXPECT_EQ(said, 4u) << "each line says why: " << run.err;
}

TEST(DemoCaptureRefusals, a_module_that_does_not_load_fails_the_capture_instead_of_recording_the_background) {
    cTempDir dir;
    make_module_off_show(built_show_dir(), dir / "show");
    dir.write("show/bin/render_broken.so", "not a library");
    const cProcessResult run = run_democapture({"--show", dir / "show", "--out", dir / "out", "--at", "20000"});
    EXPECT_TRUE(run.exited && run.status == 1) << run.status << " " << run.err;
    EXPECT_NE(run.err.find("## ERROR: democapture: the module \"render_broken.so\" did not load"), std::string::npos)
        << run.err;
    EXPECT_TRUE(files_in(dir / "out").empty()) << joined(files_in(dir / "out"));
}

TEST(DemoCaptureRefusals, a_frame_past_the_end_of_the_music_is_refused_before_anything_is_written) {
    cTempDir dir;
    // A show whose music lasts one second: the clock cannot show a later time.
    make_module_off_show(built_show_dir(), dir / "show");
    fs::remove(dir / "show/data/muzak");
    fs::create_directories(dir / "show/data/muzak");
    ASSERT_EQ(run_process({"/usr/bin/ffmpeg", "-v", "error", "-i", built_show_dir() + "/data/muzak/recut.mp3", "-t", "1",
                           "-c", "copy", dir / "show/data/muzak/recut.mp3"})
                  .status,
              0);
    const cProcessResult run = run_democapture({"--show", dir / "show", "--master", dir / "m.mkv", "--size", "320x180",
                                                "--fps", "10", "--from", "500", "--to", "2000"});
    EXPECT_TRUE(run.exited && run.status == 2) << run.status << " " << run.err;
    EXPECT_NE(run.err.find("## ERROR: democapture: the frame at 1100 ms is past the end of the show's music at 10"),
              std::string::npos)
        << "the first frame past the music's second and a bit is named: " << run.err;
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"show"});
}

TEST(DemoCaptureFiles, a_shorter_range_removes_the_earlier_range_s_later_frames_and_nothing_else) {
    cTempDir dir;
    const std::string out = dir / "frames";
    auto capture = [&out](const std::string& to) {
        return run_democapture({"--out", out, "--size", "320x180", "--fps", "10", "--from", "20000", "--to", to});
    };
    ASSERT_EQ(capture("20600").status, 0);
    dir.write("frames/notes.txt", "mine");
    dir.write("frames/frame_12.png", "mine too");
    cProcessResult run = capture("20300");
    ASSERT_TRUE(run.exited && run.status == 0) << run.err;
    EXPECT_EQ(joined(files_in(out)), "democapture.txt frame_000000.png frame_000001.png frame_000002.png "
                                     "frame_12.png notes.txt ");
    EXPECT_NE(run.out.find("# note: democapture: removed 3 frames (frame_000003.png to frame_000005.png)"),
              std::string::npos)
        << run.out;

    // A frame no finished capture recorded (a stopped one's, or the user's) is never removed:
    // the folder is refused and stays as it was.
    dir.write("frames/frame_000004.png", "not recorded");
    run = capture("20200");
    EXPECT_TRUE(run.exited && run.status == 2) << run.err;
    EXPECT_EQ(count_lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("frame_000004.png"), std::string::npos) << run.err;
    EXPECT_EQ(files_in(out).size(), 7u) << joined(files_in(out));
    EXPECT_EQ(slurp(out + "/frame_000004.png"), "not recorded");
}

TEST(DemoCaptureRefusals, a_full_disk_or_a_file_size_limit_removes_the_unfinished_file_and_keeps_finished_frames) {
    cTempDir dir;
    // A limit on the size of any file (ulimit -f, in blocks of 512 bytes): 800 KB holds the
    // show's module, which a capture copies, but not a 1280x720 frame of the tunnel (950 KB)
    // nor a master of a hundred small frames.
    const std::string out = dir / "out";
    fs::create_directories(out);
    cProcessOptions options;
    options.env = {"TOOL=" + democapture_path(), "OUT=" + out, "MNT=" + (dir / "mnt"), "KEPT=" + (dir / "kept")};
    // The folder holds an earlier range of two small frames; the new range fails at its first.
    ASSERT_EQ(run_democapture({"--out", out + "/frames", "--size", "320x180", "--from", "20000", "--to", "20030"}).status, 0);
    const std::string limited =
        "ulimit -f 1600\n"
        "\"$TOOL\" --out \"$OUT/frames\" --from 52000 --to 52100 >/dev/null; echo \"status $?\"\n"
        "\"$TOOL\" --master \"$OUT/m.mkv\" --size 320x180 --fps 10 --from 20000 --to 30000 >/dev/null; echo \"status $?\"\n";
    cProcessResult run = run_process({"/bin/sh", "-c", limited}, options);
    EXPECT_EQ(run.out, "status 1\nstatus 1\n") << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_EQ(files_in(out), std::vector<std::string>{"frames"}) << "the unfinished master was left";
    // The earlier frames stay, but no record vouches for them as the new range any more.
    EXPECT_EQ(files_in(out + "/frames"), (std::vector<std::string>{"frame_000000.png", "frame_000001.png"}));

    if (!can_mount_privately()) GTEST_SKIP() << "no private mounts here: the full disk is not tried";
    // A file system of 200 KB holds about seven of the hundred frames.
    fs::create_directories(dir / "mnt");
    fs::create_directories(dir / "kept");
    const std::string full =
        "mount -t tmpfs -o size=200k tmpfs \"$MNT\" || exit 90\n"
        "\"$TOOL\" --out \"$MNT/frames\" --size 320x180 --fps 10 --from 20000 --to 30000 >/dev/null; echo \"status $?\"\n"
        "ls -A \"$MNT/frames\"; cp \"$MNT\"/frames/* \"$KEPT/\"\n"
        "rm -r \"$MNT/frames\"\n"
        "\"$TOOL\" --master \"$MNT/m.mkv\" --size 320x180 --fps 10 --from 20000 --to 30000 >/dev/null; echo \"status $?\"\n"
        "ls -A \"$MNT\"\n";
    run = run_process({"/usr/bin/unshare", "-rm", "/bin/sh", "-c", full}, options);
    ASSERT_TRUE(run.exited && run.status == 0) << run.status << " " << run.err;
    EXPECT_EQ(run.out.rfind("status 1\n", 0), 0u) << run.out;
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.substr(run.out.size() - 9), "status 1\n") << "nothing of the master stays: " << run.out;
    EXPECT_EQ(run.out.find("\n."), std::string::npos) << "a hidden partial file stayed: " << run.out;
    const auto kept = files_in(dir / "kept");
    ASSERT_FALSE(kept.empty()) << run.out;
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i], range_frame_name(static_cast<int64_t>(i))) << "only whole frames, in order, stay";
        EXPECT_EQ(read_picture(dir / ("kept/" + kept[i])).width, 320) << kept[i];
    }
    EXPECT_LT(kept.size(), 100u);
}

TEST(DemoCaptureRefusals, an_interrupted_png_capture_keeps_its_finished_frames) {
    cTempDir dir;
    const std::string out = dir / "out";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::unsetenv("DISPLAY");
        ::unsetenv("SDL_VIDEODRIVER");
        const std::string tool = democapture_path();
        ::execl(tool.c_str(), tool.c_str(), "--out", out.c_str(), "--size", "320x180", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 6000 && files_in(out).size() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(files_in(out).size(), 4u);
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    EXPECT_NE(run_democapture({"--help"}).out.find("Ctrl-C ends it by its signal (status 130"), std::string::npos)
        << "the help tells the status a shell sees";
    const auto names = files_in(out);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], range_frame_name(static_cast<int64_t>(i))) << "no record, no partial file, no gap";
        EXPECT_EQ(read_picture(out + "/" + names[i]).height, 180) << names[i];
    }
}

TEST(DemoCaptureRefusals, a_failing_encoder_leaves_no_video_and_keeps_an_older_one) {
    cTempDir dir;
    // An encoder that reads a little and then fails, as one with a broken codec would.
    const std::string fake = dir.write("bin/ffmpeg", "#!/bin/sh\nhead -c 100000 >/dev/null\nexit 3\n");
    fs::permissions(fake, fs::perms::owner_all);
    const std::string out = dir / "out";
    fs::create_directories(out);
    const std::string video = dir.write("out/clip.mp4", "the previous video");

    cProcessOptions options;
    options.env = {"PATH=" + (dir / "bin") + ":/usr/bin:/bin"};
    const cProcessResult run = run_democapture({"--video", video, "--from", "0", "--to", "500"}, options);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("status 3"), std::string::npos) << run.err;
    EXPECT_EQ(files_in(out), std::vector<std::string>{"clip.mp4"}) << "a temporary file was left";
    EXPECT_EQ(slurp(video), "the previous video");
}

TEST(DemoCaptureRefusals, an_interrupted_video_capture_removes_its_unfinished_file) {
    cTempDir dir;
    const std::string out = dir / "out";
    fs::create_directories(out);
    const std::string log = dir / "stdout.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::unsetenv("DISPLAY");
        ::unsetenv("SDL_VIDEODRIVER");
        const std::string tool = democapture_path(), target = out + "/whole.mp4";
        ::execl(tool.c_str(), tool.c_str(), "--video", target.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait until the first frame has been rendered (the tunnel's program is compiled in it),
    // so the encoder runs and its file is being written.
    for (int i = 0; i < 6000 && slurp(log).find("tunnel.frag") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(slurp(log).find("tunnel.frag"), std::string::npos) << slurp(log);
    EXPECT_FALSE(files_in(out).empty()) << "the capture should be writing its temporary file";
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    EXPECT_TRUE(files_in(out).empty()) << "left behind: " << joined(files_in(out));
}

}  // namespace
