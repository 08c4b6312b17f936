// GL buffer objects of the models. Every GL call goes through the host's entry-point table;
// never binds anything it does not unbind again on request.
#include "gfx/models/buffer_object.h"

cBufferObject::cBufferObject(int32_t components) : component_count(components) { glGenBuffersARB(1, &name); }

cBufferObject::~cBufferObject() { release(); }

void cBufferObject::release() {
    if (name != 0) glDeleteBuffersARB(1, &name);
    name = 0;
}

void cBufferObject::fill(GLenum target, std::size_t bytes, const void* data) {
    glBindBufferARB(target, name);
    glBufferDataARB(target, static_cast<GLsizeiptrARB>(bytes), data, usage);
    glBindBufferARB(target, 0);
}

void cBufferObject::bind_attribute(int32_t k) {
    binding = k + 1;
    glBindBufferARB(GL_ARRAY_BUFFER, name);
    glVertexAttribPointer(static_cast<GLuint>(k), component_count, GL_FLOAT, GL_FALSE, 0, nullptr);
    glEnableVertexAttribArray(static_cast<GLuint>(k));
}

void cBufferObject::bind_element_array() {
    binding = kElementArray;
    glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER, name);
}

void cBufferObject::unbind() {
    if (binding >= 1 && binding <= 3) {
        glDisableVertexAttribArray(static_cast<GLuint>(binding - 1));
        glBindBufferARB(GL_ARRAY_BUFFER, 0);
    } else if (binding == kElementArray) {
        glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
}
