// Copies a render target (a rectangle texture, sampled in texels) onto the bound target.
#version 330

uniform sampler2DRect tex0;

in vec2 uv;
out vec4 frag_color;

void main() {
    frag_color = vec4(texture(tex0, uv).rgb, 1.0);
}
