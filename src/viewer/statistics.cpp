#include "viewer/statistics.h"

#include <algorithm>
#include <new>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/mesh.h"

static constexpr char kReportUnit[] = "viewer/statistics";

namespace {

bool IsDummyName(const char* pszName) {
    return pszName != nullptr && pszName[0] == 'd' && pszName[1] == 'm' && pszName[2] == 'y';
}

void CountObject(CQVR3DObject* pObject, SceneStatistics& statistics) {
    // The hierarchy's animation time, found in the same walk as the counts.
    statistics.dwAnimationTime = std::max(statistics.dwAnimationTime, pObject->GetAnimationTime());
    const int32_t nType = pObject->GetObjectType();
    if (nType == QVR3DOBJ_NODE) {
        ++statistics.qwNodes;
        if (IsDummyName(pObject->GetName())) {
            ++statistics.qwDummies;
        }
    } else if (nType == QVR3DOBJ_MESH) {
        ++statistics.qwMeshes;
        const auto* pMesh = dynamic_cast<CQVR3DMesh*>(pObject);
        if (pMesh != nullptr && pMesh->pGeometry != nullptr) {
            const CQVR3DMeshData& geometry = *pMesh->pGeometry;
            statistics.qwTriangles += geometry.dwIndexCount / 3;
            statistics.qwVertices += geometry.dwVertexCount;
            statistics.qwMorphKeys += geometry.morphKeys.size();
        }
    }
}

}  // namespace

HRESULT CountScene(const CMorv3dViewerDoc& doc, SceneStatistics* pStatistics) {
    if (pStatistics == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    SceneStatistics& statistics = *pStatistics;
    statistics = SceneStatistics();
    statistics.qwMaterials = doc.materials.size();
    for (const CMorv3DLoader::tMaterialMaps& material : doc.materials) {
        statistics.qwMaps += material.size();
    }
    if (doc._pNode == nullptr) {
        return S_OK;
    }
    // An explicit stack: hierarchies can be deeper than the call stack.
    try {
        std::vector<CQVR3DObject*> pending{doc._pNode};
        while (!pending.empty()) {
            CQVR3DObject* pObject = pending.back();
            pending.pop_back();
            CountObject(pObject, statistics);
            const uint32_t dwChildren = pObject->GetChildCount();
            for (uint32_t i = 0; i < dwChildren; ++i) {
                if (CQVR3DObject* pChild = pObject->GetChild(i)) {
                    pending.push_back(pChild);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}
