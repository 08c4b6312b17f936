// Full-screen quad with two coordinate sets: attribute 2 spans the "over" image's texels,
// attribute 3 the "under" image's, so images of different sizes line up over the screen.
#version 330

layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord_over;
layout(location = 3) in vec2 texcoord_under;

out vec2 uv_over;
out vec2 uv_under;

void main() {
    uv_over = texcoord_over;
    uv_under = texcoord_under;
    gl_Position = position;
}
