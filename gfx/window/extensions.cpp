// Extension queries: whole-token search of the GL_EXTENSIONS string. Reads the string through
// the entry-point table (so tests can hand it a crafted one); never caches it.
#include <cstring>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"

bool has_extension_in(const char* extensions, const char* name) {
    if (extensions == nullptr || name == nullptr) return false;
    const size_t length = std::strlen(name);
    if (length == 0) return false;
    const char* token = extensions;
    while (*token != '\0') {
        const char* end = std::strchr(token, ' ');
        if (end == nullptr) end = token + std::strlen(token);
        if (static_cast<size_t>(end - token) == length && std::memcmp(token, name, length) == 0) return true;
        if (*end == '\0') break;
        token = end + 1;
    }
    return false;
}

bool has_extension(const char* name) {
    if (demo_glGetString == nullptr) return false;
    const GLubyte* extensions = glGetString(GL_EXTENSIONS);
    return has_extension_in(reinterpret_cast<const char*>(extensions), name);
}
