// Fixed numbers and names of the mesh loading subsystem: attribute flags, the source name of
// the empty-path report, and the limits of the OBJ reader. Only constants here.
#pragma once
#include <cstddef>
#include <cstdint>

// Attribute flags of a loader and of the indexed mesh it produces.
constexpr uint8_t kMeshHasTexcoords = 0x01;
constexpr uint8_t kMeshHasNormals = 0x02;
constexpr uint8_t kMeshHasMaterials = 0x10;  // a "usemtl" line was read: draw group by group
constexpr uint8_t kMeshHasPolygons = 0x80;   // a face of more than three corners, until triangulated

// The empty-path report names the loader's source file and line as the player has always
// printed them; written with "/" like every other path of the Linux build.
constexpr const char* kObjSourceName = "../../src/mesh_files/obj/cObjLoader";
constexpr int kObjSourceLine = 63;

// Exit status of the loader's fatal conditions (reads 255 to the shell).
constexpr int kMeshExitStatus = -1;

// A normal that cannot be computed (a position used only by zero-area faces, or by faces
// with infinite or NaN coordinates) becomes this unit vector instead of NaN.
constexpr float kMeshFallbackNormal[3] = {0.0f, 0.0f, 1.0f};

// Face corners are numbered with 32 bits (vertex numbers are uint32 on the GPU); a file with
// more corners than this is refused instead of wrapping around.
constexpr std::size_t kObjMaxCorners = 0x7fffffff;

// Typical bytes of file per face corner, per face and per vertex value, to make room in the
// parsed arrays before reading (a guess: too little only means the arrays grow as they go).
constexpr std::size_t kObjBytesPerCornerGuess = 16;
constexpr std::size_t kObjBytesPerFaceGuess = 64;
constexpr std::size_t kObjBytesPerValueGuess = 16;

// Values a vertex statement is expected to carry; missing ones are read as 0, so that every
// statement still makes exactly one entry and later indices keep pointing where they should.
constexpr int kObjPositionValues = 3;  // a fourth, w, is optional and defaults to 1
constexpr int kObjTexcoordValues = 2;  // a third is read and dropped
constexpr int kObjNormalValues = 3;

// Warnings of one kind told per file, line by line; the rest of that kind are counted in one
// line at the end of the file (a file of garbage would flood the console otherwise).
constexpr uint32_t kObjMaxWarningsPerKind = 5;
