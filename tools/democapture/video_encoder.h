// The encoder processes of a capture: ffmpeg from the PATH, started as a child process and fed raw
// BGR frames through a pipe, and the command lines that decide every bit of what it writes: an
// H.264 segment, a lossless master with its music, and the final mux that puts encoded video
// (segments, or the chunks of a join) together with the music of the whole range.
// The encoder writes to the file it is given; renaming it into place is the caller's job.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/process/child_process.h"

// What the frames are and which music goes with them.
struct cVideoSettings {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    int32_t crf = 18;
    std::string music;         // the show's music; empty for no music
    int32_t music_rate = 0;    // its samples per second (probe_music_rate); needed to cut it
    int64_t first_frame = 0;   // the range on the frame grid: the music is cut to its frames
    int64_t frames = 0;
    std::string tag;           // the "comment" tag: the range, for a later join
};

// The music of a range is the samples of a decode of the whole music (never one started at a
// seek point, whose first samples are silent and then wrong) that sound during its frames:
// from the sample sounding at the first frame's time, floor(k x rate / fps), to the one at the
// time of the frame after the last, so that ranges that meet share no sample and miss none.
// Past the music's end it is silence, so the sound always lasts as long as the frames.
int64_t music_sample_at(int64_t grid_frame, int32_t fps, int32_t rate);
// The filter that makes those samples of the decoded music, timed from 0.
std::string music_cut_filter(const cVideoSettings& s);
// The sample rate of the decoded music, read with the probe program. False with error.
bool probe_music_rate(const std::string& music, int32_t& rate, std::string& error);

// Raw frames from the pipe into one H.264 segment (video only, MP4), starting with a key frame.
std::vector<std::string> h264_segment_command(const cVideoSettings& s, const std::string& output);
// Raw frames from the pipe and the music into a lossless master (FFV1 and FLAC, Matroska).
std::vector<std::string> master_command(const cVideoSettings& s, const std::string& output);
// The video of the files listed in concat_list (copied, not encoded again) with the music of the
// range (AAC for an MP4, FLAC for a master) into output; mkv chooses Matroska, else MP4.
std::vector<std::string> mux_command(const cVideoSettings& s, const std::string& concat_list, bool mkv,
                                     const std::string& output);

// The text of a concat list: each file with its length in seconds. first_track_only takes
// track 1 of each file and nothing else (an MP4's video; a chunk's music would otherwise move
// the whole input's start time, and the pictures with it).
struct cConcatEntry {
    std::string path;
    int64_t frames = 0;
};
std::string concat_list_text(const std::vector<cConcatEntry>& entries, int32_t fps, bool first_track_only = false);

// The full path of a program found on the PATH, or empty.
std::string find_on_path(const std::string& program);

// Runs a command to its end; its standard output is collected (standard error goes where the
// capture's goes, or with errors_too into output as well). Returns false and says why when it
// could not run or did not end with 0.
bool run_to_end(const std::vector<std::string>& command, std::string& output, std::string& error,
                bool errors_too = false);

class cVideoEncoder {
public:
    cVideoEncoder() = default;
    ~cVideoEncoder();
    cVideoEncoder(const cVideoEncoder&) = delete;
    cVideoEncoder& operator=(const cVideoEncoder&) = delete;

    // Starts the command (its program looked up on the PATH) with a pipe on its standard input.
    // On failure error says why.
    bool start(const std::vector<std::string>& command, std::string& error);
    // Hands bytes (frames: height rows of width BGR triples, top row first) to the encoder.
    // False once the encoder has gone away.
    bool write(const uint8_t* data, size_t bytes);
    // Ends the input; the encoder finishes on its own (finish waits for it).
    void close_input();
    // Ends the input and waits for the encoder. True when it finished well; otherwise error
    // says how it ended.
    bool finish(std::string& error);
    // Stops the encoder at once (its output is then useless).
    void abort();
    bool running() const { return encoder_.pid() > 0; }

private:
    cChildProcess encoder_;
};
