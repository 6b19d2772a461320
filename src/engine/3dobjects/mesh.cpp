#include "engine/3dobjects/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "abstractdata/debugreport.h"
#include "abstractdata/heapprefault.h"

// A blend of packed records for 256-bit registers, with GCC on x86-64.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MORV_MESH_WIDE 1
#include <immintrin.h>
#else
#define MORV_MESH_WIDE 0
#endif
// A function also built for 256-bit registers, chosen once at start-up; x86-64 only.
#if defined(__x86_64__)
#define MORV_AVX_CLONES __attribute__((target_clones("avx", "default")))
#else
#define MORV_AVX_CLONES
#endif

[[maybe_unused]] static constexpr char kReportUnit[] = "engine/3dobjects/mesh";

namespace {

uint32_t g_dwFailAllocationAt = 0;

// False for the allocation that the test hook wants to fail.
bool AllocationAllowed() {
    if (g_dwFailAllocationAt == 0) {
        return true;
    }
    return --g_dwFailAllocationAt != 0;
}

// A large array comes fresh from the system, and constructing its elements would fault its
// pages in one at a time: they are populated at once first. Freed with FreeBuffer (no array
// overhead for placement new[], and T's destructor is trivial).
template <typename T>
T* AllocateArray(uint64_t qwCount) {
    static_assert(std::is_trivially_destructible_v<T> && alignof(T) <= kSceneBlockAlign);
    if (!AllocationAllowed() || qwCount > std::numeric_limits<size_t>::max() / sizeof(T)) {
        return nullptr;
    }
    const size_t nCount = static_cast<size_t>(qwCount);
    void* pBlock = AllocateSceneBlock(nCount * sizeof(T));
    if (pBlock == nullptr) {
        return nullptr;
    }
    PrefaultBlock(pBlock, nCount * sizeof(T));
    return new (pBlock) T[nCount];
}

// The morph components; the two four-byte extras only take space in a record.
constexpr uint32_t kMorphedComponents = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;

struct KeyLayout {
    size_t nStride;
    size_t nNormalOffset;
    size_t nTexCoordOffset;
};

KeyLayout LayoutOf(uint32_t dwFormat) {
    return {VertexComponentSize(dwFormat), VertexComponentSize(dwFormat & (VERTEX_NORMAL - 1)),
            VertexComponentSize(dwFormat & (VERTEX_TEXCOORD - 1))};
}

// Records with position, normal and texture coordinates and nothing else are laid out like
// vertices, so they can be handled as flat arrays of floats.
bool IsVertexLayout(uint32_t dwFormat) {
    return (dwFormat & (kMorphedComponents | VERTEX_EXTRA1 | VERTEX_EXTRA2)) == kMorphedComponents;
}

inline float Blend(float fA, float fB, double dW, double dOneMinusW) {
    return static_cast<float>(dOneMinusW * fB + dW * fA);
}

// One loop per combination of components, so that the per-vertex work has no tests left.
template <uint32_t kMask>
void CopyRecords(Vertex* pOut, const uint8_t* pKey, size_t nCount, const KeyLayout& layout) {
    for (size_t i = 0; i < nCount; ++i) {
        const uint8_t* pRecord = pKey + i * layout.nStride;
        uint8_t* pVertex = reinterpret_cast<uint8_t*>(pOut + i);
        if constexpr ((kMask & VERTEX_POSITION) != 0) {
            std::memcpy(pVertex, pRecord, 12);
        }
        if constexpr ((kMask & VERTEX_NORMAL) != 0) {
            std::memcpy(pVertex + 12, pRecord + layout.nNormalOffset, 12);
        }
        if constexpr ((kMask & VERTEX_TEXCOORD) != 0) {
            std::memcpy(pVertex + 24, pRecord + layout.nTexCoordOffset, 8);
        }
    }
}

// Key records laid out like vertices: one run of floats. The byte copies keep the loads and
// stores free of alignment and aliasing assumptions; the compiler turns them into plain moves.
// Also built for processors with 256-bit registers (four doubles per instruction), chosen once
// at start-up; no fused multiply-add is enabled, so every float rounds exactly as in the
// plain version.
MORV_AVX_CLONES void BlendFlat(Vertex* pOut, const uint8_t* pA, const uint8_t* pB, size_t nCount,
                               float w) {
    const double dW = w;
    const double dOneMinusW = 1.0 - dW;
    uint8_t* pBytesOut = reinterpret_cast<uint8_t*>(pOut);
    const size_t nFloats = nCount * (sizeof(Vertex) / sizeof(float));
    for (size_t j = 0; j < nFloats; ++j) {
        float fA, fB;
        std::memcpy(&fA, pA + j * sizeof(float), sizeof(float));
        std::memcpy(&fB, pB + j * sizeof(float), sizeof(float));
        const float fOut = Blend(fA, fB, dW, dOneMinusW);
        std::memcpy(pBytesOut + j * sizeof(float), &fOut, sizeof(float));
    }
}

template <typename F>
void ForComponents(uint32_t dwMask, F&& f) {
    switch (dwMask) {
        case 0x01:
            f(std::integral_constant<uint32_t, 0x01>{});
            break;
        case 0x02:
            f(std::integral_constant<uint32_t, 0x02>{});
            break;
        case 0x03:
            f(std::integral_constant<uint32_t, 0x03>{});
            break;
        case 0x10:
            f(std::integral_constant<uint32_t, 0x10>{});
            break;
        case 0x11:
            f(std::integral_constant<uint32_t, 0x11>{});
            break;
        case 0x12:
            f(std::integral_constant<uint32_t, 0x12>{});
            break;
        case 0x13:
            f(std::integral_constant<uint32_t, 0x13>{});
            break;
        default:
            break;
    }
}

#if MORV_MESH_WIDE
// Records with all three components and extras between them, on processors with 256-bit
// registers: position and normal are the record's first 24 bytes, so each vertex's eight floats
// come in three loads and are blended in two groups of four doubles, in the same order of
// operations as Blend.
__attribute__((target("avx"))) void BlendAllComponentsWide(Vertex* pOut, const uint8_t* pA,
                                                           const uint8_t* pB, size_t nCount,
                                                           const KeyLayout& layout, float w) {
    const __m256d vW = _mm256_set1_pd(w);
    const __m256d vOneMinusW = _mm256_set1_pd(1.0 - static_cast<double>(w));
    // Written out in the loop: a lambda would not be built for these registers.
    for (size_t i = 0; i < nCount; ++i) {
        __m128 ab[2][2];
        for (int k = 0; k < 2; ++k) {
            const uint8_t* pRecord = (k == 0 ? pA : pB) + i * layout.nStride;
            ab[k][0] = _mm_loadu_ps(reinterpret_cast<const float*>(pRecord));
            ab[k][1] = _mm_loadh_pi(
                _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(pRecord + 16)),
                reinterpret_cast<const __m64*>(pRecord + layout.nTexCoordOffset));
        }
        float* pVertex = reinterpret_cast<float*>(pOut + i);
        for (int h = 0; h < 2; ++h) {
            const __m256d vBlend =
                _mm256_add_pd(_mm256_mul_pd(vOneMinusW, _mm256_cvtps_pd(ab[1][h])),
                              _mm256_mul_pd(vW, _mm256_cvtps_pd(ab[0][h])));
            _mm_storeu_ps(pVertex + 4 * h, _mm256_cvtpd_ps(vBlend));
        }
    }
}
#endif

