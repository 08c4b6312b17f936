// cObjLoader::load_file: reads an OBJ file whole and parses it statement by statement into the
// parsed data, then checks every face's indices against the arrays. Depends on the scanning
// helpers of obj_text_scan.h; never keeps a pointer into the text after returning.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <new>
#include <iostream>
#include <string>

#include "mesh_files/obj/mesh_config.h"
#include "mesh_files/obj/mesh_exit.h"
#include "mesh_files/obj/obj_loader.h"
#include "mesh_files/obj/obj_text_scan.h"

namespace {

// A token from the file as text the console can show: the bytes of printable ASCII as they
// are, a backslash doubled, every other byte (control bytes such as ESC above all) as \xHH.
void write_escaped(std::ostream& out, const char* token, std::size_t length) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(token[i]);
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7f) {
            text += static_cast<char>(byte);
        } else {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 15];
        }
    }
    out << text;
}

// The file's bytes: mapped where the system allows it (no copy, no fresh pages), read into
// memory otherwise (pipes, special files).
class cObjFileBytes {
public:
    ~cObjFileBytes() {
        if (mapped_) ::munmap(const_cast<char*>(data_), size_);
    }
    // False when the file cannot be opened or read (a directory cannot be read either).
    bool open(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat info {};
        bool ok = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
        if (ok && S_ISREG(info.st_mode) && info.st_size > 0) {
            void* map = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (map != MAP_FAILED) {
                data_ = static_cast<const char*>(map);
                size_ = static_cast<std::size_t>(info.st_size);
                mapped_ = true;
                ::close(fd);
                return true;
            }
        }
        if (ok) ok = read_all(fd);
        ::close(fd);
        return ok;
    }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    bool read_all(int fd) {
        char chunk[65536];
        for (;;) {
            ssize_t got = ::read(fd, chunk, sizeof(chunk));
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            copy_.append(chunk, static_cast<std::size_t>(got));
        }
        data_ = copy_.data();
        size_ = copy_.size();
        return true;
    }

    const char* data_ = "";
    std::size_t size_ = 0;
    bool mapped_ = false;
    std::string copy_;
};

bool is_keyword(const char* token, std::size_t length, const char* keyword) {
    return std::strlen(keyword) == length && std::memcmp(token, keyword, length) == 0;
}

}  // namespace

// ---- load_file ----

void cObjLoader::refuse_and_exit() {
    refused_ = true;
    positions.clear();
    normals.clear();
    texcoords.clear();
    faces.clear();
    corners.clear();
    mesh_exit(kMeshExitStatus);
}

void cObjLoader::load_file(const std::string& path) {
    refused_ = false;
    path_ = path;
    if (path.empty()) {
        std::cerr << "## ERROR in " << kObjSourceName << " line " << kObjSourceLine
                  << ": file was not found in path: " << path << std::endl;
        refuse_and_exit();
        return;
    }
    std::cerr << "-\ncObjLoader::load_file parsing " << path << " ... ";

    cObjFileBytes bytes;
    if (!bytes.open(path)) {
        std::cerr << "File not found: \"" << path << " in cObjLoader::load_file(..)" << std::endl;
        refuse_and_exit();
        return;
    }
    read_text(bytes.data(), bytes.size());
}

void cObjLoader::load_text(const std::string& name, const char* text, std::size_t size) {
    refused_ = false;
    path_ = name;
    std::cerr << "-\ncObjLoader::load_file parsing " << name << " ... ";
    read_text(text, size);
}

void cObjLoader::read_text(const char* text, std::size_t size) {
    positions.clear();
    normals.clear();
    texcoords.clear();
    faces.clear();
    corners.clear();
    // The parser wants every piece of text to end with a line feed. Everything up to the
    // last line feed is parsed where it lies; an unterminated last line is copied first.
    reserve_for(size);
    cObjParseState state;
    const char* last_feed = size > 0 ? static_cast<const char*>(::memrchr(text, '\n', size)) : nullptr;
    if (last_feed) parse(text, last_feed, state);
    const char* tail = last_feed ? last_feed + 1 : text;
    if (!refused_ && tail < text + size) {
        std::string rest(tail, text + size);
        rest += '\n';
        parse(rest.data(), rest.data() + rest.size() - 1, state);
    }

    tell_untold_warnings(state);
    std::cerr << "done reading obj.\n-" << std::endl;
    // The parser noted the largest index of each kind and whether any face's lists differ in
    // length; only when that shows a problem are the faces walked to find the first bad one.
    if (refused_) return;
    const uint64_t counts[3] = {positions.size() / 4, texcoords.size() / 2, normals.size() / 3};
    bool suspect = state.index_bound[0] > counts[0];
    if (flags_ & kMeshHasTexcoords) suspect = suspect || state.length_mismatch[1] || state.index_bound[1] > counts[1];
    if (flags_ & kMeshHasNormals) suspect = suspect || state.length_mismatch[2] || state.index_bound[2] > counts[2];
    if (suspect) check_faces();
}

