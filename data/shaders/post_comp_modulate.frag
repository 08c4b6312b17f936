// Multiplying composite: the "under" image times the "over" image (the vignette), faded in by
// "opasity" (0 leaves the under image as it is, 1 multiplies fully). "under" is the full-size scene,
// drawn at its own size, so it is read one texel per pixel without filtering; the vignette image
// is stretched and keeps its filtered fetch.
#version 330

uniform sampler2DRect tex_over;
uniform sampler2DRect tex_under;
uniform vec4 opasity;

in vec2 uv_over;
in vec2 uv_under;
out vec4 frag_color;

void main() {
    vec4 under = texelFetch(tex_under, ivec2(uv_under));
    vec3 over = texture(tex_over, uv_over).rgb;
    frag_color = vec4(under.rgb * mix(vec3(1.0), over, opasity.x), 1.0);
}
