// The sound module as start-up and the frame loop use it: its console lines (latency, the
// streaming line with size and length, the "whoops" and "didn't recognize" lines), the refill
// settings load makes, the error names, positions in whole milliseconds, the spectrum, and
// the exit of a process whose audio device cannot be opened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/audio_test_media.h"
#include "host/audio/audio_api.h"
#include "base/files/file_utils.h"
#include "host/sound/sound_module_bass.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t rate = 44100;

class SoundModule : public ::testing::Test {
protected:
    void SetUp() override { BASS_Free(); }
    void TearDown() override { BASS_Free(); }

    // Loads path on the "no sound" device; returns what load wrote on each stream.
    void load(const std::string& path, std::string& out, std::string& err) {
        cCaptureStream capture_err(STDERR_FILENO);
        sound.init_device(nullptr, 0);
        cCaptureStream capture_out(STDOUT_FILENO);
        sound.load(path);
        out = capture_out.stop();
        err = capture_err.stop();
    }

    cSoundModule_bass sound;
    cTempDir dir;
};

// Small mono files keep the long ones quick to write: the length text only counts seconds.
std::string silent_wav(const cTempDir& dir, const std::string& name, uint32_t frames) {
    const std::string path = dir / name;
    write_wav(path, 8000, 1, std::vector<int16_t>(frames, 0));
    return path;
}

}  // namespace

// ---- names and console lines ----

TEST(sound_module_error_name, names_every_documented_code_and_calls_the_rest_unknown) {
    // The documented table of names, copied code by code.
    const std::vector<std::pair<uint32_t, const char*>> names = {
        {0, "BASS_OK"},              {1, "BASS_ERROR_MEM"},      {2, "BASS_ERROR_FILEOPEN"}, {3, "BASS_ERROR_DRIVER"},
        {4, "BASS_ERROR_BUFLOST"},   {5, "BASS_ERROR_HANDLE"},   {6, "BASS_ERROR_FORMAT"},   {7, "BASS_ERROR_POSITION"},
        {8, "BASS_ERROR_INIT"},      {9, "BASS_ERROR_START"},    {14, "BASS_ERROR_ALREADY"}, {18, "BASS_ERROR_NOCHAN"},
        {19, "BASS_ERROR_ILLTYPE"},  {20, "BASS_ERROR_ILLPARAM"}, {21, "BASS_ERROR_NO3D"},   {22, "BASS_ERROR_NOEAX"},
        {23, "BASS_ERROR_DEVICE"},   {24, "BASS_ERROR_NOPLAY"},  {25, "BASS_ERROR_FREQ"},    {27, "BASS_ERROR_NOTFILE"},
        {29, "BASS_ERROR_NOHW"},     {31, "BASS_ERROR_EMPTY"},   {32, "BASS_ERROR_NONET"},   {33, "BASS_ERROR_CREATE"},
        {34, "BASS_ERROR_NOFX"},     {37, "BASS_ERROR_NOTAVAIL"}, {38, "BASS_ERROR_DECODE"}, {39, "BASS_ERROR_DX"},
        {40, "BASS_ERROR_TIMEOUT"},  {41, "BASS_ERROR_FILEFORM"}, {42, "BASS_ERROR_SPEAKER"}, {43, "BASS_ERROR_VERSION"},
        {44, "BASS_ERROR_CODEC"},    {45, "BASS_ERROR_ENDED"},   {46, "BASS_ERROR_BUSY"}};
    size_t next = 0;
    for (uint32_t code = 0; code <= 50; ++code) {
        const bool named = next < names.size() && names[next].first == code;
        EXPECT_EQ(cSoundModule_bass::error_name(code), named ? names[next].second : "BASS_ERROR_UNKNOWN") << "code " << code;
        next += named;
    }
    for (uint32_t code : {1000u, static_cast<uint32_t>(-1)}) {
        EXPECT_EQ(cSoundModule_bass::error_name(code), "BASS_ERROR_UNKNOWN") << "code " << code;
    }
}

TEST_F(SoundModule, device_set_up_reports_the_latency) {
    cCaptureStream capture(STDERR_FILENO);
    sound.init_device(nullptr, 0);
    EXPECT_EQ(capture.stop(), "# info: bass latency: 0ms\n");
    EXPECT_EQ(sound.latency, 0);
}

