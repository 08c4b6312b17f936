// A textured tunnel seen down its axis, added over the picture. The screen point's angle and
// inverse distance from the centre address the repeating wall texture; "time" and "ofs" fly
// along the tunnel, "twist" winds the walls the deeper they are, "opasity" scales the result.
// Every pixel of the screen runs this, so the angle and the flicker's sine are short polynomials
// (within 4e-6 of atan and sin, far below what an 8-bit pixel shows), which spares a software
// rasteriser about a tenth of the pass. Nothing is drawn while "opasity" is 0 (tunnel.vert).
#version 330

uniform sampler2D tex0;
uniform vec4 time;
uniform vec4 twist;
uniform vec4 opasity;
uniform vec4 ofs;

in vec2 uv;
out vec4 frag_color;

const float pi = 3.1415927;
const float two_pi = 6.2831853;
const float screen_aspect = 16.0 / 9.0;

// The angle of p in turns, -0.5 to 0.5: the octant's arctangent from a polynomial on [0, 1].
float turns_of(vec2 p) {
    vec2 a = abs(p);
    float t = min(a.x, a.y) / max(max(a.x, a.y), 1e-20);
    float s = t * t;
    float angle = t * (0.9999793128 + s * (-0.3326756418 + s * (0.1938924977 + s * (-0.1173503195
                + s * (0.0536813784 + s * -0.0121323213)))));
    angle = a.y > a.x ? 0.5 * pi - angle : angle;
    angle = p.x < 0.0 ? pi - angle : angle;
    return (p.y < 0.0 ? -angle : angle) * (1.0 / two_pi);
}

// sin(x): x brought into [-pi/2, pi/2], then its Taylor polynomial to the ninth power.
float sine(float x) {
    x -= two_pi * floor(x * (1.0 / two_pi) + 0.5);
    x = x > 0.5 * pi ? pi - x : (x < -0.5 * pi ? -pi - x : x);
    float s = x * x;
    return x * (1.0 + s * (-1.0 / 6.0 + s * (1.0 / 120.0 + s * (-1.0 / 5040.0 + s * (1.0 / 362880.0)))));
}

void main() {
    vec2 p = (uv * 2.0 - 1.0) * vec2(screen_aspect, 1.0);
    float r = max(length(p), 0.001);
    float depth = 0.5 / r;

    // The angle wraps from -0.5 to 0.5 turns; three texture repeats around keep the seam hidden.
    float turn = turns_of(p) + twist.x * depth * 0.15 + time.x * 0.03;
    vec2 tc = vec2(turn * 3.0, depth + time.x * 0.4 + ofs.x);
    vec3 wall = texture(tex0, tc).rgb;

    // Dark in the far distance, a little brighter on the walls close by.
    float near_light = smoothstep(0.04, 0.9, r);
    float flicker = 0.85 + 0.15 * sine(depth * 3.0 - time.x * 4.0);
    vec3 colour = wall * near_light * near_light * flicker * 1.2;
    frag_color = vec4(colour * max(opasity.x, 0.0), 1.0);
}
