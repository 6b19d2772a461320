#include "render/framewalk.h"

#include <new>

#include "engine/3dobjects/axes.h"
#include "engine/3dobjects/nodewalk.h"

HRESULT CollectDrawItems(CQVR3DObject* pRoot, std::vector<DrawItem>& items) {
    items.clear();
    if (pRoot == nullptr) {
        return S_OK;
    }
    Matrix4 rootWorld = Matrix4::Identity();
    pRoot->TransformMatrix(rootWorld);
    try {
        if (pRoot->GetObjectType() == QVR3DOBJ_MESH) {
            CQVR3DMesh* pMesh = static_cast<CQVR3DMesh*>(pRoot);
            pMesh->UpdateTime();
            items.push_back({pMesh, nullptr, rootWorld});
            return S_OK;
        }
        CQVR3DNode* pRootNode = AsPlainNode(pRoot);
        if (pRootNode == nullptr) {
            return S_OK;
        }
        // The world matrix of each node walked into; the top is the parent of what is visited.
        std::vector<Matrix4> worlds{rootWorld};
        std::vector<CQVR3DObject*> parents{pRoot};
        bool bOutOfMemory = false;
        const HRESULT hr = WalkChildren(
            pRootNode,
            [&](CQVR3DObject* pChild) {
                try {
                    switch (pChild->GetObjectType()) {
                        case QVR3DOBJ_MESH: {
                            CQVR3DMesh* pMesh = static_cast<CQVR3DMesh*>(pChild);
                            pMesh->UpdateTime();
                            items.push_back({pMesh, parents.back(), worlds.back()});
                            return EWalk::Skip;
                        }
                        case QVR3DOBJ_NODE: {
                            if (AsPlainNode(pChild) == nullptr) {
                                return EWalk::Skip;  // the walk descends into plain nodes only
                            }
                            Matrix4 world = worlds.back();
                            pChild->TransformMatrix(world);
                            worlds.push_back(world);
                            parents.push_back(pChild);
                            return EWalk::Descend;
                        }
                        default:
                            return EWalk::Skip;
                    }
                } catch (const std::bad_alloc&) {
                    bOutOfMemory = true;
                    return EWalk::Stop;
                }
            },
            [&](CQVR3DNode* pNode) {
                if (pNode != pRootNode) {
                    worlds.pop_back();
                    parents.pop_back();
                }
            });
        return bOutOfMemory ? E_OUTOFMEMORY : hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

SceneBox SceneBounds(const std::vector<DrawItem>& items) {
    SceneBox box;
    const Matrix4 axes = WorldToViewAxes();
    for (const DrawItem& item : items) {
        const CQVR3DMesh* pMesh = item.pMesh;
        if (pMesh->pVertices == nullptr || pMesh->pGeometry == nullptr) {
            continue;
        }
        const Matrix4 toView = MatrixProduct(item.world, axes);
        for (uint32_t i = 0; i < pMesh->pGeometry->dwVertexCount; ++i) {
            box.Add(::TransformPoint(pMesh->pVertices[i].vPosition, toView));
        }
    }
    return box;
}

CCamera CameraForPicture(const std::vector<DrawItem>& items, int nWidth, int nHeight,
                         EViewPreset preset) {
    CCamera camera;
    camera.SetViewport(nWidth, nHeight);
    camera.SetPreset(preset);
    camera.Fit(SceneBounds(items));
    return camera;
}
