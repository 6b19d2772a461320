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
ChunkSpec QuadMesh(uint32_t dwMaterial) {
    return {0x10002,
            MeshBytes(0x13, 4, {{0, 2, 0, dwMaterial}}, {{0, 1, 2}, {0, 2, 3}},
                      {{16, 0, false, 0, 0.0f}}),
            {}};
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t nBytes) {
    bytes.resize(bytes.size() - nBytes);
    return bytes;
}

ChunkSpec Track(const std::vector<uint8_t>& bytes) {
    return {0x10001, bytes, {}};
}

using SceneLoaderTest = SceneLoadTest;

}  // namespace

// Material tables, nodes and tracks, sound and damaged: the results, reports and what was
// loaded are the listings of tests/data/scene/loads.txt.
TEST_F(SceneLoaderTest, LoadedScenesMatchTheirListings) {
    std::vector<float> matrix(16);
    for (int i = 0; i < 16; ++i) {
        matrix[i] = static_cast<float>(i + 1);
    }
    const std::vector<float> spheres = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> lying = TrackBytes({{0, 1.0f}}, {});
    lying[12] = 0xFF;  // position count
    lying[13] = 0xFF;
    ExpectLoads(
        "loads.txt",
        {
            {"two material tables",
             {Materials({{{7, "ignored"}}}),
              Materials({{{0, "a"}, {1, ""}, {2, std::string(300, 't')}, {3, "d"}}, {}})}},
            {"empty material table", {Materials({})}},
            {"material table cut in its second name",
             {{0x10003, Cut(MaterialBytes({{{1, "one"}}, {{2, "two"}}}), 2), {}}}},
            {"material count beyond the payload",
             {{0x10003, CByteBuilder().U32(0).U32(0).U32(0xFFFFFFFF).Get(), {}}}},
            {"map count beyond the payload",
             {{0x10003,
               CByteBuilder().U32(0).U32(0).U32(1).U32(0).U32(0).U32(0x10000000).Get(),
               {}}}},
            {"root without a matrix", {{0x10000, NodeBytes(0), {}}}},
            {"root with a matrix", {{0x10000, NodeBytes(0x02, "", matrix), {Node("child")}}}},
            {"spheres 00", {{0x10000, NodeBytes(0x00, "", {}, spheres), {}}}},
            {"spheres 08", {{0x10000, NodeBytes(0x08, "", {}, spheres), {}}}},
            {"spheres 18", {{0x10000, NodeBytes(0x18, "", {}, spheres), {}}}},
            {"spheres 0c", {{0x10000, NodeBytes(0x0C, "", {}, spheres), {}}}},
            {"spheres 0a", {{0x10000, NodeBytes(0x0A, "", {}, spheres), {}}}},
            {"name cut short", {{0x10000, Cut(NodeBytes(1, "truncated"), 3), {Node("next")}}}},
            {"tracks",
             {Node("root", {Track(TrackBytes({{0, 1.0f}, {100, 2.0f}},
                                             {{0, 1.0f}, {50, 0.0f}, {250, 0.0f}}))})}},
            {"two tracks of longer keys",
             {Node("root", {Track(TrackBytes({{5, 1.0f}}, {})),
                            Track(TrackBytes({{0, 3.0f}, {7, 4.0f}}, {{9, 5.0f}}, 48, 100))})}},
            {"empty track", {Node("root", {Track(TrackBytes({}, {}))})}},
            {"position keys of 39 bytes",
             {Node("root", {Track(TrackBytes({{0, 1.0f}}, {}, 39)), Node("later")})}},
            {"position count beyond the payload", {Node("root", {Track(lying)})}},
            {"failing child stops its siblings",
             {Node("root", {Node("first"),
                            Node("broken", {Track(TrackBytes({}, {}, 10))}),
                            Node("never"),
                            {0x77777, {}, {}}})}},
            {"second root chunk", {Node("first", {Node("a")}), Node("second")}},
        });
}

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
        // An empty material stays behind the empty list: a loader that read past the list's
        // end would fail the mesh listings below rather than crash here.
        loader.materials.resize(1);
        loader.materials.clear();
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

    WriteWholeFile(m_strPath, ReadHexSection(std::string(MORV_SOURCE_DIR) +
                                                 "/tests/data/container/layouts.hex",
                                             "scene whose root is of type 7"));
    CMorv3DSceneLoader other(nullptr);
    EXPECT_EQ(other.Load(m_strPath, 3), E_UNEXPECTED);
    // A loader keeps the file it opened: a later path is not even looked at.
    EXPECT_EQ(other.Load(m_dir.File("missing"), 3), E_UNEXPECTED);
    CMorv3DSceneLoader fresh(nullptr);
    EXPECT_EQ(fresh.Load(m_dir.File("missing"), 3), static_cast<HRESULT>(0x80070002u));
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
