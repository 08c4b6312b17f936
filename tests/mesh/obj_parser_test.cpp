// The OBJ parser: statements and their messages, vertex values, corner forms under the
// attribute flags, group numbers, the refusal of faces that point outside their arrays, the
// fatal conditions, and files that are broken on purpose.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "mesh_files/obj/mesh_config.h"
#include "mesh_files/obj/obj_loader.h"
#include "mesh_files/obj/obj_text_scan.h"
#include "obj_test_support.h"

namespace {

using ints = std::vector<int32_t>;
using floats = std::vector<float>;

}  // namespace

// ---- statements ----

TEST(ObjStatements, unsupported_and_unknown_statements_write_their_warnings_in_order) {
    cTempDir dir;
    cObjLoader loader;
    std::string err = load_text(loader, dir,
                                "vp 1 2\n"
                                "p 1\n"
                                "l 1 2\n"
                                "#comment\n"
                                "o name\n"
                                "# a comment\n"
                                "mtllib a.mtl\n"
                                "s 1\n"
                                "curv 0 1 1 2\n"
                                "curv2 1 2\n"
                                "surf 0 1 0 1 1 2\n"
                                "usemtl red\n"
                                "\n"
                                "   \t \n"
                                "V 1 2 3\n");
    EXPECT_EQ(err, parse_frame(dir / "mesh.obj",
                               "# warning, \"vp\" in line 1 not supported... skipped!\n"
                               "TOK_P\n"
                               "TOK_L\n"
                               "# warning, unknown token: \"#comment\" in line 4... skipped!\n"
                               "# warning, unknown token: \"o\" in line 5... skipped!\n"
                               "# warning, unknown token: \"V\" in line 15... skipped!\n"));
    EXPECT_EQ(loader.flags(), kMeshHasMaterials);
    EXPECT_TRUE(loader.positions.empty());
    EXPECT_FALSE(loader.refused());
}

TEST(ObjStatements, a_garbage_file_gets_the_first_five_warnings_of_each_kind_with_control_bytes_escaped) {
    cTempDir dir;
    cObjLoader loader;
    // 1,000 lines of an unknown token carrying a terminal's escape sequence, a backslash and a
    // byte past ASCII; 7 positions with a value missing; 6 "p" lines.
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "\x1b[2J\\\xff 1\n";
    for (int i = 0; i < 7; ++i) text += "v 1 2\n";
    for (int i = 0; i < 6; ++i) text += "p 1\n";
    std::string told;
    for (int line = 1; line <= 5; ++line) {
        told += "# warning, unknown token: \"\\x1b[2J\\\\\\xff\" in line " + std::to_string(line) + "... skipped!\n";
    }
    for (int line = 1001; line <= 1005; ++line) {
        told += "# warning, \"v\" in line " + std::to_string(line) + " has 2 of 3 values; the missing ones are read as 0\n";
    }
    told += "TOK_P\nTOK_P\nTOK_P\nTOK_P\nTOK_P\n";
    told += "# warning, ... and 2 more vertex statements with missing values (read as 0)\n";
    told += "# warning, ... and 1 more \"p\" lines skipped\n";
    told += "# warning, ... and 995 more lines with unknown tokens... skipped!\n";
    EXPECT_EQ(load_text(loader, dir, text), parse_frame(dir / "mesh.obj", told));
    EXPECT_EQ(loader.positions.size(), 7u * 4u) << "capped warnings still read every statement";
}

TEST(ObjStatements, verbose_setting_reports_the_silently_skipped_statements) {
    cTempDir dir;
    cObjLoader loader;
    loader.set_verbose(true);
    std::string err = load_text(loader, dir, "s off\ncurv 1\ncurv2 1\nsurf 1\nmtllib x\n");
    EXPECT_EQ(err, parse_frame(dir / "mesh.obj",
                               "# warning: \"s\" in line 1 not supported... skipped!\n"
                               "# warning: \"curv\" in line 2 not supported... skipped!\n"
                               "# warning: \"curv2\" in line 3 not supported... skipped!\n"
                               "# warning: \"surf\" in line 4 not supported... skipped!\n"));
}

