// The join of range captures. Uses std::filesystem and the atomic writer (a second name of each
// frame, or a copy) for PNG folders and the encoder's mux (video_output.h) for videos; reads a
// video's record with ffprobe.
#include "tools/democapture/capture_join.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "base/files/atomic_file.h"
#include "base/files/file_read.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_identity.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/chunk_check.h"
#include "tools/democapture/partial_files.h"
#include "tools/democapture/video_output.h"

namespace fs = std::filesystem;
using namespace capture_config;

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

struct cChunk {
    std::string name;  // as given
    std::string path;  // absolute
    cRangeManifest manifest;
};

struct cJoinError {
    int status = 0;
    std::string message;
};

void report_error(const std::string& message) { std::cerr << "## ERROR: democapture: join: " << message << std::endl; }

std::string range_text(const cRangeManifest& m) {
    return "music " + std::to_string(m.from_ms) + " to " + std::to_string(m.to_ms) + " ms";
}

// Links src as dst (replacing dst), or copies it where a link cannot be made.
bool link_or_copy(const std::string& src, const std::string& dst, std::string& error) {
    cAtomicFile link(dst, capture_write_options());
    if (link.link_from(src)) {
        if (link.commit()) return true;
        error = "cannot write " + quoted(dst) + ": " + std::strerror(link.error());
        return false;
    }
    std::string data;
    if (!read_whole_file(src, data, cReadOptions{}).ok()) {
        error = "cannot read " + quoted(src);
        return false;
    }
    return write_file_in_place(dst, reinterpret_cast<const uint8_t*>(data.data()), data.size(), error);
}

int join_png(const std::vector<cChunk>& chunks, const std::string& out_dir, const cRangeManifest& whole) {
    std::string error;
    const ePlace place = prepare_out_directory(out_dir, error);
    if (place != ePlace::usable) {
        report_error(error);
        return place == ePlace::unwritable ? 1 : 2;
    }
    // As in a capture: an earlier record in the folder must not vouch for frames being replaced.
    ::unlink((out_dir + "/" + manifest_file).c_str());
    int64_t next = 0;
    for (const cChunk& c : chunks) {
        for (int64_t n = 0; n < c.manifest.frames; ++n, ++next) {
            if (!link_or_copy(c.path + "/" + range_frame_name(n), out_dir + "/" + range_frame_name(next), error)) {
                report_error(error + "; the frames before it stay");
                return 1;
            }
        }
    }
    const std::string record = manifest_text(whole, '\n');
    if (!write_file_in_place(out_dir + "/" + manifest_file, reinterpret_cast<const uint8_t*>(record.data()),
                             record.size(), error)) {
        report_error(error);
        return 1;
    }
    std::cout << "# democapture: joined " << chunks.size() << " chunks into " << quoted(out_dir) << ": "
              << whole.frames << " frames at " << whole.fps << " fps, " << range_text(whole) << std::endl;
    return 0;
}

int join_video(const std::vector<cChunk>& chunks, const std::string& target, const std::string& show_dir,
               const cRangeManifest& whole) {
    std::string error, partial;
    const ePlace place = prepare_video_target(target, partial, error);
    if (place != ePlace::usable) {
        report_error(error);
        return place == ePlace::unwritable ? 1 : 2;
    }
    const int slot = partial_files::hold(partial);
    const fs::path p(partial);
    const std::string work = (p.parent_path() / (p.stem().string() + ".segments")).string();
    std::error_code ec;
    fs::create_directory(work, ec);
    const int work_slot = partial_files::hold_folder(work);

    cVideoSettings settings;
    settings.fps = whole.fps;
    settings.first_frame = whole.first_frame;
    settings.frames = whole.frames;
    settings.music = (fs::path(show_dir) / show_music_path).string();
    settings.tag = manifest_text(whole, ';');
    std::vector<cConcatEntry> pieces;
    for (const cChunk& c : chunks) pieces.push_back({c.path, c.manifest.frames});
    const bool mkv = whole.output == "ffv1";
    if (!mux_pieces(settings, pieces, mkv, work + "/chunks.txt", partial, error) ||
        std::rename(partial.c_str(), target.c_str()) != 0) {
        if (error.empty()) error = "cannot put the video in place as " + quoted(target) + ": " + std::strerror(errno);
        partial_files::abandon_all();
        report_error(error + "; nothing was written");
        return 1;
    }
    partial_files::release(slot);
    partial_files::remove_folder(work.c_str());
    partial_files::release(work_slot);
    std::cout << "# democapture: joined " << chunks.size() << " chunks into " << quoted(target) << ": "
              << whole.frames << " frames at " << whole.fps << " fps, " << range_text(whole) << std::endl;
    return 0;
}

}  // namespace

