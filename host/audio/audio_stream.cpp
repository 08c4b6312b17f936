// Stream playback: linear-interpolation conversion to the output rate and stereo, a ring of
// converted frames, and the segment bookkeeping behind positions. Runs on the caller's thread
// under the layer's lock; allocates only outside the output thread's path.
#include "host/audio/audio_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/audio/audio_config.h"

namespace {
constexpr int fixed_shift = 32;
constexpr uint64_t fixed_one = uint64_t{1} << fixed_shift;
constexpr size_t scratch_frames = 4096;
}  // namespace

cAudioStream::cAudioStream(std::shared_ptr<const cPcm> pcm, uint32_t device_rate, size_t buffer_frames)
    : pcm_(std::move(pcm)), frames_(pcm_->frames()) {
    ratio_ = static_cast<double>(pcm_->rate) / device_rate;
    step_ = (static_cast<uint64_t>(pcm_->rate) << fixed_shift) / device_rate;
    scratch_.resize(scratch_frames * audio_config::output_channels);
    set_buffer_frames(buffer_frames);
}

// ---- position ----

void cAudioStream::restart_at(double frame) { restart_at_cursor(static_cast<uint64_t>(frame * static_cast<double>(fixed_one))); }

void cAudioStream::restart_at_cursor(uint64_t cursor) {
    segment_on_output_ = false;
    segment_device_start_ = 0;
    segment_converted_ = 0;
    segment_handed_ = 0;
    running_start_ = false;
    run_laps_ = 0;
    heard_floor_ = 0.0;
    cursor_ = cursor;
    base_index_ = 0;
    base_cursor_ = cursor_;
    ++base_serial_;
    wrap_head_ = 0;
    wrap_count_ = 0;
    ring_head_ = 0;
    ring_count_ = 0;
    arm_loop();
}

void cAudioStream::seek(uint64_t frame) {
    frame = std::min(frame, frames_);
    restart_at(static_cast<double>(frame));
    last_position_ = static_cast<double>(frame);
    last_serial_ = base_serial_;
}

void cAudioStream::seek_running(uint64_t frame, double device_audible) {
    seek(frame);
    running_start_ = frame < frames_;
    run_anchor_ = device_audible;
}

uint64_t cAudioStream::advanced(uint64_t from, double output_frames, uint64_t& laps) const {
    uint64_t cursor = from + static_cast<uint64_t>(output_frames) * step_;
    laps = 0;
    if (loop_armed_ && (cursor >> fixed_shift) >= loop_end_) {
        const uint64_t start = loop_start_ << fixed_shift, length = (loop_end_ - loop_start_) << fixed_shift;
        laps = (cursor - start) / length;
        cursor = start + (cursor - start) % length;
    }
    return std::min(cursor, frames_ << fixed_shift);
}

void cAudioStream::start_late(uint64_t device_frame) {
    const double late = std::max(0.0, static_cast<double>(device_frame) - run_anchor_);
    uint64_t laps = 0;
    const uint64_t cursor = advanced(base_cursor_, late, laps);
    const uint64_t serial = base_serial_, seen = last_serial_;
    restart_at_cursor(cursor);
    // The readings so far led up to this frame: no jump, unless they went round the loop.
    if (laps == 0 && serial == seen) last_serial_ = base_serial_;
    heard_floor_ = -late;
}

void cAudioStream::pass_wraps(uint64_t heard) {
    while (wrap_count_ > 0 && wraps_[wrap_head_].output_index <= heard) {
        base_index_ = wraps_[wrap_head_].output_index;
        base_cursor_ = wraps_[wrap_head_].cursor;
        ++base_serial_;
        wrap_head_ = (wrap_head_ + 1) % wraps_.size();
        --wrap_count_;
    }
}

