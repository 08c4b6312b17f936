// The editor's HTTP and push interface against a real server on the loopback interface, over a
// show folder of its own: state, edits, versions, undo, refusals, security, the event stream.
// The editor drives the development mode's real control surface, answered by a frame loop of the
// test's own (tests/support/dev_control_loop.h) that records what the editor asked of the show.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/audio_test_media.h"
#include "authoring/editor/editor_server.h"
#include "authoring/editor/worker_pool.h"
#include "host/sync/track_compile.h"
#include "host/sync/track_file.h"
#include "support/capture_stream.h"
#include "support/dev_control_loop.h"
#include "support/temp_dir.h"
#include "editor_test_source.h"

namespace {

using nlohmann::json;

const char* kTimeline =
    R"({"sections": [{"name": "intro", "start_beat": 0, "end_beat": 4},
                     {"name": "verse", "start_beat": 4, "end_beat": 300}]})";

// The options every editor here starts with: what the player tells it of the show.
cEditorOptions show_options() {
    cEditorOptions options;
    options.show_end_ms = 88250;
    options.music_path = "data/muzak/recut.mp3";
    return options;
}

// Every file of the show's sync folder with its bytes.
std::map<std::string, std::string> sync_files(const cTempDir& show) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(show / "data/sync")) {
        files[entry.path().filename().string()] = slurp(entry.path().string());
    }
    return files;
}

class EditorServer : public ::testing::Test {
protected:
    cTempDir show;
    cDevControlLoop dev;
    std::unique_ptr<cEditorServer> editor;
    std::unique_ptr<httplib::Client> client;

    void SetUp() override {
        show.write("data/sync/show.tracks", kSource);
        show.write("data/muzak/recut.timeline.json", kTimeline);
        // One second of silence at 44.1 kHz with a burst from 500 to 510 ms: +20000 and -12000.
        std::vector<int16_t> samples(44100, 0);
        for (int i = 22050; i < 22491; ++i) samples[static_cast<std::size_t>(i)] = i % 2 ? 20000 : -12000;
        show.write("data/muzak/recut.mp3", wav_bytes(44100, 1, samples));
        cEditorOptions options = show_options();
        options.any_free_port = true;
        options.announce = false;
        editor = start_editor(options, dev.control(), show.path());
        ASSERT_TRUE(editor);
        client = std::make_unique<httplib::Client>("127.0.0.1", editor->port());
        client->set_read_timeout(10);
        client->set_default_headers({{"X-Editor-Token", editor->token()}});
    }

    httplib::Result post(const std::string& verb, const json& body) {
        return client->Post(("/api/" + verb).c_str(), body.dump(), "application/json");
    }
    // As the page sends a change: again, after the wait the editor names, while the source is
    // being written by another program.
    httplib::Result post_settled(const std::string& verb, const json& body) {
        httplib::Result res = post(verb, body);
        for (int i = 0; i < 100 && res && res->status == 503; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(json::parse(res->body)["retry_ms"].get<int>()));
            res = post(verb, body);
        }
        return res;
    }
    json state() {
        auto res = client->Get("/api/state");
        EXPECT_TRUE(res && res->status == 200);
        return res ? json::parse(res->body) : json();
    }
    uint64_t version() { return state()["version"].get<uint64_t>(); }
    std::string source() { return slurp(show / "data/sync/show.tracks"); }
    // A save as text editors make it: the whole file at once (the editor may read at any time).
    void save_from_outside(const std::string& text) {
        show.write("data/sync/.show.tracks.saving", text);
        std::filesystem::rename(show / "data/sync/.show.tracks.saving", show / "data/sync/show.tracks");
    }
    std::vector<cSyncKey> compiled(const std::string& track) {
        std::vector<cSyncKey> keys;
        std::string error;
        decode_track(slurp(show / ("data/sync/" + track_file_name(track))), keys, error);
        return keys;
    }
    int tracks_requests() {
        int n = 0;
        for (const auto& r : dev.requests()) n += r.text == "tracks";
        return n;
    }
};

// An event stream read on a thread of its own, as a page reads it.
class cStreamReader {
public:
    cStreamReader(int port, const std::string& token) : client_("127.0.0.1", port) {
        client_.set_read_timeout(20);
        thread_ = std::thread([this, token] {
            client_.Get(("/api/events?token=" + token).c_str(), [this](const char* data, std::size_t size) {
                std::lock_guard<std::mutex> lock(mutex_);
                text_.append(data, size);
                arrived_.notify_all();
                return !stop_;
            });
        });
    }
    ~cStreamReader() {
        stop_ = true;
        client_.stop();
        thread_.join();
    }
    // The data of every "event: name" so far, once count of them have arrived (or after wait).
    std::vector<json> events(const std::string& name, std::size_t count,
                             std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::vector<json> found;
        arrived_.wait_for(lock, wait, [&] {
            found = parse(name);
            return found.size() >= count;
        });
        return found;
    }

private:
    httplib::Client client_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string text_;
    std::atomic<bool> stop_{false};

    std::vector<json> parse(const std::string& name) const {
        std::vector<json> found;
        std::string marker = "event: " + name + "\ndata: ";
        for (std::size_t at = text_.find(marker); at != std::string::npos; at = text_.find(marker, at + 1)) {
            std::size_t start = at + marker.size(), end = text_.find("\n\n", start);
            if (end == std::string::npos) break;
            found.push_back(json::parse(text_.substr(start, end - start)));
        }
        return found;
    }
};

// A request written by hand on a socket, for what a library client would not send.
int raw_status(int port, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    ::send(fd, request.data(), request.size(), 0);
    char buffer[64] = {};
    ssize_t n = ::recv(fd, buffer, sizeof buffer - 1, 0);
    ::close(fd);
    int status = -1;
    if (n > 12) std::sscanf(buffer, "HTTP/1.1 %d", &status);
    return status;
}

