#include "fileformats/morv3d/morv3dloader.h"

#include <gtest/gtest.h>

#include <memory>

#include "abstractdata/debugreport.h"
#include "scenebytes.h"
#include "support/tempfile.h"

namespace {

// A root node holding a mesh, a chunk of unknown type, then four materials; both passes load it
// as its listing in loads.txt shows.
const std::string kModes = "root with a quad mesh, an unknown chunk and four materials";

}  // namespace

// Material tables, nodes and tracks, sound and damaged: the results, reports and what was
// loaded are the listings of tests/data/scene/loads.txt.
TEST_F(SceneLoaderTest, LoadedScenesMatchTheirListings) {
    ExpectLoads("loads");
}

// Sound and damaged meshes, listed in tests/data/scene/meshes.txt. Damaged meshes are refused
// before anything is sized and stay attached to their node.
TEST_F(SceneLoaderTest, LoadedMeshesMatchTheirListings) {
    ExpectLoads("meshes");
}

TEST_F(SceneLoaderTest, FaceIndicesKeepTheirLowSixteenBits) {
    std::vector<SceneChunk> chunks =
        ReadSceneCase("scenes.hex", "face index 70000 over 4465 vertices");
    // Vertex 0 is written out; the 4464 others, alike, go in before the frame's end byte.
    chunks.back().payload.insert(chunks.back().payload.end() - 1, 4464 * 40, 0);
    LoadBothPasses(chunks);
    ASSERT_EQ(m_hrObjects, S_OK);
    EXPECT_EQ(static_cast<CQVR3DMesh*>(m_pRoot->GetChild(0))->pGeometry->IndexBuffer()[0], 4464);
}

TEST_F(SceneLoaderTest, ModesAndFactoryChooseWhichChunksAreHandled) {
    WriteContainer(m_strPath, ReadSceneCase("loads.hex", kModes));
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
    // A factory without memory fails the object chunks; the material table is the last chunk
    // handled.
    struct CEmptyFactory : CMorv3DObjectFactory {
        CQVR3DObject* CreateObject() override { return nullptr; }
        CQVR3DNode* CreateNode() override { return nullptr; }
        CQVR3DMesh* CreateMesh() override { return nullptr; }
    } factory;
    CMorv3DSceneLoader loader(&factory);
    EXPECT_EQ(loader.Load(m_strPath, MORV3D_LOAD_OBJECTS), E_OUTOFMEMORY);
    EXPECT_EQ(loader.Load(m_strPath, 3), S_OK);
    EXPECT_EQ(loader.DetachRoot(), nullptr);
}

TEST_F(SceneLoaderTest, FilesOfAnotherKindOrRootTypeLoadNothing) {
    WriteContainer(m_strPath, ReadSceneCase("loads.hex", kModes), MORV_DEFAULT_FILE_KIND);
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

TEST_F(SceneLoaderTest, DeepHierarchiesLoadWithoutRecursion) {
    // A chain of the unnamed node of "root without a matrix", one level below the other.
    const SceneChunk node = ReadSceneCase("loads.hex", "root without a matrix").at(0);
    std::vector<SceneChunk> chain(4096, node);
    for (uint32_t i = 0; i < chain.size(); ++i) {
        chain[i].dwDepth = i;
    }
    LoadBothPasses(chain);
    EXPECT_EQ(m_hrObjects, S_OK);
    const CQVR3DObject* pObject = m_pRoot.get();
    uint32_t dwDepth = 0;
    while (const_cast<CQVR3DObject*>(pObject)->GetChildCount() > 0) {
        pObject = const_cast<CQVR3DObject*>(pObject)->GetChild(0);
        ++dwDepth;
    }
    EXPECT_EQ(dwDepth, 4095u);
}
