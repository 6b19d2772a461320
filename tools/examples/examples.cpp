#include "examples.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

#include "abstractdata/bytes.h"
#include "abstractdata/tstring.h"
#include "fileformats/morv/morv.h"
#include "fileformats/morv3d/morv3dwriter.h"

namespace {

HRESULT WriteString(CMorvFile& file, CMorvChunk* pChunk, const tstring& str) {
    COutStream* pOut = nullptr;
    HRESULT hr = file.BeginWriteStream(&pOut, pChunk);
    if (SUCCEEDED(hr)) {
        hr = WriteTString(str, pOut);
    }
    if (SUCCEEDED(hr)) {
        hr = file.EndWriteStream(pOut, pChunk);
    }
    return hr;
}

}  // namespace

HRESULT WriteSampleContainer(const std::string& strPath) {
    CMorvFile file;
    HRESULT hr = file.Open(strPath, true);
    if (SUCCEEDED(hr)) {
        hr = file.BeginWrite();
    }
    CMorvChunk* pTitle = nullptr;
    CMorvChunk* pGroup = nullptr;
    CMorvChunk* pEmpty = nullptr;
    if (SUCCEEDED(hr)) {
        hr = file.CreateChunk(&pTitle, 0x00000001, file.GetRootChunk());
    }
    if (SUCCEEDED(hr)) {
        hr = WriteString(file, pTitle, "morv sample container");
    }
    if (SUCCEEDED(hr)) {
        hr = file.CreateChunk(&pGroup, 0x00000002, file.GetRootChunk());
    }
    if (SUCCEEDED(hr)) {
        hr = file.CreateChunk(&pEmpty, 0x00000003, file.GetRootChunk());
    }
    // Three records of 1, 2 and 3 numbers in the group, the last with a named child.
    for (uint32_t i = 0; i < 3 && SUCCEEDED(hr); ++i) {
        CMorvChunk* pRecord = nullptr;
        hr = file.CreateChunk(&pRecord, 0x00000010 + i, pGroup);
        uint8_t numbers[12];
        for (uint32_t k = 0; k < 3; ++k) {
            StoreU32(numbers + 4 * k, (i + 1) * 100 + k);
        }
        if (SUCCEEDED(hr)) {
            hr = file.WriteChunk(numbers, 4 * (i + 1), pRecord);
        }
        if (SUCCEEDED(hr) && i == 2) {
            CMorvChunk* pName = nullptr;
            hr = file.CreateChunk(&pName, 0x00000020, pRecord);
            if (SUCCEEDED(hr)) {
                hr = WriteString(file, pName, "last record");
            }
        }
    }
    if (SUCCEEDED(hr)) {
        hr = file.EndWrite();
    }
    return hr;
}

