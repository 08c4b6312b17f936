// One direction of a separable Gaussian blur ("blurdir" is (1, 0) or (0, 1), longer where the
// picture is rendered larger than the show's 1280 x 720, so the blur reaches as far): nine weights
// 1-8-28-56-70-56-28-8-1 read with five bilinear taps, spread over two texels per
// step so that each level of the glow chain reaches further. The blur keeps its source's size, so
// the centre tap falls on a texel centre and needs no filtering.
#version 330

uniform sampler2DRect tex0;
uniform vec4 blurdir;

in vec2 uv;
out vec4 frag_color;

const float spread = 2.0;
const float offsets[3] = float[](0.0, 1.3846153846 * spread, 3.2307692308 * spread);
const float weights[3] = float[](0.2270270270, 0.3162162162, 0.0702702703);

void main() {
    vec2 dir = blurdir.xy;
    vec4 sum = texelFetch(tex0, ivec2(uv)) * weights[0];
    for (int i = 1; i < 3; ++i) {
        vec2 along = dir * offsets[i];
        sum += (texture(tex0, uv + along) + texture(tex0, uv - along)) * weights[i];
    }
    frag_color = sum;
}
