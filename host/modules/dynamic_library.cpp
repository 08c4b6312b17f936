// dlopen/dlsym implementation of the dynamic loader service, and the ELF length check.
#include "host/modules/dynamic_library.h"

#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/files/file_read.h"

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

void unload_library(void* library) {
    if (library) ::dlclose(library);
}

namespace {

// The end of the furthest part of the file that the headers of an ELF image of class Ehdr
// name: the program segments and the section header table.
template <typename Ehdr, typename Phdr>
bool elf_end(const std::string& bytes, uint64_t& end) {
    if (bytes.size() < sizeof(Ehdr)) return false;
    Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    end = static_cast<uint64_t>(header.e_shoff) + uint64_t{header.e_shnum} * header.e_shentsize;
    for (uint64_t i = 0; i < header.e_phnum; ++i) {
        const uint64_t at = static_cast<uint64_t>(header.e_phoff) + i * header.e_phentsize;
        if (header.e_phentsize < sizeof(Phdr) || at + sizeof(Phdr) > bytes.size()) {
            end = std::max<uint64_t>(end, at + sizeof(Phdr));
            break;
        }
        Phdr segment;
        std::memcpy(&segment, bytes.data() + at, sizeof segment);
        end = std::max<uint64_t>(end, static_cast<uint64_t>(segment.p_offset) + segment.p_filesz);
    }
    return true;
}

}  // namespace

bool library_file_whole(const std::string& path, std::string& reason) {
    std::string bytes;
    if (!read_whole_file(path, bytes, cReadOptions{}).ok()) return true;  // the loader says why it cannot open it
    if (bytes.size() < EI_NIDENT || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0) return true;
    uint64_t end = 0;
    const bool known = bytes[EI_CLASS] == ELFCLASS64 ? elf_end<Elf64_Ehdr, Elf64_Phdr>(bytes, end)
                       : bytes[EI_CLASS] == ELFCLASS32 ? elf_end<Elf32_Ehdr, Elf32_Phdr>(bytes, end)
                                                         : false;
    if (!known || end <= bytes.size()) return true;
    reason = "the file ends after " + std::to_string(bytes.size()) + " of its " + std::to_string(end) + " bytes";
    return false;
}
