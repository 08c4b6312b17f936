// Full-screen quad of the host: clip-space corners on attribute 0 pass straight through; the
// texture coordinates (texels for rectangle sources, 0 to 1 otherwise) go to the fragment stage.
#version 330

layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord;

out vec2 uv;

void main() {
    uv = texcoord;
    gl_Position = position;
}