TEST(ObjStatements, lines_end_at_crlf_or_at_the_end_of_the_file_and_may_be_of_any_length) {
    cTempDir dir;
    cObjLoader loader;
    // Lines far beyond 127 characters must not stop the reading.
    std::string long_comment = "# " + std::string(5000, 'x') + "\n";
    std::string long_vertex = "v 1 2 3" + std::string(300, ' ') + "\n";
    std::string err = load_text(loader, dir, long_comment + long_vertex + "v 4 5 6\r\nvn 0 0 1\r\n\tv   7\t8 9");
    EXPECT_EQ(err, parse_frame(dir / "mesh.obj"));
    EXPECT_EQ(loader.positions, (floats{1, 2, 3, 1, 4, 5, 6, 1, 7, 8, 9, 1}));
    EXPECT_EQ(loader.normals, (floats{0, 0, 1}));
}

TEST(ObjStatements, a_nul_byte_ends_the_text_of_its_line) {
    cTempDir dir;
    cObjLoader loader;
    std::string text = std::string("v 1 2 3 0.5\0 9 9\nv 4 5\0 6\n", 26) + "v 7 8 9\n";
    std::string err = load_text(loader, dir, text);
    EXPECT_EQ(err, parse_frame(dir / "mesh.obj",
                               "# warning, \"v\" in line 2 has 2 of 3 values; the missing ones are read as 0\n"));
    EXPECT_EQ(loader.positions, (floats{1, 2, 3, 0.5f, 4, 5, 0, 1, 7, 8, 9, 1}));
}

// ---- vertex data ----

TEST(ObjVertexData, positions_get_w_of_one_unless_given_and_texcoords_keep_two_values) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v 1 2 3\nv 1 2 3 0.5\nvt 0.25 0.75 0\nvt 0.5 1\nvn 0 1 0\n");
    EXPECT_EQ(loader.positions, (floats{1, 2, 3, 1, 1, 2, 3, 0.5f}));
    EXPECT_EQ(loader.texcoords, (floats{0.25f, 0.75f, 0.5f, 1}));
    EXPECT_EQ(loader.normals, (floats{0, 1, 0}));
    EXPECT_EQ(loader.flags(), kMeshHasTexcoords | kMeshHasNormals);
}

TEST(ObjVertexData, statements_with_too_few_values_are_padded_so_later_indices_stay_aligned) {
    cTempDir dir;
    cObjLoader loader;
    std::string err = load_text(loader, dir, "v 1 2\nv\nvt 0.5\nvn 1\nv 1 2 3 0.5 0.25 0.125\nvn 1 2 3 4\n");
    EXPECT_EQ(err, parse_frame(dir / "mesh.obj",
                               "# warning, \"v\" in line 1 has 2 of 3 values; the missing ones are read as 0\n"
                               "# warning, \"v\" in line 2 has 0 of 3 values; the missing ones are read as 0\n"
                               "# warning, \"vt\" in line 3 has 1 of 2 values; the missing ones are read as 0\n"
                               "# warning, \"vn\" in line 4 has 1 of 3 values; the missing ones are read as 0\n"));
    // Extra values (vertex colours after x y z) are dropped without shifting anything.
    EXPECT_EQ(loader.positions, (floats{1, 2, 0, 1, 0, 0, 0, 1, 1, 2, 3, 1}));
    EXPECT_EQ(loader.texcoords, (floats{0.5f, 0}));
    EXPECT_EQ(loader.normals, (floats{1, 0, 0, 1, 2, 3}));
}

