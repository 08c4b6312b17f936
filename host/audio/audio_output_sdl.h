// The output device through SDL2 audio: opens the default output for stereo 16-bit at a
// given rate and calls a function of ours from SDL's audio thread for every buffer. Knows
// nothing of streams or clocks; prints nothing.
#pragma once
#include <cstdint>
#include <string>

class cSdlOutput {
public:
    // Fills frames stereo 16-bit frames at out; called on SDL's audio thread.
    using fill_function = void (*)(void* user, int16_t* out, uint32_t frames);

    cSdlOutput() = default;
    cSdlOutput(const cSdlOutput&) = delete;
    cSdlOutput& operator=(const cSdlOutput&) = delete;
    ~cSdlOutput() { close(); }

    // Opens and starts the device. On failure returns false with SDL's reason in error.
    bool open(uint32_t rate, uint32_t buffer_frames, fill_function fill, void* user, std::string& error);
    // Stops the audio thread (waiting for a running callback) and closes the device. The caller
    // must not hold a lock that the fill function takes.
    void close();

    bool is_open() const { return device_ != 0; }
    uint32_t buffer_frames() const { return buffer_frames_; }
    const char* driver_name() const;

private:
    uint32_t device_ = 0;
    uint32_t buffer_frames_ = 0;
    bool subsystem_ = false;
};