// Other layouts are blended in blocks: both keys' present components are first copied into
// vertex-layout blocks, blended there as flat runs of floats, and the present components
// written back; components the keys do not hold are never written.
void BlendRecords(Vertex* pOut, const uint8_t* pA, const uint8_t* pB, size_t nCount,
                  const KeyLayout& layout, uint32_t dwMask, float w) {
    constexpr size_t kBlock = 128;
    Vertex blockA[kBlock], blockB[kBlock], blockOut[kBlock];
    const KeyLayout vertexLayout = {sizeof(Vertex), 12, 24};
    for (size_t nFirst = 0; nFirst < nCount; nFirst += kBlock) {
        const size_t n = std::min(kBlock, nCount - nFirst);
        const size_t nOffset = nFirst * layout.nStride;
        ForComponents(dwMask, [&](auto mask) {
            CopyRecords<decltype(mask)::value>(blockA, pA + nOffset, n, layout);
            CopyRecords<decltype(mask)::value>(blockB, pB + nOffset, n, layout);
        });
        BlendFlat(blockOut, reinterpret_cast<const uint8_t*>(blockA),
                  reinterpret_cast<const uint8_t*>(blockB), n, w);
        ForComponents(dwMask, [&](auto mask) {
            CopyRecords<decltype(mask)::value>(
                pOut + nFirst, reinterpret_cast<const uint8_t*>(blockOut), n, vertexLayout);
        });
    }
}

}  // namespace

