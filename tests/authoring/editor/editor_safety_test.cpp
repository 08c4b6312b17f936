// The editor against a working day's faults, on the real player (demoplayer --dev under Xvfb):
// a start after a player was killed in the middle of an edit, and random sequences of page
// edits, undo and redo, saves of a text editor (by rename, in place, in two parts with a pause)
// and kills of the player. After every step show.tracks is the last whole outside save or the
// last acknowledged edit, the backup holds a whole earlier source, and after every start each
// track file matches the source.
//
// The sequence is fixed by a seed; the default run is short. A long run:
//     EDITOR_SAFETY_STEPS=2000 EDITOR_SAFETY_SEED=7 SDL_AUDIODRIVER=dummy xvfb-run -a build/tests/authoring/editor/editor_safety_test
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "support/screen_and_wait.h"
#include "support/audio_test_media.h"
#include "authoring/editor/editor_config.h"
#include "host/sync/track_compile.h"
#include "host/sync/track_file.h"
#include "host/sync/track_source.h"
#include "support/running_player.h"
#include "support/show_layout.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const char* kStartSource =
    "# the show's tracks\n"
    "track kick   # drums\n"
    "  0:0      0          step\n"
    "  1:0      1          linear\n"
    "\n"
    "track glow\n"
    "  0:0      0.5        smooth\n"
    "  4:0      0          step\n"
    "\n"
    "track word_t\n"
    "  0:0      0          linear\n";

const char* kInterpolations[] = {"step", "linear", "smooth", "quadratic"};

int environment_number(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

int free_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A show of no module: music, the source and its compiled track files.
void make_show(cShowLayout& show, const std::string& source) {
    show.write("data/muzak/recut.mp3", wav_bytes(22050, 1, sine_samples(22050, 1, 22050 * 20, 220.0, 0.2)));
    show.write("data/sync/show.tracks", source);
    ASSERT_TRUE(write_compiled_tracks(parse_track_source(source), show / "data/sync").ok);
}

// The files of the sync folder that no writer may leave behind.
std::vector<std::string> temporaries(const std::string& sync) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(sync)) {
        std::string name = entry.path().filename().string();
        if (name[0] == '.' || name.ends_with(".partial")) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// "" when every track of the source has its file with exactly its keys; else what differs.
std::string track_files_against(const std::string& sync, const std::string& source) {
    cParsedSource parsed = parse_track_source(source);
    if (!parsed.ok()) return "the source does not parse: " + parsed.problems[0].message;
    std::string differences;
    for (const cSourceTrack& track : parsed.tracks) {
        if (slurp(sync + "/" + track_file_name(track.name)) != encode_track(track.keys)) differences += " " + track.name;
    }
    return differences.empty() ? "" : "track files that differ from the source:" + differences;
}

// ---- the model: tracks as the page sees them ----
struct cKey {
    int row;
    float value;
    int interpolation;
    bool operator==(const cKey&) const = default;
};
struct cTrack {
    std::string name;
    std::vector<cKey> keys;
    bool operator==(const cTrack&) const = default;
};
using cTracks = std::vector<cTrack>;

cTracks tracks_of_state(const json& state) {
    cTracks tracks;
    for (const json& t : state["tracks"]) {
        cTrack track{t["name"], {}};
        for (const json& k : t["keys"]) track.keys.push_back({k[0].get<int>(), k[1].get<float>(), k[2].get<int>()});
        tracks.push_back(track);
    }
    return tracks;
}

bool tracks_of_text(const std::string& text, cTracks& tracks) {
    cParsedSource parsed = parse_track_source(text);
    tracks.clear();
    for (const cSourceTrack& t : parsed.tracks) {
        cTrack track{t.name, {}};
        for (const cSyncKey& k : t.keys) track.keys.push_back({k.row, k.value, k.interpolation});
        tracks.push_back(track);
    }
    return parsed.ok();
}

// A text editor's own way of writing the tracks: its own layout, no comments kept.
std::string text_of(const cTracks& tracks, int save) {
    std::string out = "# saved by a text editor (" + std::to_string(save) + ")\n";
    for (const cTrack& t : tracks) {
        out += "\ntrack " + t.name + "\n";
        for (const cKey& k : t.keys) {
            char line[96];
            std::snprintf(line, sizeof line, "  %d:%d %g %s\n", k.row / 8, k.row % 8, static_cast<double>(k.value),
                          kInterpolations[k.interpolation]);
            out += line;
        }
    }
    return out;
}

// ---- the player ----
class cPlayer {
public:
    explicit cPlayer(const cShowLayout& show) : show_(show) {}

    void start() {
        port_ = free_port();
        player_ = std::make_unique<cRunningPlayer>(show_, std::vector<std::string>{"--dev", "--editor-port", std::to_string(port_)});
        std::smatch m;
        std::string out;
        const std::regex line("# editor: http://127\\.0\\.0\\.1:\\d+/\\?token=([0-9a-f]{32})");
        ASSERT_TRUE(wait_until([&] {
            out = player_->terminal_out();
            return std::regex_search(out, m, line) || !player_->running();
        }, 60s)) << out;
        ASSERT_TRUE(std::regex_search(out, m, line)) << out << player_->terminal_err();
        token_ = m[1];
        client_ = make_client();
    }
    void kill() {
        player_->signal(SIGKILL);
        int status = 0;
        player_->wait_for_exit(30s, status);
    }
    std::unique_ptr<httplib::Client> make_client() const {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client->set_read_timeout(30);
        client->set_default_headers({{"X-Editor-Token", token_}});
        return client;
    }
    httplib::Result post(const std::string& verb, const json& body) {
        return client_->Post(("/api/" + verb).c_str(), body.dump(), "application/json");
    }
    json state() {
        auto res = client_->Get("/api/state");
        return res && res->status == 200 ? json::parse(res->body) : json();
    }
    std::string terminal() const { return player_->terminal_out() + player_->terminal_err(); }

private:
    const cShowLayout& show_;
    std::unique_ptr<cRunningPlayer> player_;
    std::unique_ptr<httplib::Client> client_;
    int port_ = 0;
    std::string token_;
};

}  // namespace

