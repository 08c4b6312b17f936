// Copies a render target (a rectangle texture, sampled in texels) onto the bound target. The
// scene copies its image onto a target of the same size, so every pixel reads one texel at its
// centre: an unfiltered fetch gives the same value and spares a software rasteriser the filter.
#version 330

uniform sampler2DRect tex0;

in vec2 uv;
out vec4 frag_color;

void main() {
    frag_color = vec4(texelFetch(tex0, ivec2(uv)).rgb, 1.0);
}
