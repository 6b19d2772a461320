// The passes that draw a frame's face groups, each walking its part of the draw list: opaque
// groups with depth writes, blended ones over them without, and the triangles' edges.
#pragma once

#include <string>
#include <vector>

#include "render/drawlist.h"
#include "render/geometrycache.h"
#include "render/shaderprogram.h"
#include "render/texturecache.h"

struct PassContext {
    const MeshProgram& program;
    CGeometryCache& geometry;
    CTextureCache& textures;
    const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials;
    const CFileFolder* pFolder;
    std::vector<MissingTexture>& missing;
};

void DrawOpaquePass(PassContext& context, const DrawList& list);
void DrawBlendedPass(PassContext& context, const DrawList& list);
// The edges in a flat colour (highlighted meshes' edges tinted).
void DrawEdgePass(PassContext& context, const DrawList& list, const float afColor[3]);
