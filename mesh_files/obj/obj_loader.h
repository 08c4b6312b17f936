// cObjLoader: reads a Wavefront OBJ file (load_file) and turns it into an indexed triangle
// mesh (triangulate, build_arrays). Messages go to standard error; fatal conditions go
// through mesh_exit. Never touches GL: the arrays it fills are uploaded by the caller.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "mesh_files/obj/mesh_loader.h"

// Where the parser stands between pieces of one file's text.
struct cObjParseState {
    uint64_t line = 0;   // lines read so far
    int32_t group = -1;  // the number of "g" lines read, minus one
    // Per kind (position, texcoord, normal): one past the largest index read, and whether a
    // face's list of that kind differs in length from its position list.
    uint64_t index_bound[3] = {0, 0, 0};
    bool length_mismatch[3] = {false, false, false};
    // Warnings of each kind so far (missing values, "vp", "p", "l", unknown, not supported).
    enum warning_t { missing_values, vp, point, line_statement, unknown, unsupported, warning_kinds };
    uint64_t warnings[warning_kinds] = {};
};

class cObjLoader : public iMeshLoader, public iMeshLoader_data {
public:
    cObjLoader() = default;
    ~cObjLoader() override = default;
    cObjLoader(const cObjLoader&) = delete;
    cObjLoader& operator=(const cObjLoader&) = delete;

    // Parses the file, replacing the parsed data (the flags are kept). Reads lines of any
    // length. A face whose indices point outside their arrays, or whose lists disagree in
    // length, is reported with its line and the load is refused.
    void load_file(const std::string& path) override;
    // Parses and checks text that is already in memory exactly as load_file does a file's
    // bytes; name stands for the file in the messages. Any bytes, with or without a final
    // line feed; nothing is read past size.
    void load_text(const std::string& name, const char* text, std::size_t size);
    // Splits every face of more than three corners into a fan around its first corner; the new
    // triangles go to the end of the face list. A face of fewer than three corners stops it
    // there; in a file with normals that refuses the load (without, smooth_normals does).
    void triangulate() override;
    // Rebuilds the arrays with one vertex per position (not used by the player).
    void unify_by_position() override;
    // One normal per position, averaged over the faces that use it, weighted by their area.
    void smooth_normals() override;

    // Writes the indexed mesh: one vertex per distinct (position, normal, texcoord) index
    // combination, numbered in that order; triangle indices sorted by group; group ranges, the
    // first of which starts at index 0 (faces before the first "g" are drawn with it).
    // Makes smooth normals first when the file had none. Writes nothing when refused.
    void build_arrays(uint8_t& flags, std::vector<float>& out_positions, std::vector<float>& out_normals,
                      std::vector<float>& out_texcoords, std::vector<uint32_t>& out_indices,
                      std::vector<cGroupRange>& out_ranges);

    uint8_t flags() const { return flags_; }
    // True after a load that was refused (bad indices) or that would have ended the process
    // while the exit hook let it go on. A refused loader's steps do nothing.
    bool refused() const { return refused_; }
    // Progress and "not supported" messages for the statements skipped silently otherwise.
    void set_verbose(bool verbose) { verbose_ = verbose; }

private:
    void read_text(const char* text, std::size_t size);
    void parse(const char* text, const char* end, cObjParseState& state);
    // The counts of the warnings past the first few of their kind.
    void tell_untold_warnings(const cObjParseState& state);
    void check_faces();
    void reserve_for(std::size_t bytes);
    void refuse_and_exit();

    uint8_t flags_ = 0;
    bool refused_ = false;
    bool verbose_ = false;
    std::string path_;  // of the file being read, for reports
};
