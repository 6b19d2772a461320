// Writes the scenes of the interchange tests (see README.md) into the folder given:
//   tests/data/interchange/scenes/make_scenes.sh BUILD_DIR
// Run again only when a scene changes; the files are committed.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/3dobjects/mesh.h"
#include "fileformats/morv3d/morv3dwriter.h"

namespace {

Morv3DMaterialDesc Material(std::vector<std::pair<uint32_t, const char*>> maps) {
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

Matrix4 Translation(float x, float y, float z) {
    Matrix4 m = Matrix4::Identity();
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

// A quad of two triangles in the x-z plane with the given materials per triangle; one frame per
// entry of heights (the far edge rises), the later ones blended in as blends says.
std::shared_ptr<Morv3DMeshDesc> Quad(std::vector<uint32_t> materials,
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

RotationKey Turn(uint32_t dwTime, Vector3 axis, float fAngle) {
    RotationKey key;
    key.dwTime = dwTime;
    key.vAxis = axis;
    key.fAngle = fAngle;
    return key;
}

PositionKey Move(uint32_t dwTime, Vector3 p, Vector3 in, Vector3 out) {
    PositionKey key;
    key.dwTime = dwTime;
    key.vPosition = p;
    key.vControlIn = in;
    key.vControlOut = out;
    return key;
}

// The scenes by name: static, animated, morph, blended, missing, empty.
Morv3DSceneDesc BuildScene(const std::string& strName) {
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
    } else if (strName == "odd") {
        // Matrices a glTF node cannot hold as they are, tracks whose key times do not ascend,
        // values that are no numbers, a morph whose frame times do not ascend, and textures
        // that are JPEG, broken or far too large.
        scene.materials.push_back(Material({{0, "photo.jpg"}}));
        scene.materials.push_back(Material({{0, "broken.png"}}));
        scene.materials.push_back(Material({{0, "huge.bmp"}}));
        auto pSheared = root.AddNode("sheared");
        pSheared->matrix.m[1][0] = 0.5f;
        pSheared->children.push_back({nullptr, Quad({4})});
        auto pMirrored = root.AddNode("mirrored");
        pMirrored->matrix.m[0][0] = -1.0f;
        pMirrored->children.push_back({nullptr, Quad({5})});
        auto pFlipped = root.AddNode("flipped");  // half a turn about x
        pFlipped->matrix.m[1][1] = pFlipped->matrix.m[2][2] = -1.0f;
        pFlipped->children.push_back({nullptr, Quad({6})});
        auto pBackwards = root.AddNode("backwards");
        pBackwards->bWriteTracks = true;
        pBackwards->positionKeys = {Move(50, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}),
                                    Move(10, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}),
                                    Move(90, {2, 0, 0}, {2, 0, 0}, {2, 0, 0})};
        pBackwards->rotationKeys = {Turn(30, {0, 0, 1}, 0), Turn(0, {0, 0, 1}, 1.0f),
                                    Turn(60, {0, 0, 1}, 0.5f)};
        pBackwards->rotationKeys[0].afBlock[0][0] = pBackwards->rotationKeys[0].afBlock[1][1] =
            pBackwards->rotationKeys[0].afBlock[2][2] = 1.0f;
        ChainRotationBlocks(pBackwards->rotationKeys);
        auto pStill = root.AddNode("still turn");  // a segment without turn, then a long one
        pStill->bWriteTracks = true;
        pStill->rotationKeys = {Turn(0, {0, 0, 1}, 0), Turn(50, {0, 0, 1}, 0),
                                Turn(100, {1, 0, 0}, 3.0f)};
        pStill->rotationKeys[0].afBlock[0][0] = pStill->rotationKeys[0].afBlock[1][1] =
            pStill->rotationKeys[0].afBlock[2][2] = 1.0f;
        ChainRotationBlocks(pStill->rotationKeys);
        auto pShearTurn = pSheared->AddNode("sheared turn");
        pShearTurn->matrix.m[2][1] = 0.7f;
        pShearTurn->bWriteTracks = true;
        pShearTurn->rotationKeys = pStill->rotationKeys;
        auto pBad = root.AddNode("no numbers");
        auto pMesh = Quad({0});
        pMesh->frames[0].vertices[1].vPosition.x = NAN;
        pMesh->frames[0].vertices[2].fU = INFINITY;
        pBad->children.push_back({nullptr, pMesh});
        auto pBack = root.AddNode("back morph");
        auto pBackFrames = Quad({0}, {0.0f, 1.0f, 2.0f});
        pBackFrames->frames[1].dwTime = 80;
        pBack->children.push_back({nullptr, pBackFrames});
        // Names that Assimp's writers need unique: twice the same, and none.
        root.AddNode("twin");
        root.AddNode("twin");
        root.AddNode("")->dwFlags &= ~NODE_HAS_NAME;
    } else if (strName == "badgroups") {
        // Face groups past the faces, empty, or with a material that does not exist: the
        // loader refuses the mesh, and the export writes what loaded.
        auto pGroups = root.AddNode("groups");
        auto pMesh = Quad({0, 1});
        pMesh->groups[0].dwFirstFace = 7;
        FileGroup empty;
        empty.dwMaterial = 0;
        pMesh->groups.push_back(empty);
        FileGroup unknown;
        unknown.dwFaceCount = 1;
        unknown.dwMaterial = 99;
        pMesh->groups.push_back(unknown);
        pGroups->children.push_back({nullptr, pMesh});
    }
    return scene;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_scenes FOLDER\n");
        return 2;
    }
    int nFailed = 0;
    for (const char* pszName :
         {"static", "animated", "morph", "blended", "missing", "empty", "odd", "badgroups"}) {
        const std::string strPath = std::string(argv[1]) + "/" + pszName + ".morv3d";
        const HRESULT hr = WriteMorv3DScene(strPath, BuildScene(pszName));
        std::printf("%s: %s\n", strPath.c_str(), SUCCEEDED(hr) ? "written" : "failed");
        nFailed += FAILED(hr) ? 1 : 0;
    }
    return nFailed == 0 ? 0 : 1;
}
