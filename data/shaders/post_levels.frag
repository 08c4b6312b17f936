// Levels on the 0 to 255 scale: "levels_inout" is (input black, input white, output black,
// output white) and "gamma" the exponent on the normalised input. Gamma above 1 deepens the
// mid-tones, so the glow gathers round bright words instead of washing over a bright (kick)
// background. Source and destination have the same size, so the fetch reads one texel unfiltered.
#version 330

uniform sampler2DRect tex0;
uniform vec4 levels_inout;
uniform vec4 gamma;

in vec2 uv;
out vec4 frag_color;

void main() {
    vec3 c = texelFetch(tex0, ivec2(uv)).rgb;
    // (c * 255 - black) / range as one multiply-add per channel
    float inverse_range = 1.0 / max(levels_inout.y - levels_inout.x, 1.0);
    vec3 t = clamp(c * (255.0 * inverse_range) - levels_inout.x * inverse_range, 0.0, 1.0);
    t = pow(t, vec3(max(gamma.x, 0.01)));
    frag_color = vec4((levels_inout.z + (levels_inout.w - levels_inout.z) * t) * (1.0 / 255.0), 1.0);
}