TEST(ObjVertexData, values_read_like_the_c_library_reads_them) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v abc 1.5xyz +2\nv 0x10 -0X1p1 .5e1\nv 1e400 -1e400 nan\nv 1e39 3.4028235e38 1e-400\n");
    ASSERT_EQ(loader.positions.size(), 16u);
    const floats& p = loader.positions;
    EXPECT_EQ(p[0], 0.0f);
    EXPECT_EQ(p[1], 1.5f);
    EXPECT_EQ(p[2], 2.0f);
    EXPECT_EQ(p[4], 16.0f);
    EXPECT_EQ(p[5], -2.0f);
    EXPECT_EQ(p[6], 5.0f);
    EXPECT_TRUE(std::isinf(p[8]) && p[8] > 0);
    EXPECT_TRUE(std::isinf(p[9]) && p[9] < 0);
    EXPECT_TRUE(std::isnan(p[10]));
    EXPECT_TRUE(std::isinf(p[12]));
    EXPECT_EQ(p[13], 3.4028235e38f);
    EXPECT_EQ(p[14], 0.0f);
}

TEST(ObjVertexData, fast_value_reader_agrees_with_strtod_on_every_form) {
    std::vector<std::string> tokens = {
        "0",       "1",         "-2.5",       "+3",       "0x1p3",      "-0x1.8p1", "0X",          ".5",
        "5.",      "1e5",       "1E-5",       "1e",       "1e+",        "1.5e+3x",  "abc",         "-",
        "+",       ".",         "-.",         "nan",      "-nan",       "NaN(12)",  "inf",         "-INFINITY",
        "infx",    "1.5abc",    "1e-400",     "4e-320",   "1e400",      "-1e400",   "3.4028235e38", "3.4028236e38",
        "1e39",    "1,5",       "\v7",        "\f-8",     "00012.50",   "1/2/3",    "-0",          "1e-45",
        "123456789012345678901234567890", "0.1000000000000000055511151231257827021181583404541015625",
        // the edges of the eight-byte reader: seven and eight digits a side, and the bytes just
        // outside the digits ('/' and ':'), or past ASCII, right after one
        "1234567.1234567", "-1234567.1234567", "12345678.5", "1.12345678", "-0000000.0000001", "1/5", "1:5",
        "-2.5:1", "3.5.", "1\xb0" "5", "7\x80", "-7.5\xff"};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-60, 60);
    for (int i = 0; i < 2000; ++i) {
        char text[64];
        std::snprintf(text, sizeof(text), "%.*ge%d", 1 + i % 17, mantissa(random), exponent(random));
        tokens.push_back(text);
        std::snprintf(text, sizeof(text), "%.*f", i % 10, mantissa(random) * std::pow(10.0, i % 9));
        tokens.push_back(text);
    }
    for (const std::string& token : tokens) {
        // At the end of the text, and with a line of text after it (where whole words are read).
        for (const std::string& after : {std::string(), std::string(30, 'y')}) {
            std::string buffer = token + " " + after + "\n";
            const char* p = buffer.c_str();
            double fast = obj_read_value(p, buffer.c_str() + buffer.size() - 1);
            double slow = std::strtod(token.c_str(), nullptr);
            if (std::isnan(slow)) {
                EXPECT_TRUE(std::isnan(fast)) << token;
            } else {
                EXPECT_EQ(fast, slow) << token;
            }
            EXPECT_EQ(*p, ' ') << token << ": the reader must stop at the end of the token";
        }
        double slow = std::strtod(token.c_str(), nullptr);
        if (std::fabs(slow) <= std::numeric_limits<float>::max()) {
            EXPECT_EQ(obj_narrow(slow), static_cast<float>(slow)) << token;
        }
    }
}

TEST(ObjVertexData, doubles_beyond_the_float_range_round_like_the_hardware) {
    constexpr float kLargest = std::numeric_limits<float>::max();
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    EXPECT_EQ(obj_narrow(0x1.fffffep127), kLargest);
    EXPECT_EQ(obj_narrow(0x1.fffffe8p127), kLargest);   // below the midpoint to the next power
    EXPECT_EQ(obj_narrow(0x1.ffffffp127), kInfinity);   // the midpoint rounds to even: infinity
    EXPECT_EQ(obj_narrow(-0x1.ffffff8p127), -kInfinity);
    EXPECT_EQ(obj_narrow(1e300), kInfinity);
    EXPECT_EQ(obj_narrow(-1e300), -kInfinity);
    EXPECT_TRUE(std::isnan(obj_narrow(std::nan(""))));
}