TEST(EditorSafety, a_start_compiles_stale_track_files_again_and_removes_temporaries) {
    cShowLayout show;
    make_show(show, kStartSource);
    const std::string sync = show / "data/sync";
    // A player killed after the source was written: kick's file still holds an older key, and
    // the writers' temporaries are left. Files of the user's with names alike stay.
    show.write("data/sync/_kick.track", encode_track({{0, 0.0f, 0}, {8, 0.25f, 1}}));
    for (const char* name : {"._kick.track.Ab12Cd", ".show.tracks.Xy34Zw", ".show.tracks.bak.Qq11Rr", "show.tracks.bak.partial"}) {
        show.write(std::string("data/sync/") + name, "left");
    }
    const char* mine[] = {"notes.txt", "._kick.track", ".show.tracks.swp", ".show.tracks.backup", "_old.track"};
    for (const char* name : mine) show.write(std::string("data/sync/") + name, "mine");
    cPlayer player(show);
    player.start();
    EXPECT_EQ(track_files_against(sync, kStartSource), "");
    EXPECT_EQ(temporaries(sync), (std::vector<std::string>{"._kick.track", ".show.tracks.backup", ".show.tracks.swp"}));
    for (const char* name : mine) EXPECT_EQ(slurp(sync + "/" + name), "mine") << name;
    EXPECT_NE(player.terminal().find("# note: 1 track file differed from \"data/sync/show.tracks\" and was compiled again"),
              std::string::npos)
        << player.terminal();
    EXPECT_NE(player.terminal().find("# note: removed 4 temporary files left in \"data/sync/\""), std::string::npos)
        << player.terminal();
}

