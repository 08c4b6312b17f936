// A textured tunnel seen down its axis, added over the picture. The screen point's angle and
// inverse distance from the centre address the repeating wall texture; "time" and "ofs" fly
// along the tunnel, "twist" winds the walls the deeper they are, "opasity" scales the result.
#version 330

uniform sampler2D tex0;
uniform vec4 time;
uniform vec4 twist;
uniform vec4 opasity;
uniform vec4 ofs;

in vec2 uv;
out vec4 frag_color;

const float two_pi = 6.2831853;
const float screen_aspect = 16.0 / 9.0;

void main() {
    vec2 p = (uv * 2.0 - 1.0) * vec2(screen_aspect, 1.0);
    float r = max(length(p), 0.001);
    float depth = 0.5 / r;

    // The angle wraps from -0.5 to 0.5 turns; three texture repeats around keep the seam hidden.
    float turn = atan(p.y, p.x) / two_pi;
    turn += twist.x * depth * 0.15 + time.x * 0.03;
    vec2 tc = vec2(turn * 3.0, depth + time.x * 0.4 + ofs.x);
    vec3 wall = texture(tex0, tc).rgb;

    // Dark in the far distance, a little brighter on the walls close by.
    float near_light = smoothstep(0.04, 0.9, r);
    float flicker = 0.85 + 0.15 * sin(depth * 3.0 - time.x * 4.0);
    vec3 colour = wall * near_light * near_light * flicker * 1.2;
    frag_color = vec4(colour * max(opasity.x, 0.0), 1.0);
}
