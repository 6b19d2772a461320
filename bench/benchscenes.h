// The scenes of the loading benchmarks, described for the scene writer: shared by load_bench
// and bench_scene_writer (the file that the whole-process comparison loads).
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/3dobjects/mesh.h"
#include "fileformats/morv3d/morv3dwriter.h"

constexpr uint32_t kMeshCount = 200;
constexpr uint32_t kGridQuads = 50;  // 50 x 50 quads: 5,000 triangles, 2,601 vertices
constexpr uint32_t kNodeCount = 50000;
constexpr uint32_t kFanOut = 223;  // root -> 223 -> about 223 each

inline std::vector<Morv3DMaterialDesc> Materials() {
    std::vector<Morv3DMaterialDesc> materials(2);
    materials[0].maps.resize(1);
    materials[0].maps[0].strTexture = "stone.bmp";
    materials[1].maps.resize(1);
    materials[1].maps[0].record.dwEffect = MORV3D_MAPEFFECT_ALPHA;
    materials[1].maps[0].strTexture = "glass.tga";
    return materials;
}

inline std::shared_ptr<Morv3DMeshDesc> Grid(uint32_t dwQuads) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;
    pMesh->fRadius = static_cast<float>(dwQuads);
    Morv3DFrameDesc frame;
    const uint32_t dwSide = dwQuads + 1;
    for (uint32_t y = 0; y < dwSide; ++y) {
        for (uint32_t x = 0; x < dwSide; ++x) {
            Morv3DFileVertex v;
            v.vPosition = {static_cast<float>(x), static_cast<float>(y), 0.0f};
            v.vNormal = {0.0f, 0.0f, 1.0f};
            v.fU = static_cast<float>(x) / static_cast<float>(dwQuads);
            v.fV = static_cast<float>(y) / static_cast<float>(dwQuads);
            frame.vertices.push_back(v);
        }
    }
    pMesh->frames.push_back(frame);
    for (uint32_t y = 0; y < dwQuads; ++y) {
        for (uint32_t x = 0; x < dwQuads; ++x) {
            const uint32_t a = y * dwSide + x;
            pMesh->faces.push_back({{a, a + 1, a + dwSide + 1}});
            pMesh->faces.push_back({{a, a + dwSide + 1, a + dwSide}});
        }
    }
    FileGroup group;
    group.dwFaceCount = static_cast<uint32_t>(pMesh->faces.size());
    pMesh->groups.push_back(group);
    return pMesh;
}

// Every node of the hierarchy scene: a name, a small mesh and two keys per track.
inline void FillNode(Morv3DNodeDesc& node, uint32_t dwIndex,
                     const std::shared_ptr<Morv3DMeshDesc>& pMesh) {
    node.strName = "node" + std::to_string(dwIndex);
    node.bWriteTracks = true;
    node.positionKeys.resize(2);
    node.positionKeys[1].dwTime = 100;
    node.positionKeys[1].vPosition = {1.0f, 0.0f, 0.0f};
    node.rotationKeys.resize(2);
    for (RotationKey& key : node.rotationKeys) {
        key.vAxis = {0.0f, 0.0f, 1.0f};
        key.afBlock[0][0] = key.afBlock[1][1] = key.afBlock[2][2] = 1.0f;
    }
    node.rotationKeys[1].dwTime = 100;
    node.rotationKeys[1].fAngle = 1.0f;
    node.children.push_back({nullptr, pMesh});
}

// 50,000 named nodes in three levels, each with a small mesh and a track chunk (about 32 MB).
inline Morv3DSceneDesc HierarchyScene() {
    Morv3DSceneDesc scene;
    scene.materials = Materials();
    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    const auto pSmall = Grid(1);  // 4 vertices, 2 triangles
    uint32_t dwIndex = 0;
    FillNode(*scene.pRoot, dwIndex++, pSmall);
    // 1 + 223 + 223 * 223 = 49,953 nodes: the first 47 of the middle level take one child
    // more, which makes 50,000.
    const uint32_t dwExtra = kNodeCount - 1 - kFanOut - kFanOut * kFanOut;
    for (uint32_t i = 0; i < kFanOut; ++i) {
        auto pMiddle = scene.pRoot->AddNode("");
        FillNode(*pMiddle, dwIndex++, pSmall);
        const uint32_t dwLeaves = kFanOut + (i < dwExtra ? 1 : 0);
        for (uint32_t j = 0; j < dwLeaves; ++j) {
            FillNode(*pMiddle->AddNode(""), dwIndex++, pSmall);
        }
    }
    if (dwIndex != kNodeCount) {
        std::abort();
    }
    return scene;
}
