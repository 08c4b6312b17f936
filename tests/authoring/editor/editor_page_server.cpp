// The editor's real server over a show folder, driving the development mode's real control
// surface answered by the test's own frame loop, for the browser test and the browser
// benchmark (the real player is not run there). Prints the editor's address line, then one
// "# show: ..." line for every request the show takes from the editor; runs until SIGTERM or
// SIGINT.
//
//   editor_page_server SHOW_DIR [--play]   serve the show in SHOW_DIR (--play: the clock runs)
//   editor_page_server curves              print the player's values for the curve test as JSON
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "authoring/editor/editor_server.h"
#include "host/sync/sync_device.h"
#include "host/sync/sync_track.h"
#include "host/sync/track_file.h"
#include "support/dev_control_loop.h"
#include "support/temp_dir.h"

namespace {

// JSON has no infinities or NaN: they travel as the browser's own names for them.
nlohmann::json number(double value) {
    if (std::isfinite(value)) return value;
    return std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity";
}

struct cCurveCase {
    std::vector<cSyncKey> keys;
    std::vector<double> rows;
    std::vector<int64_t> times_ms;
};

// Keys and rows that reach every branch of the evaluation: each interpolation with the table's
// own keys (0 -> 1, 10 -> 3), rows before, on, between and after keys, fractional rows, values
// whose float difference rounds, rows at the ends of the 32-bit range, an unknown interpolation.
std::vector<cCurveCase> curve_cases() {
    std::vector<cCurveCase> cases;
    const std::vector<double> table_rows = {-3, -0.5, 0, 0.25, 2.5, 5, 9.5, 9.99, 10, 10.5, 1000};
    const std::vector<int64_t> table_times = {-1000, 0, 1, 41, 42, 100, 208, 416, 417, 1000};
    for (int32_t kind = 0; kind <= 4; ++kind) {
        int32_t code = kind == 4 ? 7 : kind;
        cases.push_back({{{0, 1.0f, code}, {10, 3.0f, kSyncStep}}, table_rows, table_times});
    }
    for (int32_t kind = 0; kind <= 3; ++kind) {
        cases.push_back({{{-5, 0.1f, kind}, {7, 0.7f, kind}, {1000003, -123456.78f, kind}, {1000004, 1e-30f, kind}},
                         {-5, -4.999, 0, 1, 6.999999, 7, 8, 333333.3, 1000002.9999999, 1000003.5, 1e7},
                         {-209, 0, 12345, 41666791, 41666800}});
        cases.push_back({{{2147483000, 3.4e38f, kind}, {2147483647, -3.4e38f, kind}},
                         {2147483000, 2147483323.5, 2147483646.999, 2147483647, 2147483648.0, 1e300, -1e300},
                         {}});
        cases.push_back({{{-2147483648, -1.5f, kind}, {-2147483000, 2.25f, kind}}, {-2147483648.0, -2147483647.5, -3e9}, {}});
    }
    // Many rows between keys of awkward values, where the order of the operations shows in the
    // last bit of the result.
    for (int32_t kind = 0; kind <= 3; ++kind) {
        cCurveCase c{{{-5, 0.1f, kind}, {7, 0.7f, kind}, {100, -3.3f, kind}, {1001, 12345.678f, kind}, {1002, 1e-7f, kind}}, {}, {}};
        for (int i = 0; i < 1000; ++i) c.rows.push_back(-6.0 + i * 1.0137);
        for (int64_t ms = -300; ms < 42000; ms += 37) c.times_ms.push_back(ms);
        cases.push_back(c);
    }
    // Two keys on one row (the later one holds from it), keys out of order (the key holds).
    for (int32_t kind = 0; kind <= 3; ++kind) {
        cases.push_back({{{0, 1.0f, kind}, {5, 2.0f, kind}, {5, 7.0f, kind}, {10, 3.0f, kind}, {4, 9.0f, kind}, {12, 0.5f, kind}},
                         {-1, 0, 2.5, 4.999, 5, 5.5, 9, 10, 11, 12, 13},
                         {0, 200, 210, 400, 500}});
    }
    cases.push_back({{{100, 42.0f, kSyncSmooth}}, {-1, 100, 1e6}, {0, 5000}});
    cases.push_back({{}, {0, 12.5}, {0, 1000}});
    return cases;
}

// Every case evaluated by the player's own code: value_at on the track records, and the sync
// device on track files for whole milliseconds.
int print_curves() {
    cTempDir dir;
    std::vector<cCurveCase> cases = curve_cases();
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const cCurveCase& c = cases[i];
        std::string name = "case" + std::to_string(i);
        std::ofstream(dir / track_file_name(name), std::ios::binary) << encode_track(c.keys);
        cSyncTrack track;
        track.key_count = static_cast<int32_t>(c.keys.size());
        track.keys = std::make_unique<cSyncKey[]>(c.keys.size() + 1);
        std::copy(c.keys.begin(), c.keys.end(), track.keys.get());
        nlohmann::json keys = nlohmann::json::array(), values = nlohmann::json::array();
        for (const cSyncKey& k : c.keys) keys.push_back({k.row, static_cast<double>(k.value), k.interpolation});
        for (double row : c.rows) values.push_back(number(value_at(track, row)));
        out.push_back({{"name", name}, {"keys", keys}, {"rows", c.rows}, {"values", values}, {"times_ms", c.times_ms}});
    }
    cSyncDevice device;
    std::streambuf* saved = std::cerr.rdbuf(nullptr);  // the device greets on standard error
    device.open_store(dir.path() + "/");
    std::cerr.rdbuf(saved);
    for (nlohmann::json& c : out) {
        nlohmann::json read = nlohmann::json::array();
        for (int64_t ms : c["times_ms"].get<std::vector<int64_t>>()) {
            read.push_back(number(device.get_value(c["name"].get<std::string>().c_str(), ms)));
        }
        c["read"] = read;
    }
    std::cout << out.dump() << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "curves") return print_curves();
    if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--play")) {
        std::cerr << "usage: editor_page_server SHOW_DIR [--play] | curves" << std::endl;
        return 2;
    }
    // Blocked before any thread starts, so every thread inherits the mask and the signal waits
    // for sigwait below.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    cDevLoopOptions loop;
    loop.playing = argc == 3;
    loop.echo = true;
    cDevControlLoop dev(loop);
    cEditorOptions options;
    options.any_free_port = true;
    options.show_end_ms = dev.show_end_ms();
    options.music_path = "data/muzak/recut.mp3";
    std::unique_ptr<cEditorServer> editor = start_editor(options, dev.control(), argv[1]);
    if (!editor) return 1;
    int signal_number = 0;
    sigwait(&ending, &signal_number);
    return 0;
}
