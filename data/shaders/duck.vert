// The duck model: position, normal and a part code (texture u: 0 body, 1 beak, 2 eye white,
// 3 pupil) from the model's buffers. "modelmat_IT" turns normals into world space and, the
// duck's model matrix being rigid, also places the vertex; "ws_to_vs" takes both to view space.
#version 330

layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texcoord;

uniform mat4 mvp;
uniform mat4 ws_to_vs;
uniform mat4 modelmat_IT;

out vec3 view_position;
out vec3 view_normal;
out float part;

void main() {
    vec4 world = modelmat_IT * vec4(position, 1.0);
    view_position = (ws_to_vs * world).xyz;
    view_normal = mat3(ws_to_vs) * (mat3(modelmat_IT) * normal);
    part = texcoord.x;
    gl_Position = mvp * vec4(position, 1.0);
}
