// The objinfo program: its report on generated files and on real-world files written by
// other tools, what it says where the player would refuse a file or end, and its usage errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace {

const std::string kObjinfo = std::string(DEMO_TOOLS_DIR) + "/objinfo";
const std::string kFixtures = std::string(DEMO_SOURCE_DIR) + "/tests/mesh/fixtures/";

// The report's messages for a clean parse of path, with extra lines after it.
std::string clean_messages(const std::string& path, const std::string& after = "") {
    return "\"messages\": [\"-\", \"cObjLoader::load_file parsing " + path + " ... done reading obj.\", \"-\"" + after + "]";
}

}  // namespace

TEST(Objinfo, reports_a_cube_drawn_by_ranges_as_one_json_line) {
    cTempDir dir;
    std::string path = dir.write("cube.obj",
                                 "usemtl paint\n"
                                 "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
                                 "vn 0 0 -1\nvn 0 0 1\nvn 0 -1 0\nvn 0 1 0\nvn -1 0 0\nvn 1 0 0\n"
                                 "f 1//1 4//1 3//1 2//1\nf 5//2 6//2 7//2 8//2\nf 1//3 2//3 6//3 5//3\n"
                                 "f 4//4 8//4 7//4 3//4\nf 1//5 5//5 8//5 4//5\nf 2//6 3//6 7//6 6//6\n");
    cProcessResult run = run_process({kObjinfo, path});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "{\"flags\": 18, \"vertices\": 24, \"indices\": 36, \"ranges\": [[0, 0], [36, -1]], "
                       "\"bounds\": [-1, -1, -1, 1, 1, 1], "
                       "\"index_sha256\": \"aad40d5d9803b85b700ad315b3903aba687c01b40f3efc37ee370226a453c28b\", " +
                           clean_messages(path) + "}\n");
}

// Checked by hand against the files: corner and face counts, the groups' quads, the extremes
// of the "v" lines.
TEST(Objinfo, reports_real_world_files_as_checked_by_hand) {
    struct cCase {
        const char* file;
        const char* figures;
        const char* warning;
    };
    const cCase cases[] = {
        // A quad and four triangles with 12 distinct corners besides the quad's 4.
        {"testnodes_pyramid.obj",
         "{\"flags\": 3, \"vertices\": 16, \"indices\": 18, \"ranges\": [[0, 0], [18, -1]], "
         "\"bounds\": [-0.5, -0.5, -0.5, 0.5, 0.5, 0.5], "
         "\"index_sha256\": \"9385df5004581890c60ce16c3afb45b47b863089d5860d1d818d181db783d3a2\", ",
         "3"},
        // Six groups of 1, 1, 4, 2, 2 and 2 quads; 48 corners of which two repeat.
        {"chest_open.obj",
         "{\"flags\": 3, \"vertices\": 46, \"indices\": 72, "
         "\"ranges\": [[0, 0], [6, 1], [12, 2], [36, 3], [48, 4], [60, 5], [72, -1]], "
         "\"bounds\": [-0.5, -0.5, -0.5, 0.5, 1.115578, 0.72097], "
         "\"index_sha256\": \"85c008b9a9d5456b425e0317314aeb935f609f22b3f2598a6157bb9f7c294c9b\", ",
         "3"},
        // One group with a material: 156 faces, 468 indices after triangulation.
        {"boats_boat.obj",
         "{\"flags\": 19, \"vertices\": 242, \"indices\": 468, \"ranges\": [[0, 0], [468, -1]], "
         "\"bounds\": [-7.7862, -4.60111, -14.2949, 6.87058, 3.74607, 8.79351], "
         "\"index_sha256\": \"f0cae36b5057bb0f3eaf8424ad0780b3ef34de816a37a29e56ef5ee33d149f8f\", ",
         "4"},
    };
    for (const cCase& c : cases) {
        std::string path = kFixtures + c.file;
        cProcessResult run = run_process({kObjinfo, path});
        ASSERT_TRUE(run.exited) << c.file;
        EXPECT_EQ(run.status, 0) << c.file;
        EXPECT_EQ(run.out, std::string(c.figures) + "\"messages\": [\"-\", \"cObjLoader::load_file parsing " + path +
                               " ... # warning, unknown token: \\\"o\\\" in line " + c.warning +
                               "... skipped!\", \"done reading obj.\", \"-\"]}\n");
    }
}

TEST(Objinfo, says_when_the_player_would_refuse_the_file_or_end) {
    cTempDir dir;
    {
        std::string path = dir.write("bad.obj", "v 0 0 0\nv 1 0 0\nf 1 2 3\n");
        cProcessResult run = run_process({kObjinfo, path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "{\"flags\": 0, \"vertices\": 0, \"indices\": 0, \"ranges\": [], \"bounds\": [0, 0, 0, 0, 0, 0], "
                           "\"index_sha256\": \"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\", " +
                               clean_messages(path, ", \"## ERROR in \\\"" + path +
                                                        "\\\" line 3: position 3 does not exist (the file has 2); "
                                                        "the file is not loaded\"") +
                               ", \"refused\": true}\n");
    }
    {
        std::string path = dir.write("line.obj", "v 0 0 0\nv 1 0 0\nf 1 2\n");
        cProcessResult run = run_process({kObjinfo, path});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\"Malformed face. 2 vertices in face. Aborting triangulation\", "
                               "\"# warning, created smooth normals...\", "
                               "\"Malformed polygon in cObjLoader::smooth_normals - exiting!\"], \"exit_status\": 255}"),
                  std::string::npos)
            << run.out;
    }
    {
        std::string path = dir / "missing.obj";
        cProcessResult run = run_process({kObjinfo, path});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\"messages\": [\"-\", \"cObjLoader::load_file parsing " + path + " ... File not found: \\\"" +
                               path + " in cObjLoader::load_file(..)\"], \"exit_status\": 255}"),
                  std::string::npos)
            << run.out;
    }
    {
        // The model manager skips other file types without a word.
        std::string path = dir.write("cube.OBJ", "v 0 0 0\n");
        cProcessResult run = run_process({kObjinfo, path});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\"messages\": [], \"supported\": false, \"refused\": true}"), std::string::npos) << run.out;
    }
}

TEST(Objinfo, usage_errors_are_one_line_and_status_2) {
    for (const auto& args : {std::vector<std::string>{kObjinfo}, std::vector<std::string>{kObjinfo, "a.obj", "b.obj"},
                             std::vector<std::string>{kObjinfo, "--json"}}) {
        cProcessResult run = run_process(args);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("usage: objinfo", 0), 0u) << run.err;
    }
}
