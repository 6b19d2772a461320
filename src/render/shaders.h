// The GLSL programs of the renderer, in the subset GLSL 3.30 core and GLSL ES 3.00 share. The
// version line (and ES's precision) is put in front when they are compiled.
#pragma once

// Meshes: per-instance world matrix rows (row vectors, as the engine keeps them) and a
// highlight flag; a head light on the file's normals, flat normals where a vertex has none.
inline constexpr const char* kMeshVertexShader = R"(layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec2 aUv;
layout(location = 3) in vec4 aRow0;
layout(location = 4) in vec4 aRow1;
layout(location = 5) in vec4 aRow2;
layout(location = 6) in vec4 aRow3;
layout(location = 7) in float aHighlight;
uniform mat4 uViewAxes;
uniform mat4 uProjection;
out vec3 vEyePosition;
out vec3 vEyeNormal;
out vec2 vUv;
flat out float vHighlight;
void main() {
    mat4 toEye = uViewAxes * mat4(aRow0, aRow1, aRow2, aRow3);
    vec4 eye = toEye * vec4(aPosition, 1.0);
    mat3 m = mat3(toEye);
    // The cofactor matrix keeps normals perpendicular under scaling and mirroring.
    mat3 cofactor = mat3(cross(m[1], m[2]), cross(m[2], m[0]), cross(m[0], m[1]));
    vEyePosition = eye.xyz;
    vEyeNormal = cofactor * aNormal;
    vUv = aUv;
    vHighlight = aHighlight;
    gl_Position = uProjection * eye;
}
)";

inline constexpr const char* kMeshFragmentShader = R"(in vec3 vEyePosition;
in vec3 vEyeNormal;
in vec2 vUv;
flat in float vHighlight;
uniform sampler2D uTexture;
uniform int uFlat;
uniform vec4 uColor;
out vec4 fragColor;
void main() {
    // 1: a flat colour (ids); 2: a flat colour the highlight shows through (edges).
    if (uFlat != 0) {
        fragColor = uColor;
        if (uFlat == 2 && vHighlight > 0.5) {
            fragColor.rgb = mix(uColor.rgb, vec3(1.0, 0.55, 0.1), 0.55);
        }
        return;
    }
    vec3 n = vEyeNormal;
    if (dot(n, n) < 1e-24) {
        n = cross(dFdx(vEyePosition), dFdy(vEyePosition));
    }
    float light = 1.0;
    float nLength = length(n);
    float eLength = length(vEyePosition);
    if (nLength > 0.0 && eLength > 0.0) {
        light = abs(dot(n / nLength, vEyePosition / eLength));
    }
    vec4 texel = texture(uTexture, vUv);
    vec3 color = texel.rgb * (0.3 + 0.7 * light);
    if (vHighlight > 0.5) {
        color = mix(color, vec3(1.0, 0.55, 0.1), 0.55);
    }
    fragColor = vec4(color, texel.a);
}
)";

inline constexpr const char* kLineVertexShader = R"(layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aColor;
uniform mat4 uTransform;
out vec3 vColor;
void main() {
    vColor = aColor;
    gl_Position = uTransform * vec4(aPosition, 1.0);
}
)";

inline constexpr const char* kLineFragmentShader = R"(in vec3 vColor;
out vec4 fragColor;
void main() {
    fragColor = vec4(vColor, 1.0);
}
)";