bool GroupIndicesInRange(const MeshGroup& group, const uint16_t* pIndices, uint32_t dwIndexCount,
                         uint32_t dwVertexCount) {
    const uint32_t dwUsed = group.dwIndexCount / 3 * 3;
    if (dwUsed == 0) {
        return true;
    }
    if (pIndices == nullptr || static_cast<uint64_t>(group.dwFirstIndex) + dwUsed > dwIndexCount) {
        return false;
    }
    const uint16_t* pFirst = pIndices + group.dwFirstIndex;
    const uint16_t wLargest = *std::max_element(pFirst, pFirst + dwUsed);
    return static_cast<uint64_t>(group.dwBaseVertex) + wLargest < dwVertexCount;
}

void FailMeshAllocationAt(uint32_t dwNth) {
    g_dwFailAllocationAt = dwNth;
}

// ---------------------------------------------------------------------------------------------
// CQVR3DMeshData

CQVR3DMeshData::~CQVR3DMeshData() {
    FreeBuffer(pVertices);
    if (!groupIndexPointers.empty()) {
        FreeBuffer(groupIndexPointers[0]);
    }
    for (MorphKey& key : morphKeys) {
        FreeBuffer(key.pVertexData);
    }
}

uint32_t CQVR3DMeshData::AddRef() {
    return ++dwRefCount;
}

uint32_t CQVR3DMeshData::Release() {
    DEBUG_ASSERT(dwRefCount > 0);
    if (dwRefCount <= 1) {
        delete this;
        return 0;
    }
    return --dwRefCount;
}

Vertex* CQVR3DMeshData::AllocateVertices(uint32_t dwCount) {
    return AllocateArray<Vertex>(dwCount);
}

uint16_t* CQVR3DMeshData::AllocateIndices(uint32_t dwCount) {
    return AllocateArray<uint16_t>(dwCount);
}

uint8_t* CQVR3DMeshData::AllocateKeyData(uint32_t dwVertexCount, uint32_t dwKeyVertexFormat) {
    return AllocateArray<uint8_t>(static_cast<uint64_t>(dwVertexCount) *
                                  VertexComponentSize(dwKeyVertexFormat));
}

void CQVR3DMeshData::FreeBuffer(void* pBuffer) {
    FreeSceneBlock(pBuffer);
}

HRESULT CQVR3DMeshData::AttachIndexBuffer(uint16_t* pIndices, uint32_t dwCount) {
    if (!groupIndexPointers.empty() && groupIndexPointers[0] != pIndices) {
        FreeBuffer(groupIndexPointers[0]);
    }
    groupIndexPointers.clear();
    dwIndexCount = 0;
    try {
        // Entry 0 holds the buffer even without groups, so that it is always freed.
        groupIndexPointers.resize(std::max<size_t>(groups.size(), 1), nullptr);
    } catch (const std::bad_alloc&) {
        FreeBuffer(pIndices);
        return E_OUTOFMEMORY;
    }
    groupIndexPointers[0] = pIndices;
    dwIndexCount = dwCount;
    for (size_t g = 1; g < groups.size(); ++g) {
        if (pIndices != nullptr && groups[g].dwFirstIndex <= dwCount) {
            groupIndexPointers[g] = pIndices + groups[g].dwFirstIndex;
        }
    }
    return S_OK;
}

