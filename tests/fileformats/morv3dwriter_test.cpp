#include "fileformats/morv3d/morv3dwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "abstractdata/debugreport.h"
#include "fileformats/morv/morv.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "fileformats/morvchunks.h"
#include "fileformats/scenedesc.h"
#include "fileformats/scenetext.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

namespace {

const std::string kDescriptions = "scene/descriptions.txt";

class SceneWriterTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir.File("scene.morv3d"); }

    // The payload of the only mesh of the root node.
    std::vector<uint8_t> RootMeshPayload() {
        CMorvFile file;
        EXPECT_EQ(OpenForReading(file, Path()), S_OK);
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
    ASSERT_EQ(WriteMorv3DScene(Path(), ReadSceneDesc(kDescriptions, "small scene")), S_OK);

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
        Morv3DSceneDesc scene = ReadSceneDesc(kDescriptions, "small mesh");
        scene.pRoot->children[0].pMesh->dwComponentFlags = std::stoul(c.strTitle, nullptr, 16);
        ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);
        EXPECT_EQ(RootMeshPayload(), c.bytes)
            << "packed_frames.hex:" << c.nLine << " flags 0x" << c.strTitle;
    }
}

// tests/data/scene/chunk_order.hex: the material table before or after the objects as the
// description asks, and a node's track chunk first among its children.
TEST_F(SceneWriterTest, ChunkOrderFollowsTheDescription) {
    const std::string strCases = std::string(MORV_SOURCE_DIR) + "/tests/data/scene/chunk_order.hex";
    Morv3DSceneDesc scene = ReadSceneDesc(kDescriptions, "chunk order");
    for (bool bAfter : {false, true}) {
        scene.bMaterialsAfterObjects = bAfter;
        ASSERT_EQ(WriteMorv3DScene(Path(), scene), S_OK);
        EXPECT_EQ(ReadWholeFile(Path()),
                  ReadHexSection(strCases, bAfter ? "materials after" : "materials before"));
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
    auto base = [] { return ReadSceneDesc(kDescriptions, "small mesh"); };
    std::vector<std::pair<std::string, Morv3DSceneDesc>> cases;
    for (const char* pszCase :
         {"frame header of 20 bytes", "frames of different vertex counts", "position key size 39",
          "rotation key size 83", "track beyond 32 bits"}) {
        cases.emplace_back(pszCase, ReadSceneDesc("scene/refused.txt", pszCase));
    }
    cases.emplace_back("child that is neither node nor mesh", base());
    cases.back().second.pRoot->AddNode("deep")->children.push_back({});
    cases.emplace_back("child that is both", base());
    cases.back().second.pRoot->children.push_back(
        {std::make_shared<Morv3DNodeDesc>(), cases.back().second.pRoot->children[0].pMesh});
    cases.emplace_back("node inside itself", base());
    {
        auto pLoop = cases.back().second.pRoot->AddNode("loop");
        pLoop->AddNode("inner")->children.push_back({pLoop, nullptr});
    }

    for (auto& [strCase, scene] : cases) {
        WriteWholeFile(Path(), {1, 2, 3});
        CReportCapture reports;
        EXPECT_EQ(WriteMorv3DScene(Path(), scene), E_INVALIDARG) << strCase;
        EXPECT_FALSE(std::filesystem::exists(Path())) << strCase;
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
    transform.RotationKeys().assign(keys.begin(), keys.end());
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
    transform.RotationKeys().assign(keys.begin(), keys.end());
    const Matrix4 before = at(200);
    const Matrix4 after = at(201);
    EXPECT_GT(std::fabs(after.m[0][0] - before.m[0][0]) + std::fabs(after.m[0][1] - before.m[0][1]),
              0.3f);
}

// ---------------------------------------------------------------------------------------------
// Round trips through the loader, both passes as the viewer runs them: the description of
// "written scene" names every field the loader reads back.
TEST_F(SceneWriterTest, LoaderReadsBackWhatWasWritten) {
    ASSERT_EQ(WriteMorv3DScene(Path(), ReadSceneDesc(kDescriptions, "written scene")), S_OK);

    CMorv3DSceneLoader loader(nullptr);
    ASSERT_EQ(loader.Load(Path(), MORV3D_LOAD_MATERIALS), S_OK);
    ASSERT_EQ(loader.Load(Path(), MORV3D_LOAD_OBJECTS), S_OK);
    std::unique_ptr<CQVR3DNode> pRoot(loader.DetachRoot());
    ASSERT_NE(pRoot, nullptr);

    // The listing names every field read back; the children in the order the loader sorts them.
    ExpectListing("roundtrip.txt", "written scene", SceneListing(loader.materials, pRoot.get()));
    EXPECT_EQ(pRoot->GetAnimationTimeHierarchy(), 100u);
}

// The committed scenes of the interchange tests are what interchange/scenes/scenes.txt says;
// with MORV_UPDATE_BASELINES set they are rewritten from it.
TEST_F(SceneWriterTest, InterchangeScenesMatchTheirDescriptions) {
    const std::string strFolder = std::string(MORV_SOURCE_DIR) + "/tests/data/interchange/scenes/";
    const bool bUpdate = std::getenv("MORV_UPDATE_BASELINES") != nullptr;
    std::ifstream descriptions(strFolder + "scenes.txt");
    int nScenes = 0;
    for (std::string strLine; std::getline(descriptions, strLine);) {
        if (strLine.rfind("== ", 0) != 0) {
            continue;
        }
        const std::string strName = strLine.substr(3);
        const std::string strCommitted = strFolder + strName + ".morv3d";
        ++nScenes;
        ASSERT_EQ(WriteMorv3DScene(Path(), ReadSceneDesc("interchange/scenes/scenes.txt", strName)),
                  S_OK)
            << strName;
        const std::vector<uint8_t> written = ReadWholeFile(Path());
        if (bUpdate) {
            WriteWholeFile(strCommitted, written);
        }
        const std::vector<uint8_t> committed = ReadWholeFile(strCommitted);
        const auto [itWritten, itCommitted] =
            std::mismatch(written.begin(), written.end(), committed.begin(), committed.end());
        EXPECT_TRUE(itWritten == written.end() && itCommitted == committed.end())
            << strName << ".morv3d differs from its description at byte "
            << (itWritten - written.begin()) << " (" << written.size() << " bytes written, "
            << committed.size() << " committed)";
    }
    EXPECT_EQ(nScenes, 8) << "scenes.txt holds a section per committed scene";
}