double cAudioStream::position(double device_audible) {
    double heard = 0.0;
    double position = 0.0;
    bool lapped = false;
    if (!segment_on_output_ && running_start_) {
        uint64_t laps = 0;
        const uint64_t cursor = advanced(base_cursor_, std::max(0.0, device_audible - run_anchor_), laps);
        position = static_cast<double>(cursor) / static_cast<double>(fixed_one);
        lapped = laps != run_laps_;
        run_laps_ = laps;
    } else {
        if (segment_on_output_) {
            heard = device_audible - static_cast<double>(segment_device_start_);
            heard = std::clamp(heard, heard_floor_, static_cast<double>(segment_handed_));
            if (heard > 0.0) pass_wraps(static_cast<uint64_t>(heard));
        }
        position = static_cast<double>(base_cursor_) / static_cast<double>(fixed_one) +
                   (heard - static_cast<double>(base_index_)) * ratio_;
    }
    position = std::max(0.0, std::min(position, static_cast<double>(frames_)));
    if (base_serial_ != last_serial_ || lapped) {
        // A seek or a wrap: the first reading after it is where playback went.
        last_serial_ = base_serial_;
        last_position_ = position;
    } else {
        last_position_ = std::max(last_position_, position);
    }
    return last_position_;
}

void cAudioStream::freeze(double device_audible) {
    const double here = position(device_audible);
    restart_at(here);
    last_serial_ = base_serial_;  // standing still is no jump: readings stay where they were
}

bool cAudioStream::drained() const {
    return ring_count_ == 0 && !loop_armed_ && (cursor_ >> fixed_shift) >= frames_;
}

// ---- loop ----

void cAudioStream::arm_loop() { loop_armed_ = looping() && (cursor_ >> fixed_shift) < loop_end_; }

void cAudioStream::set_loop(uint64_t start, uint64_t end) {
    rewind_to_handed();
    end = std::min(end, frames_);
    if (end > start) {
        loop_start_ = start;
        loop_end_ = end;
    } else {
        loop_start_ = 0;
        loop_end_ = 0;
    }
    arm_loop();
}

void cAudioStream::rewind_to_handed() {
    const uint64_t first = segment_handed_;  // the first output frame not handed out yet
    // Wraps inside the dropped frames are undone; one at exactly the first kept frame stays,
    // since that frame still begins at the loop's start.
    while (wrap_count_ > 0) {
        const size_t last = (wrap_head_ + wrap_count_ - 1) % wraps_.size();
        if (wraps_[last].output_index <= first) break;
        --wrap_count_;
    }
    uint64_t index = base_index_, cursor = base_cursor_;
    if (wrap_count_ > 0) {
        const cWrap& last = wraps_[(wrap_head_ + wrap_count_ - 1) % wraps_.size()];
        index = last.output_index;
        cursor = last.cursor;
    }
    cursor_ = cursor + (first - index) * step_;
    segment_converted_ = first;
    ring_head_ = 0;
    ring_count_ = 0;
    arm_loop();
}

void cAudioStream::wrap() {
    cursor_ -= (loop_end_ - loop_start_) << fixed_shift;  // keeps the fraction: no phase jump
    if (wrap_count_ == wraps_.size()) {
        // Nobody has read the position for a long time: the oldest wrap is taken as heard.
        pass_wraps(wraps_[wrap_head_].output_index);
    }
    wraps_[(wrap_head_ + wrap_count_) % wraps_.size()] = {segment_converted_, cursor_};
    ++wrap_count_;
}

// ---- conversion ----

size_t cAudioStream::convert(int16_t* out, size_t count) {
    size_t made = 0;
    while (made < count) {
        const bool at_loop_end = loop_armed_ && (cursor_ >> fixed_shift) >= loop_end_;
        if (at_loop_end) wrap();
        const size_t run = convert_run(out + made * 2, count - made, loop_armed_ ? loop_end_ : frames_);
        made += run;
        segment_converted_ += run;
        if (run == 0 && !at_loop_end) break;  // the end of the stream
    }
    return made;
}

