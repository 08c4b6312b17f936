// The table of the capture's outputs. Depends on nothing but the standard library; every
// property of an output is read here, never decided again where it is used.
#include "tools/democapture/output_kind.h"

namespace {

constexpr cOutputKind kinds[] = {
    // output          option      record  ext.    --stats                  a join takes                folder threads sound  even   crf    segm.
    {eOutput::none,   "",         "",     "",     "nothing (render only)", "",                         false, false,  false, false, false, false},
    {eOutput::png,    "--out",    "png",  "",     "PNG",                   "PNG folders",              true,  true,   false, false, false, false},
    {eOutput::h264,   "--video",  "h264", ".mp4", "H.264",                 "H.264 videos (--video)",   false, false,  true,  true,  true,  true},
    {eOutput::master, "--master", "ffv1", ".mkv", "FFV1",                  "masters (--master)",       false, false,  true,  false, false, false},
};

}  // namespace

const cOutputKind& output_kind(eOutput output) {
    for (const cOutputKind& kind : kinds) {
        if (kind.output == output) return kind;
    }
    return kinds[0];
}

eOutput output_in_record(const std::string& record_name) {
    for (eOutput output : written_outputs) {
        if (record_name == output_kind(output).record_name) return output;
    }
    return eOutput::none;
}

eOutput output_of_option(const std::string& option) {
    for (eOutput output : written_outputs) {
        if (option == output_kind(output).option) return output;
    }
    return eOutput::none;
}