// A connection on the loopback interface, written to by hand.
int connect_to(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Clients that send the head of a request one byte at a time, for ever, on a thread of their
// own; each remembers whether the server has closed it and what it answered.
class cSlowClients {
public:
    cSlowClients(int port, int count) {
        for (int i = 0; i < count; ++i) fds_.push_back(connect_to(port));
        answers_.resize(fds_.size());
        closed_.assign(fds_.size(), false);
        thread_ = std::thread([this] {
            const std::string head = "GET /api/state HTTP/1.1\r\nX-Slow: ";
            for (std::size_t sent = 0; !stop_; ++sent) {
                for (std::size_t i = 0; i < fds_.size(); ++i) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (closed_[i]) continue;
                    char byte = sent < head.size() ? head[sent] : 'a';
                    ::send(fds_[i], &byte, 1, MSG_NOSIGNAL);
                    char buffer[512];
                    ssize_t n = ::recv(fds_[i], buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n > 0) answers_[i].append(buffer, static_cast<std::size_t>(n));
                    if (n == 0 || (n < 0 && errno != EAGAIN)) closed_[i] = true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~cSlowClients() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_) ::close(fd);
    }
    int closed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(std::count(closed_.begin(), closed_.end(), true));
    }
    std::string answer(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex_);
        return answers_[i];
    }

private:
    std::vector<int> fds_;
    std::vector<std::string> answers_;
    std::vector<bool> closed_;
    std::mutex mutex_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

}  // namespace

TEST_F(EditorServer, state_holds_tracks_grid_sections_player_and_the_waveform) {
    json s = state();
    EXPECT_EQ(s["version"], 1);
    EXPECT_EQ(s["source"]["ok"], true);
    ASSERT_EQ(s["tracks"].size(), 2u);
    EXPECT_EQ(s["tracks"][0]["name"], "kick");
    EXPECT_EQ(s["tracks"][0]["keys"], json::parse("[[0,0,0],[8,1,1],[16,0.5,2],[32,0,0]]"));
    EXPECT_EQ(s["tracks"][1]["keys"], json::parse("[[0,0,1],[64,1,0]]"));
    EXPECT_EQ(s["timeline"]["rows_per_beat"], 8);
    EXPECT_EQ(s["timeline"]["beats_per_bar"], 4);
    EXPECT_EQ(s["timeline"]["show_end_ms"], 88250);
    EXPECT_EQ(s["timeline"]["last_row"], 2400);  // the verse ends at beat 300
    EXPECT_EQ(s["timeline"]["sections"][1], json::parse(R"({"name":"verse","start_row":32,"end_row":2400})"));
    EXPECT_EQ(s["player"]["paused"], true);

    // 200 buckets a second: the burst fills buckets 100 and 101 (500 to 510 ms), nothing else.
    // Asked again, as the page does, while the music is still being decoded.
    auto res = client->Get("/api/peaks");
    for (int i = 0; i < 600 && res && res->status == 503; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        res = client->Get("/api/peaks");
    }
    ASSERT_TRUE(res && res->status == 200);
    json peaks = json::parse(res->body);
    EXPECT_EQ(peaks["buckets_per_second"], 200);
    EXPECT_EQ(peaks["music_ms"], 1000);
    std::string encoded = peaks["peaks"];
    // Bytes 198..205 are buckets 99..102 as (low, high) pairs.
    static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<int8_t> bytes;
    for (std::size_t i = 0; i + 3 < encoded.size() && encoded[i + 3] != '='; i += 4) {
        uint32_t chunk = 0;
        for (int k = 0; k < 4; ++k) chunk = chunk << 6 | static_cast<uint32_t>(kDigits.find(encoded[i + k]));
        for (int k = 2; k >= 0; --k) bytes.push_back(static_cast<int8_t>(chunk >> (8 * k)));
    }
    EXPECT_EQ(encoded.size(), 536u);  // 200 buckets of two bytes
    ASSERT_GE(bytes.size(), 206u);
    EXPECT_EQ(std::vector<int>(bytes.begin() + 198, bytes.begin() + 206), (std::vector<int>{0, 0, -47, 78, -47, 78, 0, 0}));
}

TEST_F(EditorServer, an_edit_is_written_with_a_backup_compiled_and_handed_to_the_show) {
    auto res = post("edit", {{"version", 1}, {"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"to_row", 10}, {"value", 0.75}}}}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(json::parse(res->body)["version"], 2);
    std::string expected = kSource;
    const std::string line = "  1:0      1          linear";
    expected.replace(expected.find(line), line.size(), "  1:2      0.75       linear");
    EXPECT_EQ(source(), expected);
    EXPECT_EQ(slurp(show / "data/sync/show.tracks.bak"), kSource);
    std::vector<cSyncKey> kick = compiled("kick");
    ASSERT_EQ(kick.size(), 4u);
    EXPECT_EQ(kick[1].row, 10);
    EXPECT_EQ(kick[1].value, 0.75f);
    EXPECT_EQ(compiled("word_t").size(), 2u);
    ASSERT_EQ(tracks_requests(), 1);
    EXPECT_EQ(dev.requests().back().tracks, expected);
    EXPECT_EQ(state()["tracks"][0]["keys"][1], json::parse("[10,0.75,1]"));
}

TEST_F(EditorServer, every_kind_of_edit_and_undo_redo_restore_the_file_byte_for_byte) {
    std::vector<std::string> texts = {source()};
    auto edit = [&](json body) {
        body["version"] = version();
        auto res = post("edit", body);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << body.dump() << " -> " << res->body;
        texts.push_back(source());
    };
    edit({{"op", "add"}, {"keys", {{{"track", "kick"}, {"row", 40}, {"value", -2.5}, {"interpolation", "quadratic"}}}}});
    edit({{"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 16}}}}});
    edit({{"op", "interpolation"}, {"interpolation", "smooth"}, {"keys", {{{"track", "kick"}, {"row", 0}}, {{"track", "word_t"}, {"row", 0}}}}});
    // Keys of two tracks moved together, four rows on, values as they were.
    edit({{"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"to_row", 12}}, {{"track", "word_t"}, {"row", 64}, {"to_row", 68}}}}});
    edit({{"op", "add_track"}, {"name", "glow"}});
    edit({{"op", "rename_track"}, {"track", "glow"}, {"to", "glow_2"}});
    EXPECT_EQ(source(),
              "# the test show\n"
              "\n"
              "track kick   # drums\n"
              "  # -- intro, 0:0 --\n"
              "  0:0      0          smooth\n"
              "  1:4      1          linear   # first hit\n"
              "  # -- verse, 4:0 --\n"
              "  4:0      0          step\n"
              "  5:0      -2.5       quadratic\n"
              "\n"
              "track word_t\n"
              "  0:0      0          smooth\n"
              "  8:4      1          step\n"
              "\n"
              "track glow_2\n");
    // The renamed track's old file went with the name; the new one is there.
    auto files = sync_files(show);
    EXPECT_FALSE(files.count("_glow.track"));
    EXPECT_EQ(files["_glow_2.track"], std::string(4, '\0'));

    json history = state()["history"];
    EXPECT_EQ(history["undo"].size(), 6u);
    // What each step did: one key by its place, several by how far they went.
    EXPECT_EQ(history["undo"], json::parse(R"(["add kick 5:0 = -2.5", "delete kick 2:0", "make 2 keys on kick and word_t smooth",
        "move 2 keys on kick and word_t by +0:4", "add track glow", "rename track glow to glow_2"])"));
    for (std::size_t i = texts.size() - 1; i-- > 0;) {
        auto res = post("undo", {{"version", version()}});
        ASSERT_TRUE(res && res->status == 200) << (res ? res->body : "no answer");
        ASSERT_EQ(source(), texts[i]) << "after undoing to step " << i;
    }
    EXPECT_EQ(source(), kSource);
    EXPECT_FALSE(sync_files(show).count("_glow_2.track"));
    EXPECT_EQ(post("undo", {{"version", version()}})->status, 422);
    for (std::size_t i = 1; i < texts.size(); ++i) {
        ASSERT_EQ(post("redo", {{"version", version()}})->status, 200);
        ASSERT_EQ(source(), texts[i]) << "after redoing step " << i;
    }
    // A new edit after an undo drops what could be redone.
    post("undo", {{"version", version()}});
    edit({{"op", "delete"}, {"keys", {{{"track", "word_t"}, {"row", 0}}}}});
    EXPECT_TRUE(state()["history"]["redo"].empty());
}

TEST_F(EditorServer, paste_replaces_tracks_are_deleted_and_moved_and_the_history_goes_back_several_steps) {
    cStreamReader page(editor->port(), editor->token());
    auto edit = [&](json body) {
        body["version"] = version();
        auto res = post("edit", body);
        EXPECT_TRUE(res && res->status == 200) << body.dump() << " -> " << (res ? res->body : "no answer");
        return res ? json::parse(res->body) : json();
    };
    // Keys pasted onto 2:0 of kick and 8:0 of word_t take those keys' places; 2:4 is new.
    json pasted = edit({{"op", "paste"},
                        {"keys", {{{"track", "kick"}, {"row", 16}, {"value", 0.25}, {"interpolation", "linear"}},
                                  {{"track", "kick"}, {"row", 20}, {"value", 0.75}, {"interpolation", "step"}},
                                  {{"track", "word_t"}, {"row", 64}, {"value", 2}, {"interpolation", "smooth"}}}}});
    EXPECT_EQ(pasted["label"], "paste 3 keys on kick and word_t at 2:0, replacing 2");
    const std::string after_paste =
        "# the test show\n"
        "\n"
        "track kick   # drums\n"
        "  # -- intro, 0:0 --\n"
        "  0:0      0          step\n"
        "  1:0      1          linear   # first hit\n"
        "  2:0      0.25       linear\n"
        "  2:4      0.75       step\n"
        "  # -- verse, 4:0 --\n"
        "  4:0      0          step\n"
        "\n"
        "track word_t\n"
        "  0:0      0          linear\n"
        "  8:0      2          smooth\n";
    EXPECT_EQ(source(), after_paste);

    // A deleted track takes its block and its file; the show plays it as a start without that
    // file would (no keys), and its word about the file it misses is nobody's news.
    json deleted = edit({{"op", "delete_track"}, {"track", "kick"}});
    EXPECT_EQ(deleted["label"], "delete track kick (5 keys)");
    EXPECT_EQ(source(), "# the test show\n\ntrack word_t\n  0:0      0          linear\n  8:0      2          smooth\n");
    EXPECT_FALSE(sync_files(show).count("_kick.track"));
    EXPECT_EQ(dev.requests().back().text, "preview kick");
    dev.report_reload_failed("data/sync/_kick.track", "removed; the track keeps its keys");
    dev.report_reload_failed("data/sync/_word_t.track", "removed; the track keeps its keys");
    std::vector<json> notices = page.events("notice", 1);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0]["text"].get<std::string>().find("_word_t.track"), std::string::npos) << notices[0].dump();
    auto only = post("edit", {{"version", version()}, {"op", "delete_track"}, {"track", "word_t"}});
    EXPECT_EQ(only->status, 422);
    EXPECT_NE(only->body.find("'word_t' is the only track"), std::string::npos) << only->body;
    ASSERT_EQ(post("undo", {{"version", version()}})->status, 200);
    EXPECT_EQ(source(), after_paste);
    EXPECT_EQ(compiled("kick").size(), 5u);

    // word_t before kick (under the file's own comment), then to the end again: as it was.
    EXPECT_EQ(edit({{"op", "move_track"}, {"track", "word_t"}, {"before", "kick"}})["label"], "move track word_t before kick");
    std::string moved = after_paste;
    const std::string word_t = "\ntrack word_t\n  0:0      0          linear\n  8:0      2          smooth\n";
    moved.erase(moved.find(word_t));
    moved.insert(moved.find("track kick"), word_t.substr(1) + "\n");
    EXPECT_EQ(source(), moved);
    EXPECT_EQ(edit({{"op", "move_track"}, {"track", "word_t"}})["label"], "move track word_t to the end");
    EXPECT_EQ(source(), after_paste);

    // A click on the history: three steps back at once, then two forward.
    EXPECT_EQ(post("undo", {{"version", version()}, {"steps", 4}})->status, 422);
    EXPECT_EQ(post("undo", {{"version", version()}, {"steps", 0}})->status, 400);
    auto back = post("undo", {{"version", version()}, {"steps", 3}});
    ASSERT_EQ(back->status, 200) << back->body;
    EXPECT_EQ(source(), kSource);
    EXPECT_EQ(slurp(show / "data/sync/show.tracks.bak"), after_paste);
    json history = state()["history"];
    EXPECT_TRUE(history["undo"].empty());
    EXPECT_EQ(history["redo"], json::parse(R"(["paste 3 keys on kick and word_t at 2:0, replacing 2",
        "move track word_t before kick", "move track word_t to the end"])"));
    auto forward = post("redo", {{"version", version()}, {"steps", 2}});
    ASSERT_EQ(forward->status, 200) << forward->body;
    EXPECT_EQ(json::parse(forward->body)["label"], "redo move track word_t before kick and 1 more");
    EXPECT_EQ(source(), moved);
    EXPECT_EQ(state()["history"]["redo"].size(), 1u);
}

TEST_F(EditorServer, a_preview_plays_in_the_show_writes_nothing_and_ends_with_the_sources_keys) {
    const auto files = sync_files(show);
    auto last_request = [&] { return dev.requests().back(); };
    const json drag = {{"version", 1}, {"op", "move"},
                       {"keys", {{{"track", "kick"}, {"row", 8}, {"to_row", 10}, {"value", 0.75}}}}};
    auto res = post("preview", drag);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(last_request().text, "preview kick 0=0 10=0.75 16=0.5 32=0");
    ASSERT_EQ(last_request().preview.size(), 1u);
    EXPECT_EQ(last_request().preview[0].keys[1].interpolation, kSyncLinear);
    const std::size_t asked = dev.request_count();
    // Refused as the edit would be, and the show keeps the last preview.
    json onto = drag;
    onto["keys"][0]["to_row"] = 16;
    res = post("preview", onto);
    EXPECT_EQ(res->status, 422);
    EXPECT_NE(res->body.find("cannot move kick 1:0 to 2:0: the key there (0.5, smooth) is in the way"), std::string::npos);
    EXPECT_EQ(post("preview", {{"version", 1}, {"op", "delete_track"}, {"track", "kick"}})->status, 400);
    json stale = drag;
    stale["version"] = 0;
    EXPECT_EQ(post("preview", stale)->status, 409);
    EXPECT_EQ(post("preview", {{"end", "yes"}})->status, 400);
    EXPECT_EQ(dev.request_count(), asked);
    EXPECT_EQ(sync_files(show), files);
    EXPECT_EQ(version(), 1u);
    EXPECT_TRUE(state()["history"]["undo"].empty());

    // Let go where it started: the show gets the source's keys back.
    ASSERT_EQ(post("preview", {{"end", true}})->status, 200);
    EXPECT_EQ(last_request().text, "tracks");
    EXPECT_EQ(last_request().tracks, kSource);
    // Let go elsewhere: the saved source replaces the preview, one step in the history.
    ASSERT_EQ(post("preview", drag)->status, 200);
    ASSERT_EQ(post("edit", drag)->status, 200);
    EXPECT_EQ(last_request().text, "tracks");
    EXPECT_EQ(last_request().tracks, source());
    EXPECT_EQ(state()["history"]["undo"], json::parse(R"x(["move kick 1:0 to 1:2 and set it to 0.75 (was 1)"])x"));
    // A page gone in the middle of a drag: the preview lapses and the show gets the source again.
    json next = drag;
    next["version"] = 2;
    next["keys"][0]["row"] = 10;
    next["keys"][0]["to_row"] = 12;
    ASSERT_EQ(post("preview", next)->status, 200);
    dev.settle();  // the show has taken the preview: only a later request counts as its end
    const std::size_t previewed = dev.request_count();
    EXPECT_TRUE(dev.wait_for_requests(previewed + 1, std::chrono::seconds(15))) << "the preview never lapsed";
    EXPECT_EQ(last_request().text, "tracks");
    EXPECT_EQ(last_request().tracks, source());
    // A text editor saves during a drag (the show takes that save by itself): the drag's end
    // gives the show the saved text, not the editor's older one.
    ASSERT_EQ(post("preview", next)->status, 200);
    const std::string saved = source() + "\ntrack glow\n  0:0 1 step\n";
    save_from_outside(saved);
    ASSERT_EQ(post("preview", {{"end", true}})->status, 200);
    EXPECT_EQ(last_request().text, "tracks");
    EXPECT_EQ(last_request().tracks, saved);
}

TEST_F(EditorServer, refused_requests_change_nothing_and_say_why) {
    auto before = sync_files(show);
    struct cCase {
        json body;
        int status;
        std::string reason;
    };
    json one_key = {{"track", "kick"}, {"row", 8}};
    std::vector<cCase> cases = {
        // made on version 0 while the tracks are at version 1
        {{{"version", 0}, {"op", "delete"}, {"keys", {one_key}}}, 409, "changed meanwhile"},
        {{{"op", "delete"}, {"keys", {one_key}}}, 400, "'version' is missing"},
        {{{"version", 1}, {"op", "explode"}}, 400, "unknown op 'explode'"},
        {{{"version", 1}, {"op", "delete"}, {"keys", "all"}}, 400, "'keys' must be a list"},
        {{{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "snare"}, {"row", 0}}}}}, 422, "no track 'snare'"},
        {{{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 9}}}}}, 422, "has no key at row 9 (1:1)"},
        {{{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 1e12}}}}}, 400, "'row' must be a whole number"},
        // onto a key that stays: which one is in the way, and no line number of the file
        {{{"version", 1}, {"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"to_row", 16}}}}}, 422,
         "cannot move kick 1:0 to 2:0: the key there (0.5, smooth) is in the way; move or delete it first"},
        {{{"version", 1}, {"op", "add"}, {"keys", {{{"track", "kick"}, {"row", -1}, {"value", 1}, {"interpolation", "step"}}}}},
         422, "row -1 (-1:7) lies outside the music (rows 0 to 2400)"},
        {{{"version", 1}, {"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"to_row", 2401}}}}}, 422,
         "row 2401 (300:1) lies outside the music"},
        {{{"version", 1}, {"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"value", 1e39}}}}}, 422,
         "'value' is not a finite 32-bit float"},
        {{{"version", 1}, {"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"value", "1"}}}}}, 400,
         "'value' must be a number"},
        {{{"version", 1}, {"op", "add"}, {"keys", {{{"track", "kick"}, {"row", 3}, {"value", 1}, {"interpolation", "cubic"}}}}},
         422, "unknown interpolation 'cubic'"},
        {{{"version", 1}, {"op", "rename_track"}, {"track", "kick"}, {"to", "word_t"}}, 422, "is already defined at line"},
        {{{"version", 1}, {"op", "add_track"}, {"name", "two\nlines"}}, 422, "is not a track name"},
    };
    for (const cCase& c : cases) {
        auto res = post("edit", c.body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << c.body.dump() << " -> " << res->body;
        EXPECT_NE(res->body.find(c.reason), std::string::npos) << c.body.dump() << " -> " << res->body;
    }
    // Not JSON at all; NaN is not JSON either; a body that is not sent as JSON.
    for (const char* body : {"{\"version\": 1, \"op\": \"move\"", "{\"version\": 1, \"value\": NaN}", "[1, 2]", ""}) {
        auto res = client->Post("/api/edit", body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << body;
    }
    EXPECT_EQ(client->Post("/api/edit", json{{"version", 1}}.dump(), "text/plain")->status, 415);
    // The media type is application/json and nothing longer; its case and parameters are free.
    for (const char* type : {"application/jsonx", "application/json-seq", "application/json5", "text/json"}) {
        EXPECT_EQ(client->Post("/api/edit", json{{"version", 1}}.dump(), type)->status, 415) << type;
    }
    for (const char* type : {"Application/JSON; charset=utf-8", "application/json ; charset=utf-8"}) {
        EXPECT_EQ(client->Post("/api/edit", json{{"version", 0}}.dump(), type)->status, 409) << type;
    }
    // A number beyond a double is JSON the parser cannot hold: said as such, not as "not an object".
    auto huge = client->Post("/api/edit", R"({"version": 1, "op": "delete", "keys": [{"track": "kick", "row": 1e400}]})",
                             "application/json");
    EXPECT_EQ(huge->status, 400);
    EXPECT_NE(huge->body.find("the body is not JSON: number overflow parsing '1e400'"), std::string::npos) << huge->body;
    // Deeply nested JSON is parsed without recursion and refused as a request.
    EXPECT_EQ(client->Post("/api/edit", std::string(200000, '[') + std::string(200000, ']'), "application/json")->status, 400);

    EXPECT_EQ(sync_files(show), before);
    EXPECT_EQ(tracks_requests(), 0);
    EXPECT_EQ(version(), 1u);
}

TEST_F(EditorServer, strangers_are_refused_before_anything_happens) {
    auto before = sync_files(show);
    json edit = {{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 8}}}}};
    httplib::Client bare("127.0.0.1", editor->port());
    auto status_of = [&](const httplib::Headers& headers, const std::string& path = "/api/edit") {
        auto res = bare.Post(path.c_str(), headers, edit.dump(), "application/json");
        return res ? res->status : -1;
    };
    const std::string own = "127.0.0.1:" + std::to_string(editor->port());
    EXPECT_EQ(status_of({}), 401);
    EXPECT_EQ(status_of({{"X-Editor-Token", std::string(32, '0')}}), 401);
    EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Origin", "http://evil.example"}}), 403);
    EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Origin", "http://127.0.0.1:1"}}), 403);
    EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Origin", "null"}}), 403);
    EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Sec-Fetch-Site", "cross-site"}}), 403);
    // A host name that points at this machine (DNS rebinding) still names itself.
    EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Host", "evil.example:" + std::to_string(editor->port())}}), 403);
    // Near misses: the token one digit off, one longer, in capitals; the address with another
    // port or host, the page's origin over https or with a path.
    std::string off_by_one = editor->token();
    off_by_one.back() = off_by_one.back() == '0' ? '1' : '0';
    std::string capitals = editor->token();
    for (char& c : capitals) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& token : {off_by_one, editor->token() + "0", capitals}) {
        if (token == editor->token()) continue;  // a token of digits alone has no capitals
        EXPECT_EQ(status_of({{"X-Editor-Token", token}}), 401) << token;
    }
    const std::string port = std::to_string(editor->port());
    for (const std::string& host : {"127.0.0.1:" + port + "0", "127.0.0.2:" + port, "localhost.:" + port, std::string("127.0.0.1")}) {
        EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Host", host}}), 403) << host;
    }
    for (const std::string& origin : {"https://127.0.0.1:" + port, "http://127.0.0.1:" + port + "/", "http://localhost:" + port + "0"}) {
        EXPECT_EQ(status_of({{"X-Editor-Token", editor->token()}, {"Origin", origin}}), 403) << origin;
    }
    EXPECT_EQ(bare.Get("/api/state")->status, 401);
    EXPECT_EQ(bare.Get("/")->status, 401);

    // Paths outside the page's files, with the right token: nothing to find.
    for (const char* path : {"/../data/sync/show.tracks", "/..%2f..%2fetc%2fpasswd", "/%2e%2e/show.tracks",
                             "/page/../main.js", "//etc/passwd", "/index.html/..", "/main.js%00.png"}) {
        std::string request = std::string("GET ") + path + "?token=" + editor->token() + " HTTP/1.1\r\nHost: " + own +
                              "\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(raw_status(editor->port(), request), 404) << path;
    }
    // A body over 1 MB is refused unread, whether its length is given or it comes in chunks;
    // one of exactly 1 MB goes on to the handler (a change made on an old version: 409).
    std::string limit = json{{"version", 0}, {"op", "delete"}, {"keys", json::array()}}.dump();
    limit.resize(1024 * 1024, ' ');
    const httplib::Headers with_token = {{"X-Editor-Token", editor->token()}};
    auto in_chunks = [&](const std::string& body) {
        return bare.Post("/api/edit", with_token, [body](std::size_t offset, httplib::DataSink& sink) {
            if (offset < body.size()) {
                sink.write(body.data() + offset, std::min<std::size_t>(65536, body.size() - offset));
            } else {
                sink.done();
            }
            return true;
        }, "application/json");
    };
    for (bool chunked : {false, true}) {
        auto at_limit = chunked ? in_chunks(limit) : bare.Post("/api/edit", with_token, limit, "application/json");
        ASSERT_TRUE(at_limit) << "chunked " << chunked;
        EXPECT_EQ(at_limit->status, 409) << "chunked " << chunked;
        auto over = chunked ? in_chunks(limit + " ") : bare.Post("/api/edit", with_token, limit + " ", "application/json");
        ASSERT_TRUE(over) << "chunked " << chunked;
        EXPECT_EQ(over->status, 413) << "chunked " << chunked;
    }
    // Chunk sizes beyond any limit, and a length given both ways (which reader would end where?).
    const std::string post_head = "POST /api/edit HTTP/1.1\r\nHost: " + own + "\r\nX-Editor-Token: " + editor->token() +
                                  "\r\nContent-Type: application/json\r\n";
    EXPECT_EQ(raw_status(editor->port(), post_head + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFF\r\n"), 413);
    EXPECT_EQ(raw_status(editor->port(), post_head + "Transfer-Encoding: chunked\r\n\r\n100001\r\n"), 413);
    EXPECT_EQ(raw_status(editor->port(), post_head + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"), 400);

    EXPECT_EQ(sync_files(show), before);
    EXPECT_EQ(tracks_requests(), 0);

    // The page itself: the token in the address; its modules then come with the cookie it sets.
    auto page = bare.Get(("/?token=" + editor->token()).c_str());
    ASSERT_TRUE(page && page->status == 200);
    EXPECT_NE(page->body.find("<script type=\"module\" src=\"main.js\">"), std::string::npos);
    std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    auto module = bare.Get("/curve.js", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
    ASSERT_TRUE(module && module->status == 200);
    EXPECT_EQ(module->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_NE(module->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
}

TEST_F(EditorServer, ten_thousand_keys_pasted_at_once) {
    for (int t = 0; t < 5; ++t) {
        auto res = post("edit", {{"version", version()}, {"op", "add_track"}, {"name", "paste" + std::to_string(t)}});
        ASSERT_TRUE(res && res->status == 200);
    }
    std::string before = source();
    // 2000 keys on each of five tracks, rows 200 to 2199.
    json keys = json::array();
    for (int i = 0; i < 10000; ++i) {
        keys.push_back({{"track", "paste" + std::to_string(i / 2000)}, {"row", 200 + i % 2000}, {"value", i * 0.001},
                        {"interpolation", "linear"}});
    }
    // One row given twice: the compiler refuses the whole paste.
    json twice = keys;
    twice[9999]["row"] = 200;
    auto res = post("edit", {{"version", version()}, {"op", "add"}, {"keys", twice}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 422);
    EXPECT_NE(res->body.find("two keys on row 200 (25:0)"), std::string::npos) << res->body;
    EXPECT_EQ(source(), before);

    res = post("edit", {{"version", version()}, {"op", "add"}, {"keys", keys}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body.substr(0, 200);
    for (int t = 0; t < 5; ++t) {
        std::vector<cSyncKey> pasted = compiled("paste" + std::to_string(t));
        ASSERT_EQ(pasted.size(), 2000u);
        EXPECT_EQ(pasted[1999].row, 2199);
        EXPECT_EQ(pasted[1999].value, static_cast<float>((t * 2000 + 1999) * 0.001));
    }
}

TEST_F(EditorServer, every_page_gets_each_change_and_a_change_on_disk_is_never_overwritten) {
    cStreamReader a(editor->port(), editor->token()), b(editor->port(), editor->token());
    ASSERT_EQ(a.events("state", 1).size(), 1u);
    ASSERT_EQ(b.events("state", 1).size(), 1u);
    ASSERT_EQ(post("edit", {{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 8}}}}})->status, 200);
    for (cStreamReader* page : {&a, &b}) {
        std::vector<json> states = page->events("state", 2);
        ASSERT_EQ(states.size(), 2u);
        EXPECT_EQ(states[1]["version"], 2);
        EXPECT_EQ(states[1]["tracks"][0]["keys"].size(), 3u);
    }

    // The show reports its reload of the editor's own write: nothing new. Then a text editor
    // saves the file and the show reports that: a new version for every page, undoable.
    dev.report_tracks_reloaded(source());
    std::string foreign = source() + "\ntrack extra\n  0:0 1 step\n";
    save_from_outside(foreign);
    dev.report_tracks_reloaded(foreign);
    std::vector<json> states = b.events("state", 3);
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[2]["version"], 3);
    EXPECT_EQ(states[2]["tracks"].size(), 3u);
    EXPECT_EQ(states[2]["history"]["undo"].back(), "change on disk");
    ASSERT_EQ(a.events("notice", 1).size(), 1u);
    EXPECT_NE(a.events("notice", 1)[0]["text"].get<std::string>().find("changed outside the editor"), std::string::npos);
    EXPECT_EQ(a.events("state", 4, std::chrono::milliseconds(300)).size(), 3u)
        << "the editor's own write came back as a change";

    // An edit made on the version before is refused.
    EXPECT_EQ(post("edit", {{"version", 2}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 0}}}}})->status, 409);
    // A save the show has not reported yet: the edit finds it on disk (once it has settled, as
    // the page tries again) and leaves it alone.
    std::string unreported = foreign + "# saved a moment ago\n";
    save_from_outside(unreported);
    auto res = post_settled("edit", {{"version", 3}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 0}}}}});
    EXPECT_EQ(res->status, 409) << res->body;
    EXPECT_EQ(source(), unreported);
    EXPECT_EQ(version(), 4u);
    // Undo takes back the outside changes too, one by one, with the file kept as the backup.
    ASSERT_EQ(post("undo", {{"version", 4}})->status, 200);
    EXPECT_EQ(source(), foreign);
    EXPECT_EQ(slurp(show / "data/sync/show.tracks.bak"), unreported);
}

TEST_F(EditorServer, a_save_in_place_is_taken_only_when_whole_and_a_change_meanwhile_waits_for_it) {
    ASSERT_EQ(post("edit", {{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 8}}}}})->status, 200);
    const std::string edited = source();
    // A text editor saves a new track on top, in place: it empties the file and writes it in two
    // pieces. The first piece alone parses: one track, where the whole file has three.
    const std::string piece = "track glow\n  0:0 1 step\n\n", saved = piece + edited;
    const json change = {{"version", 2}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 0}}}}};
    {
        int fd = ::open((show / "data/sync/show.tracks").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
        dev.report_tracks_reloaded(piece);
        for (const char* verb : {"edit", "undo"}) {
            auto res = post(verb, change);
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 503) << verb << ": " << res->body;
            EXPECT_NE(res->body.find("is being written by another program"), std::string::npos) << res->body;
        }
        EXPECT_EQ(version(), 2u) << "the half-written file was taken";
        EXPECT_EQ(source(), piece);
        EXPECT_EQ(slurp(show / "data/sync/show.tracks.bak"), kSource);
        ASSERT_EQ(::write(fd, edited.data(), edited.size()), static_cast<ssize_t>(edited.size()));
        ::close(fd);
    }
    // The page tries again; by then the whole save is the new version, and the change, made on
    // the version before, is refused.
    auto res = post_settled("edit", change);
    EXPECT_EQ(res->status, 409) << res->body;
    EXPECT_EQ(source(), saved);
    json s = state();
    EXPECT_EQ(s["version"], 3);
    EXPECT_EQ(s["tracks"].size(), 3u);
    // Undo gives back the edited text, and every track it defines keeps its file.
    ASSERT_EQ(post("undo", {{"version", 3}})->status, 200);
    EXPECT_EQ(source(), edited);
    EXPECT_EQ(slurp(show / "data/sync/show.tracks.bak"), saved);
    EXPECT_EQ(compiled("kick").size(), 3u);
    EXPECT_EQ(compiled("word_t").size(), 2u);
}

