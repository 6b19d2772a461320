#include "engine/utils/picking.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "abstractdata/debugreport.h"

[[maybe_unused]] static constexpr char kReportUnit[] = "engine/utils/picking";

// The lane helpers below are internal and inlined; how wide vectors would be passed between
// units compiled for different processors does not concern them.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// The triangle test runs on kLanes triangles at once, each lane doing exactly the operations
// of one triangle: the test is a long chain of dependent steps, and side by side the chains
// of several triangles overlap instead of waiting on each other.
constexpr int kLanes = 4;
constexpr uint32_t kPrefetchTriangles = 4 * kLanes;
using FloatLanes = float __attribute__((vector_size(kLanes * sizeof(float))));
using DoubleLanes = double __attribute__((vector_size(kLanes * sizeof(double))));
using MaskLanes = int32_t __attribute__((vector_size(kLanes * sizeof(int32_t))));

struct Vector3Lanes {
    FloatLanes x, y, z;
};

inline DoubleLanes Wide(FloatLanes a) {
    return __builtin_convertvector(a, DoubleLanes);
}
inline FloatLanes Narrow(DoubleLanes a) {
    return __builtin_convertvector(a, FloatLanes);
}

// A single sum, difference or product of two floats formed in double and stored as float is
// the float operation itself (double has more than twice the precision, so the second rounding
// cannot change it). Dot and cross products are formed in double as everywhere else.
inline Vector3Lanes Minus(const Vector3Lanes& a, const Vector3Lanes& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline Vector3Lanes Cross(const Vector3Lanes& a, const Vector3Lanes& b) {
    const DoubleLanes ax = Wide(a.x), ay = Wide(a.y), az = Wide(a.z);
    const DoubleLanes bx = Wide(b.x), by = Wide(b.y), bz = Wide(b.z);
    return {Narrow(ay * bz - az * by), Narrow(az * bx - ax * bz), Narrow(ax * by - ay * bx)};
}

inline FloatLanes Dot(const Vector3Lanes& a, const Vector3Lanes& b) {
    return Narrow(Wide(a.x) * Wide(b.x) + Wide(a.y) * Wide(b.y) + Wide(a.z) * Wide(b.z));
}

inline FloatLanes Abs(FloatLanes a) {
    MaskLanes bits;
    std::memcpy(&bits, &a, sizeof(bits));
    bits &= 0x7FFFFFFF;
    std::memcpy(&a, &bits, sizeof(a));
    return a;
}

inline FloatLanes Splat(float f) {
    return FloatLanes{} + f;
}

inline float Component(const Vector3& v, int nAxis) {
    return nAxis == 0 ? v.x : (nAxis == 1 ? v.y : v.z);
}

// Appends the hits gathered in a small buffer; every candidate is written there and the count
// only advances for a hit, so that no branch depends on the outcome of a test.
class CHitBuffer {
public:
    explicit CHitBuffer(PickHitList& hits) : m_hits(hits) {}
    PickHit& Slot() { return m_buffer[m_nCount]; }
    void Advance(bool bHit) { m_nCount += bHit ? 1 : 0; }
    bool Full() const { return m_nCount + kLanes > kCapacity; }
    // False when the list cannot take the hits.
    bool Flush() {
        try {
            m_hits.insert(m_hits.end(), m_buffer, m_buffer + m_nCount);
        } catch (const std::bad_alloc&) {
            return false;
        }
        m_nCount = 0;
        return true;
    }

private:
    static constexpr size_t kCapacity = 8 * kLanes;
    PickHitList& m_hits;
    PickHit m_buffer[kCapacity];
    size_t m_nCount = 0;
};

}  // namespace

