// The video output of a capture: an encoder process (ffmpeg from the PATH) fed raw BGR frames
// through a pipe, which writes an H.264 MP4 with the music of the captured range muxed in.
// The encoder writes to the file it is given; renaming it into place is the caller's job.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct cVideoSettings {
    std::string output;      // the file the encoder writes (the caller's temporary name)
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    std::string music;       // the show's music; empty for a silent video
    int64_t music_from_ms = 0;
    int64_t music_length_ms = 0;
};

// The encoder's command line for these settings (program name first).
std::vector<std::string> encoder_command(const cVideoSettings& settings);

// The full path of a program found on the PATH, or empty.
std::string find_on_path(const std::string& program);

class cVideoEncoder {
public:
    cVideoEncoder() = default;
    ~cVideoEncoder();
    cVideoEncoder(const cVideoEncoder&) = delete;
    cVideoEncoder& operator=(const cVideoEncoder&) = delete;

    // Starts the encoder. On failure error says why.
    bool start(const cVideoSettings& settings, std::string& error);
    // Hands one frame (height rows of width BGR triples, top row first) to the encoder.
    // False once the encoder has gone away; the capture should stop then.
    bool write_frame(const uint8_t* pixels, size_t bytes);
    // Ends the input and waits for the encoder. True when it finished well; otherwise error
    // says how it ended.
    bool finish(std::string& error);
    // Stops the encoder at once (its output is then useless).
    void abort();

private:
    pid_t pid_ = 0;
    int pipe_ = -1;
};
