// The shader manager on a real context: the uniform tables and sampler units reflection builds,
// texture binding and its mismatch report, the strict lookups of the setters, the exact
// compile and link reports, and the fallback to "default_shader"; and every row of the
// sampler table with the names the mismatch report prints.
#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "gfx/gl_stage.h"
#include "gfx/shaders/uniform_types.h"
#include "support/capture_stream.h"

namespace {

constexpr const char* passthrough_vert =
    "#version 120\nattribute vec4 position;\nattribute vec2 uv;\nvarying vec2 t;\n"
    "void main() { t = uv; gl_Position = position; }\n";

// Samplers around a vector: units count samplers only.
constexpr const char* units_frag =
    "#version 120\nuniform sampler2D tex_over;\nuniform vec4 time;\nuniform sampler2D tex_under;\n"
    "varying vec2 t;\n"
    "void main() { gl_FragColor = texture2D(tex_over, t) * time + texture2D(tex_under, t); }\n";

// One uniform of every type the tables know.
constexpr const char* tables_frag =
    "#version 120\n#extension GL_ARB_texture_rectangle : enable\n"
    "uniform float f; uniform vec2 v2; uniform vec3 v3; uniform vec4 v4;\n"
    "uniform mat2 m2; uniform mat3 m3; uniform mat4 m4; uniform mat3x4 m34;\n"
    "uniform sampler1D s1; uniform sampler3D s3; uniform samplerCube sc; uniform sampler2DRect sr;\n"
    "varying vec2 t;\n"
    "void main() {\n"
    "  gl_FragColor = vec4(f) + vec4(v2, 0.0, 0.0) + vec4(v3, 0.0) + v4 + vec4(m2[0], 0.0, 0.0)\n"
    "    + vec4(m3[0], 0.0) + m4[0] + m34[0] + texture1D(s1, t.x) + texture3D(s3, vec3(t, 0.0))\n"
    "    + textureCube(sc, vec3(t, 1.0)) + texture2DRect(sr, t);\n"
    "}\n";

constexpr const char* integer_frag =
    "#version 120\nuniform vec4 before;\nuniform int count;\nuniform vec4 after;\n"
    "void main() { gl_FragColor = before * float(count) + after; }\n";

class Shaders : public GfxTest {
protected:
    void SetUp() override {
        GfxTest::SetUp();
        const cTempDir& d = cGLStage::dir();
        d.write("pass.vert", passthrough_vert);
        d.write("units.frag", units_frag);
        d.write("tables.frag", tables_frag);
        d.write("integer.frag", integer_frag);
    }
    const cShaderProgram& program(const std::string& name) {
        const cShaderProgram* p = ctx->shaders().find(name);
        if (!p) throw std::runtime_error(name + " is not registered");
        return *p;
    }
};

std::string what_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST_F(Shaders, reflection_sorts_every_uniform_type_into_its_table) {
    cCaptureStream out(STDOUT_FILENO);
    ctx->load_shader("tables", "pass.vert", "tables.frag");
    EXPECT_EQ(out.stop(), "# note: compiled pass.vert tables.frag\n");

    const cShaderProgram& p = program("tables");
    EXPECT_NE(p.program, 0u);
    const std::map<std::string, GLenum> vectors = {{"f", GL_FLOAT}, {"v2", GL_FLOAT_VEC2}, {"v3", GL_FLOAT_VEC3},
                                                   {"v4", GL_FLOAT_VEC4}};
    const std::map<std::string, GLenum> matrices = {{"m2", GL_FLOAT_MAT2}, {"m3", GL_FLOAT_MAT3},
                                                    {"m4", GL_FLOAT_MAT4}, {"m34", GL_FLOAT_MAT3x4}};
    const std::map<std::string, GLenum> samplers = {{"s1", GL_SAMPLER_1D}, {"s3", GL_SAMPLER_3D},
                                                    {"sc", GL_SAMPLER_CUBE}, {"sr", GL_SAMPLER_2D_RECT}};
    ASSERT_EQ(p.vectors.size(), vectors.size());
    ASSERT_EQ(p.matrices.size(), matrices.size());
    ASSERT_EQ(p.samplers.size(), samplers.size());
    for (const auto& [name, type] : vectors) {
        EXPECT_EQ(p.vectors.at(name).type, type) << name;
        EXPECT_EQ(p.vectors.at(name).location, glGetUniformLocation(p.program, name.c_str())) << name;
    }
    for (const auto& [name, type] : matrices) EXPECT_EQ(p.matrices.at(name).type, type) << name;
    std::set<int32_t> units;
    for (const auto& [name, type] : samplers) {
        EXPECT_EQ(p.samplers.at(name).type, type) << name;
        units.insert(p.samplers.at(name).unit);
    }
    EXPECT_EQ(units, (std::set<int32_t>{0, 1, 2, 3})) << "one unit per sampler";
}

// The documented sampler table, numbers and names as written there.
TEST(UniformTypes, every_sampler_reads_its_documented_target_under_its_documented_names) {
    struct cRow {
        uint32_t sampler, target;
        const char *sampler_name, *target_name;
    };
    const cRow rows[] = {{0x8B5D, 0x0DE0, "GL_SAMPLER_1D", "GL_TEXTURE_1D"},
                         {0x8B5E, 0x0DE1, "GL_SAMPLER_2D", "GL_TEXTURE_2D"},
                         {0x8B5F, 0x806F, "GL_SAMPLER_3D", "GL_TEXTURE_3D"},
                         {0x8B60, 0x8513, "GL_SAMPLER_CUBE", "GL_TEXTURE_CUBE_MAP"},
                         {0x8B63, 0x84F5, "GL_SAMPLER_2D_RECT", "GL_TEXTURE_RECTANGLE"}};
    for (const cRow& row : rows) {
        EXPECT_EQ(table_of_uniform_type(row.sampler), uniform_table::sampler) << row.sampler_name;
        EXPECT_EQ(texture_target_of_sampler(row.sampler), row.target) << row.sampler_name;
        EXPECT_STREQ(sampler_type_name(row.sampler), row.sampler_name);
        EXPECT_STREQ(texture_target_name(row.target), row.target_name);
    }
    // Types of no table: int, a 2 x 3 matrix, a shadow sampler, nothing.
    for (uint32_t other : {0x1404u, 0x8B65u, 0x8B62u, 0u}) {
        EXPECT_EQ(table_of_uniform_type(other), uniform_table::none) << other;
        EXPECT_EQ(texture_target_of_sampler(other), 0u) << other;
        EXPECT_STREQ(sampler_type_name(other), "unknown target") << other;
    }
    EXPECT_STREQ(texture_target_name(0x8B5E), "unknown target") << "a sampler type is no target";
    EXPECT_STREQ(texture_target_name(0), "unknown target");
}

TEST_F(Shaders, sampler_units_follow_the_order_of_reflection_counting_samplers_only) {
    ctx->load_shader("units", "pass.vert", "units.frag");
    const cShaderProgram& p = program("units");
    ASSERT_EQ(p.samplers.size(), 2u);
    ASSERT_EQ(p.vectors.count("time"), 1u);

    // The driver decides the order of active uniforms; the units must follow it.
    int32_t next_unit = 0;
    GLint count = 0;
    glGetProgramiv(p.program, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[64] = {};
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(p.program, i, sizeof name, nullptr, &size, &type, name);
        if (type == GL_SAMPLER_2D) {
            EXPECT_EQ(p.samplers.at(name).unit, next_unit++) << name;
        }
    }
    EXPECT_EQ(next_unit, 2);
}

TEST_F(Shaders, set_texture_binds_to_the_sampler_unit_and_returns_to_unit_zero) {
    ctx->load_shader("tables", "pass.vert", "tables.frag");
    cRenderTargetLease lease = ctx->acquire_render_target(64, 32);
    const cTexture* rect = lease.target->texture();
    const cSamplerUniform& sr = program("tables").samplers.at("sr");

    ctx->use_shader("tables");
    ctx->set_texture("tables", "sr", rect);
    EXPECT_EQ(gl_int(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
    glActiveTextureARB(GL_TEXTURE0 + sr.unit);
    EXPECT_EQ(gl_int(GL_TEXTURE_BINDING_RECTANGLE), static_cast<GLint>(rect->name));
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    glActiveTextureARB(GL_TEXTURE0);
    GLint unit = -1;
    glGetUniformiv(program("tables").program, sr.location, &unit);
    EXPECT_EQ(unit, sr.unit);
}

TEST_F(Shaders, a_texture_of_another_target_is_reported_in_four_lines_and_not_bound) {
    ctx->load_shader("units", "pass.vert", "units.frag");
    cRenderTargetLease lease = ctx->acquire_render_target(64, 32);
    ctx->use_shader("units");
    cGLRecorder gl;
    cCaptureStream err(STDERR_FILENO);
    ctx->set_texture("units", "tex_over", lease.target->texture());
    EXPECT_EQ(err.stop(),
              "# ERROR: texture-target mismatch in units\n"
              "#        parm:      tex_over\n"
              "#        sampler:   GL_SAMPLER_2D\n"
              "#        textarget: GL_TEXTURE_RECTANGLE\n");
    EXPECT_EQ(gl.count("glBindTexture"), 0u);
    EXPECT_EQ(gl.count("glUniform1i"), 0u);
    EXPECT_EQ(gl.count("glActiveTextureARB"), 0u);
}

TEST_F(Shaders, unknown_program_or_uniform_names_throw_the_out_of_range_error) {
    ctx->load_shader("tables", "pass.vert", "tables.frag");
    const float values[16] = {};
    const std::string expected = "invalid unordered_map<K, T> key";
    EXPECT_EQ(what_of([&] { ctx->set_vector("never_loaded", "v4", values); }), expected);
    EXPECT_EQ(what_of([&] { ctx->set_vector("tables", "m4", values); }), expected) << "a matrix is no vector";
    EXPECT_EQ(what_of([&] { ctx->set_matrix("tables", "v4", values); }), expected) << "a vector is no matrix";
    EXPECT_EQ(what_of([&] { ctx->set_matrix("never_loaded", "m4", values); }), expected);
    EXPECT_EQ(what_of([&] { ctx->set_texture("tables", "no_such_sampler", nullptr); }), expected);
    EXPECT_EQ(what_of([&] { ctx->set_texture("never_loaded", "sr", nullptr); }), expected);
}

TEST_F(Shaders, setters_write_the_current_programs_uniforms) {
    ctx->load_shader("tables", "pass.vert", "tables.frag");
    const cShaderProgram& p = program("tables");
    ctx->use_shader("tables");
    const float v[4] = {1.5f, -2.0f, 3.25f, 4.0f};
    float m[16];
    for (int i = 0; i < 16; ++i) m[i] = static_cast<float>(i) * 0.5f;
    ctx->set_vector("tables", "v4", v);
    ctx->set_matrix("tables", "m4", m);

    float back[16] = {};
    glGetUniformfv(p.program, p.vectors.at("v4").location, back);
    EXPECT_EQ(std::vector<float>(back, back + 4), std::vector<float>(v, v + 4));
    glGetUniformfv(p.program, p.matrices.at("m4").location, back);
    EXPECT_EQ(std::vector<float>(back, back + 16), std::vector<float>(m, m + 16)) << "column by column, untransposed";
}

TEST_F(Shaders, an_unknown_name_makes_the_default_program_current) {
    ctx->load_shader("units", "pass.vert", "units.frag");
    ctx->use_shader("units");
    EXPECT_EQ(gl_int(GL_CURRENT_PROGRAM), static_cast<GLint>(program("units").program));
    ctx->use_shader("never_loaded");
    EXPECT_EQ(gl_int(GL_CURRENT_PROGRAM), static_cast<GLint>(program("default_shader").program));
}

TEST_F(Shaders, without_a_default_program_an_unknown_name_leaves_the_current_one_and_says_so_once) {
    ctx->load_shader("units", "pass.vert", "units.frag");
    ctx->use_shader("units");
    cShaderManager bare;
    cCaptureStream err(STDERR_FILENO);
    bare.use_shader("never_loaded");
    bare.use_shader("never_loaded");
    const std::string text = err.stop();
    EXPECT_EQ(text.rfind("## ERROR: ", 0), 0u) << text;
    EXPECT_NE(text.find("\"default_shader\""), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(gl_int(GL_CURRENT_PROGRAM), static_cast<GLint>(program("units").program));
}

TEST_F(Shaders, a_name_that_exists_is_not_loaded_again) {
    ctx->load_shader("units", "pass.vert", "units.frag");
    cGLRecorder gl;
    cCaptureStream out(STDOUT_FILENO);
    ctx->load_shader("units", "missing.vert", "missing.frag");
    EXPECT_EQ(out.stop(), "");
    EXPECT_EQ(gl.count("glShaderSource"), 0u);
    EXPECT_TRUE(ctx->has_shader("units"));
}

TEST_F(Shaders, a_missing_file_registers_nothing_quietly_and_a_later_load_tries_again) {
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    ctx->load_shader("late", "pass.vert", "late.frag");
    EXPECT_EQ(out.stop(), "");
    EXPECT_EQ(err.stop(), "");
    EXPECT_FALSE(ctx->has_shader("late"));

    cGLStage::dir().write("late.frag", units_frag);
    ctx->load_shader("late", "pass.vert", "late.frag");
    EXPECT_TRUE(ctx->has_shader("late"));
}

TEST_F(Shaders, compile_errors_of_both_files_are_reported_with_their_logs) {
    cGLStage::dir().write("bad.vert", "this is not a shader\n");
    cGLStage::dir().write("bad.frag", "#version 120\nvoid main() { undeclared = 1.0; }\n");
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    ctx->load_shader("bad", "bad.vert", "bad.frag");
    const std::string o = out.stop(), e = err.stop();
    EXPECT_EQ(e, "## ERROR: compilation of bad.vert failed\n## ERROR: compilation of bad.frag failed\n");
    EXPECT_EQ(o.rfind("# GL_VERTEX_SHADER_ARB\n## InfoLog:", 0), 0u) << o;
    EXPECT_NE(o.find("\n# GL_FRAGMENT_SHADER_ARB\n## InfoLog:"), std::string::npos) << o;
    EXPECT_EQ(o.find("linking"), std::string::npos) << "no link after a failed compile";
    EXPECT_FALSE(ctx->has_shader("bad"));
}

TEST_F(Shaders, a_link_failure_names_both_paths_on_their_own_line) {
    // Compiles on its own, but the function it calls is defined nowhere.
    cGLStage::dir().write("unlinked.vert",
                          "#version 120\nvec4 nowhere();\nvoid main() { gl_Position = nowhere(); }\n");
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    ctx->load_shader("unlinked", "unlinked.vert", "units.frag");
    const std::string o = out.stop();
    EXPECT_EQ(o.rfind("## ERROR: linking of \n\tunlinked.vert\t\tunits.frag\nfailed\nLinking## InfoLog:", 0), 0u)
        << o;
    EXPECT_EQ(o.find("# note: compiled"), std::string::npos);
    EXPECT_EQ(err.stop(), "");
    EXPECT_FALSE(ctx->has_shader("unlinked"));
}

TEST_F(Shaders, empty_and_binary_shader_files_fail_without_registering) {
    cGLStage::dir().write("empty.frag", "");
    cGLStage::dir().write("binary.frag", std::string("\x7f" "ELF\0\0\x01\xff\xfe garbage\0\x02", 19));
    {
        cCaptureStream err(STDERR_FILENO);
        ctx->load_shader("empty", "pass.vert", "empty.frag");
        EXPECT_EQ(err.stop(), "read empty file...\n") << "only the file reader speaks";
    }
    {
        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        ctx->load_shader("binary", "pass.vert", "binary.frag");
        EXPECT_EQ(err.stop(), "## ERROR: compilation of binary.frag failed\n");
    }
    EXPECT_FALSE(ctx->has_shader("empty"));
    EXPECT_FALSE(ctx->has_shader("binary"));
}

TEST_F(Shaders, an_integer_uniform_asserts_and_reflection_goes_on) {
    cCaptureStream err(STDERR_FILENO);
    ctx->load_shader("integer", "pass.vert", "integer.frag");
    EXPECT_EQ(err.stop(), "## ASSERT FAILED: unknown uniform-type\n");
    const cShaderProgram& p = program("integer");
    EXPECT_EQ(p.vectors.size(), 2u) << "the vectors on both sides of the int are kept";
    EXPECT_EQ(p.vectors.count("before") + p.vectors.count("after"), 2u);
    EXPECT_TRUE(p.matrices.empty());
    EXPECT_TRUE(p.samplers.empty());
}

}  // namespace
