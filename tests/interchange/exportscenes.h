// Scenes the export tests write with the scene writer, and loading them as the CLI does.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "fileformats/morv3d/morv3dwriter.h"
#include "interchange/exportmodel.h"
#include "viewer/document.h"

namespace export_test {

inline Morv3DMaterialDesc Material(std::vector<std::pair<uint32_t, const char*>> maps) {
    Morv3DMaterialDesc material;
    for (const auto& [dwEffect, pszTexture] : maps) {
        Morv3DMapDesc map;
        map.record.dwEffect = dwEffect;
        map.record.dwKept1 = 7;
        map.strTexture = pszTexture;
        material.maps.push_back(map);
    }
    return material;
}

inline Matrix4 Translation(float x, float y, float z) {
    Matrix4 m = Matrix4::Identity();
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

// A quad of two triangles in the x-z plane with the given materials per triangle; one frame per
// entry of heights (the far edge rises), the later ones blended in as blends says.
inline std::shared_ptr<Morv3DMeshDesc> Quad(std::vector<uint32_t> materials,
                                            std::vector<float> heights = {0.0f},
                                            std::vector<std::pair<bool, uint32_t>> blends = {},
                                            bool bZeroNormals = false) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;
    pMesh->fRadius = 4.0f;
    for (size_t f = 0; f < heights.size(); ++f) {
        Morv3DFrameDesc frame;
        frame.dwTime = static_cast<uint32_t>(f * 40);
        if (f < blends.size()) {
            frame.bBlend = blends[f].first;
            frame.dwBlendDuration = blends[f].second;
            frame.dwHeaderSize = MORV3D_FRAME_HEADER_LONG;
        }
        const float h = heights[f];
        const float afCorners[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, h, 1}, {0, h, 1}};
        for (int v = 0; v < 4; ++v) {
            Morv3DFileVertex vertex;
            vertex.vPosition = {afCorners[v][0], afCorners[v][1], afCorners[v][2]};
            vertex.vNormal = bZeroNormals ? Vector3{} : Vector3{0.0f, -2.0f, 0.0f};
            vertex.fU = afCorners[v][0];
            vertex.fV = 1.0f - afCorners[v][2];
            frame.vertices.push_back(vertex);
        }
        pMesh->frames.push_back(frame);
    }
    pMesh->faces = {{{0, 1, 2}}, {{0, 2, 3}}};
    for (size_t g = 0; g < materials.size(); ++g) {
        FileGroup group;
        group.dwFirstFace = static_cast<uint32_t>(g);
        group.dwFaceCount = materials.size() == 1 ? 2 : 1;
        group.dwMaterial = materials[g];
        group.dwReserved = 40 + static_cast<uint32_t>(g);
        pMesh->groups.push_back(group);
    }
    return pMesh;
}

inline RotationKey Turn(uint32_t dwTime, Vector3 axis, float fAngle) {
    RotationKey key;
    key.dwTime = dwTime;
    key.vAxis = axis;
    key.fAngle = fAngle;
    return key;
}

inline PositionKey Move(uint32_t dwTime, Vector3 p, Vector3 in, Vector3 out) {
    PositionKey key;
    key.dwTime = dwTime;
    key.vPosition = p;
    key.vControlIn = in;
    key.vControlOut = out;
    return key;
}

// The scenes by name: static, animated, morph, blended, missing, empty.
inline Morv3DSceneDesc BuildScene(const std::string& strName) {
    Morv3DSceneDesc scene;
    scene.materials = {Material({{0, "maps\\stone.png"}}),
                       Material({{1, "glass.bmp"}, {3, "x.tga"}}), Material({{3, "GLASS.bmp"}}),
                       Material({{0, "nothere.bmp"}})};
    if (strName == "empty") {
        return scene;
    }
    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    scene.pRoot->strName = strName;
    Morv3DNodeDesc& root = *scene.pRoot;
    if (strName == "static") {
        auto pBox = root.AddNode("box");
        AxisAngleMatrix({1, 2, 3}, 0.7f, pBox->matrix);
        pBox->matrix.m[3][0] = 2.0f;
        pBox->children.push_back({nullptr, Quad({0})});
        auto pPlain = root.AddNode("zero normals");
        pPlain->children.push_back({nullptr, Quad({0, 0}, {0.0f}, {}, true)});
        pPlain->AddNode("leaf");
    } else if (strName == "animated") {
        // The root moves too: its keys are turned into view axes.
        root.bWriteTracks = true;
        root.positionKeys = {Move(0, {0, 0, 0}, {0, 0, 0}, {1, 0, 1}),
                             Move(90, {2, 1, 0}, {2, 0, 0}, {2, 2, 0})};
        auto pPivot = root.AddNode("pivot");
        pPivot->bWriteTracks = true;
        pPivot->rotationKeys = {Turn(0, {0, 0, 1}, 0), Turn(60, {0, 0, 1}, 2.5f),
                                Turn(150, {1, 1, 0}, 1.0f)};
        pPivot->rotationKeys[0].afBlock[0][0] = pPivot->rotationKeys[0].afBlock[1][1] =
            pPivot->rotationKeys[0].afBlock[2][2] = 1.0f;
        ChainRotationBlocks(pPivot->rotationKeys);
        auto pArm = pPivot->AddNode("arm");
        pArm->bWriteTracks = true;
        pArm->positionKeys = {Move(10, {1, 0, 0}, {1, 0, 0}, {1, 3, 0}),
                              Move(50, {3, 0, 1}, {3, -1, 1}, {3, 1, 1}),
                              Move(130, {1, 1, 1}, {0, 1, 1}, {1, 1, 1})};
        // Unchained blocks: the engine jumps at the second key.
        pArm->rotationKeys = {Turn(0, {0, 1, 0}, 0), Turn(100, {0, 1, 0}, 1.5f)};
        pArm->rotationKeys[0].afBlock[0][0] = pArm->rotationKeys[0].afBlock[1][1] =
            pArm->rotationKeys[0].afBlock[2][2] = 1.0f;
        pArm->rotationKeys[1].afBlock[0][1] = pArm->rotationKeys[1].afBlock[1][0] = 1.0f;
        pArm->rotationKeys[1].afBlock[2][2] = -1.0f;
        pArm->children.push_back({nullptr, Quad({0})});
    } else if (strName == "morph") {
        auto pFlag = root.AddNode("flag");
        // Frame 1 cut in, frame 2 blended over 20 units, frame 3 over more than its interval,
        // frame 4 with a window longer than its time (never blended).
        pFlag->children.push_back(
            {nullptr, Quad({0}, {0.0f, 1.0f, -1.0f, 2.0f, 0.5f},
                           {{false, 10}, {false, 10}, {true, 20}, {true, 70}, {true, 500}})});
    } else if (strName == "blended") {
        auto pGlass = root.AddNode("glass");
        pGlass->children.push_back({nullptr, Quad({1, 2})});
    } else if (strName == "missing") {
        auto pWall = root.AddNode("wall");
        pWall->children.push_back({nullptr, Quad({3})});
    }
    return scene;
}

inline const std::vector<std::string> kSceneNames = {"static",  "animated", "morph",
                                                     "blended", "missing",  "empty"};

// Loads as `morv3d export` does: both passes, each face group's material tagged.
inline void Load(CMorv3dViewerDoc& doc, const std::string& strPath) {
    doc.SetMaterialsHook(TagMaterialHandles);
    doc.OnOpenDocument(strPath);
}

}  // namespace export_test
