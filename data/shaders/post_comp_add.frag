// Additive composite: the "under" image plus the "over" image scaled by "opasity". "over" is the
// full-size scene, drawn at its own size, so it is read one texel per pixel without filtering;
// "under" (the small glow) is stretched and keeps its filtered fetch.
#version 330

uniform sampler2DRect tex_over;
uniform sampler2DRect tex_under;
uniform vec4 opasity;

in vec2 uv_over;
in vec2 uv_under;
out vec4 frag_color;

void main() {
    vec4 under = texture(tex_under, uv_under);
    vec4 over = texelFetch(tex_over, ivec2(uv_over));
    frag_color = vec4(under.rgb + over.rgb * opasity.x, 1.0);
}
