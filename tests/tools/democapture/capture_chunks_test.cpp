// Ranges captured apart and joined give exactly the capture of one run: the same PNG frames
// and range record (through --jobs), a lossless master frame for frame (chunks captured one by
// one and joined in any order, and the same pixels as the PNG files) with, in each, the whole
// music's decode at its times, an H.264 video frame for frame and its music sample for sample,
// at the same times (through --jobs and through a join). A join refuses, naming the chunk,
// what would not give one run's capture (a chunk cut short, of another show, of other
// settings); --jobs keeps the finished chunks of a failed run and the same command again
// captures only the rest, and starts no more processes than the cores it may use. Small
// pictures and a low rate keep it quick.
#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <fstream>

#include "capture_test_support.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> small = {"--size", "320x180", "--fps", "10"};

// The small settings first, so that a test's own --size wins.
cProcessResult capture(const std::vector<std::string>& args, cProcessOptions options = {}) {
    std::vector<std::string> all = small;
    all.insert(all.end(), args.begin(), args.end());
    return run_democapture(all, options);
}

cProcessResult join(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"join"};
    all.insert(all.end(), args.begin(), args.end());
    return run_democapture(all);
}

// Copies both files of a frame that differs into the test's output folder and says where.
std::string keep_both(const std::string& one, const std::string& jobs, const std::string& name) {
    fs::create_directories(CHUNKS_OUTPUT_DIR);
    const std::string kept_one = std::string(CHUNKS_OUTPUT_DIR) + "/one_" + name;
    const std::string kept_jobs = std::string(CHUNKS_OUTPUT_DIR) + "/jobs_" + name;
    fs::copy_file(one, kept_one, fs::copy_options::overwrite_existing);
    fs::copy_file(jobs, kept_jobs, fs::copy_options::overwrite_existing);
    return "kept as " + kept_one + " and " + kept_jobs;
}

#define ASSERT_RAN(run) ASSERT_TRUE((run).exited && (run).status == 0) << (run).err

// The music of a master as 32-bit samples, both channels interleaved.
std::string master_music(const std::string& file) {
    return run_process({"/usr/bin/ffmpeg", "-v", "error", "-i", file, "-map", "0:a", "-f", "s32le", "-"}).out;
}

// Samples [first, end) of one decode of the whole music from its start (44.1 kHz, two channels),
// as the master keeps them: FLAC of 24 bits, the top ones of each 32-bit sample.
std::string whole_decode(int64_t first, int64_t end) {
    static const std::string whole =
        run_process({"/usr/bin/ffmpeg", "-v", "error", "-i", built_show_dir() + "/data/muzak/recut.mp3", "-t", "25",
                     "-f", "s32le", "-"})
            .out;
    constexpr size_t bytes_per_sample = 2 * 4;
    std::string cut = whole.substr(static_cast<size_t>(first) * bytes_per_sample,
                                   static_cast<size_t>(end - first) * bytes_per_sample);
    for (size_t i = 0; i < cut.size(); i += 4) cut[i] = 0;  // little-endian: the lowest byte first
    return cut;
}

TEST(CaptureChunks, png_frames_of_jobs_are_the_frames_of_one_run) {
    cTempDir dir;
    const std::vector<std::string> range = {"--from", "20000", "--to", "21000"};
    std::vector<std::string> one = {"--out", dir / "one"}, jobs = {"--out", dir / "jobs", "--jobs", "2"};
    one.insert(one.end(), range.begin(), range.end());
    jobs.insert(jobs.end(), range.begin(), range.end());
    ASSERT_RAN(capture(one));
    const cProcessResult run = capture(jobs);
    ASSERT_RAN(run);
    EXPECT_NE(run.err.find("chunk 2 of 2: "), std::string::npos) << "the chunks' lines carry their names: " << run.err;
    const auto names = files_in(dir / "one");
    ASSERT_EQ(names.size(), 11u);  // ten frames and the range record
    EXPECT_EQ(files_in(dir / "jobs"), names);
    for (const auto& name : names) {
        const std::string difference = frame_file_difference(dir / ("one/" + name), dir / ("jobs/" + name));
        if (difference.empty()) continue;
        ADD_FAILURE() << name << " of the jobs is not one run's (" << difference
                      << "): " << keep_both(dir / ("one/" + name), dir / ("jobs/" + name), name);
    }
    EXPECT_FALSE(fs::exists(dir / "jobs.chunks")) << "the chunks go once they are joined";
}

