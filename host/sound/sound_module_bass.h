// The show's clock and music player: the whole music file in memory, streamed through the
// project's audio layer (host/audio). The music position is the only time base of the show.
// Also turns the audio layer's error codes into their names for the log.
#pragma once
#include <cstdint>
#include <string>

class cSoundModule_bass {
public:
    uint32_t stream = 0;             // 0 until load succeeds
    int64_t length = 0;              // stream length in bytes; 0 without a stream
    int32_t latency = -1;            // output latency in ms; -1 until known
    std::string file_bytes;          // the whole music file; the stream plays from it

    // Opens the audio device (1: the default output; 0: "no sound", whose position moves only
    // when set). window_handle is the window the device belongs to (may be null).
    // A device that cannot be opened ends the process with status 1 after its error line.
    void init_device(void* window_handle, int32_t device = 1);
    // Reads the music file into memory and creates a playing stream with the output paused.
    void load(const std::string& path);
    void start();           // resume the output
    void pause();           // pause the output
    void update();          // refill the stream's playback buffer; once per frame
    int32_t position_ms();  // audible position in whole milliseconds (negative without a stream)
    void spectrum(float* buffer);  // 4096 magnitudes of an 8192-point FFT of the current output
    // Moves the stream to a position in ms (the "no sound" device's clock; also for tests).
    void set_position_ms(double ms);
    // The audible position in milliseconds with its fraction (what position_ms truncates).
    double position_exact_ms();
    // The length of the music in milliseconds; 0 without a stream.
    double length_ms();
    // Loops the music between two times in ms (sample-exact, wrapped where the samples are
    // fed to the output); end <= start clears the loop.
    void set_loop_ms(double start_ms, double end_ms);

    [[noreturn]] void fatal(const std::string& text);
    void check_error(const std::string& context);
    static std::string error_name(uint32_t code);

private:
    bool bytes_of_ms(double ms, uint64_t& bytes);
};
