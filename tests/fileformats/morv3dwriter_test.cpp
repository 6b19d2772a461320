#include "fileformats/morv3d/morv3dwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "abstractdata/debugreport.h"
#include "fileformats/morv/morv.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "fileformats/morvchunks.h"
#include "fileformats/scenetext.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

namespace {

Morv3DFileVertex MakeVertex(float k) {
    Morv3DFileVertex v;
    v.vPosition = {k, k + 0.5f, -k};
    v.vNormal = {0.0f, k * 0.25f, 1.0f};
    v.dwExtra1 = 0xA0 + static_cast<uint32_t>(k);
    v.dwExtra2 = 0xB0 + static_cast<uint32_t>(k);
    v.fU = k * 0.125f;
    v.fV = 1.0f - k * 0.125f;
    return v;
}

// A mesh of one group, one face and two frames over three vertices (0, 1, 2 in the first frame,
// 10, 11, 12 in the second).
std::shared_ptr<Morv3DMeshDesc> SmallMesh(uint32_t dwFlags) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = dwFlags;
    pMesh->vCenter = {0.5f, 0.0f, 0.0f};
    pMesh->fRadius = 2.0f;
    FileGroup group;
    group.dwFaceCount = 1;
    group.dwReserved = 9;
    pMesh->groups = {group};
    pMesh->faces = {{{0, 1, 2}}};
    Morv3DFrameDesc first;
    Morv3DFrameDesc second;
    second.dwTime = 20;
    second.bBlend = true;
    second.dwBlendDuration = 5;
    second.dwHeaderSize = 16;
    for (int k = 0; k < 3; ++k) {
        first.vertices.push_back(MakeVertex(static_cast<float>(k)));
        second.vertices.push_back(MakeVertex(static_cast<float>(10 + k)));
    }
    pMesh->frames = {first, second};
    return pMesh;
}

class SceneWriterTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir.File("scene.morv3d"); }

    // The payload of the only mesh of the root node.
    std::vector<uint8_t> RootMeshPayload() {
        CMorvFile file;
        EXPECT_EQ(file.Open(Path(), false), S_OK);
        EXPECT_EQ(file.ReadHeader(), S_OK);
        EXPECT_EQ(file.ReadDirectory(), S_OK);
        const auto top = ChildrenOf(file.GetRootChunk());
        EXPECT_EQ(top.size(), 1u);
        const auto inRoot = ChildrenOf(top.at(0));
        EXPECT_EQ(inRoot.size(), 1u);
        EXPECT_EQ(inRoot.at(0)->dwTypeId, MORV3D_CHUNK_MESH);
        return Payload(file, inRoot.at(0));
    }

    CTempDir m_dir;
};

}  // namespace

// Every record of a small scene, spelled out byte by byte in the data file: container header,
// materials with counted names, a named node with matrix and both spheres, a track chunk with a
// padded position key, a mesh with 12- and 16-byte frame headers and flags 0x13, and a node
// with flags 0.
TEST_F(SceneWriterTest, SmallSceneMatchesHandWrittenBytes) {
    Morv3DSceneDesc scene;
    Morv3DMaterialDesc material;
    material.adwKept[0] = 7;
    material.adwKept[1] = 8;
    Morv3DMapDesc mapA;
    mapA.record.dwKept1 = 1;
    mapA.record.dwKept2 = 2;
    mapA.strTexture = "ab";
    Morv3DMapDesc mapB;
    mapB.record.dwEffect = 3;
    material.maps = {mapA, mapB};
    scene.materials = {material};

    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    Morv3DNodeDesc& root = *scene.pRoot;
    root.strName = "root";
    for (int i = 0; i < 16; ++i) {
        root.matrix.m[i / 4][i % 4] = static_cast<float>(i) + 0.5f;
    }
    root.vLocalCenter = {1, 2, 3};
    root.fLocalRadius = 4;
    root.vParentCenter = {5, 6, 7};
    root.fParentRadius = 8;
    root.bWriteTracks = true;
    root.dwPositionKeySize = 44;
    PositionKey position;
    position.dwTime = 10;
    position.vPosition = {1, 2, 3};
    position.vControlIn = {4, 5, 6};
    position.vControlOut = {7, 8, 9};
    root.positionKeys = {position};
    RotationKey rotation;
    rotation.dwTime = 30;
    rotation.vAxis = {0, 0, 1};
    rotation.fAngle = 0.25f;
    for (int i = 0; i < 12; ++i) {
        rotation.afBlock[i / 4][i % 4] = static_cast<float>(100 + i);
    }
    for (int i = 0; i < 16; ++i) {
        rotation.abUnused[i] = static_cast<uint8_t>(i + 1);
    }
    root.rotationKeys = {rotation};
    root.children.push_back({nullptr, SmallMesh(0x13)});
    root.AddNode("ignored")->dwFlags = 0;

    ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);

    EXPECT_EQ(ReadWholeFile(Path()),
              ReadHexFile(std::string(MORV_SOURCE_DIR) + "/tests/data/scene/small_scene.hex"));
}

