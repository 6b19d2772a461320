// The one axis convention of everything that shows or exports a scene.
//
// A scene file is authored right-handed with +Z up and its front facing -Y. The loader
// exchanges x and y at the root, so scene (world) space is left-handed with +Z up. Pictures,
// pick rays and exported files use a right-handed space with +Y up and the front facing +Z
// (glTF's and OpenGL's): a world point (x, y, z) is shown at (y, z, -x). In file terms that is
// (x, z, -y), the usual turn of a Z-up model into a Y-up one, with no mirror image.
#pragma once

#include "engine/3dobjects/vecmath.h"

// Row-vector matrix: p x WorldToViewAxes() takes a world point to view space.
inline Matrix4 WorldToViewAxes() {
    Matrix4 m;
    m.m[0][2] = -1.0f;  // x -> -z
    m.m[1][0] = 1.0f;   // y -> x
    m.m[2][1] = 1.0f;   // z -> y
    m.m[3][3] = 1.0f;
    return m;
}

// The inverse: p x ViewToWorldAxes() takes a view-space point back to world space.
inline Matrix4 ViewToWorldAxes() {
    Matrix4 m;
    m.m[2][0] = -1.0f;  // -z -> x
    m.m[0][1] = 1.0f;   // x -> y
    m.m[1][2] = 1.0f;   // y -> z
    m.m[3][3] = 1.0f;
    return m;
}