// ---- faces ----

TEST(ObjFaces, corners_give_the_pieces_that_the_flags_ask_for) {
    cTempDir dir;
    {
        // No "vt" or "vn" line: every corner form gives its position only.
        cObjLoader loader;
        load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1/2 2/3 3/1\nf 1//3 2//1 3//2\nf 1/2/3 2/3/1 3/1/2\n");
        ASSERT_EQ(loader.faces.size(), 4u);
        for (std::size_t f = 0; f < 4; ++f) {
            EXPECT_EQ(loader.position_indices(f), (ints{0, 1, 2})) << f;
            EXPECT_TRUE(loader.texcoord_indices(f).empty()) << f;
            EXPECT_TRUE(loader.normal_indices(f).empty()) << f;
        }
    }
    {
        // Texture coordinates only: 1/2 and 1/2/3 read the texture coordinate.
        cObjLoader loader;
        load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/2 2/3 3/1\nf 1/3/9 2/1/9 3/2/9\n");
        EXPECT_FALSE(loader.refused());
        EXPECT_EQ(loader.texcoord_indices(0), (ints{1, 2, 0}));
        EXPECT_EQ(loader.texcoord_indices(1), (ints{2, 0, 1}));
        EXPECT_TRUE(loader.normal_indices(1).empty());
    }
    {
        // Normals only: the normal is read after the second "/", whatever stands between.
        cObjLoader loader;
        load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nvn 0 1 0\nf 1//2 2//1 3//2\nf 1/7/1 2/7/2 3/7/1\n");
        EXPECT_FALSE(loader.refused());
        EXPECT_EQ(loader.normal_indices(0), (ints{1, 0, 1}));
        EXPECT_EQ(loader.normal_indices(1), (ints{0, 1, 0}));
        EXPECT_TRUE(loader.texcoord_indices(1).empty());
    }
    {
        cObjLoader loader;
        load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\nf 3/1/1 1/1/1 2/1/1\n");
        EXPECT_EQ(loader.position_indices(0), (ints{2, 0, 1}));
        EXPECT_EQ(loader.texcoord_indices(0), (ints{0, 0, 0}));
        EXPECT_EQ(loader.normal_indices(0), (ints{0, 0, 0}));
    }
}

TEST(ObjFaces, negative_and_malformed_indices_add_nothing_and_short_faces_are_kept) {
    cTempDir dir;
    cObjLoader loader;
    std::string err = load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf -1 -2 -3\nf\nf 1\nf 1 2\nf 1 x 2\nf 1 2 3 4\n");
    EXPECT_EQ(err, parse_frame(dir / "mesh.obj"));
    ASSERT_EQ(loader.faces.size(), 6u);
    EXPECT_TRUE(loader.position_indices(0).empty());
    EXPECT_TRUE(loader.position_indices(1).empty());
    EXPECT_EQ(loader.position_indices(2), (ints{0}));
    EXPECT_EQ(loader.position_indices(3), (ints{0, 1}));
    EXPECT_EQ(loader.position_indices(4), (ints{0, 1}));
    EXPECT_EQ(loader.position_indices(5), (ints{0, 1, 2, 3}));
    EXPECT_EQ(loader.flags(), kMeshHasPolygons);
}

TEST(ObjFaces, group_numbers_count_g_lines_and_start_at_minus_one) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\ng a\nf 1 2 3\ng a\nf 1 2 3\nf 1 2 3\ng\nf 1 2 3\n");
    ASSERT_EQ(loader.faces.size(), 5u);
    const int32_t expected[5] = {-1, 0, 1, 1, 2};
    for (int f = 0; f < 5; ++f) EXPECT_EQ(loader.faces[f].group, expected[f]) << f;
}

