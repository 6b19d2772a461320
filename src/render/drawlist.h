// What a frame draws, in which order and with which blend state, as plain data: the passes
// only walk these lists. No GL here, so the order is tested without a context.
#pragma once

#include <cstdint>
#include <vector>

#include "abstractdata/hresult.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "render/framewalk.h"

// One entry of the geometry cache as the list sees it: geometry shared by several meshes (or a
// morphing mesh's own vertices) and which of its face groups can be drawn at all.
struct GeometryEntry {
    CQVR3DMeshData* pGeometry = nullptr;
    const CQVR3DMesh* pOwner = nullptr;  // a morphing mesh's own buffer
    const CQVR3DMesh* pFirst = nullptr;  // the mesh it was made for
    std::vector<bool> groupDrawable;     // indices and base vertex stay inside the buffers
};

enum class EBlend : uint8_t { Opaque, Alpha, Additive };

inline constexpr uint32_t kNoEntry = UINT32_MAX;
inline constexpr int kInstanceFloats = 17;  // four matrix rows and the highlight flag

// One draw of a face group for a run of instances, textured with map dwMap of dwMaterial
// (kNoMaterial: white).
struct DrawCall {
    uint32_t dwEntry = 0;
    uint32_t dwGroup = 0;
    uint32_t dwFirstInstance = 0;
    uint32_t dwInstances = 0;
    uint32_t dwMaterial = kNoMaterial;
    uint32_t dwMap = 0;
    EBlend blend = EBlend::Opaque;
};

struct DrawList {
    // The instances of each entry lie side by side: kInstanceFloats each.
    std::vector<float> instances;
    std::vector<uint32_t> itemInstance;  // each item's slot (kNoEntry: not drawn)
    std::vector<uint32_t> batchFirst;    // per entry: its first instance and how many
    std::vector<uint32_t> batchCount;
    // Opaque face groups, each entry's instances in one call per group.
    std::vector<DrawCall> opaque;
    // Blended groups and blended further maps, in hierarchy order, one instance each.
    std::vector<DrawCall> blended;
    // Every drawable group once per entry, for the edges.
    std::vector<DrawCall> edges;
};

// The material of face group g of a mesh when map dwMap of it exists; kNoMaterial otherwise.
uint32_t GroupMaterial(const CQVR3DMesh* pMesh, size_t g, uint32_t dwMap,
                       const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials);

// The effect word of map j of face group g (0 without one).
uint32_t GroupEffect(const CQVR3DMesh* pMesh, size_t g, size_t j);

// Fills list from the prepared items and the cache entry of each (kNoEntry: nothing to draw).
// Highlighted meshes get the flag in their instances; bEdges adds the edge calls.
HRESULT BuildDrawList(const std::vector<DrawItem>& items, const std::vector<uint32_t>& itemEntry,
                      const std::vector<GeometryEntry>& entries,
                      const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials,
                      const std::vector<const CQVR3DMesh*>& highlighted, bool bEdges,
                      DrawList& list);
