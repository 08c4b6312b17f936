// The platform's dynamic loader, reduced to what module hosting needs: load a library,
// resolve an export by name, and unload one. This is the one file to replace for another
// platform. The show never unloads a module; only the development mode's hot reload does.
#pragma once
#include <string>

// The library's handle, or null with the loader's message (ending with a line break) in
// error_text. Symbols are bound at once and stay local to the library.
void* load_library(const std::string& path, std::string& error_text);

// The address of an exported symbol, or null.
void* library_export(void* library, const char* name);

// Gives the library back to the loader. Nothing of it may be used afterwards.
void unload_library(void* library);

// False, with the reason, when the file is a library of this platform's format whose own
// headers say it is longer than it is: one caught half-written, which the loader might still
// map and run until it reaches the missing part. Files of any other kind are left to the loader.
bool library_file_whole(const std::string& path, std::string& reason);