namespace {

// Sample scene: times in key units; the whole animation lasts kSceneEnd.
constexpr uint32_t kSceneEnd = 160;
constexpr uint32_t kFlags = 0x13;  // position, normal, texture coordinates

enum SampleMaterial : uint32_t { STONE, WOOD, GLASS, GLOW, CLOTH };

Morv3DMaterialDesc Material(std::initializer_list<std::pair<uint32_t, const char*>> maps) {
    Morv3DMaterialDesc material;
    for (const auto& [dwEffect, pszTexture] : maps) {
        Morv3DMapDesc map;
        map.record.dwEffect = dwEffect;
        map.strTexture = pszTexture;
        material.maps.push_back(map);
    }
    return material;
}

Matrix4 Translation(float x, float y, float z) {
    Matrix4 m = Matrix4::Identity();
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

Morv3DFileVertex Vertex(Vector3 p, Vector3 n, float u, float v) {
    Morv3DFileVertex vertex;
    vertex.vPosition = p;
    vertex.vNormal = n;
    vertex.fU = u;
    vertex.fV = v;
    return vertex;
}

// Two triangles per quad a, b, c, d.
void AddQuadFaces(Morv3DMeshDesc& mesh, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    mesh.faces.push_back({{a, b, c}});
    mesh.faces.push_back({{a, c, d}});
}

void AddGroup(Morv3DMeshDesc& mesh, uint32_t dwFirstFace, uint32_t dwFaceCount,
              uint32_t dwMaterial) {
    FileGroup group;
    group.dwFirstFace = dwFirstFace;
    group.dwFaceCount = dwFaceCount;
    group.dwMaterial = dwMaterial;
    mesh.groups.push_back(group);
}

// The centre of the box around the first frame and the farthest vertex from it.
void SetMeshSphere(Morv3DMeshDesc& mesh) {
    Vector3 lo = mesh.frames[0].vertices[0].vPosition;
    Vector3 hi = lo;
    for (const Morv3DFileVertex& v : mesh.frames[0].vertices) {
        lo = {std::min(lo.x, v.vPosition.x), std::min(lo.y, v.vPosition.y),
              std::min(lo.z, v.vPosition.z)};
        hi = {std::max(hi.x, v.vPosition.x), std::max(hi.y, v.vPosition.y),
              std::max(hi.z, v.vPosition.z)};
    }
    mesh.vCenter = Scale(0.5f, Add(lo, hi));
    mesh.fRadius = 0.0f;
    for (const Morv3DFrameDesc& frame : mesh.frames) {
        for (const Morv3DFileVertex& v : frame.vertices) {
            mesh.fRadius = std::max(mesh.fRadius, Length(Subtract(v.vPosition, mesh.vCenter)));
        }
    }
}

// A box of half size (sx, sy, sz) on eight shared corners; its four faces across x and y in
// the first group, top and bottom in the second (one group when both materials agree).
std::shared_ptr<Morv3DMeshDesc> Box(float sx, float sy, float sz, uint32_t dwSides,
                                    uint32_t dwCaps) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = kFlags;
    Morv3DFrameDesc frame;
    for (uint32_t i = 0; i < 8; ++i) {
        const float x = (i & 1) ? 1.0f : -1.0f;
        const float y = (i & 2) ? 1.0f : -1.0f;
        const float z = (i & 4) ? 1.0f : -1.0f;
        frame.vertices.push_back(
            Vertex({x * sx, y * sy, z * sz}, Normalize({x, y, z}), (x + 1) / 2, (y + 1) / 2));
    }
    pMesh->frames.push_back(frame);
    AddQuadFaces(*pMesh, 0, 2, 6, 4);  // -x
    AddQuadFaces(*pMesh, 1, 5, 7, 3);  // +x
    AddQuadFaces(*pMesh, 0, 4, 5, 1);  // -y
    AddQuadFaces(*pMesh, 2, 3, 7, 6);  // +y
    AddQuadFaces(*pMesh, 0, 1, 3, 2);  // -z
    AddQuadFaces(*pMesh, 4, 6, 7, 5);  // +z
    if (dwSides == dwCaps) {
        AddGroup(*pMesh, 0, 12, dwSides);
    } else {
        AddGroup(*pMesh, 0, 8, dwSides);
        AddGroup(*pMesh, 8, 4, dwCaps);
    }
    SetMeshSphere(*pMesh);
    return pMesh;
}

// An upright rectangle facing -y, half width w, height h.
std::shared_ptr<Morv3DMeshDesc> Panel(float w, float h, uint32_t dwMaterial) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = kFlags;
    const Vector3 n = {0.0f, -1.0f, 0.0f};
    Morv3DFrameDesc frame;
    frame.vertices = {Vertex({-w, 0, 0}, n, 0, 1), Vertex({w, 0, 0}, n, 1, 1),
                      Vertex({w, 0, h}, n, 1, 0), Vertex({-w, 0, h}, n, 0, 0)};
    pMesh->frames.push_back(frame);
    AddQuadFaces(*pMesh, 0, 1, 2, 3);
    AddGroup(*pMesh, 0, 2, dwMaterial);
    SetMeshSphere(*pMesh);
    return pMesh;
}

// A cloth of 3 x 2 vertices that waves through three frames: the middle frame is blended in
// with a 16-byte header and its own duration, the others use the short header.
std::shared_ptr<Morv3DMeshDesc> Flag() {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = kFlags;
    const float afWave[3][3] = {{0, 0, 0}, {0, 0.25f, 0}, {0, -0.25f, 0.25f}};
    for (uint32_t f = 0; f < 3; ++f) {
        Morv3DFrameDesc frame;
        frame.dwTime = f * kSceneEnd / 2;
        frame.bBlend = f == 1;
        frame.dwHeaderSize = f == 1 ? MORV3D_FRAME_HEADER_LONG : MORV3D_FRAME_HEADER_SHORT;
        frame.dwBlendDuration = 20;
        for (uint32_t row = 0; row < 2; ++row) {
            for (uint32_t col = 0; col < 3; ++col) {
                const float x = static_cast<float>(col);
                const float z = 1.0f + static_cast<float>(row);
                frame.vertices.push_back(Vertex({x, afWave[f][col], z}, {0, -1, 0}, x / 2,
                                                1.0f - static_cast<float>(row)));
            }
        }
        pMesh->frames.push_back(frame);
    }
    AddQuadFaces(*pMesh, 0, 1, 4, 3);
    AddQuadFaces(*pMesh, 1, 2, 5, 4);
    AddGroup(*pMesh, 0, 4, CLOTH);
    SetMeshSphere(*pMesh);
    return pMesh;
}

