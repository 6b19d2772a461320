// Meshes: shared, reference-counted triangle geometry with morph keys and map bindings, and the
// mesh instance that shows it in a scene tree.
#pragma once

#include <cstdint>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/objects.h"
#include "engine/3dobjects/vecmath.h"
#include "engine/utils/picking.h"

// Vertex component flags: the components a packed vertex (a morph record, a file vertex)
// holds, packed in this bit order without gaps.
constexpr uint32_t VERTEX_POSITION = 0x01;  // 12 bytes
constexpr uint32_t VERTEX_NORMAL = 0x02;    // 12 bytes
constexpr uint32_t VERTEX_EXTRA1 = 0x04;    // 4 bytes, carried only
constexpr uint32_t VERTEX_EXTRA2 = 0x08;    // 4 bytes, carried only
constexpr uint32_t VERTEX_TEXCOORD = 0x10;  // 8 bytes

// Bytes of each component, in bit order.
inline constexpr uint32_t kVertexComponentSizes[5] = {12, 12, 4, 4, 8};

// Bytes of the components present in the flags (other bits are ignored): the stride of packed
// vertices, and with the flags masked by (bit - 1) the offset of that bit's component.
constexpr uint32_t VertexComponentSize(uint32_t dwFlags) {
    uint32_t dwSize = 0;
    for (uint32_t c = 0; c < 5; ++c) {
        if ((dwFlags & (1u << c)) != 0) {
            dwSize += kVertexComponentSizes[c];
        }
    }
    return dwSize;
}

// The layout of every vertex buffer.
struct Vertex {
    Vector3 vPosition;
    Vector3 vNormal;
    float fU = 0.0f;
    float fV = 0.0f;
};
static_assert(sizeof(Vertex) == 32, "vertex buffers are 32-byte records");

// A face group's dwMaterial when it is bound to none.
constexpr uint32_t kNoMaterial = UINT32_MAX;

struct MeshGroup {
    uint32_t dwFirstIndex = 0;  // position of the group's first index, counted in indices
    uint32_t dwIndexCount = 0;  // three per triangle
    uint32_t dwBaseVertex = 0;  // the vertex the group's indices count from
    uint32_t dwReserved = 0;    // carried from the file, not interpreted
    // Position in the scene's material list of the material whose maps the group is bound to;
    // what every reader of the scene draws, exports or selects it by.
    uint32_t dwMaterial = kNoMaterial;
};

// Whether the group's whole triangles lie inside an index buffer of dwIndexCount indices and,
// with its base vertex, name one of dwVertexCount vertices. A group without a triangle does.
bool GroupIndicesInRange(const MeshGroup& group, const uint16_t* pIndices, uint32_t dwIndexCount,
                         uint32_t dwVertexCount);

struct MorphKey {
    uint32_t dwTime = 0;
    bool bBlend = false;
    uint32_t dwBlendDuration = 0;
    // One record per vertex in the key vertex format; owned by the geometry (allocate with
    // CQVR3DMeshData::AllocateKeyData). May be null.
    uint8_t* pVertexData = nullptr;
};

struct MapBinding {
    uint32_t dwEffect = 0;   // effect word of the material map
    uint32_t dwTexture = 0;  // texture handle, carried only: the group names its material
};

// Geometry shared by a mesh and its clones. The buffers are owned and must come from the
// Allocate functions below, which the destructor matches.
class CQVR3DMeshData : public CSceneBlockObject {
public:
    CQVR3DMeshData() = default;
    virtual ~CQVR3DMeshData();
    CQVR3DMeshData(const CQVR3DMeshData&) = delete;
    CQVR3DMeshData& operator=(const CQVR3DMeshData&) = delete;

    uint32_t AddRef();
    // Deletes the geometry when the last reference goes; returns the references left.
    uint32_t Release();

    // Null when the allocation fails; sizes are formed in 64 bits.
    static Vertex* AllocateVertices(uint32_t dwCount);
    static uint16_t* AllocateIndices(uint32_t dwCount);
    static uint8_t* AllocateKeyData(uint32_t dwVertexCount, uint32_t dwKeyVertexFormat);
    // Frees a buffer of the Allocate functions (null is ignored).
    static void FreeBuffer(void* pBuffer);

    // Takes over an index buffer of dwCount indices as entry 0 of the group index pointers and
    // points entry g at it plus group g's first index (null for a first index beyond the
    // buffer). The groups must be filled before. E_OUTOFMEMORY (buffer freed) when the pointer
    // list cannot grow.
    HRESULT AttachIndexBuffer(uint16_t* pIndices, uint32_t dwCount);
    // Entry 0 of the group index pointers, the index buffer; null without one.
    const uint16_t* IndexBuffer() const;

    Vertex* pVertices = nullptr;  // base vertices
    uint32_t dwVertexCount = 0;
    SceneVector<MeshGroup> groups;
    SceneVector<uint16_t*> groupIndexPointers;  // entry 0 owns the index buffer
    uint32_t dwIndexCount = 0;
    bool bPrivateIndices = false;  // every mesh instance works on its own copy of the indices
    uint32_t dwBlendFlags = 0;
    SceneVector<MorphKey> morphKeys;  // ascending by time; none or at least two
    uint32_t dwKeyVertexFormat = 0;
    uint32_t dwRefCount = 1;
};

// Map bindings of each face group, shared like the geometry.
class CQVR3DMeshMaps : public CSceneBlockObject {
public:
    CQVR3DMeshMaps() = default;
    virtual ~CQVR3DMeshMaps();
    CQVR3DMeshMaps(const CQVR3DMeshMaps&) = delete;
    CQVR3DMeshMaps& operator=(const CQVR3DMeshMaps&) = delete;

    uint32_t AddRef();
    uint32_t Release();

    SceneVector<SceneVector<MapBinding>> groupMaps;  // one list per face group
    uint32_t dwRefCount = 1;
};

class CQVR3DMesh : public CQVR3DObject {
public:
    CQVR3DMesh() = default;
    ~CQVR3DMesh() override;

    uint32_t GetBlendFlags() override;
    int32_t GetObjectType() override;
    HRESULT Clone(CQVR3DObject** ppClone) override;
    HRESULT Pick(const PickRay& ray, PickHitList& hits) override;
    uint32_t GetAnimationTime() override;
    void ApplyTime(uint32_t dwTime) override;

    // Establishes this instance's vertex buffer and group index pointers from the geometry
    // (own copies of the base vertices when it has morph keys, of the indices when it asks for
    // private ones). Frees the instance buffers held before. E_OUTOFMEMORY when a copy cannot
    // be allocated; E_UNEXPECTED when the geometry lacks the buffer to copy.
    HRESULT InitInstanceBuffers();

    CQVR3DMeshData* pGeometry = nullptr;  // counted
    CQVR3DMeshMaps* pMaps = nullptr;      // counted
    SceneVector<uint16_t*> groupIndexPointers;
    Vertex* pVertices = nullptr;  // what this instance shows and picks

private:
    void FreeInstanceBuffers();
    bool OwnsVertices() const;
    bool OwnsIndices() const;
    // The triangle query of one face group; false when its indices would reach outside the
    // index buffer or the vertices.
    bool GroupQuery(size_t nGroup, TrianglePickQuery& query) const;
};
static_assert(alignof(CQVR3DMesh) <= kSceneBlockAlign &&
              alignof(CQVR3DMeshData) <= kSceneBlockAlign &&
              alignof(CQVR3DMeshMaps) <= kSceneBlockAlign);

// Test hook: the n-th buffer allocation of the mesh classes from now on fails (0: none fails).
void FailMeshAllocationAt(uint32_t dwNth);
