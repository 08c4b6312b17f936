// The host's fallback program, drawn when a module asks for a program that is not loaded:
// positions on attribute 0 go straight to clip space. It has no uniforms.
#version 330

layout(location = 0) in vec4 position;

void main() {
    gl_Position = position;
}
