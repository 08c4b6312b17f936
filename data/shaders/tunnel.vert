// Full-screen quad of the host: clip-space corners on attribute 0 pass straight through; the
// texture coordinates (0 to 1) go to the fragment stage. The tunnel is added to the picture and
// scaled by "opasity", so at 0 or below it adds nothing anywhere: then the quad is moved outside
// the clip volume and no pixel is shaded (a software rasteriser would otherwise run the whole
// tunnel for the screen to add zeros).
#version 330

layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord;

uniform vec4 opasity;

out vec2 uv;

void main() {
    uv = texcoord;
    gl_Position = opasity.x > 0.0 ? position : vec4(2.0, 2.0, 2.0, 1.0);
}
