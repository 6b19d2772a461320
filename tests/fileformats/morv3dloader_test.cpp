#include "fileformats/morv3d/morv3dloader.h"

#include <gtest/gtest.h>

#include <memory>

#include "abstractdata/debugreport.h"
#include "scenebytes.h"
#include "support/tempfile.h"

namespace {

const std::vector<std::vector<MapSpec>> kMaterials = {
    {{0, "stone.bmp"}},                    // solid
    {{1, "glass.bmp"}, {0, "frame.bmp"}},  // alpha first
    {{3, "fire.bmp"}},                     // additive
    {},                                    // no maps
};

ChunkSpec Materials(const std::vector<std::vector<MapSpec>>& materials = kMaterials) {
    return {0x10003, MaterialBytes(materials), {}};
}

// A mesh of four vertices and two faces in one group of material m.
ChunkSpec QuadMesh(uint32_t dwMaterial, std::vector<FrameSpec> frames = {{16, 0, false, 0, 0.0f}},
                   uint32_t dwFlags = 0x13) {
    return {0x10002,
            MeshBytes(dwFlags, 4, {{0, 2, 0, dwMaterial}}, {{0, 1, 2}, {0, 2, 3}}, frames),
            {}};
}

class SceneLoaderTest : public ::testing::Test {
protected:
    // Writes the chunks, runs both passes as the viewer does and keeps the results.
    void LoadBothPasses(const std::vector<ChunkSpec>& chunks) {
        m_pLoader.reset();  // it keeps its file open, and so locked, until it goes
        WriteContainer(m_strPath, chunks);
        m_pLoader = std::make_unique<CMorv3DSceneLoader>(nullptr);
        m_hrMaterials = m_pLoader->Load(m_strPath, MORV3D_LOAD_MATERIALS);
        m_hrObjects = m_pLoader->Load(m_strPath, MORV3D_LOAD_OBJECTS);
        m_pRoot.reset(m_pLoader->DetachRoot());
    }

    CQVR3DNode* ChildNode(CQVR3DObject* pParent, uint32_t i) {
        CQVR3DObject* pChild = pParent->GetChild(i);
        EXPECT_NE(pChild, nullptr);
        EXPECT_EQ(pChild->GetObjectType(), QVR3DOBJ_NODE);
        return static_cast<CQVR3DNode*>(pChild);
    }
    CQVR3DMesh* ChildMesh(CQVR3DObject* pParent, uint32_t i) {
        CQVR3DObject* pChild = pParent->GetChild(i);
        EXPECT_NE(pChild, nullptr);
        EXPECT_EQ(pChild->GetObjectType(), QVR3DOBJ_MESH);
        return static_cast<CQVR3DMesh*>(pChild);
    }

    CTempDir m_dir;
    std::string m_strPath = m_dir.File("scene.morv3d");
    std::unique_ptr<CMorv3DSceneLoader> m_pLoader;
    std::unique_ptr<CQVR3DNode> m_pRoot;
    HRESULT m_hrMaterials = E_FAIL;
    HRESULT m_hrObjects = E_FAIL;
};

}  // namespace

TEST_F(SceneLoaderTest, ModesChooseWhichChunksAreHandled) {
    WriteContainer(m_strPath, {Node("root", {QuadMesh(0)}), {0x12345, {1, 2, 3}, {}}, Materials()});
    {
        CMorv3DSceneLoader loader(nullptr);
        EXPECT_EQ(loader.Load(m_strPath, 0), S_OK);
        EXPECT_TRUE(loader.materials.empty());
        EXPECT_EQ(loader.DetachRoot(), nullptr);
    }
    {
        // Objects before materials in one walk: the mesh finds no material.
        CMorv3DSceneLoader loader(nullptr);
        CReportCapture reports;
        EXPECT_EQ(loader.Load(m_strPath, 3), S_OK);  // the material table came last and succeeded
        std::unique_ptr<CQVR3DNode> pRoot(loader.DetachRoot());
        ASSERT_NE(pRoot, nullptr);
        EXPECT_EQ(pRoot->GetChildCount(), 1u);  // the failed mesh is kept
        EXPECT_EQ(loader.materials.size(), 4u);
    }
    LoadBothPasses({Node("root", {QuadMesh(0)}), {0x12345, {1, 2, 3}, {}}, Materials()});
    EXPECT_EQ(m_hrMaterials, S_OK);
    EXPECT_EQ(m_hrObjects, S_OK);
    ASSERT_NE(m_pRoot, nullptr);
    EXPECT_EQ(m_pRoot->strName, "root");
}