// Room for a typical file of this size, so that the arrays seldom move while they grow; the
// pages of unused room are never touched and cost nothing. Without memory for it, the
// arrays simply grow as they go.
void cObjLoader::reserve_for(std::size_t bytes) {
    try {
        corners.reserve(std::min(bytes / kObjBytesPerCornerGuess, kObjMaxCorners));
        faces.reserve(bytes / kObjBytesPerFaceGuess);
        positions.reserve(bytes / kObjBytesPerValueGuess);
        normals.reserve(bytes / kObjBytesPerValueGuess);
        texcoords.reserve(bytes / kObjBytesPerValueGuess);
    } catch (const std::bad_alloc&) {
    }
}

// ---- statements ----

void cObjLoader::parse(const char* p, const char* end, cObjParseState& state) {
    // end points at the line feed that closes the text.
    const char* const text_end = end;
    // Moves p over blanks; a NUL takes it to the line's end. Returns the class where it stopped.
    auto skip_blanks = [&](const char*& q) {
        while (obj_class(*q) == kObjBlank) ++q;
        if (obj_class(*q) == kObjNul) q = static_cast<const char*>(std::memchr(q, '\n', text_end + 1 - q));
        return obj_class(*q);
    };
    // Reads up to `wanted` values of a vertex statement into values and counts all of them.
    auto read_values = [&](const char*& q, float* values, int wanted) {
        int count = 0;
        while (skip_blanks(q) == kObjText) {
            double value = obj_read_value(q, text_end);
            if (count < wanted) values[count] = obj_narrow(value);
            ++count;
        }
        return count;
    };
    // Whether a warning of this kind is still told line by line (the first few of the file).
    auto tell = [&state](cObjParseState::warning_t kind) { return ++state.warnings[kind] <= kObjMaxWarningsPerKind; };
    auto warn_missing_values = [&](const char* keyword, uint64_t line, int count, int wanted) {
        if (!tell(cObjParseState::missing_values)) return;
        std::cerr << "# warning, \"" << keyword << "\" in line " << line << " has " << count << " of " << wanted
                  << " values; the missing ones are read as 0" << std::endl;
    };

    uint64_t& line = state.line;
    int32_t& group = state.group;
    while (p < end) {
        ++line;
        if (skip_blanks(p) != kObjText) {
            ++p;  // an empty line, or one with nothing before a NUL
            continue;
        }
        const char* token = p;
        p = obj_token_end(p);
        const std::size_t length = static_cast<std::size_t>(p - token);

        if (length == 1 && token[0] == 'f') {
            // ---- face ----
            const bool with_texcoords = flags_ & kMeshHasTexcoords;
            const bool with_normals = flags_ & kMeshHasNormals;
            cObjFace face;
            face.first = static_cast<uint32_t>(corners.size());
            face.group = group;
            face.line = line > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(line);
            uint32_t tokens = 0;
            // One past the largest index read, per kind; -1 (from a 0 in the file) counts as
            // 2^32 - 1, so a single comparison with the array size catches both.
            auto note = [&state](int kind, int32_t index) {
                uint64_t bound = uint64_t(static_cast<uint32_t>(index)) + 1;
                if (bound > state.index_bound[kind]) state.index_bound[kind] = bound;
                return index;
            };
            while (skip_blanks(p) == kObjText) {
                corners.emplace_back();
                cObjCorner* base = corners.data() + face.first;
                ++tokens;
                if (obj_is_digit(*p)) base[face.position_count++].position = note(0, obj_read_index(p, text_end));
                if (with_texcoords || with_normals) {
                    while (obj_class(*p) == kObjText && *p != '/') ++p;
                    if (*p == '/') {
                        ++p;
                        if (with_texcoords && obj_is_digit(*p))
                            base[face.texcoord_count++].texcoord = note(1, obj_read_index(p, text_end));
                        if (with_normals) {
                            while (obj_class(*p) == kObjText && *p != '/') ++p;
                            if (*p == '/') {
                                ++p;
                                if (obj_is_digit(*p)) base[face.normal_count++].normal = note(2, obj_read_index(p, text_end));
                            }
                        }
                    }
                }
                p = obj_token_end(p);
            }
            if (tokens > 3) flags_ |= kMeshHasPolygons;
            if (face.texcoord_count != face.position_count) state.length_mismatch[1] = true;
            if (face.normal_count != face.position_count) state.length_mismatch[2] = true;
            faces.push_back(face);
            if (corners.size() > kObjMaxCorners) {
                std::cerr << "## ERROR in \"" << path_ << "\" line " << line << ": more than " << kObjMaxCorners
                          << " face corners; the file is not loaded" << std::endl;
                refused_ = true;
                return;
            }
        } else if (length == 1 && token[0] == 'v') {
            float values[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            int count = read_values(p, values, 4);
            if (count < kObjPositionValues) warn_missing_values("v", line, count, kObjPositionValues);
            if (count > 4) values[3] = 1.0f;  // extra values (colours) are not a w
            positions.insert(positions.end(), values, values + 4);
        } else if (length == 2 && token[0] == 'v' && token[1] == 't') {
            flags_ |= kMeshHasTexcoords;
            float values[kObjTexcoordValues] = {0.0f, 0.0f};
            int count = read_values(p, values, kObjTexcoordValues);
            if (count < kObjTexcoordValues) warn_missing_values("vt", line, count, kObjTexcoordValues);
            texcoords.insert(texcoords.end(), values, values + kObjTexcoordValues);
        } else if (length == 2 && token[0] == 'v' && token[1] == 'n') {
            flags_ |= kMeshHasNormals;
            float values[kObjNormalValues] = {0.0f, 0.0f, 0.0f};
            int count = read_values(p, values, kObjNormalValues);
            if (count < kObjNormalValues) warn_missing_values("vn", line, count, kObjNormalValues);
            normals.insert(normals.end(), values, values + kObjNormalValues);
        } else if (length == 1 && token[0] == '#') {
            // comment
        } else if (length == 1 && token[0] == 'g') {
            // A repeated name still starts a new group: names are not kept.
            if (group < INT32_MAX) ++group;
        } else if (is_keyword(token, length, "usemtl")) {
            flags_ |= kMeshHasMaterials;
        } else if (is_keyword(token, length, "mtllib")) {
        } else if ((length == 1 && token[0] == 's') || is_keyword(token, length, "curv") ||
                   is_keyword(token, length, "curv2") || is_keyword(token, length, "surf")) {
            if (verbose_ && tell(cObjParseState::unsupported)) {
                std::cerr << "# warning: \"";
                write_escaped(std::cerr, token, length);
                std::cerr << "\" in line " << line << " not supported... skipped!\n";
            }
        } else if (is_keyword(token, length, "vp")) {
            if (tell(cObjParseState::vp)) std::cerr << "# warning, \"vp\" in line " << line << " not supported... skipped!\n";
        } else if (length == 1 && token[0] == 'p') {
            if (tell(cObjParseState::point)) std::cerr << "TOK_P\n";
        } else if (length == 1 && token[0] == 'l') {
            if (tell(cObjParseState::line_statement)) std::cerr << "TOK_L\n";
        } else if (tell(cObjParseState::unknown)) {
            std::cerr << "# warning, unknown token: \"";
            write_escaped(std::cerr, token, length);
            std::cerr << "\" in line " << line << "... skipped!" << std::endl;
        }
        // Vertex and face statements stop at their line feed; others skip to it.
        if (*p != '\n') p = static_cast<const char*>(std::memchr(p, '\n', text_end + 1 - p));
        ++p;
    }
}

void cObjLoader::tell_untold_warnings(const cObjParseState& state) {
    const char* what[cObjParseState::warning_kinds] = {
        "vertex statements with missing values (read as 0)", "\"vp\" lines not supported... skipped!",
        "\"p\" lines skipped", "\"l\" lines skipped", "lines with unknown tokens... skipped!",
        "statements not supported... skipped!"};
    for (int kind = 0; kind < cObjParseState::warning_kinds; ++kind) {
        if (state.warnings[kind] <= kObjMaxWarningsPerKind) continue;
        std::cerr << "# warning, ... and " << state.warnings[kind] - kObjMaxWarningsPerKind << " more " << what[kind]
                  << std::endl;
    }
}

// ---- consistency of the faces ----

// Every index must name an entry of its array, and a face read with texture coordinates or
// normals must have one for every position; otherwise assembly would read outside the arrays
// or pair the wrong attributes. The first bad face is reported and the load refused.
void cObjLoader::check_faces() {
    const int64_t counts[3] = {static_cast<int64_t>(positions.size() / 4), static_cast<int64_t>(texcoords.size() / 2),
                               static_cast<int64_t>(normals.size() / 3)};
    const char* names[3] = {"position", "texture coordinate", "normal"};
    const char* plurals[3] = {"positions", "texture coordinates", "normals"};
    const bool checked[3] = {true, (flags_ & kMeshHasTexcoords) != 0, (flags_ & kMeshHasNormals) != 0};

    for (const cObjFace& face : faces) {
        const uint32_t lengths[3] = {face.position_count, face.texcoord_count, face.normal_count};
        for (int list = 0; list < 3; ++list) {
            if (!checked[list]) continue;
            if (lengths[list] != face.position_count) {
                std::cerr << "## ERROR in \"" << path_ << "\" line " << face.line << ": the face has "
                          << face.position_count << " positions but " << lengths[list] << " " << plurals[list]
                          << "; the file is not loaded" << std::endl;
                refused_ = true;
                return;
            }
            for (uint32_t i = 0; i < lengths[list]; ++i) {
                const cObjCorner& corner = corners[face.first + i];
                int32_t index = list == 0 ? corner.position : list == 1 ? corner.texcoord : corner.normal;
                if (index < 0 || index >= counts[list]) {
                    std::cerr << "## ERROR in \"" << path_ << "\" line " << face.line << ": " << names[list] << " "
                              << static_cast<int64_t>(index) + 1 << " does not exist (the file has " << counts[list]
                              << "); the file is not loaded" << std::endl;
                    refused_ = true;
                    return;
                }
            }
        }
    }
}
