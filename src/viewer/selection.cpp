#include "viewer/selection.h"

#include <new>

#include "abstractdata/debugreport.h"

static constexpr char kReportUnit[] = "viewer/selection";

size_t ParentEntry(const StructureTree& tree, size_t nEntry) {
    if (nEntry >= tree.entries.size()) {
        return kNoEntry;
    }
    const uint32_t dwDepth = tree.entries[nEntry].dwDepth;
    if (dwDepth == 0) {
        return kNoEntry;
    }
    for (size_t i = nEntry; i-- > 0;) {
        if (tree.entries[i].dwDepth < dwDepth) {
            return i;
        }
    }
    return kNoEntry;
}

namespace {

// The material and map a map-branch entry belongs to: counted over the materials branch,
// which comes first in the tree and is short.
void LocateMaterial(const StructureTree& tree, size_t nEntry, EntryInfo& info) {
    int32_t nMaterial = -1;
    int32_t nMap = -1;
    for (size_t i = 0; i <= nEntry; ++i) {
        const StructureTreeEntry& entry = tree.entries[i];
        if (entry.dwDepth == 1 && entry.nImage == TREEIMAGE_MATERIAL) {
            ++nMaterial;
            nMap = -1;
        } else if (entry.dwDepth == 2 && entry.nImage == TREEIMAGE_MAP) {
            ++nMap;
        }
    }
    info.nMaterial = nMaterial;
    if (info.kind == EEntryKind::Map) {
        info.nMap = nMap;
    }
}

}  // namespace

EntryInfo DescribeEntry(const StructureTree& tree, size_t nEntry) {
    EntryInfo info;
    if (nEntry >= tree.entries.size()) {
        return info;
    }
    const StructureTreeEntry& entry = tree.entries[nEntry];
    if (entry.pItemData != nullptr) {
        info.kind = EEntryKind::Object;
        info.pObject = entry.pItemData;
        info.nEntry = nEntry;
    } else if (entry.dwDepth == 0) {
        info.kind = EEntryKind::Root;
    } else if (entry.nImage == TREEIMAGE_ANIMATION || entry.nImage == TREEIMAGE_MESH_ANIMATION) {
        info.kind = EEntryKind::Animation;
        info.nEntry = ParentEntry(tree, nEntry);
        if (info.nEntry != kNoEntry) {
            info.pObject = tree.entries[info.nEntry].pItemData;
        }
    } else if (entry.nImage == TREEIMAGE_MATERIAL || entry.nImage == TREEIMAGE_MAP) {
        info.kind = entry.nImage == TREEIMAGE_MATERIAL ? EEntryKind::Material : EEntryKind::Map;
        LocateMaterial(tree, nEntry, info);
    }
    return info;
}

int32_t GroupMaterial(const CQVR3DMesh& mesh, size_t nGroup) {
    if (mesh.pGeometry == nullptr || nGroup >= mesh.pGeometry->groups.size()) {
        return -1;
    }
    const uint32_t dwMaterial = mesh.pGeometry->groups[nGroup].dwMaterial;
    return dwMaterial <= INT32_MAX ? static_cast<int32_t>(dwMaterial) : -1;
}

namespace {

CQVR3DMesh* AsMesh(CQVR3DObject* pObject) {
    return pObject->GetObjectType() == QVR3DOBJ_MESH ? dynamic_cast<CQVR3DMesh*>(pObject) : nullptr;
}

// Pre-order over everything at or below pObject with an explicit stack: hierarchies can be
// thousands of levels deep.
template <typename Visit>
HRESULT WalkSubtree(CQVR3DObject* pObject, Visit&& visit) {
    if (pObject == nullptr) {
        return S_OK;
    }
    try {
        std::vector<CQVR3DObject*> pending{pObject};
        while (!pending.empty()) {
            CQVR3DObject* pCurrent = pending.back();
            pending.pop_back();
            visit(pCurrent);
            for (uint32_t i = pCurrent->GetChildCount(); i-- > 0;) {
                if (CQVR3DObject* pChild = pCurrent->GetChild(i)) {
                    pending.push_back(pChild);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}

}  // namespace

HRESULT SubtreeMeshes(CQVR3DObject* pObject, std::vector<CQVR3DMesh*>* pMeshes) {
    if (pMeshes == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    return WalkSubtree(pObject, [&](CQVR3DObject* pCurrent) {
        if (CQVR3DMesh* pMesh = AsMesh(pCurrent)) {
            pMeshes->push_back(pMesh);
        }
    });
}

HRESULT MaterialMeshes(CQVR3DObject* pRoot, int32_t nMaterial, std::vector<CQVR3DMesh*>* pMeshes) {
    if (pMeshes == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    if (nMaterial < 0) {
        return S_OK;
    }
    return WalkSubtree(pRoot, [&](CQVR3DObject* pCurrent) {
        CQVR3DMesh* pMesh = AsMesh(pCurrent);
        if (pMesh == nullptr || pMesh->pGeometry == nullptr) {
            return;
        }
        for (size_t g = 0; g < pMesh->pGeometry->groups.size(); ++g) {
            if (GroupMaterial(*pMesh, g) == nMaterial) {
                pMeshes->push_back(pMesh);
                return;
            }
        }
    });
}

HRESULT EntryMeshes(const StructureTree& tree, size_t nEntry, CQVR3DObject* pRoot,
                    std::vector<CQVR3DMesh*>* pMeshes) {
    if (pMeshes == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    const EntryInfo info = DescribeEntry(tree, nEntry);
    switch (info.kind) {
        case EEntryKind::Object:
        case EEntryKind::Animation:
            return SubtreeMeshes(info.pObject, pMeshes);
        case EEntryKind::Material:
        case EEntryKind::Map:
            return MaterialMeshes(pRoot, info.nMaterial, pMeshes);
        default:
            return S_OK;
    }
}

HRESULT CObjectEntryIndex::Build(const StructureTree& tree) {
    m_entries.clear();
    try {
        m_entries.reserve(tree.entries.size());
        for (size_t i = 0; i < tree.entries.size(); ++i) {
            if (tree.entries[i].pItemData != nullptr) {
                m_entries.emplace(tree.entries[i].pItemData, i);
            }
        }
    } catch (const std::bad_alloc&) {
        m_entries.clear();
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}

size_t CObjectEntryIndex::EntryOf(CQVR3DObject* pObject) const {
    for (; pObject != nullptr; pObject = pObject->GetParent()) {
        const auto it = m_entries.find(pObject);
        if (it != m_entries.end()) {
            return it->second;
        }
    }
    return kNoEntry;
}