TEST_F(SceneLoaderTest, FilesOfAnotherKindOrRootTypeLoadNothing) {
    WriteContainer(m_strPath, {Materials(), Node("root")}, MORV_DEFAULT_FILE_KIND);
    CMorv3DSceneLoader loader(nullptr);
    EXPECT_EQ(loader.Load(m_strPath, MORV3D_LOAD_MATERIALS), E_UNEXPECTED);
    EXPECT_EQ(loader.Load(m_strPath, MORV3D_LOAD_OBJECTS), S_OK);
    EXPECT_TRUE(loader.materials.empty());
    EXPECT_EQ(loader.DetachRoot(), nullptr);

    // A root chunk whose type is not 0.
    WriteWholeFile(m_strPath, CByteBuilder()
                                  .MorvHeader({0x34, 0xF9, 0xB3, 0x0A, 0x62, 0x93, 0xD1, 0x11, 0x9A,
                                               0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12},
                                              44, 16, 44, 16)
                                  .DirEntry(7, 0, 0xFFFFFFFF, 0)
                                  .Get());
    CMorv3DSceneLoader other(nullptr);
    EXPECT_EQ(other.Load(m_strPath, 3), E_UNEXPECTED);
    // A loader keeps the file it opened: a later path is not even looked at.
    EXPECT_EQ(other.Load(m_dir.File("missing"), 3), E_UNEXPECTED);
    CMorv3DSceneLoader fresh(nullptr);
    EXPECT_EQ(fresh.Load(m_dir.File("missing"), 3), static_cast<HRESULT>(0x80070002u));
}

TEST_F(SceneLoaderTest, MaterialTables) {
    const std::string strLong(300, 't');
    LoadBothPasses({Materials({{{7, "ignored"}}}),
                    Materials({{{0, "a"}, {1, ""}, {2, strLong}, {3, "d"}}, {}})});
    EXPECT_EQ(m_hrMaterials, S_OK);
    const auto& materials = m_pLoader->materials;
    ASSERT_EQ(materials.size(), 2u);  // the second table wins
    ASSERT_EQ(materials[0].size(), 4u);
    EXPECT_TRUE(materials[1].empty());
    for (uint32_t j = 0; j < 4; ++j) {
        EXPECT_EQ(materials[0][j].morv3DMaterialMap.dwEffect, j);
        EXPECT_EQ(materials[0][j].morv3DMaterialMap.dwKept1, 0x11u);
        EXPECT_EQ(materials[0][j].morv3DMaterialMap.dwKept2, 0x22u);
    }
    EXPECT_EQ(materials[0][0].strTexture, "a");
    EXPECT_EQ(materials[0][1].strTexture, "");
    EXPECT_EQ(materials[0][2].strTexture, strLong);
    EXPECT_EQ(materials[0][3].strTexture, "d");

    LoadBothPasses({Materials({})});
    EXPECT_EQ(m_hrMaterials, S_OK);
    EXPECT_TRUE(m_pLoader->materials.empty());
}

TEST_F(SceneLoaderTest, DamagedMaterialTablesKeepWhatWasRead) {
    std::vector<uint8_t> bytes = MaterialBytes({{{1, "one"}}, {{2, "two"}}});
    bytes.resize(bytes.size() - 2);  // the second name is cut
    LoadBothPasses({{0x10003, bytes, {}}});
    EXPECT_EQ(m_hrMaterials, E_FAIL);
    ASSERT_EQ(m_pLoader->materials.size(), 2u);
    EXPECT_EQ(m_pLoader->materials[0][0].strTexture, "one");

    // Counts far beyond what the payload holds are refused before anything is sized.
    LoadBothPasses({{0x10003, CByteBuilder().U32(0).U32(0).U32(0xFFFFFFFF).Get(), {}}});
    EXPECT_EQ(m_hrMaterials, MORV_E_BADFORMAT);
    EXPECT_TRUE(m_pLoader->materials.empty());
    LoadBothPasses(
        {{0x10003, CByteBuilder().U32(0).U32(0).U32(1).U32(0).U32(0).U32(0x10000000).Get(), {}}});
    EXPECT_EQ(m_hrMaterials, MORV_E_BADFORMAT);
}

