// The outputs of a capture (PNG files, an H.264 video, a lossless master) and, in one table,
// what follows from each: its option, the name its record carries, a chunk's file, whether it
// has the music, which sizes and settings it takes. Pure data: no files, no GL, no output.
#pragma once
#include <string>

// none: a measuring run that writes nothing (--measure render).
enum class eOutput { none, png, h264, master };

struct cOutputKind {
    eOutput output;
    const char* option;       // the option that chooses it: "--out"
    const char* record_name;  // its name in the range record ("output="): "png", "h264", "ffv1"
    const char* extension;    // a chunk's name ends so: "" (a folder), ".mp4", ".mkv"
    const char* stats_name;   // in --stats: "PNG", "H.264", "FFV1"
    const char* join_takes;   // what a join into it takes, for the message that refuses another
    bool folder;              // files in a folder, each whole on its own (else one video file)
    bool own_threads;         // compressed on the capture's own threads (--threads), else by the encoder
    bool sound;               // carries the music of its range
    bool even_size;           // yuv420p: an even width and height only
    bool quality;             // takes --crf
    bool segments;            // encoded in segments: its chunks meet only at their key frames
};

// The writing outputs, in the order the command line's help names them.
constexpr eOutput written_outputs[] = {eOutput::png, eOutput::h264, eOutput::master};
constexpr int written_output_count = 3;

const cOutputKind& output_kind(eOutput output);
// The output a range record names; none for a name of no output.
eOutput output_in_record(const std::string& record_name);
// The output an option chooses ("--out"); none for any other name.
eOutput output_of_option(const std::string& option);
