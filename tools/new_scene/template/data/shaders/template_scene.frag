// template_scene's fragment stage: the picture, zoomed in a little and lit up by the pulse.
// Every uniform declared here must be used: the module sets each by name, and one that the
// compiler dropped would not be found.
#version 330

uniform sampler2D image;
uniform vec4 pulse;  // the track template_scene_pulse (0 to 1) in every component

in vec2 uv;
out vec4 frag_color;

void main() {
    vec2 zoomed = 0.5 + (uv - 0.5) * (1.0 - 0.1 * pulse.x);
    vec3 colour = texture(image, zoomed).rgb * mix(0.4, 1.0, pulse.x);
    frag_color = vec4(colour, 1.0);
}
