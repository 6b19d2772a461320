// Picking through a pixel of a picture: the engine's Pick along the ray of the camera that drew
// it, hits ordered nearest first. The CLI's `pick` and the desktop view share this.
#pragma once

#include <string>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/mesh.h"
#include "render/camera.h"
#include "render/framewalk.h"

struct ViewHit {
    CQVR3DMesh* pMesh = nullptr;
    int32_t nPickId = -1;    // the mesh's own pick id
    float fDistance = 0.0f;  // from the eye along the ray
    Vector3 vPoint;          // in scene space
};

// Hits in front of the eye through pixel (x, y) (y from the top) of the camera's viewport,
// nearest first, at the scene's requested time. The meshes' pick ids are lent to the pick and
// restored. Walks the scene twice: once to list its meshes, once to pick.
HRESULT PickThroughPixel(CQVR3DObject* pRoot, const CCamera& camera, double dX, double dY,
                         std::vector<ViewHit>& hits);
// The same with the meshes below pRoot already listed at its requested time (a prepared
// frame's items, framewalk.h): only the pick walks.
HRESULT PickThroughPixel(CQVR3DObject* pRoot, const std::vector<DrawItem>& items,
                         const CCamera& camera, double dX, double dY, std::vector<ViewHit>& hits);

// "scene/windows/haze/mesh[0]": the node names from the root down, a mesh by its place among
// its parent's children, a node without a name as node[k].
std::string ObjectPath(CQVR3DObject* pObject);

// The object below pRoot (or pRoot itself) that ObjectPath names strPath, the names decoded to
// UTF-8 as the desktop and the page show them; null when there is none.
CQVR3DObject* ObjectAtPath(CQVR3DObject* pRoot, const std::string& strPath);
