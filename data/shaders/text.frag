// Word and circle pictures tinted by "color". The pictures are white on black with matching
// alpha, and the scene adds them (blend ONE, ONE), so the colour scales what gets added.
#version 330

uniform sampler2D texttex;
uniform vec4 color;

in vec2 uv;
out vec4 frag_color;

void main() {
    frag_color = texture(texttex, uv) * color;
}
