// The platform's dynamic loader, reduced to what module hosting needs: load a library,
// resolve an export by name. This is the one file to replace for another platform.
// Never unloads anything: modules stay loaded until the process ends.
#pragma once
#include <string>

// The library's handle, or null with the loader's message (ending with a line break) in
// error_text. Symbols are bound at once and stay local to the library.
void* load_library(const std::string& path, std::string& error_text);

// The address of an exported symbol, or null.
void* library_export(void* library, const char* name);