TEST_F(SoundModule, load_sets_the_refill_and_gives_the_streaming_line_with_size_and_length) {
    struct {
        uint32_t frames;
        const char* length;
    } cases[] = {{8000 * 88, "1m28s"}, {8000 * 60, "1m0s"}, {8000 * 60 - 1, "0m59s"}, {4000, "0m0s"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        BASS_Free();
        cSoundModule_bass fresh;
        const std::string path = silent_wav(dir, "music.wav", c.frames);
        cCaptureStream capture_err(STDERR_FILENO);
        fresh.init_device(nullptr, 0);
        // Anything but the show's settings, so that load must set them.
        BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 50);
        BASS_SetConfig(BASS_CONFIG_UPDATETHREADS, 4);
        cCaptureStream capture_out(STDOUT_FILENO);
        fresh.load(path);
        EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_UPDATEPERIOD), 15u) << "refills every 15 ms";
        EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_UPDATETHREADS), 2u) << "two refill threads";
        const std::string out = capture_out.stop();
        const std::string err = capture_err.stop();
        EXPECT_EQ(out, "# bass streaming file \"" + path + "\" [size: " + std::to_string(c.frames * 2) +
                           " bytes]# [length: " + c.length + "]\n");
        EXPECT_EQ(err, "# info: bass latency: 0ms\n") << "a good file reports no problem";
        EXPECT_EQ(fresh.length, int64_t{c.frames} * 2);
        EXPECT_EQ(fresh.file_bytes.size(), 44u + c.frames * 2) << "the whole file is kept in memory";
    }
}

TEST_F(SoundModule, relative_paths_are_reported_absolute) {
    const std::string saved = current_directory();
    ASSERT_TRUE(set_current_directory(dir.path()));
    silent_wav(dir, "short.wav", 800);
    std::string out, err;
    load("short.wav", out, err);
    ASSERT_TRUE(set_current_directory(saved));
    EXPECT_NE(out.find("\"" + absolute_path(dir / "short.wav") + "\""), std::string::npos) << out;
    EXPECT_NE(sound.stream, 0u);
}

