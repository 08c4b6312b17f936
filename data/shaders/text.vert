// Word and circle quads on the text canvas. "mvp" turns and scales canvas units to clip space;
// the corners arrive with w = 1.5, which is kept, so the canvas fills two thirds of the screen
// and the circle's arch stays inside it.
#version 330

layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord;

uniform mat4 mvp;

out vec2 uv;

void main() {
    uv = texcoord;
    gl_Position = mvp * position;
}
