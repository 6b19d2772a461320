#include "viewer/document.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "abstractdata/debugreport.h"
#include "support/tempfile.h"
#include "viewer/structuretree.h"
#include "viewer/testscene.h"

using namespace viewer_test;

namespace {

constexpr GUID kOtherKind = {
    0x0AB3F933, 0x9362, 0x11D1, {0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12}};

// A root that tells when it is deleted.
class CWatchedNode : public CQVR3DNode {
public:
    explicit CWatchedNode(bool* pbDeleted) : m_pbDeleted(pbDeleted) {}
    ~CWatchedNode() override { *m_pbDeleted = true; }

private:
    bool* m_pbDeleted;
};

class DocumentTest : public ::testing::Test {
protected:
    std::string Tree() const {
        return FormatStructureTree(BuildStructureTree(m_doc, SHOW_ALL), false);
    }
    void ExpectEmpty() const {
        EXPECT_TRUE(m_doc._Materials.empty());
        EXPECT_EQ(m_doc._pNode, nullptr);
        EXPECT_EQ(Tree(), "MATERIALS\nOBJECTS\n");
    }

    CTempDir m_dir;
    std::string m_strScene = m_dir.File("scene.morv3d");
    CReportCapture m_reports;  // the loader's failure reports stay out of the test output
    CMorv3dViewerDoc m_doc;
};

}  // namespace

TEST_F(DocumentTest, EmptyUntilOpenedAndAfterNew) {
    ExpectEmpty();
    EXPECT_TRUE(m_doc.LoadedCompletely());
    EXPECT_EQ(m_doc.GetOpenResult(), S_OK);

    WriteScene(m_strScene);
    ASSERT_TRUE(m_doc.OnOpenDocument(m_strScene));
    EXPECT_TRUE(m_doc.LoadedCompletely());
    EXPECT_EQ(Tree(), SceneTree());
    // Deep copies: the texture names live in the document.
    ASSERT_EQ(m_doc._Materials.size(), 4u);
    ASSERT_EQ(m_doc._Materials[1].size(), 2u);
    EXPECT_EQ(m_doc._Materials[1][0].strTexture, "glass.bmp");
    EXPECT_EQ(m_doc._Materials[1][0].morv3DMaterialMap.dwEffect, 1u);

    EXPECT_TRUE(m_doc.OnSaveDocument(m_dir.File("never.morv3d")));
    EXPECT_TRUE(ReadWholeFile(m_dir.File("never.morv3d")).empty());

    EXPECT_TRUE(m_doc.OnNewDocument());
    ExpectEmpty();
    EXPECT_EQ(m_reports.Entries().size(), 0u);
}

TEST_F(DocumentTest, SecondOpenFreesTheFirstScene) {
    bool bDeleted = false;
    m_doc._pNode = new CWatchedNode(&bDeleted);
    m_doc._Materials.resize(9);
    WriteContainer(m_strScene, {Node("second")});
    ASSERT_TRUE(m_doc.OnOpenDocument(m_strScene));
    EXPECT_TRUE(bDeleted);
    EXPECT_EQ(Tree(), "MATERIALS\nOBJECTS\n  node: second\n");
}

TEST_F(DocumentTest, FailedOpenKeepsTheLoadedScene) {
    WriteScene(m_strScene);
    ASSERT_TRUE(m_doc.OnOpenDocument(m_strScene));
    CQVR3DObject* pRoot = m_doc._pNode;

    EXPECT_FALSE(m_doc.OnOpenDocument(m_dir.File("missing.morv3d")));
    EXPECT_EQ(m_doc.GetOpenResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(m_doc.LoadedCompletely());
    EXPECT_EQ(m_doc._pNode, pRoot);
    EXPECT_EQ(Tree(), SceneTree());

    // A folder is no file to read, whatever the system lets open.
    EXPECT_FALSE(m_doc.OnOpenDocument(m_dir.Path()));
    EXPECT_EQ(m_doc.GetOpenResult(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Tree(), SceneTree());

    // Another program writing the file holds it exclusively.
    WriteContainer(m_dir.File("busy.morv3d"), {Node("busy")});
    const int fd = ::open(m_dir.File("busy.morv3d").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(m_doc.OnOpenDocument(m_dir.File("busy.morv3d")));
    EXPECT_EQ(m_doc.GetOpenResult(), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    ::close(fd);
    EXPECT_EQ(Tree(), SceneTree());

    // The next good open succeeds again.
    ASSERT_TRUE(m_doc.OnOpenDocument(m_dir.File("busy.morv3d")));
    EXPECT_EQ(m_doc.GetOpenResult(), S_OK);
    EXPECT_TRUE(m_doc.LoadedCompletely());
}

TEST_F(DocumentTest, FileOfAnotherKindOpensEmpty) {
    WriteScene(m_strScene);
    ASSERT_TRUE(m_doc.OnOpenDocument(m_strScene));
    WriteContainer(m_dir.File("other.morv"), SceneChunks(), kOtherKind);
    ASSERT_TRUE(m_doc.OnOpenDocument(m_dir.File("other.morv")));
    ExpectEmpty();
    EXPECT_EQ(m_doc.GetOpenResult(), S_OK);
    EXPECT_EQ(m_doc.GetMaterialsResult(), E_UNEXPECTED);
    EXPECT_FALSE(m_doc.LoadedCompletely());

    // Not a container at all.
    WriteWholeFile(m_dir.File("text.morv3d"), {'h', 'e', 'l', 'l', 'o'});
    ASSERT_TRUE(m_doc.OnOpenDocument(m_dir.File("text.morv3d")));
    ExpectEmpty();
    EXPECT_EQ(m_doc.GetMaterialsResult(), E_FAIL);
    EXPECT_FALSE(m_doc.LoadedCompletely());
}

TEST_F(DocumentTest, MaterialsWithoutObjects) {
    WriteContainer(m_strScene, {{0x10003, MaterialBytes(kMaterials), {}}});
    ASSERT_TRUE(m_doc.OnOpenDocument(m_strScene));
    EXPECT_TRUE(m_doc.LoadedCompletely());
    EXPECT_EQ(m_doc._pNode, nullptr);
    EXPECT_EQ(Tree(), SceneTree(0xFFFFFFFF & ~0x01));
}

TEST_F(DocumentTest, PartlyLoadedSceneIsKeptAndSaysSo) {
    // The second mesh names a material without maps: the objects pass fails there, keeping
    // that mesh and what came before it.
    ChunkSpec badMesh = Mesh();
    badMesh.payload =
        MeshBytes(0x13, 4, {{0, 2, 0, 3}}, {{0, 1, 2}, {0, 2, 3}}, {{16, 0, false, 0, 0.0f}});
    WriteContainer(m_strScene, {{0x10003, MaterialBytes(kMaterials), {}},
                                Node("root", {Node("before", {Mesh()}), badMesh, Node("after")})});
    ASSERT_TRUE(m_doc.OnOpenDocument(m_strScene));
    EXPECT_EQ(m_doc.GetMaterialsResult(), S_OK);
    EXPECT_EQ(m_doc.GetObjectsResult(), E_UNEXPECTED);
    EXPECT_FALSE(m_doc.LoadedCompletely());
    EXPECT_EQ(m_doc._Materials.size(), 4u);
    EXPECT_EQ(FormatStructureTree(BuildStructureTree(m_doc, SHOW_NODES | SHOW_MESHES), false),
              "MATERIALS\nOBJECTS\n  node: root\n    mesh: \n    node: before\n      mesh: \n");
}
