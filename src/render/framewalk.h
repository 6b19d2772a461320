// One walk over a scene at its requested time: every mesh with its world matrix, in hierarchy
// order. The engine does the animation (TransformMatrix on the nodes, UpdateTime on the
// meshes); this only collects.
#pragma once

#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/mesh.h"
#include "engine/3dobjects/objects.h"
#include "render/camera.h"

struct DrawItem {
    CQVR3DMesh* pMesh = nullptr;
    CQVR3DObject* pParent = nullptr;  // the object whose space the mesh lives in
    Matrix4 world;                    // mesh space to scene space (row vectors)
};

// Brings every object below pRoot to its requested time and lists the meshes. Fills items
// anew (keeping its capacity). E_OUTOFMEMORY when the lists cannot grow.
HRESULT CollectDrawItems(CQVR3DObject* pRoot, std::vector<DrawItem>& items);

// The box around every mesh vertex of the items, in view space.
SceneBox SceneBounds(const std::vector<DrawItem>& items);

// The camera of a picture of the items: the preset's direction, fitted to their box.
CCamera CameraForPicture(const std::vector<DrawItem>& items, int nWidth, int nHeight,
                         EViewPreset preset);
