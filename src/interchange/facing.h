// Which side of a triangle is its front. Players of the formats we write (glTF, FBX, Collada,
// OBJ, ...) take the side from which the corners run counter-clockwise, and many cull the
// other; scene files come with either winding, since the viewer draws both sides. Export and
// import therefore turn round a triangle whose vertex normals point to its back, so that it is
// seen from where its normals point, and a round trip keeps winding and normals as they were
// written.
#pragma once

#include <cmath>

#include "engine/3dobjects/vecmath.h"

// True when corners a, b, c wind against their normals: the face normal (b - a) x (c - a) and
// the sum of the three vertex normals point to opposite sides. Where the three normals disagree
// among themselves their sum decides (it is the direction shading shows over most of the
// triangle). A triangle without area, with normals that cancel out (or none) or standing
// edge-on to their sum (within 1e-6 of a right angle) keeps its winding.
inline bool WindsAgainstNormals(const Vector3& a, const Vector3& b, const Vector3& c,
                                const Vector3& na, const Vector3& nb, const Vector3& nc) {
    const double e1[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    const double e2[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    const double g[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                         e1[0] * e2[1] - e1[1] * e2[0]};
    const double s[3] = {double(na.x) + nb.x + nc.x, double(na.y) + nb.y + nc.y,
                         double(na.z) + nb.z + nc.z};
    const double dDot = g[0] * s[0] + g[1] * s[1] + g[2] * s[2];
    const double dScale = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]) *
                          std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    return std::isfinite(dScale) && dDot < -1e-6 * dScale;
}
