#include "render/viewpick.h"

#include <algorithm>
#include <new>

#include "abstractdata/codepage.h"
#include "engine/3dobjects/nodewalk.h"
#include "render/framewalk.h"

HRESULT PickThroughPixel(CQVR3DObject* pRoot, const CCamera& camera, double dX, double dY,
                         std::vector<ViewHit>& hits) {
    hits.clear();
    std::vector<DrawItem> items;
    const HRESULT hr = CollectDrawItems(pRoot, items);
    return FAILED(hr) ? hr : PickThroughPixel(pRoot, items, camera, dX, dY, hits);
}

HRESULT PickThroughPixel(CQVR3DObject* pRoot, const std::vector<DrawItem>& items,
                         const CCamera& camera, double dX, double dY, std::vector<ViewHit>& hits) {
    hits.clear();
    if (pRoot == nullptr) {
        return S_OK;
    }
    // Each mesh answers with its place in the list while the pick runs.
    std::vector<int32_t> ownIds;
    PickHitList found;
    HRESULT hr = S_OK;
    try {
        ownIds.reserve(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            ownIds.push_back(items[i].pMesh->nPickId);
            items[i].pMesh->SetPickId(static_cast<int32_t>(i));
        }
        const PickRay ray = camera.RayThroughPixel(dX, dY);
        hr = pRoot->Pick(ray, found);
        hr = SUCCEEDED(hr) ? S_OK : hr;  // the triangle test's S_FALSE is no answer of ours
        SortHitsAlongRay(found, ray.vDirection);
        for (const PickHit& hit : found) {
            if (hit.nPickId < 0 || static_cast<size_t>(hit.nPickId) >= items.size()) {
                continue;
            }
            const Vector3 vToHit = Subtract(hit.vPoint, ray.vOrigin);
            const float fDistance = Dot(vToHit, ray.vDirection);
            if (!(fDistance >= 0)) {
                continue;  // the engine's ray is a line: behind the eye is not in the picture
            }
            CQVR3DMesh* pMesh = items[static_cast<size_t>(hit.nPickId)].pMesh;
            hits.push_back(
                {pMesh, ownIds[static_cast<size_t>(hit.nPickId)], fDistance, hit.vPoint});
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < ownIds.size(); ++i) {
        items[i].pMesh->SetPickId(ownIds[i]);
    }
    return hr;
}

std::string ObjectPath(CQVR3DObject* pObject) {
    std::vector<std::string> parts;
    for (CQVR3DObject* p = pObject; p != nullptr; p = p->GetParent()) {
        const char* pszName = p->GetName();
        std::string strPart = pszName != nullptr ? pszName : "";
        if (strPart.empty()) {
            uint32_t dwPlace = 0;
            if (CQVR3DObject* pParent = p->GetParent()) {
                for (uint32_t i = 0; i < pParent->GetChildCount(); ++i) {
                    if (pParent->GetChild(i) == p) {
                        dwPlace = i;
                    }
                }
            }
            strPart = (p->GetObjectType() == QVR3DOBJ_MESH ? "mesh[" : "node[") +
                      std::to_string(dwPlace) + "]";
        }
        parts.push_back(std::move(strPart));
    }
    std::string strPath;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        strPath += (strPath.empty() ? "" : "/") + *it;
    }
    return strPath;
}

CQVR3DObject* ObjectAtPath(CQVR3DObject* pRoot, const std::string& strPath) {
    const auto pathOf = [](CQVR3DObject* pObject) {
        return Windows1252ToUtf8(ObjectPath(pObject));
    };
    if (pRoot == nullptr || pathOf(pRoot) == strPath) {
        return pRoot;
    }
    CQVR3DObject* pFound = nullptr;
    if (CQVR3DNode* pNode = AsPlainNode(pRoot)) {
        // Only the nodes on the way to the wanted path are walked into.
        WalkChildren(pNode, [&](CQVR3DObject* pChild) {
            const std::string strChild = pathOf(pChild);
            if (strChild == strPath) {
                pFound = pChild;
                return EWalk::Stop;
            }
            return strPath.starts_with(strChild + '/') ? EWalk::Descend : EWalk::Skip;
        });
    }
    return pFound;
}