// Local sphere around the children (meshes and child nodes' parent spheres), parent sphere
// through the node's matrix (rigid, so the radius stays). Leaves first.
void SetNodeSpheres(Morv3DNodeDesc& node) {
    std::vector<std::pair<Vector3, float>> spheres;
    for (Morv3DChildDesc& child : node.children) {
        if (child.pNode) {
            SetNodeSpheres(*child.pNode);
            spheres.emplace_back(child.pNode->vParentCenter, child.pNode->fParentRadius);
        } else {
            spheres.emplace_back(child.pMesh->vCenter, child.pMesh->fRadius);
        }
    }
    node.vLocalCenter = {};
    node.fLocalRadius = 0.0f;
    if (!spheres.empty()) {
        Vector3 lo = spheres[0].first;
        Vector3 hi = lo;
        for (const auto& [c, r] : spheres) {
            lo = {std::min(lo.x, c.x - r), std::min(lo.y, c.y - r), std::min(lo.z, c.z - r)};
            hi = {std::max(hi.x, c.x + r), std::max(hi.y, c.y + r), std::max(hi.z, c.z + r)};
        }
        node.vLocalCenter = Scale(0.5f, Add(lo, hi));
        for (const auto& [c, r] : spheres) {
            node.fLocalRadius =
                std::max(node.fLocalRadius, Length(Subtract(c, node.vLocalCenter)) + r);
        }
    }
    node.vParentCenter = TransformPoint(node.vLocalCenter, node.matrix);
    node.fParentRadius = node.fLocalRadius;
}

// Whole and half values only, so that the file does not depend on the last bit of a math
// library's sine.
void SnapBlocks(std::vector<RotationKey>& keys) {
    for (RotationKey& key : keys) {
        for (auto& row : key.afBlock) {
            for (float& f : row) {
                f = std::round(f * 2.0f) / 2.0f;
            }
        }
    }
}

std::shared_ptr<Morv3DNodeDesc> BuildSampleScene(std::vector<Morv3DMaterialDesc>& materials) {
    materials = {
        Material({{0, "stone.bmp"}}),                        // solid
        Material({{0, "wood.bmp"}, {1, "wood_grain.tga"}}),  // solid with an alpha detail map
        Material({{MORV3D_MAPEFFECT_ALPHA, "glass.tga"}}),
        Material({{MORV3D_MAPEFFECT_ALPHAADD, "glow.tga"}}),
        Material({{0, "cloth.bmp"}}),
    };

    auto pScene = std::make_shared<Morv3DNodeDesc>();
    pScene->strName = "scene";

    // A pivot that turns the tower once around z: half a turn to each key.
    auto pPivot = pScene->AddNode("dmyPivot");
    pPivot->bWriteTracks = true;
    for (uint32_t i = 0; i < 3; ++i) {
        RotationKey key;
        key.dwTime = i * kSceneEnd / 2;
        key.vAxis = {0, 0, 1};
        key.fAngle = i == 0 ? 0.0f : 3.14159265f;
        pPivot->rotationKeys.push_back(key);
    }
    pPivot->rotationKeys[0].afBlock[0][0] = 1;
    pPivot->rotationKeys[0].afBlock[1][1] = 1;
    pPivot->rotationKeys[0].afBlock[2][2] = 1;
    ChainRotationBlocks(pPivot->rotationKeys);
    SnapBlocks(pPivot->rotationKeys);

    auto pBase = pPivot->AddNode("base");
    pBase->children.push_back({nullptr, Box(0.5f, 0.5f, 0.5f, STONE, WOOD)});

    // An arm that rises and sinks again, carrying a glowing lamp at its tip.
    auto pArm = pPivot->AddNode("arm");
    pArm->matrix = Translation(1.5f, 0, 0.5f);
    pArm->bWriteTracks = true;
    const float afHeight[3] = {0.5f, 1.5f, 0.5f};
    for (uint32_t i = 0; i < 3; ++i) {
        PositionKey key;
        key.dwTime = i * kSceneEnd / 2;
        key.vPosition = {1.5f, 0, afHeight[i]};
        key.vControlIn = key.vPosition;  // flat tangents: eases in and out of every key
        key.vControlOut = key.vPosition;
        pArm->positionKeys.push_back(key);
    }
    pArm->children.push_back({nullptr, Box(1.0f, 0.125f, 0.125f, WOOD, WOOD)});
    auto pTip = pArm->AddNode("dmyTip");
    pTip->matrix = Translation(1.0f, 0, 0.25f);
    auto pLamp = pTip->AddNode("lamp");
    pLamp->children.push_back({nullptr, Panel(0.25f, 0.5f, GLOW)});

    // Windows: written out of order; the loader puts the opaque frame first, then the blended
    // pane without a sort id, then sortlast_glow, sort0_window and glass_sort1.
    auto pWindows = pScene->AddNode("windows");
    pWindows->matrix = Translation(0, 3, 0);
    const struct {
        const char* pszName;
        uint32_t dwMaterial;
        float fX;
    } panes[] = {{"glass_sort1", GLASS, 1.0f},
                 {"sortlast_glow", GLOW, 0.0f},
                 {"frame", STONE, 0.0f},
                 {"haze", GLASS, -2.0f},
                 {"sort0_window", GLASS, -1.0f}};
    for (const auto& pane : panes) {
        auto pPane = pWindows->AddNode(pane.pszName);
        pPane->matrix = Translation(pane.fX, 0, 0);
        pPane->children.push_back({nullptr, Panel(0.5f, 1.0f, pane.dwMaterial)});
    }

    auto pFlag = pScene->AddNode("flag");
    pFlag->matrix = Translation(-3, 0, 0);
    pFlag->children.push_back({nullptr, Flag()});

    SetNodeSpheres(*pScene);
    return pScene;
}

}  // namespace

