// Word and circle quads on the text canvas. "mvp" turns and scales canvas units to clip space;
// the corners arrive with w = 1.5, which is kept, so the canvas fills two thirds of the screen
// and the circle's arch stays inside it. The quads are added to the picture and scaled by
// "color", so a quad whose colour is 0 or below in every component adds nothing to the picture:
// it is moved outside the clip volume, and a dark word costs no shading.
#version 330

layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord;

uniform mat4 mvp;
uniform vec4 color;

out vec2 uv;

void main() {
    uv = texcoord;
    gl_Position = any(greaterThan(color, vec4(0.0))) ? mvp * position : vec4(2.0, 2.0, 2.0, 1.0);
}