// Later frames hold only the components of the flags, in bit order: the mesh chunks of
// tests/data/scene/packed_frames.hex, one for each flags value.
TEST_F(SceneWriterTest, LaterFramesArePackedByComponentFlags) {
    const std::vector<HexSection> cases =
        ReadHexSections(std::string(MORV_SOURCE_DIR) + "/tests/data/scene/packed_frames.hex");
    ASSERT_EQ(cases.size(), 4u);
    for (const HexSection& c : cases) {
        Morv3DSceneDesc scene;
        scene.bWriteMaterials = false;
        scene.pRoot = std::make_shared<Morv3DNodeDesc>();
        scene.pRoot->dwFlags = 0;
        scene.pRoot->children.push_back({nullptr, SmallMesh(std::stoul(c.strTitle, nullptr, 16))});
        ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);
        EXPECT_EQ(RootMeshPayload(), c.bytes)
            << "packed_frames.hex:" << c.nLine << " flags 0x" << c.strTitle;
    }
}

TEST_F(SceneWriterTest, ChunkOrderFollowsTheDescription) {
    Morv3DSceneDesc scene;
    scene.materials.resize(2);
    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    scene.pRoot->AddMesh()->frames.resize(1);
    scene.pRoot->AddNode("a");
    scene.pRoot->AddMesh()->frames.resize(1);
    scene.pRoot->bWriteTracks = true;

    auto typesOf = [](CMorvChunk* pChunk) {
        std::vector<uint32_t> types;
        for (CMorvChunk* pChild : pChunk->Children()) {
            types.push_back(pChild->dwTypeId);
        }
        return types;
    };
    for (bool bAfter : {false, true}) {
        scene.bMaterialsAfterObjects = bAfter;
        ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);
        CMorvFile file;
        ASSERT_EQ(file.Open(Path(), false), S_OK);
        ASSERT_EQ(file.ReadHeader(), S_OK);
        ASSERT_EQ(file.ReadDirectory(), S_OK);
        const auto top = ChildrenOf(file.GetRootChunk());
        EXPECT_EQ(typesOf(file.GetRootChunk()),
                  bAfter ? (std::vector<uint32_t>{MORV3D_CHUNK_OBJECT, MORV3D_CHUNK_MATERIALS})
                         : (std::vector<uint32_t>{MORV3D_CHUNK_MATERIALS, MORV3D_CHUNK_OBJECT}));
        CMorvChunk* pObject = top[bAfter ? 0 : 1];
        EXPECT_EQ(typesOf(pObject),
                  (std::vector<uint32_t>{MORV3D_CHUNK_TRACKS, MORV3D_CHUNK_MESH,
                                         MORV3D_CHUNK_OBJECT, MORV3D_CHUNK_MESH}));
        // Two empty materials: the table header and two material headers.
        EXPECT_EQ(top[bAfter ? 1 : 0]->dwSize, 36u);
    }

    // Neither materials nor objects: a scene file with only the root chunk.
    ASSERT_EQ(WriteMorv3DScene(Path(), Morv3DSceneDesc{{}, false, false, nullptr}), S_OK);
    EXPECT_EQ(ReadWholeFile(Path()),
              ReadHexSection(std::string(MORV_SOURCE_DIR) + "/tests/data/container/layouts.hex",
                             "empty scene"));
}

