// dlopen/dlsym implementation of the dynamic loader service.
#include "host/modules/dynamic_library.h"

#include <dlfcn.h>

void* load_library(const std::string& path, std::string& error_text) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    error_text.clear();
    if (!library) {
        // dlerror's text is only valid until the next loader call: take it at once.
        const char* message = ::dlerror();
        if (message && *message) error_text = std::string(message) + "\n";
    }
    return library;
}

void* library_export(void* library, const char* name) {
    if (!library) return nullptr;
    return ::dlsym(library, name);
}
