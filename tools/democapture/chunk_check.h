// Whether a finished chunk holds what its record says, checked before a join takes it. The
// record sits at the start of a video (and a PNG folder's record says nothing of its files), so
// a chunk cut short by a copy that stopped or a full disk still carries it: the frames
// themselves are counted and decoded. Reads only; never writes or removes anything.
#pragma once
#include <string>

#include "tools/democapture/capture_manifest.h"

// How far a chunk is read back. decode: every frame decoded, for chunks from elsewhere (a copy,
// another machine, an earlier run). count: the frames and the sound counted from the container
// without decoding them (a few milliseconds instead of seconds a chunk), for chunks that this
// run's own processes have just written and ended well: a file cut short or written over since
// still comes out short or without its end.
enum class eChunkCheck { decode, count };

// PNG folder: every recorded frame file is there, whole (it ends in its IEND chunk) and decodes
// to the recorded size. Video: ffprobe decodes it without a complaint, finds the recorded number
// of frames, and sound that lasts as long as they do. False with error (what is wrong, said of
// the chunk, such as "holds 9 of its 18 frames") otherwise.
bool check_chunk(const std::string& path, const cRangeManifest& manifest, std::string& error,
                 eChunkCheck depth = eChunkCheck::decode);

// The first thing ffprobe says about a file it cannot read (its lines and standard error
// together in output), without the decoder's address: "matroska,webm: File ended prematurely".
std::string first_complaint(const std::string& output);