bool read_chunk_manifest(const std::string& path, cRangeManifest& manifest, std::string& error) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "does not exist (its capture failed or never ran)";
        return false;
    }
    std::string text;
    if (fs::is_directory(path, ec)) {
        if (!read_whole_file((fs::path(path) / manifest_file).string(), text, cReadOptions{}).ok()) {
            error = std::string("is not a finished capture: it has no ") + manifest_file +
                    ", which a capture writes after its last frame";
            return false;
        }
    } else {
        if (find_on_path(probe_program).empty()) {
            error = std::string("cannot be read: \"") + probe_program + "\" was not found on the PATH";
            return false;
        }
        std::string probe_error;
        std::vector<std::string> probe = {probe_program, "-v", "quiet", "-show_entries", "format_tags=comment", "-of",
                                          "default=noprint_wrappers=1:nokey=1", path};
        if (!run_to_end(probe, text, probe_error)) {
            // Asked again for what it found, on one line of this program's own.
            probe[2] = "error";
            std::string said, ignored;
            run_to_end(probe, said, ignored, true);
            const std::string complaint = first_complaint(said);
            error = "is not a readable video (" + (complaint.empty() ? probe_error : complaint) + ")";
            return false;
        }
    }
    std::string why;
    if (!parse_manifest(text, manifest, why)) {
        error = "is not a democapture range capture: " + why;
        return false;
    }
    return true;
}

int run_join(const cJoinPlan& plan) {
    const cOutputKind& kind = output_kind(plan.output);
    const std::string& target = plan.target;
    if (!kind.folder) {
        for (const char* program : {encoder_program, probe_program}) {
            if (find_on_path(program).empty()) {
                report_error(quoted(program) + " was not found on the PATH; it is needed to join videos");
                return 1;
            }
        }
    }
    std::vector<cChunk> chunks;
    for (const std::string& name : plan.chunks) {
        cChunk c{name, absolute_from_here(name), {}};
        std::string error;
        if (!read_chunk_manifest(c.path, c.manifest, error)) {
            report_error("chunk " + quoted(name) + " " + error);
            return 2;
        }
        if (c.manifest.output != kind.record_name) {
            report_error("chunk " + quoted(name) + " is a capture to " + c.manifest.output + ", but " + kind.option +
                         " joins " + kind.join_takes);
            return 2;
        }
        if (c.path == target) {
            report_error("the output " + quoted(target) + " is one of the chunks; join into a new place");
            return 2;
        }
        chunks.push_back(c);
    }
    std::stable_sort(chunks.begin(), chunks.end(),
                     [](const cChunk& a, const cChunk& b) { return a.manifest.first_frame < b.manifest.first_frame; });
    const int64_t segment = video_segment_frames(chunks.front().manifest.fps);
    for (size_t i = 1; i < chunks.size(); ++i) {
        const cChunk& a = chunks[i - 1];
        const cChunk& b = chunks[i];
        const std::string differs = manifest_mismatch(a.manifest, b.manifest);
        if (!differs.empty()) {
            report_error("chunks " + quoted(a.name) + " and " + quoted(b.name) + " were captured differently (" +
                         differs + ")");
            return 2;
        }
        if (b.manifest.first_frame != a.manifest.end_frame()) {
            report_error("chunks " + quoted(a.name) + " (" + range_text(a.manifest) + ") and " + quoted(b.name) + " (" +
                         range_text(b.manifest) + ") " +
                         (b.manifest.first_frame > a.manifest.end_frame() ? "leave a gap of " : "overlap by ") +
                         std::to_string(std::llabs(b.manifest.first_frame - a.manifest.end_frame())) + " frames");
            return 2;
        }
        if (kind.segments && b.manifest.first_frame % segment != 0) {
            report_error("chunk " + quoted(b.name) + " starts at " + std::to_string(b.manifest.from_ms) +
                         " ms, between two key frames: H.264 chunks join exactly only where a single run puts a key "
                         "frame, at whole multiples of " + std::to_string(video_segment_seconds) + " s");
            return 2;
        }
    }
    // A joined video takes its music from the show again: it must be the chunks' show.
    if (kind.sound) {
        std::string identity, error;
        if (!show_identity(plan.show_dir, identity, error)) {
            report_error(error);
            return 1;
        }
        if (identity != chunks.front().manifest.show) {
            report_error("the chunks were not captured from the show " + quoted(plan.show_dir) +
                         " (its data or scene modules differ), whose music the joined video would get; name "
                         "their show with --show");
            return 2;
        }
    }
    // Last, as it reads every frame: a chunk cut short still carries its record. The chunks are
    // read on as many threads as there are cores (a decoder runs on one), and the first bad one
    // in order is named.
    std::vector<std::string> faults(chunks.size());
    std::atomic<size_t> next{0};
    auto check = [&] {
        for (size_t i; (i = next.fetch_add(1)) < chunks.size();) {
            const cChunk& c = chunks[i];
            const eChunkCheck depth = plan.fresh.count(c.path) ? eChunkCheck::count : eChunkCheck::decode;
            if (!check_chunk(c.path, c.manifest, faults[i], depth) && faults[i].empty()) faults[i] = "is damaged";
        }
    };
    const size_t threads = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), chunks.size());
    std::vector<std::thread> pool;
    for (size_t i = 1; i < threads; ++i) pool.emplace_back(check);
    check();
    for (std::thread& t : pool) t.join();
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (faults[i].empty()) continue;
        report_error("chunk \"" + chunks[i].name + "\" " + faults[i] + "; nothing was written");
        return 2;
    }
    cRangeManifest whole = chunks.front().manifest;
    whole.frames = chunks.back().manifest.end_frame() - whole.first_frame;
    whole.to_ms = chunks.back().manifest.to_ms;
    if (kind.folder) return join_png(chunks, target, whole);
    return join_video(chunks, target, plan.show_dir, whole);
}
