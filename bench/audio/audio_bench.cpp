// Figures of the sound module on an 88 s MP3 made at run time with sox and lame: load time,
// memory held per minute of music (file bytes plus decoded samples), and the cost of one
// spectrum_energy call (FFT fetch and energy sum). Prints figures and targets; asserts nothing.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/audio/audio_api.h"
#include "host/modules/module_input.h"
#include "host/sound/sound_module_bass.h"

namespace {

constexpr double music_seconds = 88.0;
constexpr int load_runs = 5;
constexpr int spectrum_calls = 2000;

using bench_clock = std::chrono::steady_clock;

double ms_since(bench_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(bench_clock::now() - start).count();
}

size_t heap_in_use() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Runs a shell command quietly; false when it fails.
bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Standard output goes to /dev/null while fn runs (the module's load line), then comes back.
template <typename F>
void quietly(F fn) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    std::FILE* null = std::fopen("/dev/null", "w");
    dup2(fileno(null), STDOUT_FILENO);
    fn();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::fclose(null);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/audio-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return 1;
    const std::string wav = std::string(dir) + "/music.wav", mp3 = std::string(dir) + "/music.mp3";
    // A chord that wanders, with a little noise: something for the coder to work on.
    if (!run("sox -n -r 44100 -c 2 " + wav + " synth 88 sine 110:880 sine 330 sine 523 whitenoise remix - - gain -6") ||
        !run("lame --quiet -b 128 " + wav + " " + mp3)) {
        std::fprintf(stderr, "## ERROR: could not make the test music with sox and lame\n");
        return 1;
    }
    std::remove(wav.c_str());

    cSoundModule_bass sound;
    sound.init_device(nullptr, 0);

    // ---- load ----
    std::vector<double> loads;
    size_t held_bytes = 0, heap_growth = 0;
    for (int i = 0; i < load_runs; ++i) {
        sound = cSoundModule_bass{};
        BASS_Free();
        BASS_Init(0, 44100, 0, nullptr, nullptr);
        const size_t heap_before = heap_in_use();
        const auto start = bench_clock::now();
        quietly([&] { sound.load(mp3); });
        loads.push_back(ms_since(start));
        heap_growth = heap_in_use() - heap_before;
        held_bytes = sound.file_bytes.size() + static_cast<size_t>(sound.length);
    }
    if (sound.stream == 0) {
        std::fprintf(stderr, "## ERROR: the test music did not load\n");
        return 1;
    }
    std::sort(loads.begin(), loads.end());
    const double minutes = music_seconds / 60.0;
    std::printf("# load of an 88 s MP3 (128 kbit/s, %zu bytes): median %.1f ms, best %.1f ms (target: under 300 ms)\n",
                sound.file_bytes.size(), loads[loads.size() / 2], loads.front());
    std::printf("# memory held per minute of music: %.2f MB (file %.2f MB + samples %.2f MB per minute; "
                "heap growth %.2f MB per minute) (target: at most 12 MB)\n",
                held_bytes / minutes / 1e6, sound.file_bytes.size() / minutes / 1e6, sound.length / minutes / 1e6,
                heap_growth / minutes / 1e6);

    // ---- spectrum energy ----
    cModuleInput input(nullptr, nullptr, &sound);
    sound.start();
    float sum = 0.0f;
    for (int i = 0; i < 20; ++i) sum += input.spectrum_energy(1, 200, 0.1f);  // plans made, caches warm
    const auto start = bench_clock::now();
    for (int i = 0; i < spectrum_calls; ++i) {
        sound.set_position_ms(1000 + (i % 80) * 1000);
        sum += input.spectrum_energy(1, 200, 0.1f);
    }
    const double per_call = ms_since(start) / spectrum_calls;
    volatile float keep = sum;  // the calls must not be optimised away
    (void)keep;
    std::printf("# spectrum_energy (8192-point FFT of the current output + energy over 200 bins): %.3f ms per call "
                "(target: under 1 ms)\n",
                per_call);

    std::remove(mp3.c_str());
    rmdir(dir);
    BASS_Free();
    return 0;
}