TEST(ObjFaces, a_second_load_starts_afresh_but_keeps_the_flags) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v 0 0 0\nvt 0 0\nusemtl x\n", "a.obj");
    load_text(loader, dir, "v 1 1 1\n", "b.obj");
    EXPECT_EQ(loader.positions, (floats{1, 1, 1, 1}));
    EXPECT_TRUE(loader.texcoords.empty());
    EXPECT_EQ(loader.flags(), kMeshHasTexcoords | kMeshHasMaterials);
}

// ---- faces that cannot be assembled are refused ----

// A file that the loader must refuse, and the reason its error line gives.
struct cRefusal {
    const char* text;
    const char* message;
};

template <size_t N>
void expect_refused(const cRefusal (&cases)[N]) {
    for (const cRefusal& c : cases) {
        cTempDir dir;
        cObjLoader loader;
        std::string err = load_text(loader, dir, c.text);
        EXPECT_EQ(err, parse_frame(dir / "mesh.obj") + "## ERROR in \"" + (dir / "mesh.obj") + "\" " + c.message +
                           "; the file is not loaded\n");
        EXPECT_TRUE(loader.refused()) << c.text;
    }
}

TEST(ObjRefusal, indices_outside_their_arrays_are_reported_with_the_line_and_refused) {
    const cRefusal cases[] = {
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n", "line 4: position 9 does not exist (the file has 3)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", "line 4: position 0 does not exist (the file has 3)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99999999999999\n",
         "line 4: position 2147483648 does not exist (the file has 3)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n\nf 1/1 2/1 3/2\n",
         "line 6: texture coordinate 2 does not exist (the file has 1)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\nf 1//1 2//4 3//1\n",
         "line 6: normal 4 does not exist (the file has 1)"},
        {"f 1 2 3\n", "line 1: position 1 does not exist (the file has 0)"},
    };
    expect_refused(cases);
}

TEST(ObjRefusal, faces_missing_texcoords_or_normals_that_the_flags_ask_for_are_refused) {
    const cRefusal cases[] = {
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/1 2 3/1\n", "line 5: the face has 3 positions but 2 texture coordinates"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1//1 2//1 3//1\n", "line 5: the face has 3 positions but 0 texture coordinates"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2/1 3//1\n", "line 5: the face has 3 positions but 2 normals"},
        // The flags count when the face is read: normals given after the face leave it without.
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1//1 2//1 3//1\nvn 0 0 1\n", "line 4: the face has 3 positions but 0 normals"},
        // A corner without a position would pair the others with the wrong attributes.
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/1 2/1 x/1 3/1\n", "line 5: the face has 3 positions but 4 texture coordinates"},
    };
    expect_refused(cases);
}

TEST(ObjRefusal, a_refused_loader_assembles_nothing) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3 5\n");
    ASSERT_TRUE(loader.refused());
    uint8_t flags = 0;
    floats positions{9}, normals{9}, texcoords;
    std::vector<uint32_t> indices{9};
    std::vector<cGroupRange> ranges{{1, 1}};
    std::string err = stderr_of([&] {
        loader.triangulate();
        loader.build_arrays(flags, positions, normals, texcoords, indices, ranges);
    });
    EXPECT_EQ(err, "");
    EXPECT_TRUE(positions.empty() && normals.empty() && indices.empty() && ranges.empty());
}

// ---- fatal conditions ----

TEST(ObjFatal, empty_path_and_unreadable_file_end_the_process_with_minus_one) {
    cExitRecorder exits;
    cTempDir dir;
    {
        cObjLoader loader;
        std::string err = stderr_of([&] { loader.load_file(""); });
        EXPECT_EQ(err, "## ERROR in ../../src/mesh_files/obj/cObjLoader line 63: file was not found in path: \n");
        EXPECT_EQ(cExitRecorder::calls(), 1);
        EXPECT_EQ(cExitRecorder::status(), -1);
        EXPECT_TRUE(loader.refused());
    }
    for (const std::string& path : {dir / "missing.obj", dir.path()}) {
        cObjLoader loader;
        std::string err = stderr_of([&] { loader.load_file(path); });
        EXPECT_EQ(err, "-\ncObjLoader::load_file parsing " + path + " ... File not found: \"" + path +
                           " in cObjLoader::load_file(..)\n");
        EXPECT_EQ(cExitRecorder::status(), -1);
        EXPECT_TRUE(loader.refused());
    }
    EXPECT_EQ(cExitRecorder::calls(), 3);
}

