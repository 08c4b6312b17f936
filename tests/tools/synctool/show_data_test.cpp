// The show's own data: the committed track files must be what the committed source compiles
// to, the tracks must stay where the scene can use them, and the music must decode.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "host/sync/sync_device.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "host/sync/track_source.h"

namespace {

const std::string kTool = std::string(DEMO_TOOLS_DIR) + "/synctool";
const std::string kSyncDir = std::string(DEMO_SOURCE_DIR) + "/data/sync";
const std::string kSource = kSyncDir + "/show.tracks";
const std::string kMusic = std::string(DEMO_SOURCE_DIR) + "/data/muzak/recut.mp3";
constexpr int64_t kShowEndMs = 88250;

// Every track the scene module reads, and the host's switch for it.
const std::vector<std::string> kSceneTracks = {
    "scene_karaoke", "kick", "numwords", "textrot", "umptchi", "textits", "word0its", "word1its", "word2its",
    "word3its", "word4its", "word_t", "circle_hofs", "tunnel", "tunnel_twist", "tunnel_ofs", "draw_duck", "duck_rot",
    "duck_trans", "duck_trans_y"};

std::map<std::string, std::string> track_files_in(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.ends_with(".track")) files[name] = slurp(entry.path().string());
    }
    return files;
}

}  // namespace

TEST(ShowData, committed_track_files_are_exactly_what_the_source_compiles_to) {
    cTempDir out;
    cProcessOptions options;
    cProcessResult r = run_process({kTool, "compile", kSource, out.path()}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    auto compiled = track_files_in(out.path());
    auto committed = track_files_in(kSyncDir);
    std::set<std::string> compiled_names, committed_names;
    for (const auto& [name, bytes] : compiled) compiled_names.insert(name);
    for (const auto& [name, bytes] : committed) committed_names.insert(name);
    EXPECT_EQ(committed_names, compiled_names) << "stray or missing .track files: run synctool compile";
    for (const auto& [name, bytes] : compiled) {
        EXPECT_TRUE(committed.count(name) && committed[name] == bytes)
            << name << " differs from show.tracks: run synctool compile";
    }
}

TEST(ShowData, committed_source_is_in_the_form_dump_writes_back) {
    std::string source = slurp(kSource);
    cParsedSource parsed = parse_track_source(source);
    ASSERT_TRUE(parsed.ok()) << parsed.problems[0].line << ": " << parsed.problems[0].message;
    for (const cSourceTrack& track : parsed.tracks) {
        cProcessResult r = run_process({kTool, "dump", kSyncDir + "/_" + track.name + ".track"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, canonical_track_lines(source, track.name)) << track.name;
    }
}

TEST(ShowData, every_track_the_scene_reads_is_in_the_source) {
    cParsedSource parsed = parse_track_source(slurp(kSource));
    std::set<std::string> defined;
    for (const cSourceTrack& track : parsed.tracks) {
        defined.insert(track.name);
        EXPECT_FALSE(track.keys.empty()) << track.name;
    }
    for (const std::string& name : kSceneTracks) EXPECT_TRUE(defined.count(name)) << name;
}

TEST(ShowData, tracks_stay_in_the_ranges_the_scene_handles) {
    cSyncDevice sync;
    ASSERT_TRUE(sync.open_store(kSyncDir + "/"));
    auto v = [&](const char* name, int64_t ms) { return sync.get_value(name, ms); };
    int checked = 0;
    for (int64_t ms = 0; ms <= kShowEndMs; ms += 5, ++checked) {
        SCOPED_TRACE("at " + std::to_string(ms) + " ms");
        ASSERT_GT(v("scene_karaoke", ms), 0.0f) << "the scene would switch off before the show ends";
        for (const char* unit : {"kick", "textits", "word0its", "word1its", "word2its", "word3its", "word4its", "tunnel",
                                 "umptchi"}) {
            ASSERT_GE(v(unit, ms), 0.0f) << unit;
            ASSERT_LE(v(unit, ms), 1.0f) << unit;
        }
        // The scene lays out at most 60 words.
        float words = v("numwords", ms);
        ASSERT_GE(words, 0.0f);
        ASSERT_LE(static_cast<int>(words + 0.5f), 60);
        // The duck bobs at y = sin(ty * 1.57075) * 4 - 1; the camera sees about +-10 there.
        if (v("draw_duck", ms) >= 0.5f) {
            double y = std::sin(v("duck_trans_y", ms) * 1.57075) * 4.0 - 1.0;
            ASSERT_GT(y, -8.0);
            ASSERT_LT(y, 8.0);
        }
    }
    EXPECT_GT(checked, 17000);
    // The module's parts show up during the show: words, the umptchi chorus, tunnel and duck.
    auto ever = [&](const char* name, float above) {
        for (int64_t ms = 0; ms <= kShowEndMs; ms += 20) {
            if (v(name, ms) > above) return true;
        }
        return false;
    };
    EXPECT_TRUE(ever("numwords", 0.5f));
    EXPECT_TRUE(ever("umptchi", 0.5f));
    EXPECT_TRUE(ever("tunnel", 0.5f));
    EXPECT_TRUE(ever("draw_duck", 0.49f));
}

TEST(ShowData, music_decodes_to_at_least_ninety_seconds_of_stereo) {
    ASSERT_TRUE(std::filesystem::is_regular_file(kMusic));
    EXPECT_LE(std::filesystem::file_size(kMusic), 2u * 1024 * 1024) << "keep the music small in the repository";
    SF_INFO info{};
    SNDFILE* file = sf_open(kMusic.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    // Decode it all: the frame count in the header is only a promise.
    std::vector<short> buffer(4096 * 2);
    int64_t frames = 0;
    double energy = 0;
    for (;;) {
        sf_count_t got = sf_readf_short(file, buffer.data(), 4096);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got * 2; ++i) energy += static_cast<double>(buffer[i]) * buffer[i];
        frames += got;
    }
    sf_close(file);
    EXPECT_GE(frames, 90 * 44100);
    double rms = std::sqrt(energy / std::max<int64_t>(frames * 2, 1)) / 32768.0;
    EXPECT_GT(rms, 0.05) << "the music is (almost) silent";
}