TEST(EditorSafety, random_edits_saves_and_kills_never_lose_a_whole_source) {
    const int steps = environment_number("EDITOR_SAFETY_STEPS", 100);
    const int seed = environment_number("EDITOR_SAFETY_SEED", 1);
    std::printf("# %d steps, seed %d (EDITOR_SAFETY_STEPS, EDITOR_SAFETY_SEED)\n", steps, seed);
    std::mt19937 random(static_cast<unsigned>(seed));
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

    cShowLayout show;
    make_show(show, kStartSource);
    const std::string sync = show / "data/sync", source_path = sync + "/show.tracks", backup_path = source_path + ".bak";
    cPlayer player(show);
    player.start();

    // What the file may hold: its text now (the last outside save or acknowledged edit); for
    // undo and redo, the versions before and after each step of the player's history, known by
    // their text or, for an edit whose text another save replaced at once, by their tracks.
    struct cVersion {
        std::string text;  // empty: known by its tracks
        cTracks tracks;
    };
    std::string current = kStartSource;
    std::vector<std::pair<cVersion, cVersion>> undo, redo;
    // The texts the backup may hold: before the editor's last write (or before the edit a kill
    // interrupted). None until the editor has written.
    std::set<std::string> backups;
    int saves = 0, names = 0;
    // What the steps met, printed at the end: kills before the edit reached the source, after
    // it, and the starts that found track files behind the source or temporaries to remove.
    std::map<std::string, int> met;
    double edit_ms = 20;

    // A page's edit on the state it sees: the request, and the tracks it must give.
    auto plan_edit = [&](const json& state, json& body, cTracks& expected) {
        expected = tracks_of_state(state);
        body = {{"version", state["version"]}};
        cTrack& t = expected[static_cast<std::size_t>(below(static_cast<int>(expected.size())))];
        auto free_row = [&] {
            for (;;) {
                int row = below(400);
                if (std::none_of(t.keys.begin(), t.keys.end(), [&](const cKey& k) { return k.row == row; })) return row;
            }
        };
        const float value = static_cast<float>(below(33) - 16) / 8.0f;
        int choice = below(10);
        if (choice >= 8 && expected.size() >= 6) choice = 5;
        if (t.keys.empty() && choice < 8) choice = 0;
        if (choice < 3) {
            cKey key{free_row(), value, below(4)};
            body["op"] = "add";
            body["keys"] = {{{"track", t.name}, {"row", key.row}, {"value", key.value}, {"interpolation", kInterpolations[key.interpolation]}}};
            t.keys.push_back(key);
        } else if (choice < 5) {
            std::size_t i = static_cast<std::size_t>(below(static_cast<int>(t.keys.size())));
            body["op"] = "delete";
            body["keys"] = {{{"track", t.name}, {"row", t.keys[i].row}}};
            t.keys.erase(t.keys.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (choice < 8) {
            std::size_t i = static_cast<std::size_t>(below(static_cast<int>(t.keys.size())));
            int to = free_row();
            body["op"] = "move";
            body["keys"] = {{{"track", t.name}, {"row", t.keys[i].row}, {"to_row", to}, {"value", value}}};
            t.keys[i].row = to;
            t.keys[i].value = value;
        } else if (choice == 8) {
            std::string name = "added" + std::to_string(++names);
            body["op"] = "add_track";
            body["name"] = name;
            expected.push_back({name, {}});
        } else {
            std::string name = "renamed" + std::to_string(++names);
            body["op"] = "rename_track";
            body["track"] = t.name;
            body["to"] = name;
            t.name = name;
        }
        std::sort(t.keys.begin(), t.keys.end(), [](const cKey& a, const cKey& b) { return a.row < b.row; });
    };
    auto file_has = [&](const cTracks& expected) {
        cTracks on_disk;
        return tracks_of_text(slurp(source_path), on_disk) && on_disk == expected;
    };
    // A save of another program: a track changed, one added or one removed, in its own layout.
    auto outside_text = [&] {
        cTracks tracks;
        tracks_of_text(current, tracks);
        int choice = below(3);
        if (choice == 0 || tracks.size() < 2) {
            tracks.push_back({"outside" + std::to_string(++names), {{below(50), 1.5f, below(4)}, {60 + below(50), -0.5f, 0}}});
        } else if (choice == 1) {
            tracks.erase(tracks.begin() + below(static_cast<int>(tracks.size())));
        } else {
            cTrack& t = tracks[static_cast<std::size_t>(below(static_cast<int>(tracks.size())))];
            t.keys = {{below(30), static_cast<float>(below(9)) / 4.0f, below(4)}};
        }
        return text_of(tracks, ++saves);
    };
    auto known = [&](const std::string& text) {
        cVersion v{text, {}};
        tracks_of_text(text, v.tracks);
        return v;
    };
    // Waits until the player has taken the save as a version of its own.
    auto taken = [&](uint64_t at_least, const std::string& text) {
        const cVersion saved = known(text);
        return wait_until([&] {
            json s = player.state();
            return s.is_object() && s["version"].get<uint64_t>() >= at_least && tracks_of_state(s) == saved.tracks;
        }, 60s) && slurp(source_path) == text;
    };
    auto remember = [&](const cVersion& before, const cVersion& after) {
        undo.push_back({before, after});
        if (undo.size() > editor_config::history_depth) undo.erase(undo.begin());
        redo.clear();
    };

    for (int step = 0; step < steps; ++step) {
        const int kind = below(100);
        std::string what;
        json state = player.state();
        ASSERT_TRUE(state.is_object()) << "step " << step << ": the player does not answer\n" << player.terminal();
        const uint64_t version = state["version"];
        if (kind < 40) {
            json body;
            cTracks expected;
            plan_edit(state, body, expected);
            what = "edit " + body.dump();
            auto sent = std::chrono::steady_clock::now();
            auto res = player.post("edit", body);
            edit_ms = 0.8 * edit_ms + 0.2 * std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
            ASSERT_TRUE(res && res->status == 200) << "step " << step << ": " << what << " -> " << (res ? res->body : "no answer");
            ASSERT_TRUE(file_has(expected)) << "step " << step << ": " << what << " gave\n" << slurp(source_path);
            backups = {current};
            remember(known(current), known(slurp(source_path)));
            current = slurp(source_path);
            ASSERT_EQ(track_files_against(sync, current), "") << "step " << step << ": " << what;
        } else if (kind < 60) {
            const bool back = kind < 52;
            what = back ? "undo" : "redo";
            auto& from = back ? undo : redo;
            auto res = player.post(what, {{"version", version}});
            ASSERT_TRUE(res) << "step " << step << ": " << what;
            if (from.empty()) {
                ASSERT_EQ(res->status, 422) << "step " << step << ": " << what << " -> " << res->body;
            } else {
                ASSERT_EQ(res->status, 200) << "step " << step << ": " << what << " -> " << res->body;
                auto done = from.back();
                from.pop_back();
                (back ? redo : undo).push_back(done);
                backups = {current};
                const cVersion& target = back ? done.first : done.second;
                if (target.text.empty()) {
                    ASSERT_TRUE(file_has(target.tracks)) << "step " << step << ": " << what << " gave\n" << slurp(source_path);
                } else {
                    ASSERT_EQ(slurp(source_path), target.text) << "step " << step << ": " << what;
                }
                current = slurp(source_path);
                ASSERT_EQ(track_files_against(sync, current), "") << "step " << step << ": " << what;
            }
        } else if (kind < 90) {
            const std::string text = outside_text();
            const int how = (kind - 60) / 10;  // by rename, in place, in two parts with a pause
            what = std::string("outside save ") + (how == 0 ? "by rename" : how == 1 ? "in place" : "in two parts");
            cVersion before = known(current);
            uint64_t at_least = version + 1;
            if (how == 0) {
                // Half of them land while a page's edit is being written: the save stays, always;
                // the edit is refused, or made and then followed by the save.
                json body;
                cTracks expected;
                plan_edit(state, body, expected);
                auto client = player.make_client();
                const bool during_edit = below(2) == 0;
                std::future<int> answer;
                if (during_edit) {
                    what += " during an edit";
                    answer = std::async(std::launch::async, [&] {
                        auto res = client->Post("/api/edit", body.dump(), "application/json");
                        return res ? res->status : 0;
                    });
                    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(below(1000) * edit_ms * 1.5)));
                }
                show.write("data/sync/show.tracks~", text);
                fs::rename(source_path + "~", source_path);
                const int status = during_edit ? answer.get() : 0;
                if (during_edit) ++met["edits during a save by rename answered " + std::to_string(status)];
                ASSERT_TRUE(!during_edit || status == 200 || status == 409 || status == 503)
                    << "step " << step << ": " << what << " answered " << status;
                if (status == 200) {
                    backups = {current};
                    remember(before, {"", expected});
                    before = {"", expected};
                    at_least = version + 2;
                } else if (during_edit) {
                    // Refused after its backup was written, or before.
                    if (backups.empty()) backups.insert("");
                    backups.insert(current);
                }
            } else {
                int fd = ::open(source_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                ASSERT_GE(fd, 0);
                const std::size_t cut = static_cast<std::size_t>(below(static_cast<int>(text.size())));
                ASSERT_EQ(::write(fd, text.data(), cut), static_cast<ssize_t>(cut));
                if (how == 2) {
                    // A page's edit while the file is half written must not be taken.
                    std::this_thread::sleep_for(std::chrono::milliseconds(20 + below(300)));
                    json body;
                    cTracks expected;
                    plan_edit(state, body, expected);
                    auto res = player.post("edit", body);
                    ASSERT_TRUE(res && res->status == 503) << "step " << step << ": an edit during " << what << " -> "
                                                           << (res ? res->body : "no answer");
                    std::this_thread::sleep_for(std::chrono::milliseconds(below(200)));
                }
                ASSERT_EQ(::write(fd, text.data() + cut, text.size() - cut), static_cast<ssize_t>(text.size() - cut));
                ::close(fd);
            }
            ASSERT_TRUE(taken(at_least, text)) << "step " << step << ": " << what << " was not taken whole; the file holds\n"
                                               << slurp(source_path);
            remember(before, known(text));
            current = text;
        } else {
            // A kill while an edit is being written; then the player starts again.
            json body;
            cTracks expected;
            plan_edit(state, body, expected);
            what = "kill during edit " + body.dump();
            auto client = player.make_client();
            auto answer = std::async(std::launch::async, [&] {
                auto res = client->Post("/api/edit", body.dump(), "application/json");
                return res ? res->status : 0;
            });
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(below(1000) * edit_ms * 1.5)));
            player.kill();
            const int status = answer.get();
            player.start();
            const std::string now = slurp(source_path);
            ++met[now == current ? "kills before the source was written" : "kills after the source was written"];
            if (player.terminal().find("compiled again") != std::string::npos) ++met["starts that compiled track files again"];
            if (player.terminal().find("temporary file") != std::string::npos) ++met["starts that removed temporaries"];
            // Either the text before the edit or the edit's whole result; the latter if acknowledged.
            ASSERT_TRUE(now == current || file_has(expected))
                << "step " << step << ": " << what << " (answered " << status << ") left\n" << now;
            ASSERT_TRUE(status != 200 || file_has(expected)) << "step " << step << ": " << what << " was acknowledged but lost";
            if (now != current) {
                backups = {current};
                current = now;
            } else {
                // The edit may have written its backup before the kill, or not begun.
                if (backups.empty()) backups.insert("");
                backups.insert(current);
            }
            undo.clear();
            redo.clear();
            ASSERT_EQ(track_files_against(sync, current), "") << "step " << step << ": after the start that followed " << what;
            ASSERT_EQ(temporaries(sync), std::vector<std::string>{}) << "step " << step << ": after " << what;
        }
        ++met[kind < 40 ? "edits" : kind >= 90 ? "kills" : what];
        // Every step: the file is exactly what it must be, and the backup a whole earlier source.
        ASSERT_EQ(slurp(source_path), current) << "step " << step << ": after " << what;
        if (!backups.empty()) {
            ASSERT_TRUE(backups.count(slurp(backup_path))) << "step " << step << ": after " << what << " the backup holds\n"
                                                           << slurp(backup_path);
        }
    }
    for (const auto& [name, count] : met) std::printf("#   %-45s %d\n", name.c_str(), count);
}
