#include "render/drawlist.h"

#include <cstring>
#include <new>
#include <unordered_set>

#include "fileformats/morv3d/morv3dformat.h"

uint32_t GroupMaterial(const CQVR3DMesh* pMesh, size_t g, uint32_t dwMap,
                       const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials) {
    if (pMesh->pGeometry == nullptr || g >= pMesh->pGeometry->groups.size() ||
        pMaterials == nullptr) {
        return kNoMaterial;
    }
    const uint32_t dwMaterial = pMesh->pGeometry->groups[g].dwMaterial;
    if (dwMaterial >= pMaterials->size() || dwMap >= (*pMaterials)[dwMaterial].size()) {
        return kNoMaterial;
    }
    return dwMaterial;
}

uint32_t GroupEffect(const CQVR3DMesh* pMesh, size_t g, size_t j) {
    if (pMesh->pMaps == nullptr || g >= pMesh->pMaps->groupMaps.size() ||
        j >= pMesh->pMaps->groupMaps[g].size()) {
        return 0;
    }
    return pMesh->pMaps->groupMaps[g][j].dwEffect;
}

namespace {

size_t MapCount(const CQVR3DMesh* pMesh, size_t g) {
    return pMesh->pMaps != nullptr && g < pMesh->pMaps->groupMaps.size()
               ? pMesh->pMaps->groupMaps[g].size()
               : 0;
}

// Each entry's items side by side; the first item of each entry this frame.
void PlaceInstances(const std::vector<DrawItem>& items, const std::vector<uint32_t>& itemEntry,
                    size_t nEntries, const std::vector<const CQVR3DMesh*>& highlighted,
                    DrawList& list, std::vector<const CQVR3DMesh*>& firstOf) {
    list.batchCount.assign(nEntries, 0);
    for (uint32_t dwEntry : itemEntry) {
        if (dwEntry != kNoEntry) {
            ++list.batchCount[dwEntry];
        }
    }
    list.batchFirst.assign(nEntries, 0);
    uint32_t dwNext = 0;
    for (size_t e = 0; e < nEntries; ++e) {
        list.batchFirst[e] = dwNext;
        dwNext += list.batchCount[e];
    }
    const std::unordered_set<const CQVR3DMesh*> lit(highlighted.begin(), highlighted.end());
    list.instances.resize(static_cast<size_t>(dwNext) * kInstanceFloats);
    list.itemInstance.assign(items.size(), kNoEntry);
    firstOf.assign(nEntries, nullptr);
    std::vector<uint32_t> fill(nEntries, 0);
    for (size_t i = 0; i < items.size(); ++i) {
        const uint32_t dwEntry = itemEntry[i];
        if (dwEntry == kNoEntry) {
            continue;
        }
        if (firstOf[dwEntry] == nullptr) {
            firstOf[dwEntry] = items[i].pMesh;
        }
        const uint32_t dwSlot = list.batchFirst[dwEntry] + fill[dwEntry]++;
        list.itemInstance[i] = dwSlot;
        float* p = &list.instances[static_cast<size_t>(dwSlot) * kInstanceFloats];
        std::memcpy(p, &items[i].world.m[0][0], 16 * sizeof(float));
        p[16] = lit.count(items[i].pMesh) != 0 ? 1.0f : 0.0f;
    }
}

}  // namespace

HRESULT BuildDrawList(const std::vector<DrawItem>& items, const std::vector<uint32_t>& itemEntry,
                      const std::vector<GeometryEntry>& entries,
                      const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials,
                      const std::vector<const CQVR3DMesh*>& highlighted, bool bEdges,
                      DrawList& list) {
    try {
        std::vector<const CQVR3DMesh*> firstOf;
        PlaceInstances(items, itemEntry, entries.size(), highlighted, list, firstOf);
        list.opaque.clear();
        list.blended.clear();
        list.edges.clear();
        // A group whose first map blends is drawn in the blended pass only; the maps of the
        // entry's first mesh this frame decide (the entry's meshes share them).
        for (size_t e = 0; e < entries.size(); ++e) {
            const CQVR3DMesh* pFirst = firstOf[e];
            if (pFirst == nullptr) {
                continue;
            }
            const std::vector<bool>& drawable = entries[e].groupDrawable;
            for (size_t g = 0; g < drawable.size(); ++g) {
                if (!drawable[g]) {
                    continue;
                }
                DrawCall call;
                call.dwEntry = static_cast<uint32_t>(e);
                call.dwGroup = static_cast<uint32_t>(g);
                call.dwFirstInstance = list.batchFirst[e];
                call.dwInstances = list.batchCount[e];
                if (bEdges) {
                    list.edges.push_back(call);
                }
                if (GroupEffect(pFirst, g, 0) & MORV3D_MAPEFFECT_ALPHA) {
                    continue;
                }
                call.dwMaterial = GroupMaterial(pFirst, g, 0, pMaterials);
                list.opaque.push_back(call);
            }
        }
        for (size_t i = 0; i < items.size(); ++i) {
            const uint32_t dwEntry = itemEntry[i];
            if (dwEntry == kNoEntry) {
                continue;
            }
            const CQVR3DMesh* pMesh = items[i].pMesh;
            const std::vector<bool>& drawable = entries[dwEntry].groupDrawable;
            for (size_t g = 0; g < drawable.size(); ++g) {
                const size_t nMaps = drawable[g] ? MapCount(pMesh, g) : 0;
                for (size_t j = 0; j < nMaps; ++j) {
                    const uint32_t dwEffect = GroupEffect(pMesh, g, j);
                    if (!(dwEffect & MORV3D_MAPEFFECT_ALPHA)) {
                        continue;
                    }
                    DrawCall call;
                    call.dwEntry = dwEntry;
                    call.dwGroup = static_cast<uint32_t>(g);
                    call.dwFirstInstance = list.itemInstance[i];
                    call.dwInstances = 1;
                    call.dwMap = static_cast<uint32_t>(j);
                    call.dwMaterial = GroupMaterial(pMesh, g, call.dwMap, pMaterials);
                    call.blend = (dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD
                                     ? EBlend::Additive
                                     : EBlend::Alpha;
                    list.blended.push_back(call);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
