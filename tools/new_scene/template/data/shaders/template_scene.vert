// template_scene's vertex stage: the player's full-screen quad. Its corners come in clip space
// on attribute 0 and its texture coordinates on attribute 2 (the player's fixed attributes).
#version 330

layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord;

out vec2 uv;

void main() {
    uv = texcoord;
    gl_Position = position;
}