TEST_F(SceneLoaderTest, RootExchangesAxesUnlessItStoresAMatrix) {
    LoadBothPasses({{0x10000, NodeBytes(0), {}}});
    ASSERT_NE(m_pRoot, nullptr);
    const Matrix4 exchanged = m_pRoot->GetLocalMatrix();
    EXPECT_EQ(exchanged.m[0][1], 1.0f);
    EXPECT_EQ(exchanged.m[1][0], 1.0f);
    EXPECT_EQ(exchanged.m[0][0], 0.0f);
    EXPECT_EQ(exchanged.m[2][2], 1.0f);
    EXPECT_EQ(m_pRoot->strName, "");
    EXPECT_EQ(std::string(m_pRoot->GetName()), "");

    std::vector<float> matrix(16);
    for (int i = 0; i < 16; ++i) {
        matrix[i] = static_cast<float>(i + 1);
    }
    LoadBothPasses({{0x10000, NodeBytes(0x02, "", matrix), {Node("child")}}});
    const Matrix4 stored = m_pRoot->GetLocalMatrix();
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(stored.m[i / 4][i % 4], matrix[i]);
    }
    // Other nodes keep the identity.
    EXPECT_EQ(ChildNode(m_pRoot.get(), 0)->GetLocalMatrix().m[0][0], 1.0f);
}

TEST_F(SceneLoaderTest, SphereFlags) {
    const std::vector<float> spheres = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto load = [&](uint32_t dwFlags) {
        LoadBothPasses({{0x10000, NodeBytes(dwFlags, "", {}, spheres), {}}});
        return std::make_pair(m_pRoot->fLocalSphereRadius, m_pRoot->fParentSphereRadius);
    };
    EXPECT_EQ(load(0x00), std::make_pair(0.0f, 0.0f));
    EXPECT_EQ(load(0x08), std::make_pair(4.0f, 0.0f));
    EXPECT_EQ(load(0x18), std::make_pair(4.0f, 8.0f));
    EXPECT_EQ(load(0x0C), std::make_pair(4.0f, 8.0f));
    EXPECT_EQ(load(0x0A), std::make_pair(4.0f, 8.0f));
    EXPECT_EQ(m_pRoot->vLocalSphereCenter.z, 3.0f);
    EXPECT_EQ(m_pRoot->vParentSphereCenter.x, 5.0f);
}

TEST_F(SceneLoaderTest, NameCutShortStillLoadsTheNode) {
    std::vector<uint8_t> bytes = NodeBytes(1, "truncated");
    bytes.resize(bytes.size() - 3);
    LoadBothPasses({{0x10000, bytes, {Node("next")}}});
    EXPECT_EQ(m_hrObjects, S_OK);
    ASSERT_EQ(m_pRoot->GetChildCount(), 1u);
    EXPECT_EQ(ChildNode(m_pRoot.get(), 0)->strName, "next");
}

TEST_F(SceneLoaderTest, Tracks) {
    LoadBothPasses(
        {Node("root", {{0x10001,
                        TrackBytes({{0, 1.0f}, {100, 2.0f}}, {{0, 1.0f}, {50, 0.0f}, {250, 0.0f}}),
                        {}}})});
    EXPECT_EQ(m_hrObjects, S_OK);
    const CQVR3DTransform& transform = m_pRoot->transform;
    ASSERT_EQ(transform.PositionKeys().size(), 2u);
    ASSERT_EQ(transform.RotationKeys().size(), 3u);
    EXPECT_EQ(transform.PositionKeys()[1].vPosition.x, 2.0f);
    EXPECT_EQ(transform.RotationKeys()[0].vAxis.x, 1.0f);
    EXPECT_EQ(m_pRoot->GetAnimationTime(), 250u);

    // Larger stored sizes step by the stored size; two track chunks leave the second.
    LoadBothPasses(
        {Node("root", {{0x10001, TrackBytes({{5, 1.0f}}, {}), {}},
                       {0x10001, TrackBytes({{0, 3.0f}, {7, 4.0f}}, {{9, 5.0f}}, 48, 100), {}}})});
    EXPECT_EQ(m_hrObjects, S_OK);
    ASSERT_EQ(m_pRoot->transform.PositionKeys().size(), 2u);
    EXPECT_EQ(m_pRoot->transform.PositionKeys()[1].dwTime, 7u);
    EXPECT_EQ(m_pRoot->transform.PositionKeys()[1].vPosition.x, 4.0f);
    EXPECT_EQ(m_pRoot->transform.RotationKeys()[0].dwTime, 9u);
    EXPECT_EQ(m_pRoot->transform.RotationKeys()[0].vAxis.x, 5.0f);

    LoadBothPasses({Node("root", {{0x10001, TrackBytes({}, {}), {}}})});
    EXPECT_EQ(m_hrObjects, S_OK);
    EXPECT_TRUE(m_pRoot->transform.PositionKeys().empty());

    // Key sizes below the records, or counts beyond the payload, are refused.
    LoadBothPasses({Node("root", {{0x10001, TrackBytes({{0, 1.0f}}, {}, 39), {}}, Node("later")})});
    EXPECT_EQ(m_hrObjects, E_FAIL);
    EXPECT_TRUE(m_pRoot->transform.PositionKeys().empty());
    EXPECT_EQ(m_pRoot->GetChildCount(), 0u);
    std::vector<uint8_t> lying = TrackBytes({{0, 1.0f}}, {});
    lying[12] = 0xFF;
    lying[13] = 0xFF;
    LoadBothPasses({Node("root", {{0x10001, lying, {}}})});
    EXPECT_EQ(m_hrObjects, MORV_E_BADFORMAT);
}

