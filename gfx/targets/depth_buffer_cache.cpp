// The shared depth renderbuffers, counted by their users. Depends on the GL entry-point table
// and the depth-texture map (which frees a deleted renderbuffer's depth texture).
#include "gfx/targets/depth_buffer_cache.h"

#include <map>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/targets/depth_texture.h"
#include "gfx/targets/targets_config.h"

namespace {

struct cCachedDepthBuffer {
    GLuint name = 0;
    int32_t users = 0;
};

// Process-wide, unguarded: everything graphical runs on the main thread. Entries are dropped
// at exit without deleting their renderbuffers (the GL context goes with the process).
std::map<int64_t, cCachedDepthBuffer>& cache() {
    static std::map<int64_t, cCachedDepthBuffer> entries;
    return entries;
}

}  // namespace

namespace depth_buffers {

uint32_t depth_format() {
    if (targets_config::packed_depth_stencil) return GL_DEPTH24_STENCIL8;
    return targets_config::depth_16_bit ? GL_DEPTH_COMPONENT16 : GL_DEPTH_COMPONENT24;
}

uint32_t acquire(int32_t width, int32_t height) {
    cCachedDepthBuffer& entry = cache()[targets_config::size_key(width, height)];
    if (entry.name == 0) {
        glGenRenderbuffers(1, &entry.name);
        glBindRenderbuffer(GL_RENDERBUFFER, entry.name);
        glRenderbufferStorage(GL_RENDERBUFFER, depth_format(), width, height);
    }
    ++entry.users;
    return entry.name;
}

void release(uint32_t renderbuffer) {
    if (renderbuffer == 0) return;
    for (auto it = cache().begin(); it != cache().end(); ++it) {
        if (it->second.name != renderbuffer) continue;
        if (--it->second.users > 0) return;
        forget_depth_texture(renderbuffer);
        glDeleteRenderbuffers(1, &renderbuffer);
        cache().erase(it);
        return;
    }
}

size_t cached_count() { return cache().size(); }

}  // namespace depth_buffers
