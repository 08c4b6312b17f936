// The editor page's files, compiled into the program (generated from authoring/editor/page/ by
// embed_page.cmake). The only files the editor serves: a request path is looked up here and
// never used to open anything.
#pragma once
#include <cstddef>
#include <string_view>

struct cPageFile {
    const char* path;           // "/index.html"
    const char* content_type;   // "text/html; charset=utf-8"
    const unsigned char* bytes;
    std::size_t size;
};

// Every page file; count receives their number.
const cPageFile* page_files(std::size_t& count);
// The file served at path; null for any other path.
const cPageFile* find_page_file(std::string_view path);