// Descriptions that cannot be written fail with E_INVALIDARG before anything is left behind; the
// first failure wins and is reported by the writer.
TEST_F(SceneWriterTest, UnwritableDescriptionsAreRefused) {
    auto base = [] {
        Morv3DSceneDesc scene;
        scene.pRoot = std::make_shared<Morv3DNodeDesc>();
        scene.pRoot->children.push_back({nullptr, SmallMesh(0x13)});
        return scene;
    };
    std::vector<std::pair<const char*, Morv3DSceneDesc>> cases;
    cases.emplace_back("frame header of 20 bytes", base());
    cases.back().second.pRoot->children[0].pMesh->frames[1].dwHeaderSize = 20;
    cases.emplace_back("frames of different vertex counts", base());
    cases.back().second.pRoot->children[0].pMesh->frames[1].vertices.pop_back();
    cases.emplace_back("position key size 39", base());
    cases.back().second.pRoot->bWriteTracks = true;
    cases.back().second.pRoot->dwPositionKeySize = 39;
    cases.emplace_back("rotation key size 83", base());
    cases.back().second.pRoot->bWriteTracks = true;
    cases.back().second.pRoot->dwRotationKeySize = 83;
    cases.emplace_back("track beyond 32 bits", base());
    cases.back().second.pRoot->bWriteTracks = true;
    cases.back().second.pRoot->dwRotationKeySize = 0x80000000u;
    cases.back().second.pRoot->rotationKeys.resize(2);
    cases.emplace_back("child that is neither node nor mesh", base());
    cases.back().second.pRoot->AddNode("deep")->children.push_back({});
    cases.emplace_back("child that is both", base());
    cases.back().second.pRoot->children.push_back(
        {std::make_shared<Morv3DNodeDesc>(), SmallMesh(0x13)});
    cases.emplace_back("node inside itself", base());
    {
        auto pLoop = cases.back().second.pRoot->AddNode("loop");
        pLoop->AddNode("inner")->children.push_back({pLoop, nullptr});
    }

    for (auto& [pszCase, scene] : cases) {
        WriteWholeFile(Path(), {1, 2, 3});
        CReportCapture reports;
        EXPECT_EQ(WriteMorv3DScene(Path(), scene), E_INVALIDARG) << pszCase;
        EXPECT_FALSE(std::filesystem::exists(Path())) << pszCase;
        ASSERT_FALSE(reports.Entries().empty());
        EXPECT_EQ(reports.Entries().back().strUnit, "fileformats/morv3d/morv3dwriter");
        EXPECT_EQ(reports.Entries().back().strMessage, "Error: ASSERT_HRESULT(0x80070057)\n");
    }
    // The loop is broken by hand, or its nodes would never be freed.
    cases.back().second.pRoot->children.back().pNode->children.clear();

    // A path that cannot be opened keeps the container's code.
    CReportCapture reports;
    EXPECT_EQ(WriteMorv3DScene(m_dir.File("missing/scene.morv3d"), base()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// Deeper than the loader accepts, so that its refusal can be tested; neither writing nor
// releasing the description recurses once per level.
TEST_F(SceneWriterTest, DeepHierarchiesAreWrittenWithoutRecursion) {
    constexpr int kDepth = 5000;
    Morv3DSceneDesc scene;
    scene.bWriteMaterials = false;
    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    Morv3DNodeDesc* pNode = scene.pRoot.get();
    for (int i = 1; i < kDepth; ++i) {
        pNode = pNode->AddNode("n").get();
    }
    pNode->AddMesh()->frames.resize(1);
    ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);

    // The directory by hand: every entry but the last has one child.
    const std::vector<uint8_t> bytes = ReadWholeFile(Path());
    ASSERT_GE(bytes.size(), 44u);
    uint32_t dwDirOffset;
    std::memcpy(&dwDirOffset, bytes.data() + 24, 4);
    const size_t nEntries = (bytes.size() - dwDirOffset) / 16;
    ASSERT_EQ(nEntries, 1u + kDepth + 1);
    for (size_t i = 0; i < nEntries; ++i) {
        uint32_t adw[2];
        std::memcpy(adw, bytes.data() + dwDirOffset + 16 * i, 8);
        const uint32_t dwType = i == 0 ? 0 : i <= kDepth ? MORV3D_CHUNK_OBJECT : MORV3D_CHUNK_MESH;
        ASSERT_EQ(adw[0], dwType) << i;
        ASSERT_EQ(adw[1], i + 1 < nEntries ? 1u : 0u) << i;
    }
    {
        CReportCapture reports;
        CMorv3DSceneLoader loader(nullptr);
        EXPECT_EQ(loader.Load(Path(), MORV3D_LOAD_MATERIALS | MORV3D_LOAD_OBJECTS),
                  MORV_E_BADFORMAT);
    }

    // A chain far deeper than the writer needs, released through its root.
    auto pChain = std::make_shared<Morv3DNodeDesc>();
    pNode = pChain.get();
    for (int i = 0; i < 100000; ++i) {
        pNode = pNode->AddNode("").get();
    }
    pChain.reset();
}

// A track whose blocks were chained turns without a jump through every key.
TEST(ChainRotationBlocks, TrackTurnsContinuously) {
    std::vector<RotationKey> keys(4);
    const Vector3 axes[4] = {{0, 0, 1}, {0, 0, 1}, {1, 1, 0}, {0, 2, 0}};
    for (size_t i = 0; i < keys.size(); ++i) {
        keys[i].dwTime = static_cast<uint32_t>(100 * i);
        keys[i].vAxis = axes[i];
        keys[i].fAngle = 0.7f + 0.3f * static_cast<float>(i);
    }
    // Start orientation: a quarter turn about z.
    keys[0].afBlock[0][1] = 1;
    keys[0].afBlock[1][0] = -1;
    keys[0].afBlock[2][2] = 1;
    ChainRotationBlocks(keys);

    CQVR3DTransform transform;
    transform.RotationKeys() = keys;
    auto at = [&](uint32_t dwTime) {
        transform.Evaluate(dwTime);
        return transform.GetMatrix();
    };
    float fLargestStep = 0;
    Matrix4 previous = at(0);
    for (uint32_t t = 1; t <= 300; ++t) {
        const Matrix4 current = at(t);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                fLargestStep =
                    std::max(fLargestStep, std::fabs(current.m[r][c] - previous.m[r][c]));
            }
        }
        previous = current;
    }
    EXPECT_LT(fLargestStep, 0.05f);
    // Without chaining the step at key 2 is a jump.
    for (auto& key : keys) {
        std::memcpy(key.afBlock, keys[0].afBlock, sizeof(key.afBlock));
    }
    transform.RotationKeys() = keys;
    const Matrix4 before = at(200);
    const Matrix4 after = at(201);
    EXPECT_GT(std::fabs(after.m[0][0] - before.m[0][0]) + std::fabs(after.m[0][1] - before.m[0][1]),
              0.3f);
}