TEST_F(EditorServer, seek_pause_and_loop_reach_the_show_and_its_state_comes_back) {
    cStreamReader page(editor->port(), editor->token());
    // One at a time, each taken by the show before the next: within one frame the show's queue
    // keeps only the last of requests that supersede each other (a pause after a toggle).
    for (const auto& [verb, body] : std::vector<std::pair<std::string, json>>{
             {"seek", {{"ms", 12345}}}, {"pause", {{"toggle", true}}}, {"pause", {{"paused", true}}},
             {"loop", {{"start_ms", 1000}, {"end_ms", 3000}}}}) {
        EXPECT_EQ(post(verb, body)->status, 200) << verb;
        dev.settle();
    }
    EXPECT_EQ(post("seek", {{"ms", "soon"}})->status, 400);
    EXPECT_EQ(post("seek", {{"ms", 1.5}})->status, 400);
    EXPECT_EQ(post("pause", json::object())->status, 400);
    EXPECT_EQ(post("loop", {{"start_ms", 1000}})->status, 400);
    std::vector<std::string> asked;
    for (const auto& r : dev.requests()) asked.push_back(r.text);
    EXPECT_EQ(asked, (std::vector<std::string>{"seek 12345", "toggle", "pause 1", "loop 1000 3000"}));
    // The show tells of each change between frames; the page hears the play state.
    bool seen = false;
    for (std::size_t n = 1; n < 6 && !seen; ++n) {
        for (const json& p : page.events("player", n)) seen = seen || (p["loop_on"] == true && p["paused"] == true);
    }
    EXPECT_TRUE(seen);
}

