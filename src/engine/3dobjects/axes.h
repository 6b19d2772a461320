// The one axis convention of everything that shows or exports a scene.
//
// Scene (world) space is the file's: right-handed, +Z up, the front facing -Y. (The loader's
// x/y exchange at the root is replaced by the root's own matrix whenever the file stores one,
// as every scene does; a root without a matrix keeps it and shows mirrored, as the engine
// computes it.) Pictures, pick rays and exported files use a right-handed space with +Y up and
// the front facing +Z (glTF's and OpenGL's): a world point (x, y, z) is shown at (x, z, -y), a
// quarter turn about x, no mirror image.
#pragma once

#include "engine/3dobjects/vecmath.h"

// Row-vector matrix: p x WorldToViewAxes() takes a world point to view space.
inline Matrix4 WorldToViewAxes() {
    Matrix4 m;
    m.m[0][0] = 1.0f;   // x -> x
    m.m[1][2] = -1.0f;  // y -> -z
    m.m[2][1] = 1.0f;   // z -> y
    m.m[3][3] = 1.0f;
    return m;
}

// The inverse: p x ViewToWorldAxes() takes a view-space point back to world space.
inline Matrix4 ViewToWorldAxes() {
    Matrix4 m;
    m.m[0][0] = 1.0f;   // x -> x
    m.m[2][1] = -1.0f;  // -z -> y
    m.m[1][2] = 1.0f;   // y -> z
    m.m[3][3] = 1.0f;
    return m;
}