const uint16_t* CQVR3DMeshData::IndexBuffer() const {
    return groupIndexPointers.empty() ? nullptr : groupIndexPointers[0];
}

// ---------------------------------------------------------------------------------------------
// CQVR3DMeshMaps

CQVR3DMeshMaps::~CQVR3DMeshMaps() = default;

uint32_t CQVR3DMeshMaps::AddRef() {
    return ++dwRefCount;
}

uint32_t CQVR3DMeshMaps::Release() {
    DEBUG_ASSERT(dwRefCount > 0);
    if (dwRefCount <= 1) {
        delete this;
        return 0;
    }
    return --dwRefCount;
}

// ---------------------------------------------------------------------------------------------
// CQVR3DMesh

CQVR3DMesh::~CQVR3DMesh() {
    FreeInstanceBuffers();
    if (pGeometry != nullptr) {
        pGeometry->Release();
    }
    if (pMaps != nullptr) {
        pMaps->Release();
    }
}

uint32_t CQVR3DMesh::GetBlendFlags() {
    return pGeometry != nullptr ? pGeometry->dwBlendFlags : 0;
}

int32_t CQVR3DMesh::GetObjectType() {
    return QVR3DOBJ_MESH;
}

uint32_t CQVR3DMesh::GetAnimationTime() {
    if (pGeometry == nullptr || pGeometry->morphKeys.size() < 2) {
        return 0;
    }
    return pGeometry->morphKeys.back().dwTime;
}

// Ownership is decided by comparison with the geometry's buffers rather than by its flags, so
// that an instance whose buffers were never set up (a mesh left by a failed load) frees and
// morphs only what is its own.
bool CQVR3DMesh::OwnsVertices() const {
    return pVertices != nullptr && (pGeometry == nullptr || pVertices != pGeometry->pVertices);
}

bool CQVR3DMesh::OwnsIndices() const {
    return !groupIndexPointers.empty() && groupIndexPointers[0] != nullptr &&
           (pGeometry == nullptr || groupIndexPointers[0] != pGeometry->IndexBuffer());
}

void CQVR3DMesh::FreeInstanceBuffers() {
    if (OwnsVertices()) {
        CQVR3DMeshData::FreeBuffer(pVertices);
    }
    pVertices = nullptr;
    if (OwnsIndices()) {
        CQVR3DMeshData::FreeBuffer(groupIndexPointers[0]);
    }
    groupIndexPointers.clear();
}