TEST_F(EditorServer, slow_clients_keep_no_page_out_miss_their_deadline_and_never_hold_the_exit) {
    {
        // As many clients as the editor once had threads, each sending a head a byte at a time.
        cSlowClients slow(editor->port(), 12);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto res = client->Get("/api/state");
        ASSERT_TRUE(res) << "the page was kept out";
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(slow.closed(), 0) << "answered only once a slow client had been let go";
        // The player's exit waits for none of them: every one is closed.
        editor.reset();
        for (int i = 0; i < 200 && slow.closed() < 12; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(slow.closed(), 12);
    }
    // However steadily the bytes come, the request must be whole within its deadline.
    cEditorOptions options = show_options();
    options.any_free_port = true;
    options.announce = false;
    options.request_deadline_ms = 300;
    std::unique_ptr<cEditorServer> strict = start_editor(options, dev.control(), show.path());
    ASSERT_TRUE(strict);
    cSlowClients slow(strict->port(), 1);
    for (int i = 0; i < 400 && slow.closed() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(slow.closed(), 1) << "a request trickling in for 20 s is still being read";
    EXPECT_EQ(slow.answer(0).rfind("HTTP/1.1 408 ", 0), 0u) << slow.answer(0);
}

TEST_F(EditorServer, a_page_beyond_the_eighth_replaces_the_oldest_which_is_told_why) {
    std::vector<std::unique_ptr<cStreamReader>> pages;
    for (int i = 0; i < 8; ++i) {
        pages.push_back(std::make_unique<cStreamReader>(editor->port(), editor->token()));
        ASSERT_EQ(pages.back()->events("state", 1).size(), 1u) << "page " << i;
    }
    cStreamReader newest(editor->port(), editor->token());
    ASSERT_EQ(newest.events("state", 1).size(), 1u) << "the ninth page got no state";
    std::vector<json> told = pages[0]->events("replaced", 1);
    ASSERT_EQ(told.size(), 1u) << "the oldest page was not told";
    EXPECT_NE(told[0]["text"].get<std::string>().find("Another page of the editor was opened"), std::string::npos);
    EXPECT_TRUE(pages[1]->events("replaced", 1, std::chrono::milliseconds(200)).empty());
    // The rest go on hearing every change; the replaced one no longer does.
    ASSERT_EQ(post("edit", {{"version", 1}, {"op", "delete"}, {"keys", {{{"track", "kick"}, {"row", 8}}}}})->status, 200);
    EXPECT_EQ(newest.events("state", 2).size(), 2u);
    EXPECT_EQ(pages[1]->events("state", 2).size(), 2u);
    EXPECT_EQ(pages[0]->events("state", 2, std::chrono::milliseconds(300)).size(), 1u);
    // The editor stops with its pages open, and leaves nothing of it listening to the show.
    editor.reset();
    EXPECT_EQ(dev.listener_count(), 0u);
}

// A pool is whole from the moment it is made: on a busy machine its threads may not have started
// when the first page opens the editor, and the page must not be told that the editor is busy.
TEST(EditorWorkers, a_new_pool_takes_a_job_for_each_thread_and_its_queue_and_refuses_the_next) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> ran{0};
    const cWorkerPool::Job held = [&](bool run) {
        if (!run) return;
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return release; });
        ++ran;
    };
    {
        cWorkerPool pool(4, 1);
        int taken = 0;
        for (int i = 0; i < 5; ++i) {
            cWorkerPool::Job job = held;
            const bool took = pool.try_post(job);
            EXPECT_TRUE(took) << "job " << i << " of four threads and one place in the queue";
            taken += took ? 1 : 0;
        }
        cWorkerPool::Job extra = held;
        EXPECT_FALSE(pool.try_post(extra)) << "every thread busy and the queue full";
        EXPECT_TRUE(static_cast<bool>(extra)) << "a refused job stays with its caller";
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        released.notify_all();
        // Every job taken runs, the queued one on the first thread to come free.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ran < taken && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(ran, taken);
    }
}

