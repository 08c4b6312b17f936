// The process-wide depth-buffer cache: one depth renderbuffer per target size, shared by every
// depth-carrying render target of that size. Depends on the GL entry-point table; must never
// delete a renderbuffer that a live target still has attached.
#pragma once
#include <cstddef>
#include <cstdint>

namespace depth_buffers {

// The depth format of every cached renderbuffer.
uint32_t depth_format();

// The renderbuffer of this size, allocated (and left bound to GL_RENDERBUFFER) on the first
// request; each call counts one more user.
uint32_t acquire(int32_t width, int32_t height);

// One user fewer. The last user deletes the renderbuffer and drops it from the cache, so a
// later target of that size gets a fresh one instead of a deleted name. 0 is ignored.
void release(uint32_t renderbuffer);

// Sizes currently cached.
size_t cached_count();

}  // namespace depth_buffers
