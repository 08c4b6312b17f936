// The scene's own vector and matrix helpers: vec4, column-major mat4, a small look-at camera.
// Pure float arithmetic with a few results evaluated in double and rounded, so that every
// matrix the shaders receive is reproducible to the last bit. No GL, no host code.
#pragma once

namespace versewall {

struct vec4 {
    float x = 0, y = 0, z = 0, w = 0;
};

// Sixteen floats, column by column: element (row r, column c) at index 4c + r, so an affine
// matrix keeps its translation at 12, 13 and 14. set_matrix hands this order on untransposed.
struct mat4 {
    float m[16] = {};
    float& operator[](int i) { return m[i]; }
    float operator[](int i) const { return m[i]; }
};

void identity(mat4& m);
mat4 identity();

// r[4i + j] = sum over k of a[4i + k] * b[4k + j], summed left to right: with the column
// storage this is the product b x a, i.e. a is applied first, then b.
mat4 multiply(const mat4& a, const mat4& b);

// Rotation by angle degrees about axis.xyz (any non-zero length). Read column by column it is
// the rotation by -angle in a right-handed frame: with y up, positive angles turn clockwise.
mat4 rotation(const vec4& axis, float angle);

// Right-handed projection; fov is the vertical field of view in degrees. m[15] stays 0.
mat4 perspective(float fov, float aspect, float near_plane, float far_plane);

// View matrix looking from eye towards target along -z. side = forward x up is used without
// normalising, which is exact whenever up is perpendicular to the viewing direction.
mat4 look_at(const vec4& eye, const vec4& target, const vec4& up);

// Camera that computes its matrices once, on first request. Fill it, use it, drop it: nothing
// invalidates a cached matrix when the inputs change afterwards.
struct cCamera {
    mat4 view = identity();
    mat4 projection = identity();
    mat4 view_projection_matrix = identity();
    vec4 eye;
    vec4 target;
    vec4 up;
    float fov = 0;
    float aspect = 0;
    float near_plane = 0;
    float far_plane = 0;
    bool view_valid = false;
    bool projection_valid = false;
    bool view_projection_valid = false;

    const mat4& view_matrix();
    // projection x view
    const mat4& view_projection();
};

// The rounding rules of the helpers, exposed so that callers computing their own values
// (the scene's layout and trail) round exactly as the helpers do.
float sqrt_rounded(float v);   // sqrt evaluated in double, rounded to float
float sin_rounded(float v);    // likewise for sin, cos, tan, pow and floor
float cos_rounded(float v);
float pow_rounded(float base, float exponent);
float floor_rounded(float v);

}  // namespace versewall