HRESULT CQVR3DMesh::InitInstanceBuffers() {
    FreeInstanceBuffers();
    if (pGeometry == nullptr) {
        return S_OK;
    }
    const CQVR3DMeshData& geometry = *pGeometry;
    HRESULT hr = S_OK;

    if (geometry.morphKeys.empty()) {
        pVertices = geometry.pVertices;
    } else if (geometry.pVertices == nullptr && geometry.dwVertexCount != 0) {
        hr = E_UNEXPECTED;
    } else {
        // The morph writes here, never into the shared base vertices.
        pVertices = CQVR3DMeshData::AllocateVertices(geometry.dwVertexCount);
        if (pVertices == nullptr) {
            hr = E_OUTOFMEMORY;
        } else if (geometry.dwVertexCount != 0) {
            std::memcpy(pVertices, geometry.pVertices,
                        static_cast<size_t>(geometry.dwVertexCount) * sizeof(Vertex));
        }
    }

    if (SUCCEEDED(hr)) {
        try {
            groupIndexPointers.resize(geometry.groupIndexPointers.size(), nullptr);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(hr) && !groupIndexPointers.empty()) {
        uint16_t* pFirst = geometry.groupIndexPointers[0];
        if (geometry.bPrivateIndices) {
            if (pFirst == nullptr && geometry.dwIndexCount != 0) {
                hr = E_UNEXPECTED;
            } else if (pFirst != nullptr) {
                uint16_t* pCopy = CQVR3DMeshData::AllocateIndices(geometry.dwIndexCount);
                if (pCopy == nullptr) {
                    hr = E_OUTOFMEMORY;
                } else {
                    std::memcpy(pCopy, pFirst,
                                static_cast<size_t>(geometry.dwIndexCount) * sizeof(uint16_t));
                }
                pFirst = pCopy;
            }
        }
        groupIndexPointers[0] = pFirst;
        for (size_t g = 1; g < groupIndexPointers.size() && g < geometry.groups.size(); ++g) {
            const uint32_t dwFirstIndex = geometry.groups[g].dwFirstIndex;
            if (pFirst != nullptr && dwFirstIndex <= geometry.dwIndexCount) {
                groupIndexPointers[g] = pFirst + dwFirstIndex;
            }
        }
    }
    return hr;
}

HRESULT CQVR3DMesh::Clone(CQVR3DObject** ppClone) {
    if (ppClone == nullptr) {
        DEBUG_ASSERT(ppClone != nullptr);
        return E_INVALIDARG;
    }
    HRESULT hr = S_OK;
    CQVR3DMesh* pClone = new (std::nothrow) CQVR3DMesh;
    if (pClone == nullptr) {
        hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        pClone->vLocalSphereCenter = vLocalSphereCenter;
        pClone->fLocalSphereRadius = fLocalSphereRadius;
        pClone->vParentSphereCenter = vParentSphereCenter;
        pClone->fParentSphereRadius = fParentSphereRadius;
        pClone->nPickId = nPickId;
        pClone->pGeometry = pGeometry;
        if (pGeometry != nullptr) {
            pGeometry->AddRef();
        }
        pClone->pMaps = pMaps;
        if (pMaps != nullptr) {
            pMaps->AddRef();
        }
        // From the base vertices, not from this instance's morphed state.
        hr = pClone->InitInstanceBuffers();
    }
    if (FAILED(hr)) {
        delete pClone;
        pClone = nullptr;
        ASSERT_HRESULT(hr);
    }
    *ppClone = pClone;
    return hr;
}

void CQVR3DMesh::ApplyTime(uint32_t dwTime) {
    CQVR3DObject::ApplyTime(dwTime);
    if (pGeometry == nullptr || pGeometry->morphKeys.size() < 2 || !OwnsVertices()) {
        return;
    }
    const SceneVector<MorphKey>& keys = pGeometry->morphKeys;

    const MorphKey* pShown = nullptr;
    const MorphKey* pFrom = nullptr;  // A, while blending into pShown (B)
    if (dwTime <= keys.front().dwTime) {
        pShown = &keys.front();
    } else if (dwTime >= keys.back().dwTime) {
        pShown = &keys.back();
    } else {
        // Interpolation search; lo.time <= t < hi.time holds throughout, so the span is never 0
        // and every clamped k keeps it. The product is formed in 64 bits: in 32 bits it wraps
        // for long animations and only slows the search down.
        size_t nLo = 0;
        size_t n = keys.size() - 1;  // hi = lo + n
        while (n > 1) {
            const uint32_t dwLoTime = keys[nLo].dwTime;
            const uint32_t dwSpan = keys[nLo + n].dwTime - dwLoTime;
            uint64_t k = n <= std::numeric_limits<uint32_t>::max()
                             ? static_cast<uint64_t>(dwTime - dwLoTime) * n / dwSpan
                             : n / 2;
            k = std::clamp<uint64_t>(k, 1, n - 1);
            if (dwTime < keys[nLo + k].dwTime) {
                n = static_cast<size_t>(k);
            } else {
                nLo += static_cast<size_t>(k);
                n -= static_cast<size_t>(k);
            }
        }
        const MorphKey& a = keys[nLo];
        const MorphKey& b = keys[nLo + 1];
        // The window start is formed without wrapping: a duration longer than the key's time
        // blends from the start of the interval instead of never.
        const bool bBlend =
            b.bBlend && static_cast<int64_t>(b.dwTime) - static_cast<int64_t>(b.dwBlendDuration) <
                            static_cast<int64_t>(dwTime);
        if (bBlend) {
            pShown = &b;
            pFrom = &a;
        } else {
            pShown = &a;
        }
    }

    const uint32_t dwFormat = pGeometry->dwKeyVertexFormat;
    const uint32_t dwMask = dwFormat & kMorphedComponents;
    const size_t nCount = pGeometry->dwVertexCount;
    if (dwMask == 0 || nCount == 0 || pShown->pVertexData == nullptr ||
        (pFrom != nullptr && pFrom->pVertexData == nullptr)) {
        return;
    }
    const KeyLayout layout = LayoutOf(dwFormat);
    if (pFrom == nullptr) {
        if (IsVertexLayout(dwFormat)) {
            std::memcpy(pVertices, pShown->pVertexData, nCount * sizeof(Vertex));
        } else {
            ForComponents(dwMask, [&](auto mask) {
                CopyRecords<decltype(mask)::value>(pVertices, pShown->pVertexData, nCount, layout);
            });
        }
        return;
    }
    const float w = static_cast<float>(static_cast<double>(pShown->dwTime - dwTime) /
                                       static_cast<double>(pShown->dwBlendDuration));
    if (IsVertexLayout(dwFormat)) {
        BlendFlat(pVertices, pFrom->pVertexData, pShown->pVertexData, nCount, w);
    } else {
#if MORV_MESH_WIDE
        static const bool bAvx = __builtin_cpu_supports("avx");
        if (bAvx && dwMask == kMorphedComponents) {
            BlendAllComponentsWide(pVertices, pFrom->pVertexData, pShown->pVertexData, nCount,
                                   layout, w);
            return;
        }
#endif
        BlendRecords(pVertices, pFrom->pVertexData, pShown->pVertexData, nCount, layout, dwMask, w);
    }
}

bool CQVR3DMesh::GroupQuery(size_t nGroup, TrianglePickQuery& query) const {
    const CQVR3DMeshData& geometry = *pGeometry;
    const MeshGroup& group = geometry.groups[nGroup];
    query.dwIndexCount = group.dwIndexCount;
    query.pIndices = nGroup < groupIndexPointers.size() ? groupIndexPointers[nGroup] : nullptr;
    query.pVertices = nullptr;
    if (group.dwIndexCount / 3 == 0) {
        return true;
    }
    // The range first: only then is the group's first index a position inside the buffer.
    if (query.pIndices == nullptr || pVertices == nullptr || groupIndexPointers[0] == nullptr ||
        !GroupIndicesInRange(group, groupIndexPointers[0], geometry.dwIndexCount,
                             geometry.dwVertexCount) ||
        query.pIndices != groupIndexPointers[0] + group.dwFirstIndex) {
        return false;
    }
    query.pVertices = reinterpret_cast<const uint8_t*>(pVertices + group.dwBaseVertex);
    return true;
}

HRESULT CQVR3DMesh::Pick(const PickRay& ray, PickHitList& hits) {
    HRESULT hr = CQVR3DObject::Pick(ray, hits);
    const float fDistance = DistanceToLine(vLocalSphereCenter, ray);
    // A radius of 0 is a sphere nobody set: it cannot tell where the triangles are.
    if ((fLocalSphereRadius != 0.0f && fDistance > fLocalSphereRadius) || std::isnan(fDistance) ||
        pGeometry == nullptr) {
        return hr;
    }
    TrianglePickQuery query;
    query.dwStride = sizeof(Vertex);
    query.vRayOrigin = ray.vOrigin;
    query.vRayDirection = ray.vDirection;
    query.nPickId = nPickId;
    for (size_t g = 0; g < pGeometry->groups.size() && SUCCEEDED(hr); ++g) {
        // A group reaching outside the buffers is a broken mesh, not a miss.
        hr = GroupQuery(g, query) ? IntersectTriangles(query, hits) : E_UNEXPECTED;
    }
    if (FAILED(hr)) {
        ASSERT_HRESULT(hr);
    }
    return hr;
}
