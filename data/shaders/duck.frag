// Soft yellow rubber: wrapped key light, a cool fill from below, a sky/ground ambient, a broad
// satin highlight and a warm rim. Beak and eyes take their colour and shine from the part code.
#version 330

in vec3 view_position;
in vec3 view_normal;
in float part;

out vec4 frag_color;

const vec3 key_direction = vec3(-0.45, 0.7, 0.55);
const vec3 key_colour = vec3(1.0, 0.96, 0.88);
const vec3 fill_direction = vec3(0.6, -0.35, 0.5);
const vec3 fill_colour = vec3(0.25, 0.3, 0.45);

void main() {
    vec3 albedo = vec3(1.0, 0.80, 0.12);
    float shininess = 24.0;
    float shine = 0.35;
    if (part > 2.5) {          // pupil
        albedo = vec3(0.03, 0.03, 0.05);
        shininess = 90.0;
        shine = 0.9;
    } else if (part > 1.5) {   // eye white
        albedo = vec3(0.95, 0.95, 0.92);
        shininess = 60.0;
        shine = 0.5;
    } else if (part > 0.5) {   // beak
        albedo = vec3(1.0, 0.42, 0.06);
        shininess = 32.0;
        shine = 0.45;
    }

    vec3 n = normalize(view_normal);
    vec3 v = normalize(-view_position);
    vec3 key = normalize(key_direction);
    vec3 fill = normalize(fill_direction);

    float key_diffuse = max((dot(n, key) + 0.35) / 1.35, 0.0);
    float fill_diffuse = max(dot(n, fill), 0.0);
    vec3 ambient = mix(vec3(0.22, 0.18, 0.10), vec3(0.30, 0.34, 0.42), n.y * 0.5 + 0.5);

    vec3 h = normalize(key + v);
    float highlight = pow(max(dot(n, h), 0.0), shininess) * shine;
    float rim = pow(1.0 - max(dot(n, v), 0.0), 3.0) * 0.45;

    vec3 colour = albedo * (ambient + key_diffuse * key_colour + fill_diffuse * fill_colour);
    colour += highlight * key_colour + rim * vec3(1.0, 0.85, 0.5) * (0.3 + 0.7 * albedo);
    frag_color = vec4(colour, 1.0);
}