HRESULT WriteSampleScene(const std::string& strPath) {
    Morv3DSceneDesc scene;
    try {
        scene.pRoot = BuildSampleScene(scene.materials);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return WriteMorv3DScene(strPath, scene);
}

HRESULT WriteGeometryScene(const std::string& strPath, uint32_t dwMeshes, uint32_t dwQuads) {
    Morv3DSceneDesc scene;
    try {
        scene.materials = {Material({{0, "stone.bmp"}})};
        auto pGrid = std::make_shared<Morv3DMeshDesc>();
        pGrid->dwComponentFlags = kFlags;
        pGrid->fRadius = static_cast<float>(dwQuads);
        Morv3DFrameDesc frame;
        const uint32_t dwSide = dwQuads + 1;
        for (uint32_t row = 0; row < dwQuads; ++row) {
            const uint32_t dwFirst = static_cast<uint32_t>(frame.vertices.size());
            for (uint32_t edge = 0; edge < 2; ++edge) {
                for (uint32_t x = 0; x < dwSide; ++x) {
                    const float fX = static_cast<float>(x), fY = static_cast<float>(row + edge);
                    frame.vertices.push_back(
                        Vertex({fX, fY, 0.0f}, {0.0f, 0.0f, 1.0f}, fX / dwQuads, fY / dwQuads));
                }
            }
            for (uint32_t x = 0; x < dwQuads; ++x) {
                AddQuadFaces(*pGrid, dwFirst + x, dwFirst + x + 1, dwFirst + dwSide + x + 1,
                             dwFirst + dwSide + x);
            }
        }
        pGrid->frames.push_back(frame);
        AddGroup(*pGrid, 0, static_cast<uint32_t>(pGrid->faces.size()), 0);
        scene.pRoot = std::make_shared<Morv3DNodeDesc>();
        scene.pRoot->strName = "geometry";
        for (uint32_t i = 0; i < dwMeshes; ++i) {
            auto pPart = scene.pRoot->AddNode("part" + std::to_string(i));
            pPart->matrix = Translation(static_cast<float>(i % 20) * dwSide,
                                        static_cast<float>(i / 20) * dwSide, 0.0f);
            pPart->children.push_back({nullptr, pGrid});
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return WriteMorv3DScene(strPath, scene);
}

HRESULT WriteAllExamples(const std::string& strDirectory) {
    HRESULT hr = WriteSampleContainer(strDirectory + "/sample.morv");
    if (SUCCEEDED(hr)) {
        hr = WriteSampleScene(strDirectory + "/sample.morv3d");
    }
    if (SUCCEEDED(hr)) {
        hr = WriteSampleTextures(strDirectory);
    }
    return hr;
}
