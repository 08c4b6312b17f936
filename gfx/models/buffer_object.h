// cBufferObject: one GL buffer object and how it is bound (vertex attribute 0-2 or element
// array). Generates its GL name when constructed, so it is only made while a GL context is
// current; deletes the name in release or its destructor. Not copyable.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/gl/gl_entry_points.h"

class cBufferObject {
public:
    // Values of binding.
    static constexpr int32_t kUnbound = 0;
    static constexpr int32_t kElementArray = 4;  // 1 to 3: vertex attribute binding - 1

    explicit cBufferObject(int32_t component_count);
    ~cBufferObject();
    cBufferObject(const cBufferObject&) = delete;
    cBufferObject& operator=(const cBufferObject&) = delete;

    // Deletes the GL buffer when there is one; the name becomes 0.
    void release();
    // Stores bytes from data (null: storage only) with the buffer's usage, through target
    // (GL_ARRAY_BUFFER or GL_ELEMENT_ARRAY_BUFFER), and leaves target unbound.
    void fill(GLenum target, std::size_t bytes, const void* data);

    // Float components, not normalised, tightly packed from offset 0, on attribute k (0-2).
    void bind_attribute(int32_t k);
    void bind_element_array();
    // Undoes the last bind; the binding field keeps its value.
    void unbind();

    int32_t binding = kUnbound;
    int32_t component_count = 0;
    GLuint name = 0;
    GLenum usage = GL_STATIC_DRAW;
};
