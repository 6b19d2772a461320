#include "benchscenes.h"

#include <cstdio>
#include <memory>

#include "engine/3dobjects/mesh.h"

namespace {

constexpr uint32_t kFanOut = 223;  // root -> 223 -> about 223 each

std::vector<Morv3DMaterialDesc> Materials() {
    std::vector<Morv3DMaterialDesc> materials(2);
    materials[0].maps.resize(1);
    materials[0].maps[0].strTexture = "stone.bmp";
    materials[1].maps.resize(1);
    materials[1].maps[0].record.dwEffect = MORV3D_MAPEFFECT_ALPHA;
    materials[1].maps[0].strTexture = "glass.tga";
    return materials;
}

// Every node of the hierarchy scene: a name, a small mesh and two keys per track.
void FillNode(Morv3DNodeDesc& node, uint32_t dwIndex,
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

HRESULT WriteObj(const std::string& strPath, const Morv3DSceneDesc& scene) {
    std::unique_ptr<FILE, int (*)(FILE*)> pFile(std::fopen(strPath.c_str(), "w"), &std::fclose);
    if (!pFile) {
        return E_FAIL;
    }
    uint32_t dwBase = 1;
    for (const Morv3DChildDesc& part : scene.pRoot->children) {
        const Matrix4& m = part.pNode->matrix;
        const Morv3DMeshDesc& mesh = *part.pNode->children[0].pMesh;
        for (const Morv3DFileVertex& v : mesh.frames[0].vertices) {
            const Vector3 p = TransformPoint(v.vPosition, m);
            std::fprintf(pFile.get(), "v %g %g %g\nvn %g %g %g\nvt %g %g\n", p.x, p.y, p.z,
                         v.vNormal.x, v.vNormal.y, v.vNormal.z, v.fU, v.fV);
        }
        for (const Morv3DFaceDesc& face : mesh.faces) {
            std::fprintf(pFile.get(), "f");
            for (uint32_t i : face.adwIndex) {
                std::fprintf(pFile.get(), " %u/%u/%u", dwBase + i, dwBase + i, dwBase + i);
            }
            std::fprintf(pFile.get(), "\n");
        }
        dwBase += static_cast<uint32_t>(mesh.frames[0].vertices.size());
    }
    return std::ferror(pFile.get()) ? E_FAIL : S_OK;
}

}  // namespace

std::shared_ptr<Morv3DMeshDesc> BenchGrid(uint32_t dwQuads, bool bRowsApart) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;
    const float fHalf = static_cast<float>(dwQuads) / 2;
    pMesh->vCenter = {fHalf, fHalf, 0.0f};
    pMesh->fRadius = fHalf * 1.5f;
    Morv3DFrameDesc frame;
    const uint32_t dwSide = dwQuads + 1;
    const auto vertex = [&](uint32_t x, uint32_t y) {
        Morv3DFileVertex v;
        v.vPosition = {static_cast<float>(x), static_cast<float>(y), 0.0f};
        v.vNormal = {0.0f, 0.0f, 1.0f};
        v.fU = static_cast<float>(x) / static_cast<float>(dwQuads);
        v.fV = static_cast<float>(y) / static_cast<float>(dwQuads);
        frame.vertices.push_back(v);
    };
    const auto quad = [&](uint32_t a, uint32_t dwAbove) {
        pMesh->faces.push_back({{a, a + 1, a + dwAbove + 1}});
        pMesh->faces.push_back({{a, a + dwAbove + 1, a + dwAbove}});
    };
    if (bRowsApart) {
        for (uint32_t y = 0; y < dwQuads; ++y) {
            const uint32_t dwFirst = static_cast<uint32_t>(frame.vertices.size());
            for (uint32_t x = 0; x < dwSide; ++x) {
                vertex(x, y);
            }
            for (uint32_t x = 0; x < dwSide; ++x) {
                vertex(x, y + 1);
            }
            for (uint32_t x = 0; x < dwQuads; ++x) {
                quad(dwFirst + x, dwSide);
            }
        }
    } else {
        for (uint32_t y = 0; y < dwSide; ++y) {
            for (uint32_t x = 0; x < dwSide; ++x) {
                vertex(x, y);
            }
        }
        for (uint32_t y = 0; y < dwQuads; ++y) {
            for (uint32_t x = 0; x < dwQuads; ++x) {
                quad(y * dwSide + x, dwSide);
            }
        }
    }
    pMesh->frames.push_back(frame);
    FileGroup group;
    group.dwFaceCount = static_cast<uint32_t>(pMesh->faces.size());
    pMesh->groups.push_back(group);
    return pMesh;
}

Morv3DSceneDesc BenchGeometryScene() {
    Morv3DSceneDesc scene;
    scene.materials = Materials();
    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    scene.pRoot->strName = "geometry";
    // One description, written 200 times; rows of quads have vertices of their own.
    const auto pGrid = BenchGrid(kBenchGridQuads, true);
    for (uint32_t i = 0; i < kBenchMeshCount; ++i) {
        auto pPart = scene.pRoot->AddNode("part" + std::to_string(i));
        // Side by side in a 20 x 10 field, slightly tilted so that no two are coplanar.
        pPart->matrix.m[3][0] = static_cast<float>((i % 20) * (kBenchGridQuads + 5));
        pPart->matrix.m[3][1] = static_cast<float>((i / 20) * (kBenchGridQuads + 5));
        pPart->matrix.m[3][2] = static_cast<float>(i % 7);
        pPart->children.push_back({nullptr, pGrid});
    }
    return scene;
}

Morv3DSceneDesc BenchHierarchyScene() {
    Morv3DSceneDesc scene;
    scene.materials = Materials();
    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    const auto pSmall = BenchGrid(1, false);  // 4 vertices, 2 triangles
    uint32_t dwIndex = 0;
    FillNode(*scene.pRoot, dwIndex++, pSmall);
    // 1 + 223 + 223 * 223 = 49,953 nodes: the first 47 of the middle level take one child
    // more, which makes 50,000.
    const uint32_t dwExtra = kBenchNodeCount - 1 - kFanOut - kFanOut * kFanOut;
    for (uint32_t i = 0; i < kFanOut; ++i) {
        auto pMiddle = scene.pRoot->AddNode("");
        FillNode(*pMiddle, dwIndex++, pSmall);
        const uint32_t dwLeaves = kFanOut + (i < dwExtra ? 1 : 0);
        for (uint32_t j = 0; j < dwLeaves; ++j) {
            FillNode(*pMiddle->AddNode(""), dwIndex++, pSmall);
        }
    }
    return scene;
}

HRESULT WriteBenchScenes(const std::string& strDirectory) {
    try {
        const Morv3DSceneDesc geometry = BenchGeometryScene();
        HRESULT hr = WriteMorv3DScene(strDirectory + "/geometry.morv3d", geometry);
        if (SUCCEEDED(hr)) {
            hr = WriteObj(strDirectory + "/geometry.obj", geometry);
        }
        if (SUCCEEDED(hr)) {
            hr = WriteMorv3DScene(strDirectory + "/hierarchy.morv3d", BenchHierarchyScene());
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
