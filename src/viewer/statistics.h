// What a loaded scene holds, counted once for the command-line tool's info and the desktop
// program alike.
#pragma once

#include <cstdint>

#include "abstractdata/hresult.h"
#include "viewer/document.h"

struct SceneStatistics {
    uint64_t qwMaterials = 0;
    uint64_t qwMaps = 0;
    uint64_t qwNodes = 0;
    uint64_t qwDummies = 0;  // nodes whose name begins with "dmy"
    uint64_t qwMeshes = 0;
    uint64_t qwTriangles = 0;  // of each mesh's geometry, counted per mesh
    uint64_t qwVertices = 0;
    uint64_t qwMorphKeys = 0;
    uint32_t dwAnimationTime = 0;  // the root's GetAnimationTimeHierarchy
};

// E_OUTOFMEMORY when the walk cannot go on; *pStatistics then holds the counts so far.
HRESULT CountScene(const CMorv3dViewerDoc& doc, SceneStatistics* pStatistics);
