// Vector and matrix helpers of the scene. Float arithmetic throughout; sqrt, sin, cos, tan,
// pow and floor run in double on the float argument and round back to float. Depends on the
// C maths library only. Must not be compiled with floating-point contraction (no FMA fusing).
#include "maths.h"

#include <cmath>

namespace versewall {

float sqrt_rounded(float v) { return static_cast<float>(std::sqrt(static_cast<double>(v))); }
float sin_rounded(float v) { return static_cast<float>(std::sin(static_cast<double>(v))); }
float cos_rounded(float v) { return static_cast<float>(std::cos(static_cast<double>(v))); }
float pow_rounded(float base, float exponent) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}
float floor_rounded(float v) { return static_cast<float>(std::floor(static_cast<double>(v))); }

void identity(mat4& m) {
    for (float& e : m.m) e = 0.0f;
    m[0] = m[5] = m[10] = m[15] = 1.0f;
}

mat4 identity() {
    mat4 m;
    identity(m);
    return m;
}

mat4 multiply(const mat4& a, const mat4& b) {
    mat4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = a[4 * i + 0] * b[0 + j];
            sum += a[4 * i + 1] * b[4 + j];
            sum += a[4 * i + 2] * b[8 + j];
            sum += a[4 * i + 3] * b[12 + j];
            r[4 * i + j] = sum;
        }
    }
    return r;
}

namespace {

// Length of (x, y, z) as the helpers define it: float sum of squares, absolute value, root.
float length3(float x, float y, float z) { return sqrt_rounded(std::fabs(x * x + y * y + z * z)); }

// The degree-to-radian factor as the scene has always used it (pi / 180, last digit short).
constexpr double degrees_to_radians = 0.017453292519943278;
// Deliberately slightly below pi: projections built with it are part of the show's look.
constexpr double projection_pi = 3.14159265358979;

}  // namespace

mat4 rotation(const vec4& axis, float angle) {
    const float len = length3(axis.x, axis.y, axis.z);
    const float nx = axis.x / len, ny = axis.y / len, nz = axis.z / len;
    const float a = static_cast<float>(static_cast<double>(angle) * degrees_to_radians);
    const float c = cos_rounded(a), s = sin_rounded(a);
    const float t = 1.0f - c;

    mat4 m;
    m[0] = t * nx * nx + c;
    m[1] = t * nx * ny - nz * s;
    m[2] = t * nx * nz + ny * s;
    m[4] = t * nx * ny + nz * s;
    m[5] = t * ny * ny + c;
    m[6] = t * ny * nz - nx * s;
    m[8] = t * nx * nz - ny * s;
    m[9] = t * ny * nz + nx * s;
    m[10] = t * nz * nz + c;
    m[15] = 1.0f;
    return m;
}

mat4 perspective(float fov, float aspect, float near_plane, float far_plane) {
    const double half_angle = static_cast<double>(fov) / 180.0 * projection_pi * 0.5;
    const float f = static_cast<float>(1.0 / std::tan(half_angle));
    mat4 m;
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (near_plane + far_plane) / (near_plane - far_plane);
    m[11] = -1.0f;
    m[14] = (2.0f * far_plane) * near_plane / (near_plane - far_plane);
    return m;
}

mat4 look_at(const vec4& eye, const vec4& target, const vec4& up) {
    const float dx = target.x - eye.x, dy = target.y - eye.y, dz = target.z - eye.z;
    const float dlen = length3(dx, dy, dz);
    const float fx = dx / dlen, fy = dy / dlen, fz = dz / dlen;
    const float ulen = length3(up.x, up.y, up.z);
    const float ux = up.x / ulen, uy = up.y / ulen, uz = up.z / ulen;

    const float sx = fy * uz - fz * uy;
    const float sy = fz * ux - fx * uz;
    const float sz = fx * uy - fy * ux;

    const float vx = sy * fz - sz * fy;
    const float vy = sz * fx - sx * fz;
    const float vz = sx * fy - sy * fx;

    mat4 m;
    m[0] = sx;
    m[4] = sy;
    m[8] = sz;
    m[12] = -(eye.x * sx + eye.y * sy + eye.z * sz);
    m[1] = vx;
    m[5] = vy;
    m[9] = vz;
    m[13] = -(eye.x * vx + eye.y * vy + eye.z * vz);
    m[2] = -fx;
    m[6] = -fy;
    m[10] = -fz;
    m[14] = eye.x * fx + eye.y * fy + eye.z * fz;
    m[3] = m[7] = m[11] = 0.0f;
    m[15] = 1.0f;
    return m;
}

const mat4& cCamera::view_matrix() {
    if (!view_valid) {
        view = look_at(eye, target, up);
        view_valid = true;
    }
    return view;
}

const mat4& cCamera::view_projection() {
    if (!view_projection_valid) {
        if (!projection_valid) {
            projection = perspective(fov, aspect, near_plane, far_plane);
            projection_valid = true;
        }
        view_projection_matrix = multiply(view_matrix(), projection);
        view_projection_valid = true;
    }
    return view_projection_matrix;
}

}  // namespace versewall
