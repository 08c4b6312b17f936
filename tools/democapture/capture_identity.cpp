// The show's digest (SHA-256 over its files, in the order of their paths) and this program's
// build id, read from its note in memory through dl_iterate_phdr.
#include "tools/democapture/capture_identity.h"

#include <elf.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/files/file_read.h"
#include "base/files/sha256.h"
#include "tools/democapture/capture_config.h"

namespace fs = std::filesystem;

namespace {

std::string hex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Adds the file's name (as given), its length and its bytes. False when it cannot be read.
bool add_file(cSha256& sha, const std::string& name, const fs::path& file) {
    std::string bytes;
    if (!read_whole_file(file.string(), bytes, cReadOptions{}).ok()) return false;
    const uint64_t size = bytes.size();
    sha.update(name.c_str(), name.size() + 1);
    sha.update(&size, sizeof size);
    sha.update(bytes.data(), bytes.size());
    return true;
}

bool hidden(const fs::path& relative) {
    for (const auto& part : relative) {
        if (!part.empty() && part.string()[0] == '.') return true;
    }
    return false;
}

// The build id in the notes of the first object, which is the program itself.
int read_build_id(dl_phdr_info* info, size_t, void* data) {
    auto* id = static_cast<std::string*>(data);
    for (int i = 0; i < info->dlpi_phnum && id->empty(); ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_NOTE) continue;
        const char* at = reinterpret_cast<const char*>(info->dlpi_addr + header.p_vaddr);
        const char* end = at + header.p_memsz;
        while (at + sizeof(ElfW(Nhdr)) <= end) {
            const auto* note = reinterpret_cast<const ElfW(Nhdr)*>(at);
            const char* name = at + sizeof(ElfW(Nhdr));
            const char* desc = name + ((note->n_namesz + 3) & ~3u);
            if (desc + note->n_descsz > end) break;
            if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
                *id = hex(reinterpret_cast<const uint8_t*>(desc), note->n_descsz);
                break;
            }
            at = desc + ((note->n_descsz + 3) & ~3u);
        }
    }
    return 1;
}

}  // namespace

bool show_identity(const std::string& show_dir, std::string& identity, std::string& error) {
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code ec;
    const fs::path data = fs::path(show_dir) / capture_config::show_data_directory;
    for (fs::recursive_directory_iterator it(data, fs::directory_options::follow_directory_symlink, ec), end;
         !ec && it != end; it.increment(ec)) {
        const fs::path relative = it->path().lexically_relative(data);
        if (hidden(relative)) {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(ec)) files.emplace_back("data/" + relative.generic_string(), it->path());
    }
    if (ec) {
        error = "cannot read the show's files in \"" + data.string() + "\": " + ec.message();
        return false;
    }
    for (const auto& entry : fs::directory_iterator(fs::path(show_dir) / "bin", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("render", 0) == 0 && entry.path().extension() == ".so") files.emplace_back("bin/" + name, entry.path());
    }
    std::sort(files.begin(), files.end());
    cSha256 sha;
    for (const auto& [name, path] : files) {
        if (!add_file(sha, name, path)) {
            error = "cannot read the show's file \"" + path.string() + "\"";
            return false;
        }
    }
    const auto digest = sha.finish();
    identity = hex(digest.data(), capture_config::show_identity_bytes);
    return true;
}

std::string build_identity() {
    std::string id;
    dl_iterate_phdr(read_build_id, &id);
    if (!id.empty()) return id;
    cSha256 sha;
    add_file(sha, "", "/proc/self/exe");
    const auto digest = sha.finish();
    return hex(digest.data(), digest.size());
}
