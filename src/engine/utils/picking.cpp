#include "engine/utils/picking.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "abstractdata/debugreport.h"

// A build of the triangle test for 256-bit registers, with GCC on x86-64.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MORV_PICK_WIDE 1
#include <immintrin.h>
#else
#define MORV_PICK_WIDE 0
#endif

[[maybe_unused]] static constexpr char kReportUnit[] = "engine/utils/picking";

// The lane helpers below are internal and inlined; how wide vectors would be passed between
// units compiled for different processors does not concern them.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// The triangle test runs on kLanes triangles at once, each lane doing exactly the operations
// of one triangle: the test is a long chain of dependent steps, and side by side the chains
// of several triangles overlap instead of waiting on each other.
constexpr int kLanes = 4;
// The vertices are scattered; those of the triangles this far ahead are asked for early, so
// that their reads overlap with the arithmetic.
constexpr uint32_t kPrefetchTriangles = 4 * kLanes;

bool g_bWideAllowed = true;  // AllowWideTriangleTest

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

namespace plain {
#define MORV_LANES_AVX 0
#include "engine/utils/picking_lanes.inl"
#undef MORV_LANES_AVX
}  // namespace plain

#if MORV_PICK_WIDE
// The same test for processors with 256-bit registers, where the double lanes take half the
// instructions. No fused multiply-add is enabled, so every lane rounds exactly as above.
#pragma GCC push_options
#pragma GCC target("avx")
namespace wide {
#define MORV_LANES_AVX 1
#include "engine/utils/picking_lanes.inl"
#undef MORV_LANES_AVX
}  // namespace wide
#pragma GCC pop_options
#endif

}  // namespace

bool AllowWideTriangleTest(bool bAllowed) {
    const bool bPrevious = g_bWideAllowed;
    g_bWideAllowed = bAllowed;
    return bPrevious;
}

HRESULT IntersectTriangles(const TrianglePickQuery& query, PickHitList& hits) {
    if (query.dwIndexCount < 3 || query.pIndices == nullptr || query.pVertices == nullptr) {
        return S_FALSE;
    }
    CHitBuffer buffer(hits);
#if MORV_PICK_WIDE
    static const bool bAvx = __builtin_cpu_supports("avx");
    const bool bWide = bAvx && g_bWideAllowed;
    const bool bStored =
        bWide ? wide::TestTriangles(query, buffer) : plain::TestTriangles(query, buffer);
#else
    const bool bStored = plain::TestTriangles(query, buffer);
#endif
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
