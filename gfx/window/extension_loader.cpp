// Fills the GL entry-point table: the base functions quietly when the context opens, then the
// eleven extension groups in their fixed order with their checks and messages. Depends on the
// table (gfx/gl), the resolver and has_extension. Only the first two groups may end the process.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <span>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/letterbox_gl.h"
#include "gfx/window/window.h"
#include "gfx/window/window_config.h"

namespace {

// ---- the table, group by group ----
#define DEMO_TABLE_ENTRY(name) cGLEntry{#name, reinterpret_cast<void**>(&demo_##name)},
const cGLEntry base_functions[] = {DEMO_GL_BASE(DEMO_TABLE_ENTRY)};
const cGLEntry buffer_objects[] = {DEMO_GL_BUFFER_OBJECTS(DEMO_TABLE_ENTRY)};
const cGLEntry multitexture[] = {DEMO_GL_MULTITEXTURE(DEMO_TABLE_ENTRY)};
const cGLEntry textures_3d[] = {DEMO_GL_TEXTURES_3D(DEMO_TABLE_ENTRY)};
const cGLEntry texture_compression[] = {DEMO_GL_TEXTURE_COMPRESSION(DEMO_TABLE_ENTRY)};
const cGLEntry blending[] = {DEMO_GL_BLENDING(DEMO_TABLE_ENTRY)};
const cGLEntry shaders[] = {DEMO_GL_SHADERS(DEMO_TABLE_ENTRY)};
const cGLEntry framebuffer_objects[] = {DEMO_GL_FRAMEBUFFER_OBJECTS(DEMO_TABLE_ENTRY)};
const cGLEntry miscellaneous[] = {DEMO_GL_MISCELLANEOUS(DEMO_TABLE_ENTRY)};
const cGLEntry sync_objects[] = {DEMO_GL_SYNC_OBJECTS(DEMO_TABLE_ENTRY)};
const cGLEntry stencil_two_side[] = {DEMO_GL_STENCIL_TWO_SIDE(DEMO_TABLE_ENTRY)};
const cGLEntry queries[] = {DEMO_GL_QUERIES(DEMO_TABLE_ENTRY)};
#undef DEMO_TABLE_ENTRY

static_assert(std::size(shaders) == 88, "the shading interface has 88 entry points");
// The queries group reports occlusion queries (the first eight) and timer queries (the last
// three) separately.
constexpr size_t kOcclusionQueryCount = 8;
static_assert(std::size(queries) == kOcclusionQueryCount + 3);

// Fetched without a message when missing: drivers commonly lack the ARB-suffixed names.
bool is_quiet(const char* name) {
    return std::strcmp(name, "glPointParameterfARB") == 0 || std::strcmp(name, "glPointParameterfvARB") == 0;
}

// Fetches every entry by name; returns true when all were found.
bool fetch(std::span<const cGLEntry> entries) {
    bool all_found = true;
    for (const cGLEntry& entry : entries) {
        void* address = resolve_gl_entry(entry.name);
        *entry.slot = address;
        if (address != nullptr) continue;
        all_found = false;
        if (!is_quiet(entry.name)) std::cerr << entry.name << window_config::kNotInitialized << std::endl;
    }
    return all_found;
}

struct cExtensionCheck {
    const char* extension;
    const char* message;
};

// Writes the message of every check whose extension is missing; true when all are present.
bool check(std::span<const cExtensionCheck> checks) {
    bool all_present = true;
    for (const cExtensionCheck& c : checks) {
        if (has_extension(c.extension)) continue;
        all_present = false;
        std::cerr << c.message << std::endl;
    }
    return all_present;
}

const cExtensionCheck texture_compression_checks[] = {
    {"GL_ARB_texture_compression", "# WARNING: GL_ARB_texture_compression not supported"},
};

const cExtensionCheck framebuffer_checks[] = {
    {"GL_ARB_framebuffer_object", "# WARNING: GL_ARB_framebuffer_object not supported"},
    {"GL_ARB_draw_buffers", "# WARNING: GL_ARB_draw_buffers not supported"},
};

const cExtensionCheck miscellaneous_checks[] = {
    {"GL_SGIS_texture_lod", "# WARNING: GL_SGIS_texture_lod not supported"},
    {"GL_SGIS_generate_mipmap", "# WARNING: GL_SGIS_generate_mipmap not supported"},
    {"GL_ARB_texture_env_add", "# WARNING: GL_ARB_texture_env_add not supported"},
    {"GL_EXT_texture_lod_bias", "# WARNING: EXT_texture_lod_bias not supported"},
    {"GL_ARB_texture_float", "# WARNING: GL_ARB_texture_float not supported"},
    {"GL_ARB_multisample", "# WARNING: GL_ARB_multisample not supported"},
    {"GL_ARB_texture_non_power_of_two", "# WARNING: GL_ARB_texture_non_power_of_two not supported!"},
    {"GL_ARB_pixel_buffer_object",
     "# WARNING: \tGL_ARB_pixel_buffer_object not supported! (go bug your hardware-vendor)"},
    {"GL_ARB_point_sprite", "# WARNING: \tGL_ARB_point_sprite not supported! (go bug your hardware-vendor)"},
};

// The two extensions without which the system cannot draw at all end the process.
void require(const char* extension, const char* message, int status) {
    if (has_extension(extension)) return;
    std::cerr << message << std::endl;
    std::exit(status);
}

}  // namespace

void load_base_functions() {
    fetch(base_functions);
}

void load_extensions() {
    // 1 buffer objects
    require("GL_ARB_vertex_buffer_object", "# WARNING: GL_ARB_vertex_buffer_object not supported",
            window_config::kExitNoBufferObjects);
    fetch(buffer_objects);
    // 2 multitexture
    require("GL_ARB_multitexture", "# WARNING: GL_ARB_multitexture not supported",
            window_config::kExitNoMultitexture);
    fetch(multitexture);
    // 3 3D textures
    fetch(textures_3d);
    // 4 texture compression
    check(texture_compression_checks);
    fetch(texture_compression);
    // 5 blending
    fetch(blending);
    // 6 shaders and vertex attributes
    fetch(shaders);
    // 7 framebuffer objects
    check(framebuffer_checks);
    fetch(framebuffer_objects);
    // 8 miscellaneous
    check(miscellaneous_checks);
    fetch(miscellaneous);
    // 9 sync objects
    if (!fetch(sync_objects)) std::cerr << "# WARNING: sync-objects not supported..." << std::endl;
    // 10 two-sided stencil
    if (!fetch(stencil_two_side)) std::cerr << "# WARNING: stencil functions not supported..." << std::endl;
    // 11 queries
    const std::span<const cGLEntry> all_queries(queries);
    if (!fetch(all_queries.first(kOcclusionQueryCount))) {
        std::cerr << "# WARNING: GL_ARB_occlusion_query not supported..." << std::endl;
    }
    if (!fetch(all_queries.subspan(kOcclusionQueryCount))) {
        std::cerr << "# WARNING: GL_ARB_timer_query not supported..." << std::endl;
    }
    // The loader has just put the driver's glBindFramebuffer into the table.
    letterbox_refresh_entries();
}