// The same code for processors with 256-bit registers, where the double lanes need half the
// instructions; chosen once when the program starts. No fused multiply-add is enabled, so
// every lane rounds exactly as before.
__attribute__((target_clones("avx", "default"))) HRESULT IntersectTriangles(
    const TrianglePickQuery& query, PickHitList& hits) {
    const uint32_t dwTriangles = query.dwIndexCount / 3;
    if (dwTriangles == 0 || query.pIndices == nullptr || query.pVertices == nullptr) {
        return S_FALSE;
    }
    const Vector3Lanes vOrigin = {Splat(query.vRayOrigin.x), Splat(query.vRayOrigin.y),
                                  Splat(query.vRayOrigin.z)};
    const Vector3Lanes vDirection = {Splat(query.vRayDirection.x), Splat(query.vRayDirection.y),
                                     Splat(query.vRayDirection.z)};
    CHitBuffer buffer(hits);
    bool bStored = true;
    for (uint32_t dwFirst = 0; dwFirst < dwTriangles && bStored; dwFirst += kLanes) {
        const uint32_t dwLanes = std::min<uint32_t>(kLanes, dwTriangles - dwFirst);
        // The vertices are scattered: ask for those of a later batch now, so that their reads
        // overlap with this batch's arithmetic.
        const uint32_t dwAhead = dwFirst + kPrefetchTriangles;
        if (dwAhead + kLanes <= dwTriangles) {
            const uint16_t* pIndex = query.pIndices + 3 * static_cast<size_t>(dwAhead);
            for (int n = 0; n < 3 * kLanes; ++n) {
                __builtin_prefetch(query.pVertices +
                                   static_cast<size_t>(pIndex[n]) * query.dwStride);
            }
        }
        // Unused lanes keep zero positions: a degenerate triangle, never a hit.
        Vector3Lanes v[3] = {};
        for (uint32_t k = 0; k < dwLanes; ++k) {
            const uint16_t* pIndex = query.pIndices + 3 * static_cast<size_t>(dwFirst + k);
            for (int n = 0; n < 3; ++n) {
                // Positions may sit at any offset of the caller's buffer, so they are copied.
                float f[3];
                std::memcpy(f, query.pVertices + static_cast<size_t>(pIndex[n]) * query.dwStride,
                            sizeof(f));
                v[n].x[k] = f[0];
                v[n].y[k] = f[1];
                v[n].z[k] = f[2];
            }
        }
        const Vector3Lanes e1 = Minus(v[1], v[0]);
        const Vector3Lanes e2 = Minus(v[2], v[1]);
        const Vector3Lanes vNormal = Cross(e1, e2);

        // A zero denominator (parallel line, degenerate triangle or zero direction) would give
        // an infinity or NaN; it is not divided by, and its lane is no hit. The float quotient
        // is the double quotient stored as float.
        const FloatLanes fDenominator = Dot(vNormal, vDirection);
        const MaskLanes bNonZero = fDenominator != 0.0f;
        const FloatLanes s =
            Dot(vNormal, Minus(v[0], vOrigin)) / (bNonZero ? fDenominator : Splat(1.0f));
        const MaskLanes bFinite = (s - s) == 0.0f;  // false for infinities and NaN
        const Vector3Lanes vPoint = {s * vDirection.x + vOrigin.x, s * vDirection.y + vOrigin.y,
                                     s * vDirection.z + vOrigin.z};

        const Vector3Lanes c0 = Cross(Minus(vPoint, v[0]), e1);
        // c0 is parallel to the normal: its largest component is the most reliable axis.
        const FloatLanes fAx = Abs(c0.x), fAy = Abs(c0.y), fAz = Abs(c0.z);
        const MaskLanes bXBelowY = fAx < fAy;
        const MaskLanes bY = bXBelowY & (fAy >= fAz);
        const MaskLanes bX = ~bXBelowY & (fAx >= fAz);
        auto onAxis = [&](FloatLanes x, FloatLanes y, FloatLanes z) {
            return bX ? x : (bY ? y : z);
        };
        // Of c1 and c2 only the component on that axis is formed: (a x b) on x is
        // a.y b.z - a.z b.y, on y a.z b.x - a.x b.z, on z a.x b.y - a.y b.x.
        auto crossOnAxis = [&](const Vector3Lanes& a, const Vector3Lanes& b) {
            const FloatLanes p = onAxis(a.y, a.z, a.x), q = onAxis(b.z, b.x, b.y);
            const FloatLanes r = onAxis(a.z, a.x, a.y), t = onAxis(b.y, b.z, b.x);
            return Narrow(Wide(p) * Wide(q) - Wide(r) * Wide(t));
        };
        const FloatLanes f0 = onAxis(c0.x, c0.y, c0.z);
        const FloatLanes f1 = crossOnAxis(Minus(vPoint, v[1]), e2);
        const FloatLanes f2 = crossOnAxis(Minus(vPoint, v[2]), Minus(v[0], v[2]));
        // A point on an edge line or a vertex has a zero component and is not inside.
        const MaskLanes bInside =
            bNonZero & bFinite &
            (((f0 > 0.0f) & (f1 > 0.0f) & (f2 > 0.0f)) | ((f0 < 0.0f) & (f1 < 0.0f) & (f2 < 0.0f)));

        for (uint32_t k = 0; k < dwLanes; ++k) {
            PickHit& hit = buffer.Slot();
            hit.vPoint = {vPoint.x[k], vPoint.y[k], vPoint.z[k]};
            hit.nPickId = query.nPickId;
            buffer.Advance(bInside[k] != 0);
        }
        if (buffer.Full()) {
            bStored = buffer.Flush();
        }
    }
    if (!bStored || !buffer.Flush()) {
        // A lost hit must not look like a miss.
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
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
