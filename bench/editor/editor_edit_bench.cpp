// The editor's edit latency on this machine: from an edit sent to the editor's server to its
// answer, which comes once the source is safely on disk (written, flushed, renamed, compiled
// into the track files), and to the moment the show takes the new tracks. Uses the real server
// over a copy of the show's source and over a large one (20 tracks of 1,000 keys), driving the
// development mode's real control surface, answered by a loop that turns every millisecond (the
// show's turns once a frame: add up to a frame for it). Prints median and worst of many edits,
// and the time the disk alone takes for the safe replacement of the source.
//   editor_edit_bench [EDITS]      (default 200)
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "authoring/editor/editor_server.h"
#include "authoring/editor/source_file.h"
#include "support/dev_control_loop.h"
#include "support/temp_dir.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_between(clock_type::time_point a, clock_type::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string large_source() {
    std::string text = "# 20 tracks of 1,000 keys\n";
    for (int t = 0; t < 20; ++t) {
        text += "\ntrack t" + std::to_string(t) + "\n";
        for (int k = 0; k < 1000; ++k) {
            char line[80];
            std::snprintf(line, sizeof line, "  r%-8d %-10.4f %s\n", k * 2, (k * 37 % 100) / 100.0, k % 2 ? "linear" : "smooth");
            text += line;
        }
    }
    return text;
}

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("  %-44s median %6.2f ms   worst %6.2f ms\n", what, ms[ms.size() / 2], ms.back());
}

// Moves one key back and forth edits times; prints the two latencies.
void run(const std::string& label, const std::string& source, const std::string& track, int row, int edits) {
    cTempDir show;
    show.write("data/sync/show.tracks", source);
    cDevLoopOptions loop;
    loop.frame = std::chrono::milliseconds(1);
    cDevControlLoop dev(loop);
    cEditorOptions options;
    options.any_free_port = true;
    options.announce = false;
    options.show_end_ms = dev.show_end_ms();
    options.music_path = "data/muzak/recut.mp3";
    std::unique_ptr<cEditorServer> editor = start_editor(options, dev.control(), show.path());
    if (!editor) {
        std::printf("%s: the editor did not start\n", label.c_str());
        return;
    }
    httplib::Client client("127.0.0.1", editor->port());
    client.set_default_headers({{"X-Editor-Token", editor->token()}});
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);  // as browsers send: a request is not held back for an acknowledgement
    std::vector<double> on_disk, to_show;
    uint64_t version = 1;
    for (int i = 0; i < edits + 5; ++i) {
        int from = i % 2 ? row + 1 : row;
        nlohmann::json body = {{"version", version}, {"op", "move"},
                               {"keys", {{{"track", track}, {"row", from}, {"to_row", i % 2 ? row : row + 1}}}}};
        std::size_t asked = dev.request_count();
        auto sent = clock_type::now();
        auto res = client.Post("/api/edit", body.dump(), "application/json");
        auto answered = clock_type::now();
        if (!res || res->status != 200) {
            std::printf("%s: edit %d failed: %s\n", label.c_str(), i, res ? res->body.c_str() : "no answer");
            return;
        }
        version = nlohmann::json::parse(res->body)["version"].get<uint64_t>();
        if (!dev.wait_for_requests(asked + 1) || dev.request_count() != asked + 1) {
            std::printf("%s: the show was not handed the tracks\n", label.c_str());
            return;
        }
        if (i < 5) continue;  // warm-up: page cache, allocator
        on_disk.push_back(ms_between(sent, answered));
        to_show.push_back(ms_between(sent, dev.last_request_time()));
    }
    // The part of it that is the disk's: the same replacement alone (write, flush, rename,
    // flush of the folder), as often.
    std::vector<double> durable;
    std::string path = show / "data/sync/show.tracks", text = slurp(path), error;
    for (int i = 0; i < edits; ++i) {
        auto start = clock_type::now();
        replace_source_file(path, text, text, error);
        durable.push_back(ms_between(start, clock_type::now()));
    }
    std::printf("%s (%zu bytes, %d edits)\n", label.c_str(), source.size(), edits);
    report("edit sent -> source on disk, tracks compiled", on_disk);
    report("edit sent -> tracks taken by the show", to_show);
    report("of which the disk: replacing the source alone", durable);
}

}  // namespace

int main(int argc, char** argv) {
    int edits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::printf("editor edit latency (target: under 50 ms)\n");
    run("the show's source", slurp(std::string(DEMO_SOURCE_DIR) + "/data/sync/show.tracks"), "kick", 256, edits);
    run("20 tracks of 1,000 keys", large_source(), "t7", 1000, edits);
    return 0;
}