TEST(EditorWaveform, is_asked_for_again_while_the_music_decodes_and_the_exit_does_not_wait_for_the_decoder) {
    cTempDir show;
    show.write("data/sync/show.tracks", kSource);
    // A named pipe for the music: its decoder waits until somebody writes, as long as the test likes.
    const std::string music = show / "data/muzak/recut.mp3";
    std::filesystem::create_directories(show / "data/muzak");
    ASSERT_EQ(::mkfifo(music.c_str(), 0600), 0);
    cDevControlLoop dev;
    cEditorOptions options = show_options();
    options.any_free_port = true;
    options.announce = false;
    std::unique_ptr<cEditorServer> editor = start_editor(options, dev.control(), show.path());
    ASSERT_TRUE(editor);
    httplib::Client client("127.0.0.1", editor->port());
    client.set_read_timeout(10);
    auto res = client.Get("/api/peaks", {{"X-Editor-Token", editor->token()}});
    ASSERT_TRUE(res) << "a worker waited for the decoder";
    EXPECT_EQ(res->status, 503);
    EXPECT_EQ(res->get_header_value("Retry-After"), "1");
    EXPECT_NE(res->body.find("still being decoded"), std::string::npos) << res->body;
    editor.reset();
    // Let the decoder go: a writer that ends the music at once.
    for (int i = 0; i < 100; ++i) {
        int writer = ::open(music.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST(EditorStart, a_taken_port_gives_one_line_and_no_editor) {
    cTempDir show;
    show.write("data/sync/show.tracks", kSource);
    int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    cDevControlLoop dev;
    cEditorOptions options = show_options();
    options.port = ntohs(address.sin_port);
    cCaptureStream err(STDERR_FILENO), out(STDOUT_FILENO);
    std::unique_ptr<cEditorServer> editor = start_editor(options, dev.control(), show.path());
    std::string said = err.stop(), printed = out.stop();
    ::close(taken);
    EXPECT_FALSE(editor);
    EXPECT_EQ(said, "# WARNING: the editor is off: 127.0.0.1:" + std::to_string(options.port) +
                        " is taken by another program (choose another with --editor-port N); the show goes on without it\n");
    EXPECT_EQ(printed, "");
    EXPECT_EQ(dev.listener_count(), 0u);

    // Port 0 is no editor, without a word; a free port prints the one address line.
    options.port = 0;
    EXPECT_FALSE(start_editor(options, dev.control(), show.path()));
    options.any_free_port = true;
    cCaptureStream announced(STDOUT_FILENO);
    editor = start_editor(options, dev.control(), show.path());
    ASSERT_TRUE(editor);
    EXPECT_EQ(announced.stop(), "# editor: http://127.0.0.1:" + std::to_string(editor->port()) + "/?token=" + editor->token() + "\n");
    EXPECT_EQ(editor->token().size(), 32u);
}

namespace {

// A mount namespace of the process's own (within a user namespace where the system allows one
// to anybody; otherwise as root), so that a small file system can be mounted for a test.
bool enter_mount_namespace() {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
        auto put = [](const char* path, const std::string& text) {
            int fd = ::open(path, O_WRONLY | O_CLOEXEC);
            bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            if (fd >= 0) ::close(fd);
            return ok;
        };
        put("/proc/self/setgroups", "deny");
        if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return false;
        }
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    return true;
}

// In a child process: a show whose sync folder is a 64 KB file system, filled up but for one
// page, and an edit on it. What went wrong, one line each; exit status 77 when no file system
// could be mounted.
std::string full_disk_case(const cTempDir& show, bool& skipped) {
    std::string failures;
    auto expect = [&](bool ok, const std::string& what) {
        if (!ok) failures += what + "\n";
    };
    const std::string sync = show / "data/sync";
    std::filesystem::create_directories(sync);
    if (!enter_mount_namespace() || ::mount("tmpfs", sync.c_str(), "tmpfs", 0, "size=64k") != 0) {
        skipped = true;
        return "";
    }
    show.write("data/sync/show.tracks", kSource);
    show.write("data/muzak/recut.timeline.json", kTimeline);
    expect(write_compiled_tracks(parse_track_source(kSource), sync).ok, "the track files were not compiled");
    auto before = sync_files(show);

    cDevControlLoop dev;
    cEditorOptions options = show_options();
    options.any_free_port = true;
    options.announce = false;
    std::unique_ptr<cEditorServer> editor = start_editor(options, dev.control(), show.path());
    if (!editor) return "no editor";
    httplib::Client client("127.0.0.1", editor->port());
    client.set_default_headers({{"X-Editor-Token", editor->token()}});
    // Everything but one page taken: room for one new file of a few bytes.
    const std::string filler = sync + "/filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size())) {
    }
    expect(errno == ENOSPC, "the file system did not fill up");
    expect(::ftruncate(fd, ::lseek(fd, 0, SEEK_END) / 4096 * 4096 - 4096) == 0, "no page could be freed");
    ::close(fd);

    json move = {{"version", 1}, {"op", "move"}, {"keys", {{{"track", "kick"}, {"row", 8}, {"to_row", 10}}}}};
    auto res = client.Post("/api/edit", move.dump(), "application/json");
    expect(res && res->status == 500, "the edit on a full disk was answered " + (res ? std::to_string(res->status) + " " + res->body : "nothing"));
    expect(res && res->body.find("nothing was changed") != std::string::npos, "the answer does not say that nothing was changed");
    auto after = sync_files(show);
    after.erase("filler");
    expect(after == before, "the files of the sync folder changed (or temporaries were left)");
    expect(dev.requests().empty(), "the show was handed the tracks");

    // With room again, the same edit goes through.
    ::unlink(filler.c_str());
    res = client.Post("/api/edit", move.dump(), "application/json");
    expect(res && res->status == 200, "with room again the edit was answered " + (res ? res->body : "nothing"));
    return failures;
}

}  // namespace

TEST(EditorDisk, an_edit_that_finds_the_disk_full_fails_whole_and_says_so) {
    cTempDir show, report;
    pid_t pid = ::fork();
    if (pid == 0) {
        bool skipped = false;
        std::string failures = full_disk_case(show, skipped);
        std::ofstream(report / "failures.txt") << failures;
        ::_exit(skipped ? 77 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace for a small file system on this machine";
    EXPECT_EQ(slurp(report / "failures.txt"), "");
}