TEST(CaptureChunks, a_master_joined_from_chunks_in_any_order_has_the_frames_of_one_run_and_of_the_png_files) {
    cTempDir dir;
    ASSERT_RAN(capture({"--master", dir / "one.mkv", "--from", "20000", "--to", "21000"}));
    ASSERT_RAN(capture({"--master", dir / "a.mkv", "--from", "20000", "--to", "20300"}));
    ASSERT_RAN(capture({"--master", dir / "b.mkv", "--from", "20300", "--to", "21000"}));
    ASSERT_RAN(capture({"--out", dir / "png", "--from", "20000", "--to", "21000"}));
    ASSERT_RAN(join({"--master", dir / "joined.mkv", dir / "b.mkv", dir / "a.mkv"}));

    const auto whole = decoded_frame_hashes(dir / "one.mkv");
    ASSERT_EQ(whole.size(), 10u);
    EXPECT_EQ(decoded_frame_hashes(dir / "joined.mkv"), whole);
    EXPECT_EQ(decoded_frame_hashes(dir / "png/frame_%06d.png"), whole) << "the master is not lossless";
    const std::string audio = run_process({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                           "stream=codec_name", "-of", "csv=p=0", dir / "one.mkv"})
                                  .out;
    EXPECT_EQ(audio, "flac\n");
    // The sound of each is the whole music's decode at its times, so chunks meet without a
    // click: 20 s is sample 882000 at 44.1 kHz, 20.3 s 895230, 21 s 926100.
    const std::string music = whole_decode(882000, 926100);
    ASSERT_EQ(music.size(), 44100u * 8);
    EXPECT_TRUE(master_music(dir / "one.mkv") == music) << "the range's sound is not the whole decode's";
    EXPECT_TRUE(master_music(dir / "joined.mkv") == music);
    EXPECT_TRUE(master_music(dir / "a.mkv") == whole_decode(882000, 895230));
    EXPECT_TRUE(master_music(dir / "b.mkv") == whole_decode(895230, 926100));
    // sRGB pixels stored as RGB, tagged so that players and editors read them right.
    for (const char* file : {"one.mkv", "joined.mkv"}) {
        const std::string colour =
            run_process({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                         "stream=color_range,color_space,color_transfer,color_primaries", "-of", "csv=p=0",
                         dir / file})
                .out;
        EXPECT_EQ(colour, "pc,gbr,iec61966-2-1,bt709\n") << file;
    }
}

// Where each stream starts, then when each picture is shown, as ffprobe reads the file.
std::string timing(const std::string& file) {
    std::string text = run_process({"/usr/bin/ffprobe", "-v", "error", "-show_entries", "stream=codec_type,start_time",
                                    "-of", "csv=p=0", file})
                           .out;
    const std::string frames = run_process({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v:0",
                                            "-show_entries", "frame=pts_time", "-of", "csv=p=0", file})
                                   .out;
    // A key frame's line ends in its side data, printed empty.
    for (size_t at = 0, end; at < frames.size(); at = end + 1) {
        end = std::min(frames.find('\n', at), frames.size());
        const std::string line = frames.substr(at, frames.find_first_of(",\n", at) - at);
        if (!line.empty()) text += line + "\n";
    }
    return text;
}

TEST(CaptureChunks, an_h264_video_of_jobs_or_of_a_join_has_the_frames_times_and_music_of_one_run) {
    cTempDir dir;
    // 4 s at 10 fps: two key-frame segments of 2 s, one per job.
    ASSERT_RAN(capture({"--video", dir / "one.mp4", "--from", "20000", "--to", "24000"}));
    ASSERT_RAN(capture({"--video", dir / "jobs.mp4", "--from", "20000", "--to", "24000", "--jobs", "2"}));
    ASSERT_RAN(capture({"--video", dir / "a.mp4", "--from", "20000", "--to", "22000"}));
    ASSERT_RAN(capture({"--video", dir / "b.mp4", "--from", "22000", "--to", "24000"}));
    ASSERT_RAN(join({"--video", dir / "joined.mp4", dir / "a.mp4", dir / "b.mp4"}));
    const auto whole = decoded_frame_hashes(dir / "one.mp4");
    ASSERT_EQ(whole.size(), 40u);
    const std::string one = timing(dir / "one.mp4");
    ASSERT_EQ(one.rfind("video,0.000000\naudio,0.000000\n0.000000\n0.100000\n", 0), 0u) << one;
    ASSERT_EQ(count_lines(one), 42u) << one;
    for (const char* name : {"jobs.mp4", "joined.mp4"}) {
        EXPECT_EQ(decoded_frame_hashes(dir / name), whole) << name;
        EXPECT_EQ(timing(dir / name), one) << name << ": the pictures are not where the sound is";
        EXPECT_EQ(decoded_audio_hash(dir / name), decoded_audio_hash(dir / "one.mp4")) << name;
    }
}

