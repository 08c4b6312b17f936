// Additive composite: the "under" image plus the "over" image scaled by "opasity".
#version 330

uniform sampler2DRect tex_over;
uniform sampler2DRect tex_under;
uniform vec4 opasity;

in vec2 uv_over;
in vec2 uv_under;
out vec4 frag_color;

void main() {
    vec4 under = texture(tex_under, uv_under);
    vec4 over = texture(tex_over, uv_over);
    frag_color = vec4(under.rgb + over.rgb * opasity.x, 1.0);
}