TEST_F(SoundModule, files_that_are_not_music_give_the_whoops_line_and_a_negative_position) {
    std::string wav = wav_bytes(rate, 2, sine_samples(rate, 2, 1000, 440));
    std::string random(50000, '\0');
    uint32_t seed = 99;
    for (char& c : random) c = static_cast<char>((seed = seed * 1664525 + 1013904223) >> 24);
    struct {
        const char* name;
        const char* code;  // as the whoops line gives it
        bool create;
        std::string bytes;
    } cases[] = {{"missing.mp3", "20 BASS_ERROR_ILLPARAM", false, ""},
                 {"empty.mp3", "20 BASS_ERROR_ILLPARAM", true, ""},
                 {"truncated.wav", "41 BASS_ERROR_FILEFORM", true, wav.substr(0, 30)},
                 {"random.mp3", "41 BASS_ERROR_FILEFORM", true, random},
                 {"notes.txt", "41 BASS_ERROR_FILEFORM", true, "la la la\nthis is not music\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BASS_Free();
        sound = cSoundModule_bass{};
        const std::string path = c.create ? dir.write(c.name, c.bytes) : dir / c.name;
        std::string out, err;
        load(path, out, err);
        EXPECT_EQ(err, std::string("# info: bass latency: 0ms\n") + "# ERROR: whoops, bass failed . Errorcode: " + c.code +
                           "\n# bass didn't recognize the filetype: \"" + path + "\"\n");
        EXPECT_EQ(out, "\n") << "only the line end of the streaming line";
        EXPECT_EQ(sound.stream, 0u);
        EXPECT_EQ(sound.length, 0);
        EXPECT_LT(sound.position_ms(), 0) << "without music the position reads negative";
        sound.update();  // the frame loop goes on calling these
        sound.start();
        EXPECT_LT(sound.position_ms(), 0);
    }
}

TEST_F(SoundModule, check_error_names_the_code_of_the_last_call) {
    sound.init_device(nullptr, 0);
    cCaptureStream capture(STDERR_FILENO);
    sound.check_error("quietly");  // the last call succeeded: nothing to say
    BASS_ChannelPlay(0, true);
    sound.check_error("playing nothing");
    EXPECT_EQ(capture.stop(), "# ERROR: whoops, bass failed playing nothing. Errorcode: 5 BASS_ERROR_HANDLE\n");
}

// ---- position and spectrum ----

TEST_F(SoundModule, positions_are_whole_milliseconds_truncated_and_move_only_when_set_without_sound) {
    const std::string path = dir / "sine.wav";
    write_wav(path, rate, 2, sine_samples(rate, 2, rate * 3, 440));
    std::string out, err;
    load(path, out, err);
    EXPECT_EQ(sound.position_ms(), 0);
    sound.start();
    EXPECT_EQ(sound.position_ms(), 0);
    sound.set_position_ms(1234.0);
    EXPECT_EQ(sound.position_ms(), 1234);
    sound.set_position_ms(999.0);
    EXPECT_EQ(sound.position_ms(), 999);
    for (int ms = 0; ms < 3000; ms += 7) {
        sound.set_position_ms(ms);
        ASSERT_EQ(sound.position_ms(), ms) << "set and read back differ";
    }
    sound.set_position_ms(1500.4);  // between frames: the next frame, still in the same ms
    EXPECT_EQ(sound.position_ms(), 1500);
    sound.set_position_ms(-50.0);
    EXPECT_EQ(sound.position_ms(), 0);
    sound.set_position_ms(60000.0);
    EXPECT_EQ(sound.position_ms(), 3000) << "past the end reads the end";
}

TEST_F(SoundModule, spectrum_is_silent_without_music_and_shows_the_music_with_it) {
    std::vector<float> bins(4096, 7.0f);
    sound.spectrum(bins.data());  // not even a device
    EXPECT_TRUE(std::all_of(bins.begin(), bins.end(), [](float v) { return v == 0.0f; }));

    const std::string path = dir / "sine.wav";
    write_wav(path, rate, 2, sine_samples(rate, 2, rate * 2, 100.0 * rate / 8192));
    std::string out, err;
    load(path, out, err);
    sound.set_position_ms(1000.0);
    sound.spectrum(bins.data());
    EXPECT_NEAR(bins[100], 1.0f, 0.01f);
    EXPECT_EQ(std::max_element(bins.begin(), bins.end()) - bins.begin(), 100);
}

TEST_F(SoundModule, load_leaves_the_music_at_zero_until_start_on_the_real_output) {
    const std::string path = dir / "sine.wav";
    write_wav(path, rate, 2, sine_samples(rate, 2, rate * 10, 440, 0.25));
    cCaptureStream capture_err(STDERR_FILENO);
    cCaptureStream capture_out(STDOUT_FILENO);
    sound.init_device(nullptr, 1);
    sound.load(path);
    capture_out.stop();
    const std::string err = capture_err.stop();
    EXPECT_EQ(err.rfind("# info: bass latency: ", 0), 0u) << err;
    EXPECT_GT(sound.latency, 0);
    usleep(200 * 1000);
    EXPECT_EQ(sound.position_ms(), 0) << "moved before start";
    sound.start();
    int32_t last = 0;
    for (int i = 0; i < 2000 && last == 0; ++i) {
        usleep(1000);
        last = sound.position_ms();
    }
    EXPECT_GT(last, 0) << "never moved after start";
    sound.pause();
    const int32_t paused = sound.position_ms();
    EXPECT_GE(paused, last);
    usleep(100 * 1000);
    EXPECT_EQ(sound.position_ms(), paused) << "moved while paused";
}

// ---- a device that cannot be opened ----

TEST(SoundModuleDeath, a_device_that_cannot_be_opened_ends_the_process_with_status_1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            cSoundModule_bass sound;
            sound.init_device(nullptr, 1);
        },
        ::testing::ExitedWithCode(1), "## ERROR: bass: Error\\(3\\): Can't initialize device");
    EXPECT_EXIT(
        {
            cSoundModule_bass sound;
            sound.init_device(nullptr, 7);
        },
        ::testing::ExitedWithCode(1), "## ERROR: bass: Error\\(23\\): Can't initialize device");
}