// The first bytes of a file, as a copy that stopped or a full disk leaves them.
void copy_cut(const std::string& from, const std::string& to, size_t bytes) {
    std::ofstream(to, std::ios::binary) << slurp(from).substr(0, bytes);
}

TEST(CaptureChunks, a_join_refuses_naming_the_chunk_what_would_not_give_one_run) {
    cTempDir dir;
    ASSERT_RAN(capture({"--out", dir / "a", "--from", "20000", "--to", "20300"}));
    ASSERT_RAN(capture({"--out", dir / "b", "--from", "20300", "--to", "20600"}));
    ASSERT_RAN(capture({"--out", dir / "late", "--from", "20700", "--to", "20900"}));
    ASSERT_RAN(capture({"--out", dir / "big", "--from", "20300", "--to", "20600", "--size", "640x360"}));
    ASSERT_RAN(capture({"--video", dir / "v1.mp4", "--from", "20000", "--to", "20500"}));
    ASSERT_RAN(capture({"--video", dir / "v2.mp4", "--from", "20500", "--to", "21000"}));
    ASSERT_RAN(capture({"--master", dir / "m.mkv", "--from", "20000", "--to", "20300"}));
    make_module_off_show(built_show_dir(), dir / "other_show");
    ASSERT_RAN(capture({"--out", dir / "other", "--from", "20300", "--to", "20600", "--show", dir / "other_show"}));
    // A chunk stopped before its end: its frames are there, its record is not.
    fs::copy(dir / "b", dir / "stopped");
    fs::remove(dir / "stopped/democapture.txt");
    // Chunks cut short keep their records: a frame file, a master inside its header, half-way
    // and inside its last frame, and an H.264 chunk half-way.
    fs::copy(dir / "b", dir / "b_cut");
    copy_cut(dir / "b/frame_000001.png", dir / "b_cut/frame_000001.png", fs::file_size(dir / "b/frame_000001.png") - 20);
    const std::string master = slurp(dir / "m.mkv");
    copy_cut(dir / "m.mkv", dir / "m_head.mkv", 300);
    copy_cut(dir / "m.mkv", dir / "m_half.mkv", master.size() / 2);
    const std::string last = run_process({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                          "packet=pos,size", "-of", "csv=p=0", dir / "m.mkv"})
                                 .out;
    const size_t line = last.rfind('\n', last.size() - 2) + 1, comma = last.find(',', line);
    ASSERT_NE(comma, std::string::npos) << last;
    copy_cut(dir / "m.mkv", dir / "m_last.mkv",
             std::stoul(last.substr(line, comma - line)) + std::stoul(last.substr(comma + 1)) / 2);
    copy_cut(dir / "v1.mp4", dir / "v1_half.mp4", fs::file_size(dir / "v1.mp4") / 2);

    struct cCase {
        std::vector<std::string> args;
        std::string named;  // what the one line must name
    };
    const cCase cases[] = {
        {{"--out", dir / "j", dir / "a", dir / "missing"}, "missing"},
        {{"--out", dir / "j", dir / "a", dir / "stopped"}, "stopped"},
        {{"--out", dir / "j", dir / "a", dir / "late"}, "leave a gap of 4 frames"},
        {{"--out", dir / "j", dir / "a", dir / "b", dir / "b"}, "overlap"},
        {{"--out", dir / "j", dir / "a", dir / "big"}, "sizes 320x180 and 640x360"},
        {{"--video", dir / "j.mp4", dir / "v1.mp4", dir / "v2.mp4"}, "v2.mp4\" starts at 20500 ms, between two key"},
        {{"--master", dir / "j.mkv", dir / "v1.mp4"}, "v1.mp4"},
        {{"--out", dir / "a", dir / "a", dir / "b"}, "is one of the chunks"},
        {{"--out", dir / "j", dir / "a", dir / "b_cut"}, "b_cut\" is damaged: frame_000001.png"},
        {{"--master", dir / "j.mkv", dir / "m_head.mkv"}, "m_head.mkv\""},
        {{"--master", dir / "j.mkv", dir / "m_half.mkv"}, "m_half.mkv\" is damaged"},
        {{"--master", dir / "j.mkv", dir / "m_last.mkv"}, "m_last.mkv\" is damaged"},
        {{"--video", dir / "j.mp4", dir / "v1_half.mp4"}, "v1_half.mp4\" is damaged"},
        {{"--out", dir / "j", dir / "a", dir / "other"}, "other\" were captured differently (different shows"},
        {{"--video", dir / "j.mp4", "--show", dir / "other_show", dir / "v1.mp4"}, "other_show\""},
    };
    for (const cCase& c : cases) {
        const cProcessResult run = join(c.args);
        EXPECT_TRUE(run.exited && run.status == 2) << c.named << ": " << run.status << " " << run.err;
        EXPECT_EQ(count_lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir / "j")) << c.named;
        EXPECT_FALSE(fs::exists(dir / "j.mp4")) << c.named;
        EXPECT_FALSE(fs::exists(dir / "j.mkv")) << c.named;
    }
    EXPECT_EQ(files_in(dir / "a").size(), 4u) << "a refused join changed a chunk";
}