TEST(ObjFatalDeathTest, unreadable_file_ends_the_process_with_status_255_by_default) {
    cTempDir dir;
    std::string path = dir / "missing.obj";
    EXPECT_EXIT(
        {
            cObjLoader loader;
            loader.load_file(path);
        },
        ::testing::ExitedWithCode(255), "File not found");
}

// ---- broken files on purpose ----

TEST(ObjBrokenFiles, binary_garbage_is_read_without_harm) {
    std::mt19937 random(1234);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(20000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        // Sprinkle statement starts so that the parser's paths are taken on garbage values.
        const char* starts[] = {"\nf ", "\nv ", "\nvt ", "\nvn ", "\ng ", "\nf 1/", "\nf 1//"};
        for (int i = 0; i < 400; ++i) {
            const char* s = starts[random() % 7];
            bytes.replace(random() % (bytes.size() - 8), std::strlen(s), s);
        }
        cExitRecorder exits;
        cTempDir dir;
        cObjLoader loader;
        std::string err = load_text(loader, dir, bytes);
        EXPECT_NE(err.find("done reading obj."), std::string::npos);
        uint8_t flags = 0;
        floats positions, normals, texcoords;
        std::vector<uint32_t> indices;
        std::vector<cGroupRange> ranges;
        stderr_of([&] {
            loader.triangulate();
            loader.build_arrays(flags, positions, normals, texcoords, indices, ranges);
        });
        for (uint32_t index : indices) ASSERT_LT(index, positions.size() / 3);
    }
}

TEST(ObjBrokenFiles, a_million_comment_lines_and_a_ten_thousand_corner_polygon) {
    cTempDir dir;
    {
        std::string text;
        text.reserve(12'000'000);
        for (int i = 0; i < 1'000'000; ++i) text += "# comment\n";
        text += "v 1 2 3\n";
        cObjLoader loader;
        std::string err = load_text(loader, dir, text);
        EXPECT_EQ(err, parse_frame(dir / "mesh.obj"));
        EXPECT_EQ(loader.positions, (floats{1, 2, 3, 1}));
    }
    {
        constexpr int kCorners = 10'000;
        std::string text;
        for (int i = 0; i < kCorners; ++i) {
            double angle = 2 * M_PI * i / kCorners;
            text += "v " + std::to_string(std::cos(angle)) + " " + std::to_string(std::sin(angle)) + " 0\n";
        }
        text += "f";
        for (int i = 1; i <= kCorners; ++i) text += " " + std::to_string(i);
        text += "\n";
        cObjLoader loader;
        load_text(loader, dir, text);
        stderr_of([&] { loader.triangulate(); });
        ASSERT_EQ(loader.faces.size(), std::size_t(kCorners - 2));
        EXPECT_EQ(loader.position_indices(0), (ints{0, 1, 2}));
        EXPECT_EQ(loader.position_indices(1), (ints{0, kCorners - 2, kCorners - 1}));
        EXPECT_EQ(loader.position_indices(kCorners - 3), (ints{0, 2, 3}));
        uint8_t flags = 0;
        floats positions, normals, texcoords;
        std::vector<uint32_t> indices;
        std::vector<cGroupRange> ranges;
        stderr_of([&] { loader.build_arrays(flags, positions, normals, texcoords, indices, ranges); });
        EXPECT_EQ(positions.size(), std::size_t(3 * kCorners));
        EXPECT_EQ(indices.size(), std::size_t(3 * (kCorners - 2)));
        // A flat polygon in the xy plane, wound counter-clockwise: every normal is +z.
        for (std::size_t i = 0; i < normals.size(); i += 3) ASSERT_NEAR(normals[i + 2], 1.0f, 1e-5) << i;
    }
}
