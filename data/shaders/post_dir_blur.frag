// One direction of a separable blur ("blurdir" is (1, 0) or (0, 1), longer where the picture is
// rendered larger than the show's 1280 x 720, so the blur reaches as far): an unfiltered centre
// tap and pairs of bilinear taps, each tap reading two neighbouring texels, spread over two
// texels per step so that each level of the glow chain reaches further. The blur keeps its
// source's size, so the centre tap falls on a texel centre and needs no filtering.
//
// At quarter and eighth size two pairs: a nine-texel Gaussian read as 0.227 at the centre and
// pairs of 0.316 and 0.070 at 1.385 and 3.231 steps. At half size, whose picture only feeds the
// next downsample and two more blurs, one pair with the same variance and fourth moment (0.592
// at the centre, 0.204 at 5.148 texels on either side) gives the same glow with three reads
// instead of five. The size follows from the direction's length: one unit per 1280 texels of the
// full picture, as post_glow sets it.
#version 330

uniform sampler2DRect tex0;
uniform vec4 blurdir;

in vec2 uv;
out vec4 frag_color;

const float glow_composed_width = 1280.0;
const float spread = 2.0;

void main() {
    vec2 dir = blurdir.xy;
    // Full picture width over this level's width: 2 at half size, 4 and 8 below.
    bool half_size = glow_composed_width * max(abs(dir.x), abs(dir.y)) < 3.0 * float(textureSize(tex0).x);
    vec4 sum = texelFetch(tex0, ivec2(uv)) * (half_size ? 0.5919759 : 0.2270270270);
    // A loop with a count the same in every pixel: a software rasteriser skips the pair that
    // half size does not need, which it would not for a branch.
    int pairs = half_size ? 1 : 2;
    int i = 0;
    do {
        float offset = i == 0 ? (half_size ? 5.148 : 1.3846153846 * spread) : 3.2307692308 * spread;
        float weight = i == 0 ? (half_size ? 0.2040120 : 0.3162162162) : 0.0702702703;
        vec2 along = dir * offset;
        sum += (texture(tex0, uv + along) + texture(tex0, uv - along)) * weight;
    } while (++i < pairs);
    frag_color = sum;
}
