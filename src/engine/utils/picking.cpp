#include "engine/utils/picking.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "abstractdata/debugreport.h"

[[maybe_unused]] static constexpr char kReportUnit[] = "engine/utils/picking";

namespace {

// Vertex positions may sit at any offset of a caller's buffer, so they are copied out.
inline Vector3 PositionAt(const TrianglePickQuery& query, uint16_t wIndex) {
    Vector3 v;
    std::memcpy(&v, query.pVertices + static_cast<size_t>(wIndex) * query.dwStride, sizeof(v));
    return v;
}

inline float Component(const Vector3& v, int nAxis) {
    return nAxis == 0 ? v.x : (nAxis == 1 ? v.y : v.z);
}

}  // namespace

HRESULT IntersectTriangles(const TrianglePickQuery& query, PickHitList& hits) {
    const uint32_t dwTriangles = query.dwIndexCount / 3;
    if (dwTriangles == 0 || query.pIndices == nullptr || query.pVertices == nullptr) {
        return S_FALSE;
    }
    const Vector3& vOrigin = query.vRayOrigin;
    const Vector3& vDirection = query.vRayDirection;
    const uint16_t* pIndex = query.pIndices;
    for (uint32_t t = 0; t < dwTriangles; ++t, pIndex += 3) {
        const Vector3 v0 = PositionAt(query, pIndex[0]);
        const Vector3 v1 = PositionAt(query, pIndex[1]);
        const Vector3 v2 = PositionAt(query, pIndex[2]);
        const Vector3 e1 = Subtract(v1, v0);
        const Vector3 e2 = Subtract(v2, v1);
        const Vector3 vNormal = Cross(e1, e2);

        // A float quotient is the same value as the double quotient stored as float. A zero
        // denominator (parallel line, degenerate triangle or zero direction) could only give
        // an infinity or NaN, so it is skipped before dividing.
        const float fDenominator = Dot(vNormal, vDirection);
        if (fDenominator == 0.0f) {
            continue;
        }
        const float s = Dot(vNormal, Subtract(v0, vOrigin)) / fDenominator;
        if (!std::isfinite(s)) {
            continue;
        }
        const Vector3 vPoint = Add(Scale(s, vDirection), vOrigin);

        const Vector3 e3 = Subtract(v0, v2);
        const Vector3 c0 = Cross(Subtract(vPoint, v0), e1);
        const Vector3 c1 = Cross(Subtract(vPoint, v1), e2);
        const Vector3 c2 = Cross(Subtract(vPoint, v2), e3);

        // c0 is parallel to the normal: its largest component is the most reliable axis.
        const float fAx = std::fabs(c0.x), fAy = std::fabs(c0.y), fAz = std::fabs(c0.z);
        int nAxis;
        if (fAx < fAy) {
            nAxis = fAy >= fAz ? 1 : 2;
        } else {
            nAxis = fAx >= fAz ? 0 : 2;
        }
        const float f0 = Component(c0, nAxis);
        const float f1 = Component(c1, nAxis);
        const float f2 = Component(c2, nAxis);
        // A point on an edge line or a vertex has a zero component and is not inside.
        if ((f0 > 0.0f && f1 > 0.0f && f2 > 0.0f) || (f0 < 0.0f && f1 < 0.0f && f2 < 0.0f)) {
            PickHit hit;
            hit.vPoint = vPoint;
            hit.nPickId = query.nPickId;
            try {
                hits.push_back(hit);
            } catch (const std::bad_alloc&) {
                // A lost hit must not look like a miss.
                ASSERT_HRESULT(E_OUTOFMEMORY);
                return E_OUTOFMEMORY;
            }
        }
    }
    return S_FALSE;
}

void SortHitsAlongRay(PickHitList& hits, const Vector3& vDirection) {
    const float fAx = std::fabs(vDirection.x), fAy = std::fabs(vDirection.y),
                fAz = std::fabs(vDirection.z);
    int nAxis;
    if (fAx > fAy && fAx > fAz) {
        nAxis = 0;
    } else if (fAz >= fAy) {
        nAxis = 2;
    } else {
        nAxis = 1;
    }
    const bool bAscending = Component(vDirection, nAxis) > 0.0f;
    // "a comes before b": only a strict difference orders two hits, so equal ones keep theirs.
    auto before = [nAxis, bAscending](const PickHit& a, const PickHit& b) {
        const float fA = Component(a.vPoint, nAxis), fB = Component(b.vPoint, nAxis);
        return bAscending ? fA < fB : fA > fB;
    };

    const bool bHasNaN = std::any_of(hits.begin(), hits.end(), [nAxis](const PickHit& hit) {
        return std::isnan(Component(hit.vPoint, nAxis));
    });
    if (!bHasNaN) {
        // Without NaN the keys are totally ordered, and exchanging neighbours until none is out
        // of order gives exactly the stable sorted order, in n log n.
        std::stable_sort(hits.begin(), hits.end(), before);
        return;
    }
    // A NaN coordinate is never exchanged and splits the order; repeat the neighbour passes.
    bool bExchanged = true;
    while (bExchanged) {
        bExchanged = false;
        for (size_t i = 1; i < hits.size(); ++i) {
            if (before(hits[i], hits[i - 1])) {
                std::swap(hits[i], hits[i - 1]);
                bExchanged = true;
            }
        }
    }
}
