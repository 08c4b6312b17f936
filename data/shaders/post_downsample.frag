// Shrinks a render target: four bilinear taps one texel around the destination pixel's centre
// average a 4 x 4 block of the source (for a halving step), which keeps the glow chain smooth.
#version 330

uniform sampler2DRect tex0;

in vec2 uv;
out vec4 frag_color;

void main() {
    vec4 sum = texture(tex0, uv + vec2(-1.0, -1.0));
    sum += texture(tex0, uv + vec2(1.0, -1.0));
    sum += texture(tex0, uv + vec2(-1.0, 1.0));
    sum += texture(tex0, uv + vec2(1.0, 1.0));
    frag_color = sum * 0.25;
}
