// One playing stream of the audio layer: decoded samples, the conversion cursor, the playback
// buffer that refills run ahead into, an optional loop that the conversion wraps around, and
// the bookkeeping that turns the output's audible position into this stream's position.
// No locking: the layer's lock guards every call.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/audio/audio_config.h"
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
    // Moves to frame while the output plays (device_audible: what it has played now): the
    // position moves on from frame at once, and the output takes up the stream where the
    // position has got to when it asks for more, so that what is heard matches what is read.
    // The sound of the output's latency after frame is skipped; nothing stands still.
    void seek_running(uint64_t frame, double device_audible);
    // The position heard when the output has played device_audible frames. Never decreases
    // between seeks and never passes what was handed to the output or the stream's end.
    double position(double device_audible);
    // Stands still at what is heard now. What was handed out but not heard yet will be handed
    // out again, so resuming plays on from exactly here.
    void freeze(double device_audible);
    // True once every frame has been handed to the output.
    bool drained() const;

    // ---- loop (stream frames) ----
    // While end > start, conversion that reaches end goes on at start, so the output hears
    // the wrap without a gap; positions follow it. Frames converted ahead but not handed out
    // yet are converted again under the new loop. end <= start (or an end beyond the stream)
    // clears it. A stretch played from beyond end is not looped.
    void set_loop(uint64_t start, uint64_t end);
    bool looping() const { return loop_end_ > loop_start_; }

    // ---- playback buffer (output frames: stereo 16-bit at the device rate) ----
    void set_buffer_frames(size_t frames);
    size_t buffered_frames() const { return ring_count_; }
    // Converts ahead until the buffer holds min(frames, capacity).
    void refill(size_t frames);
    // The output thread takes up to count frames, adding them into mix (stereo int32); the
    // first of them is the output's frame number device_frame. Returns the frames added.
    size_t mix_into(int32_t* mix, size_t count, uint64_t device_frame);

private:
    // Where the conversion wrapped: output frame index (counted from the segment's start) of
    // the first frame converted from loop start, and the cursor it began with.
    struct cWrap {
        uint64_t output_index = 0;
        uint64_t cursor = 0;
    };

    void restart_at(double frame);
    void restart_at_cursor(uint64_t cursor);
    // A running seek reaching the output at device_frame: the conversion starts where the
    // position has moved on to by then.
    void start_late(uint64_t device_frame);
    // The stream frame (32.32) output frames after the cursor `from`, wrapped by the loop.
    uint64_t advanced(uint64_t from, double output_frames, uint64_t& laps) const;
    void arm_loop();
    // Drops what is converted but not handed out and puts the cursor where it began.
    void rewind_to_handed();
    size_t convert(int16_t* out, size_t count);  // from the cursor, output frames
    size_t convert_run(int16_t* out, size_t count, uint64_t limit);  // stops at stream frame limit
    void wrap();
    // Folds wraps the output has played past into the base of the mapping.
    void pass_wraps(uint64_t heard);

    std::shared_ptr<const cPcm> pcm_;
    uint64_t frames_;
    double ratio_;        // stream frames per output frame
    uint64_t step_;       // the same in 32.32 fixed point
    uint64_t cursor_ = 0; // next stream frame to convert, 32.32 fixed point

    // The current stretch of playback: which output frame carried its first frame (once
    // handed out), how many output frames it has converted and handed out, and the mapping from
    // its output frames to stream frames: output frame base_index_ holds stream frame
    // base_cursor_ (32.32), and later ones follow at ratio_ up to the next pending wrap.
    bool segment_on_output_ = false;
    uint64_t segment_device_start_ = 0;
    uint64_t segment_converted_ = 0;
    uint64_t segment_handed_ = 0;
    uint64_t base_index_ = 0;
    uint64_t base_cursor_ = 0;
    // Positions never decrease, except across a seek or a wrap: each base gets a new number,
    // and the first reading under a new base is taken as it is.
    uint64_t base_serial_ = 0;
    uint64_t last_serial_ = 0;
    double last_position_ = 0.0;
    // A running seek not yet on the output: the position moves from base_cursor_ with the
    // output's clock from run_anchor_, round the loop run_laps_ times so far.
    bool running_start_ = false;
    double run_anchor_ = 0.0;
    uint64_t run_laps_ = 0;
    // Output frames (<= 0) from which the current stretch was read before its first frame
    // was heard: a running seek's readings lead into it without standing still.
    double heard_floor_ = 0.0;

    uint64_t loop_start_ = 0;
    uint64_t loop_end_ = 0;
    bool loop_armed_ = false;  // the cursor is before loop_end_: reaching it wraps
    std::array<cWrap, audio_config::max_pending_loop_wraps> wraps_{};
    size_t wrap_head_ = 0;
    size_t wrap_count_ = 0;

    std::vector<int16_t> ring_;  // stereo frames
    size_t ring_capacity_ = 0;
    size_t ring_head_ = 0;
    size_t ring_count_ = 0;
    std::vector<int16_t> scratch_;  // the output thread's conversions, allocated up front
};
