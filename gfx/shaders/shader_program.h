// The record of one linked GLSL program: its GL name and its active uniforms sorted into the
// vector, matrix and sampler tables, plus the strict lookup the setters use.
// Plain data; must never call GL.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>

struct cUniform {
    int32_t location = -1;
    uint32_t type = 0;  // GL type as reflection reported it
};

struct cSamplerUniform {
    int32_t location = -1;
    uint32_t type = 0;  // GL sampler type
    int32_t unit = 0;   // texture unit: the number of sampler uniforms reflected before this one
};

struct cShaderProgram {
    uint32_t program = 0;  // never 0 in a registered record
    std::string vertex_path;    // the files it was made from (empty for a program made from text)
    std::string fragment_path;
    std::unordered_map<std::string, cUniform> vectors;
    std::unordered_map<std::string, cUniform> matrices;
    std::unordered_map<std::string, cSamplerUniform> samplers;
};

// A missing name is a caller's fault that nothing in the system catches; the message is the
// one every build of the system reports for it.
template <class Map>
auto& lookup_or_throw(Map& map, const std::string& key) {
    auto it = map.find(key);
    if (it == map.end()) throw std::out_of_range("invalid unordered_map<K, T> key");
    return it->second;
}