TEST_F(SceneLoaderTest, FailingChildIsAttachedAndStopsItsSiblings) {
    CReportCapture reports;
    LoadBothPasses({Node("root", {Node("first"),
                                  Node("broken", {{0x10001, TrackBytes({}, {}, 10), {}}}),
                                  Node("never"),
                                  {0x77777, {}, {}}})});
    EXPECT_EQ(m_hrObjects, E_FAIL);
    ASSERT_EQ(m_pRoot->GetChildCount(), 2u);
    EXPECT_EQ(ChildNode(m_pRoot.get(), 1)->strName, "broken");
    // The failure is reported by the broken node, its parent, the loader's handler and Load.
    size_t nLoaderReports = 0;
    for (const DebugReportEntry& entry : reports.Entries()) {
        nLoaderReports += entry.strUnit == "fileformats/morv3d/morv3dloader";
    }
    EXPECT_EQ(nLoaderReports, 4u);
}

TEST_F(SceneLoaderTest, SecondRootChunkReplacesTheFirst) {
    CReportCapture reports;
    LoadBothPasses({Node("first", {Node("a")}), Node("second")});
    EXPECT_EQ(m_hrObjects, S_OK);
    EXPECT_EQ(m_pRoot->strName, "second");  // the first hierarchy is freed (the leak check knows)
    ASSERT_FALSE(reports.Entries().empty());
    EXPECT_EQ(reports.Entries()[0].kind, ReportKind::Assertion);
}

TEST_F(SceneLoaderTest, FactoryWithoutMemoryFailsObjectChunks) {
    struct CEmptyFactory : CMorv3DObjectFactory {
        CQVR3DObject* CreateObject() override { return nullptr; }
        CQVR3DNode* CreateNode() override { return nullptr; }
        CQVR3DMesh* CreateMesh() override { return nullptr; }
    } factory;
    WriteContainer(m_strPath, {Node("root"), Materials()});
    CMorv3DSceneLoader loader(&factory);
    EXPECT_EQ(loader.Load(m_strPath, MORV3D_LOAD_OBJECTS), E_OUTOFMEMORY);
    EXPECT_EQ(loader.Load(m_strPath, 3), S_OK);  // the material table is the last chunk handled
    EXPECT_EQ(loader.DetachRoot(), nullptr);
}

TEST_F(SceneLoaderTest, DeepHierarchiesLoadWithoutRecursion) {
    ChunkSpec deepest = Node("leaf");
    for (int i = 0; i < 4095; ++i) {
        ChunkSpec parent = Node("n");
        parent.children.push_back(std::move(deepest));
        deepest = std::move(parent);
    }
    LoadBothPasses({std::move(deepest)});
    EXPECT_EQ(m_hrObjects, S_OK);
    const CQVR3DObject* pObject = m_pRoot.get();
    uint32_t dwDepth = 0;
    while (const_cast<CQVR3DObject*>(pObject)->GetChildCount() > 0) {
        pObject = const_cast<CQVR3DObject*>(pObject)->GetChild(0);
        ++dwDepth;
    }
    EXPECT_EQ(dwDepth, 4095u);
}
