// The show's music player and clock over the project's audio layer (host/audio/audio_api.h):
// device set-up, loading the music into memory, start and pause, the per-frame refill, the
// position in whole milliseconds, the spectrum, and the log lines with the layer's error names.
#include "host/sound/sound_module_bass.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "host/audio/audio_api.h"
#include "base/files/file_utils.h"

namespace {

constexpr uint32_t expected_version = 0x0204;  // 2.4, the upper 16 bits of BASS_GetVersion
constexpr uint32_t output_rate = 44100;
constexpr uint32_t update_period_ms = 15;
constexpr uint32_t update_threads = 2;
constexpr uint32_t spectrum_request = 0xC0000025;  // 8192-point FFT, no window, float
constexpr size_t spectrum_bins = 4096;
constexpr const char* load_context = "cSoundModule_bass::load";

// Truncates toward zero; values beyond int32 (which no real position reaches) saturate and
// NaN reads as the error value -1, rather than being undefined.
int32_t truncate_to_int32(double value) {
    if (value != value) return -1;
    value = std::clamp(value, static_cast<double>(std::numeric_limits<int32_t>::min()),
                       static_cast<double>(std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(value);
}

}  // namespace

void cSoundModule_bass::init_device(void* window_handle, int32_t device) {
    if ((BASS_GetVersion() >> 16) != expected_version) {
        std::cerr << "## ERROR: BASS compile-time vs run-time version mismatch" << std::endl;
        return;
    }
    if (!BASS_Init(device, output_rate, BASS_DEVICE_LATENCY, window_handle, nullptr)) {
        fatal("Can't initialize device");
    }
    if (latency == -1) {
        BASS_INFO info;
        if (BASS_GetInfo(&info)) latency = static_cast<int32_t>(info.latency);
    }
    std::cerr << "# info: bass latency: " << latency << "ms" << std::endl;
}

void cSoundModule_bass::load(const std::string& path) {
    const std::string full_path = absolute_path(path);
    // A second load replaces the music instead of playing two at once.
    if (stream != 0) {
        BASS_StreamFree(stream);
        stream = 0;
    }
    // Nothing when it cannot be read: the stream then says why it cannot play.
    file_bytes.clear();
    read_whole_file(full_path, file_bytes, cReadOptions{});

    if (!BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, update_period_ms)) {
        std::cerr << "# WARNING in " << load_context << " error setting BASS_CONFIG_UPDATEPERIOD!" << std::endl;
    }
    if (!BASS_SetConfig(BASS_CONFIG_UPDATETHREADS, update_threads)) {
        std::cerr << "# ERROR in " << load_context << " error setting BASS_CONFIG_UPDATETHREADS!" << std::endl;
    }

    stream = BASS_StreamCreateFile(true, file_bytes.data(), 0, file_bytes.size(), BASS_STREAM_PRESCAN);
    check_error("");

    if (stream != 0) {
        length = static_cast<int64_t>(BASS_ChannelGetLength(stream, BASS_POS_BYTE));
        std::cout << "# bass streaming file \"" << full_path << "\" [size: " << static_cast<uint64_t>(length)
                  << " bytes]";
    } else {
        length = 0;
        std::cerr << "# bass didn't recognize the filetype: \"" << full_path << "\"" << std::endl;
    }
    if (length != 0) {
        const auto seconds = static_cast<uint32_t>(BASS_ChannelBytes2Seconds(stream, static_cast<uint64_t>(length)));
        std::cout << "# [length: " << seconds / 60 << "m" << seconds % 60 << "s]" << std::endl;
    } else {
        std::cout << std::endl;
    }

    // Positioned at 0 and playing, but silent until start().
    BASS_ChannelUpdate(stream, 0);
    BASS_ChannelPlay(stream, true);
    BASS_Pause();
}

void cSoundModule_bass::start() { BASS_Start(); }

void cSoundModule_bass::pause() { BASS_Pause(); }

void cSoundModule_bass::update() { BASS_ChannelUpdate(stream, 0); }

int32_t cSoundModule_bass::position_ms() {
    const uint64_t bytes = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    const double seconds = BASS_ChannelBytes2Seconds(stream, bytes);
    return truncate_to_int32(seconds * 1000.0);
}

void cSoundModule_bass::spectrum(float* buffer) {
    // Without data the caller sees silence rather than whatever the buffer held.
    if (BASS_ChannelGetData(stream, buffer, spectrum_request) == ~uint32_t{0}) std::fill_n(buffer, spectrum_bins, 0.0f);
}

// The byte position of the first frame at or after a time, so that position_ms reads back the
// same whole millisecond; past the end, the end. False without a stream.
bool cSoundModule_bass::bytes_of_ms(double ms, uint64_t& bytes) {
    BASS_CHANNELINFO info;
    if (stream == 0 || !BASS_ChannelGetInfo(stream, &info) || info.freq == 0) return false;
    ms = std::max(0.0, ms);
    // Its own arithmetic can land a hair below a frame that sits exactly on a millisecond
    // (2030 ms reads 2029.9999...), so one frame more where that happens.
    // A time computed as a sum that should come back to a frame's own time (seeking forward
    // and back again) may land a hair past it; that hair must not make it the next frame.
    constexpr double kFrameTolerance = 1e-6;
    const uint64_t frame_bytes = uint64_t{info.chans} * 2;
    bytes = static_cast<uint64_t>(std::ceil(std::max(0.0, ms * info.freq / 1000.0 - kFrameTolerance))) * frame_bytes;
    if (truncate_to_int32(BASS_ChannelBytes2Seconds(stream, bytes) * 1000.0) < truncate_to_int32(ms)) {
        bytes += frame_bytes;
    }
    // Past the end reads the end, as playing to the end would.
    bytes = std::min(bytes, static_cast<uint64_t>(length) / frame_bytes * frame_bytes);
    return true;
}

void cSoundModule_bass::set_position_ms(double ms) {
    uint64_t bytes = 0;
    if (bytes_of_ms(ms, bytes)) BASS_ChannelSetPosition(stream, bytes, BASS_POS_BYTE);
}

double cSoundModule_bass::position_exact_ms() {
    const uint64_t bytes = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    return BASS_ChannelBytes2Seconds(stream, bytes) * 1000.0;
}

double cSoundModule_bass::length_ms() {
    if (stream == 0 || length <= 0) return 0.0;
    return BASS_ChannelBytes2Seconds(stream, static_cast<uint64_t>(length)) * 1000.0;
}

void cSoundModule_bass::set_loop_ms(double start_ms, double end_ms) {
    uint64_t start = 0, end = 0;
    if (end_ms <= start_ms || !bytes_of_ms(start_ms, start) || !bytes_of_ms(end_ms, end)) start = end = 0;
    if (stream != 0) BASS_ChannelSetLoop(stream, start, end);
}

void cSoundModule_bass::fatal(const std::string& text) {
    std::cerr << "## ERROR: bass: Error(" << BASS_ErrorGetCode() << "): " << text << std::endl;
    BASS_Free();
    // A device that cannot be opened is a failure: the process says so with status 1.
    std::exit(1);
}

void cSoundModule_bass::check_error(const std::string& context) {
    const int32_t code = BASS_ErrorGetCode();
    if (code == BASS_OK) return;
    std::cerr << "# ERROR: whoops, bass failed " << context << ". Errorcode: " << static_cast<uint32_t>(code) << " "
              << error_name(static_cast<uint32_t>(code)) << std::endl;
}

std::string cSoundModule_bass::error_name(uint32_t code) {
    switch (code) {
        case 0: return "BASS_OK";
        case 1: return "BASS_ERROR_MEM";
        case 2: return "BASS_ERROR_FILEOPEN";
        case 3: return "BASS_ERROR_DRIVER";
        case 4: return "BASS_ERROR_BUFLOST";
        case 5: return "BASS_ERROR_HANDLE";
        case 6: return "BASS_ERROR_FORMAT";
        case 7: return "BASS_ERROR_POSITION";
        case 8: return "BASS_ERROR_INIT";
        case 9: return "BASS_ERROR_START";
        case 14: return "BASS_ERROR_ALREADY";
        case 18: return "BASS_ERROR_NOCHAN";
        case 19: return "BASS_ERROR_ILLTYPE";
        case 20: return "BASS_ERROR_ILLPARAM";
        case 21: return "BASS_ERROR_NO3D";
        case 22: return "BASS_ERROR_NOEAX";
        case 23: return "BASS_ERROR_DEVICE";
        case 24: return "BASS_ERROR_NOPLAY";
        case 25: return "BASS_ERROR_FREQ";
        case 27: return "BASS_ERROR_NOTFILE";
        case 29: return "BASS_ERROR_NOHW";
        case 31: return "BASS_ERROR_EMPTY";
        case 32: return "BASS_ERROR_NONET";
        case 33: return "BASS_ERROR_CREATE";
        case 34: return "BASS_ERROR_NOFX";
        case 37: return "BASS_ERROR_NOTAVAIL";
        case 38: return "BASS_ERROR_DECODE";
        case 39: return "BASS_ERROR_DX";
        case 40: return "BASS_ERROR_TIMEOUT";
        case 41: return "BASS_ERROR_FILEFORM";
        case 42: return "BASS_ERROR_SPEAKER";
        case 43: return "BASS_ERROR_VERSION";
        case 44: return "BASS_ERROR_CODEC";
        case 45: return "BASS_ERROR_ENDED";
        case 46: return "BASS_ERROR_BUSY";
        default: return "BASS_ERROR_UNKNOWN";
    }
}
