// Ray picking: the records of a pick, the triangle test and the ordering of hits along a ray.
#pragma once

#include <cstdint>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/vecmath.h"

struct PickRay {
    Vector3 vOrigin;
    Vector3 vDirection;  // any non-zero length; never normalised
};

struct PickHit {
    Vector3 vPoint;  // in the coordinate system of the ray passed to the outermost Pick
    int32_t nPickId = -1;
};

using PickHitList = std::vector<PickHit>;

struct TrianglePickQuery {
    const uint16_t* pIndices = nullptr;
    uint32_t dwIndexCount = 0;           // index count / 3 triangles; a remainder is ignored
    const uint8_t* pVertices = nullptr;  // vertex k at pVertices + k * dwStride, position first
    uint32_t dwStride = 0;
    Vector3 vRayOrigin;
    Vector3 vRayDirection;
    int32_t nPickId = -1;
};

// Appends one hit for every triangle the ray's line crosses, in triangle order. S_FALSE, or
// E_OUTOFMEMORY when the list cannot take a hit.
HRESULT IntersectTriangles(const TrianglePickQuery& query, PickHitList& hits);

// Test hook: false keeps the triangle test to its build for any processor, even where the
// one for 256-bit registers could run. Returns the previous setting.
bool AllowWideTriangleTest(bool bAllowed);

// Orders the hits so that the first one met travelling along vDirection comes first.
void SortHitsAlongRay(PickHitList& hits, const Vector3& vDirection);

// Perpendicular distance of vPoint from the infinite line of the ray: |(P - O) x D| / |D|.
// Not a number for a zero direction, so that no sphere test passes then.
inline float DistanceToLine(const Vector3& vPoint, const PickRay& ray) {
    const Vector3 vCross = Cross(Subtract(vPoint, ray.vOrigin), ray.vDirection);
    return static_cast<float>(static_cast<double>(Length(vCross)) / Length(ray.vDirection));
}