// ---------------------------------------------------------------------------------------------
// Round trips through the loader, both passes as the viewer runs them.

namespace {

Morv3DMapDesc Map(uint32_t dwEffect, const tstring& strTexture) {
    Morv3DMapDesc map;
    map.record.dwKept1 = dwEffect + 100;
    map.record.dwKept2 = dwEffect + 200;
    map.record.dwEffect = dwEffect;
    map.strTexture = strTexture;
    return map;
}

// Four vertices, two faces; one group per entry of adwMaterials, group g holding face g (base
// vertex g); nFrames frames with 12-, 16-, 12-byte headers in turn.
std::shared_ptr<Morv3DMeshDesc> Quad(std::vector<uint32_t> adwMaterials, int nFrames,
                                     uint32_t dwFlags = 0x13) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = dwFlags;
    pMesh->vCenter = {0.5f, 0.5f, 0.0f};
    pMesh->fRadius = 0.75f;
    pMesh->faces = {{{0, 1, 2}}, {{0, 1, 2}}};
    for (uint32_t g = 0; g < adwMaterials.size(); ++g) {
        FileGroup group;
        group.dwFirstFace = g;
        group.dwFaceCount = adwMaterials.size() == 1 ? 2 : 1;
        group.dwBaseVertex = g;
        group.dwReserved = 40 + g;
        group.dwMaterial = adwMaterials[g];
        pMesh->groups.push_back(group);
    }
    for (int f = 0; f < nFrames; ++f) {
        Morv3DFrameDesc frame;
        frame.dwTime = static_cast<uint32_t>(50 * f);
        frame.bBlend = f == 1;
        frame.dwHeaderSize = f == 1 ? 16 : 12;
        frame.dwBlendDuration = f == 1 ? 7 : 99;  // 99 is not written with 12-byte headers
        for (int k = 0; k < 4; ++k) {
            frame.vertices.push_back(MakeVertex(static_cast<float>(10 * f + k)));
        }
        pMesh->frames.push_back(frame);
    }
    return pMesh;
}

}  // namespace

