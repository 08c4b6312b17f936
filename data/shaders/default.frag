// The host's fallback program: plain opaque magenta, so that geometry drawn with a program
// that failed to load shows up unmistakably instead of vanishing.
#version 330

out vec4 frag_color;

void main() {
    frag_color = vec4(1.0, 0.0, 1.0, 1.0);
}
