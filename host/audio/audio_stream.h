// One playing stream of the audio layer: decoded samples, the conversion cursor, the playback
// buffer that refills run ahead into, and the bookkeeping that turns the output's audible
// position into this stream's position. No locking: the layer's lock guards every call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/audio/pcm.h"

class cAudioStream {
public:
    // device_rate: output frames per second; buffer_frames: capacity of the playback buffer.
    cAudioStream(std::shared_ptr<const cPcm> pcm, uint32_t device_rate, size_t buffer_frames);

    const std::shared_ptr<const cPcm>& pcm() const { return pcm_; }
    uint64_t length_frames() const { return frames_; }

    bool playing = false;

    // ---- position (stream frames) ----
    // Moves to frame: reads frame at once and holds there until the new data is heard.
    void seek(uint64_t frame);
    // The position heard when the output has played device_audible frames. Never decreases
    // between seeks and never passes what was handed to the output or the stream's end.
    double position(double device_audible);
    // Stands still at what is heard now. What was handed out but not heard yet will be handed
    // out again, so resuming plays on from exactly here.
    void freeze(double device_audible);
    // True once every frame has been handed to the output.
    bool drained() const;

    // ---- playback buffer (output frames: stereo 16-bit at the device rate) ----
    void set_buffer_frames(size_t frames);
    size_t buffered_frames() const { return ring_count_; }
    // Converts ahead until the buffer holds min(frames, capacity).
    void refill(size_t frames);
    // The output thread takes up to count frames, adding them into mix (stereo int32); the
    // first of them is the output's frame number device_frame. Returns the frames added.
    size_t mix_into(int32_t* mix, size_t count, uint64_t device_frame);

private:
    void restart_at(double frame);
    size_t convert(int16_t* out, size_t count);  // from the cursor, output frames

    std::shared_ptr<const cPcm> pcm_;
    uint64_t frames_;
    double ratio_;        // stream frames per output frame
    uint64_t step_;       // the same in 32.32 fixed point
    uint64_t cursor_ = 0; // next stream frame to convert, 32.32 fixed point

    // The current stretch of playback: where it began in the stream, which output frame
    // carried its first frame (once handed out), and how many output frames it has handed.
    double segment_start_ = 0.0;
    bool segment_on_output_ = false;
    uint64_t segment_device_start_ = 0;
    uint64_t segment_handed_ = 0;
    double last_position_ = 0.0;

    std::vector<int16_t> ring_;  // stereo frames
    size_t ring_capacity_ = 0;
    size_t ring_head_ = 0;
    size_t ring_count_ = 0;
    std::vector<int16_t> scratch_;  // the output thread's conversions, allocated up front
};