TEST(CaptureChunks, jobs_keep_the_finished_chunks_of_a_failed_run_and_the_same_command_captures_the_rest) {
    cTempDir dir;
    // An encoder that fails for the second chunk's music (from 20.5 s: sample 904050) and works
    // otherwise.
    const std::string fake = dir.write("bin/ffmpeg", "#!/bin/sh\ncase \"$*\" in *\"start_sample=904050:\"*) exit 3;; esac\n"
                                                     "exec /usr/bin/ffmpeg \"$@\"\n");
    fs::permissions(fake, fs::perms::owner_all);
    const std::vector<std::string> args = {"--master", dir / "show.mkv", "--from", "20000", "--to", "21000",
                                           "--jobs", "2"};
    cProcessOptions failing;
    failing.env = {"PATH=" + (dir / "bin") + ":/usr/bin:/bin"};
    cProcessResult run = capture(args, failing);
    EXPECT_TRUE(run.exited && run.status == 1) << run.err;
    EXPECT_NE(run.err.find("chunk 2 of 2 (music 20500 to 21000 ms"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "show.mkv"));
    EXPECT_EQ(files_in(dir / "show.mkv.chunks"), std::vector<std::string>{"chunk-000200-000205.mkv"})
        << "the finished chunk stays, the failed one leaves nothing";

    run = capture(args);
    ASSERT_RAN(run);
    EXPECT_NE(run.out.find("chunk 1 of 2 is already captured"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dir / "show.mkv.chunks"));
    ASSERT_RAN(capture({"--master", dir / "one.mkv", "--from", "20000", "--to", "21000"}));
    EXPECT_EQ(decoded_frame_hashes(dir / "show.mkv"), decoded_frame_hashes(dir / "one.mkv"));
    EXPECT_TRUE(master_music(dir / "show.mkv") == whole_decode(882000, 926100)) << "the sound of the jobs' master";
}

TEST(CaptureChunks, jobs_beyond_the_cores_this_capture_may_use_run_fewer_processes_and_say_so) {
    cTempDir dir;
    // Held to one processor, two processes could only take turns on it: one runs, no chunks.
    cProcessOptions options;
    options.unset_env = {"DISPLAY", "SDL_VIDEODRIVER"};
    options.timeout_seconds = 600;
    const cProcessResult run = run_process({"/usr/bin/taskset", "-c", std::to_string(::sched_getcpu()),
                                            democapture_path(), "--size", "320x180", "--fps", "10", "--master",
                                            dir / "show.mkv", "--from", "20000", "--to", "20300", "--jobs", "2"},
                                           options);
    ASSERT_RAN(run);
    EXPECT_NE(run.out.find("# note: democapture: --jobs 2 runs as one process: this capture may use 1 core"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.err.find("chunk"), std::string::npos) << run.err;
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"show.mkv"});
    EXPECT_EQ(decoded_frame_hashes(dir / "show.mkv").size(), 3u);
}

}  // namespace