size_t cAudioStream::convert_run(int16_t* out, size_t count, uint64_t limit) {
    const uint32_t channels = pcm_->channels;
    const int16_t* samples = pcm_->samples.data();
    size_t made = 0;
    if (step_ == fixed_one && channels == 2 && (cursor_ & (fixed_one - 1)) == 0) {
        // Same rate and layout: a plain copy.
        const uint64_t first = cursor_ >> fixed_shift;
        if (first >= limit) return 0;
        made = static_cast<size_t>(std::min<uint64_t>(count, limit - first));
        std::memcpy(out, samples + first * 2, made * 2 * sizeof(int16_t));
        cursor_ += made * fixed_one;
        return made;
    }
    // Channels to stereo: mono is doubled, more than two are averaged into left (even
    // channels) and right (odd channels).
    auto frame_at = [&](uint64_t index, int32_t& left, int32_t& right) {
        const int16_t* f = samples + index * channels;
        if (channels == 1) {
            left = right = f[0];
        } else if (channels == 2) {
            left = f[0];
            right = f[1];
        } else {
            int32_t sums[2] = {0, 0};
            for (uint32_t c = 0; c < channels; ++c) sums[c & 1] += f[c];
            left = sums[0] / static_cast<int32_t>((channels + 1) / 2);
            right = sums[1] / static_cast<int32_t>(channels / 2);
        }
    };
    while (made < count) {
        const uint64_t index = cursor_ >> fixed_shift;
        if (index >= limit) break;
        int32_t left, right;
        frame_at(index, left, right);
        const uint64_t fraction = cursor_ & (fixed_one - 1);
        if (fraction != 0 && index + 1 < frames_) {
            int32_t next_left, next_right;
            frame_at(index + 1, next_left, next_right);
            const double t = static_cast<double>(fraction) / static_cast<double>(fixed_one);
            left += static_cast<int32_t>(std::lround((next_left - left) * t));
            right += static_cast<int32_t>(std::lround((next_right - right) * t));
        }
        out[made * 2] = static_cast<int16_t>(left);
        out[made * 2 + 1] = static_cast<int16_t>(right);
        ++made;
        cursor_ += step_;
    }
    return made;
}

// ---- playback buffer ----

void cAudioStream::set_buffer_frames(size_t frames) {
    // Already converted frames are dropped and converted again from where they began.
    rewind_to_handed();
    ring_capacity_ = std::max<size_t>(frames, 1);
    ring_.assign(ring_capacity_ * audio_config::output_channels, 0);
    ring_head_ = 0;
    ring_count_ = 0;
}

void cAudioStream::refill(size_t frames) {
    const size_t target = std::min(frames, ring_capacity_);
    while (ring_count_ < target) {
        const size_t tail = (ring_head_ + ring_count_) % ring_capacity_;
        const size_t room = std::min(target - ring_count_, ring_capacity_ - tail);
        const size_t made = convert(ring_.data() + tail * 2, room);
        ring_count_ += made;
        if (made < room) break;  // the end of the stream
    }
}

size_t cAudioStream::mix_into(int32_t* mix, size_t count, uint64_t device_frame) {
    if (running_start_ && !segment_on_output_) start_late(device_frame);
    size_t done = 0;
    while (done < count && ring_count_ > 0) {
        const size_t n = std::min(count - done, ring_capacity_ - ring_head_);
        const size_t take = std::min(n, ring_count_);
        const int16_t* source = ring_.data() + ring_head_ * 2;
        for (size_t i = 0; i < take * 2; ++i) mix[done * 2 + i] += source[i];
        ring_head_ = (ring_head_ + take) % ring_capacity_;
        ring_count_ -= take;
        done += take;
    }
    // The refills fell behind: convert the rest here rather than let the output go silent.
    while (done < count) {
        const size_t want = std::min(count - done, scratch_frames);
        const size_t made = convert(scratch_.data(), want);
        for (size_t i = 0; i < made * 2; ++i) mix[done * 2 + i] += scratch_[i];
        done += made;
        if (made < want) break;
    }
    if (done > 0) {
        if (!segment_on_output_) {
            segment_on_output_ = true;
            segment_device_start_ = device_frame;
        }
        segment_handed_ += done;
    }
    return done;
}
