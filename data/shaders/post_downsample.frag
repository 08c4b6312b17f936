// Halves a render target: one bilinear tap on the corner shared by the four source texels of
// the destination pixel averages them. The blurs that follow each halving smooth what a wider
// box would, so the glow looks the same, and the one read spares a software rasteriser most of
// the pass: the first halving reads the whole full-size picture.
#version 330

uniform sampler2DRect tex0;

in vec2 uv;
out vec4 frag_color;

void main() {
    frag_color = texture(tex0, uv);
}
