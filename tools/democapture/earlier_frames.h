// A range captured into a PNG folder that holds an earlier range: the earlier frames the new
// range does not replace must not stay beside its frames as if they belonged to it. Removes
// only frames that a finished capture recorded (its democapture.txt); never a file that no
// record vouches for, which may be the user's or a stopped capture's: those are refused.
#pragma once
#include <cstdint>
#include <string>

#include "tools/democapture/capture_paths.h"

// Makes dir ready for a range of frames files: usable when nothing is in the way, or when
// everything in the way was recorded and has been removed (then note says what went); refused
// (error says why; nothing removed) when frames without a record are in the way; unwritable
// when a recorded frame cannot be removed.
ePlace clear_earlier_frames(const std::string& dir, int64_t frames, std::string& note, std::string& error);