TEST_F(SceneWriterTest, LoaderReadsBackWhatWasWritten) {
    Morv3DSceneDesc scene;
    scene.bMaterialsAfterObjects = true;  // the two passes make the order irrelevant
    scene.materials.resize(4);
    scene.materials[0].maps = {Map(0, "stone.bmp")};
    scene.materials[1].maps = {Map(1, "glass.tga")};
    scene.materials[2].maps = {Map(3, std::string(300, 'x') + ".tga")};
    scene.materials[3].maps = {Map(0, "wood.bmp"), Map(1, "")};

    scene.pRoot = std::make_shared<Morv3DNodeDesc>();
    Morv3DNodeDesc& root = *scene.pRoot;
    root.strName = "scene";
    root.matrix.m[3][0] = 4;  // stored: replaces the exchange of x and y
    root.matrix.m[0][1] = 0.5f;
    root.vLocalCenter = {1, 2, 3};
    root.fLocalRadius = 9;
    root.vParentCenter = {-1, -2, -3};
    root.fParentRadius = 10;
    root.bWriteTracks = true;
    root.dwPositionKeySize = 48;
    root.dwRotationKeySize = 100;
    for (uint32_t i = 0; i < 2; ++i) {
        PositionKey key;
        key.dwTime = 100 * i;
        key.vPosition = {static_cast<float>(i), 1, 2};
        key.vControlIn = {3, static_cast<float>(i), 4};
        key.vControlOut = {5, 6, static_cast<float>(i)};
        root.positionKeys.push_back(key);
    }
    for (uint32_t i = 0; i < 3; ++i) {
        RotationKey key;
        key.dwTime = 50 * i;
        key.vAxis = {0, 1, static_cast<float>(i)};
        key.fAngle = 0.1f * static_cast<float>(i + 1);
        key.afBlock[0][0] = key.afBlock[1][1] = key.afBlock[2][2] = 1;
        key.abUnused[i] = 0xEE;
        root.rotationKeys.push_back(key);
    }

    // Written in this order; loaded opaque first, then blended without sort id, then by id.
    auto pMeshA = Quad({0, 3}, 3);
    root.children.push_back({nullptr, pMeshA});
    auto pGlass = root.AddNode("glass_sort1");
    pGlass->children.push_back({nullptr, Quad({1}, 1)});
    auto pMixed = root.AddNode("mixed");
    pMixed->children.push_back({nullptr, Quad({1, 0}, 2, 0x11)});
    auto pOpaque = root.AddNode("opaque");
    auto pInner = pOpaque->AddNode("");
    pInner->dwFlags = 0;  // no name, identity matrix, no spheres
    pInner->matrix.m[3][1] = 7;
    pInner->children.push_back({nullptr, Quad({0}, 2, 0)});
    root.AddNode("sort0_window")->children.push_back({nullptr, Quad({1}, 1)});
    auto pHaze = root.AddNode("haze");
    pHaze->children.push_back({nullptr, Quad({2}, 1)});

    ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);

    CMorv3DSceneLoader loader(nullptr);
    ASSERT_EQ(loader.Load(Path(), MORV3D_LOAD_MATERIALS), S_OK);
    ASSERT_EQ(loader.Load(Path(), MORV3D_LOAD_OBJECTS), S_OK);
    std::unique_ptr<CQVR3DNode> pRoot(loader.DetachRoot());
    ASSERT_NE(pRoot, nullptr);

    // The listing names every field read back; the children in the order the loader sorts them.
    ExpectListing("roundtrip.txt", "written scene", SceneListing(loader.materials, pRoot.get()));
    EXPECT_EQ(pRoot->GetAnimationTimeHierarchy(), 100u);
}
