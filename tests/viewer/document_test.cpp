#include "viewer/document.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

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
    std::string Tree(uint32_t dwFlags = SHOW_ALL) const {
        return FormatStructureTree(BuildStructureTree(m_doc, dwFlags), false);
    }

    CTempDir m_dir;
    CReportCapture m_reports;  // the loader's failure reports stay out of the test output
    CMorv3dViewerDoc m_doc;
};

std::string Hex(HRESULT hr) {
    char szText[11];
    std::snprintf(szText, sizeof(szText), "0x%08X", static_cast<uint32_t>(hr));
    return szText;
}

}  // namespace

TEST_F(DocumentTest, EmptyUntilOpenedAndAfterNew) {
    EXPECT_EQ(Tree(), "MATERIALS\nOBJECTS\n");
    EXPECT_TRUE(m_doc.LoadedCompletely());
    EXPECT_EQ(m_doc.GetOpenResult(), S_OK);

    WriteScene(m_dir.File("scene.morv3d"));
    // Its materials and objects as shown: OpensAsListed.
    ASSERT_TRUE(m_doc.OnOpenDocument(m_dir.File("scene.morv3d")));
    ASSERT_FALSE(m_doc.materials.empty());
    EXPECT_TRUE(m_doc.OnSaveDocument(m_dir.File("never.morv3d")));
    EXPECT_TRUE(ReadWholeFile(m_dir.File("never.morv3d")).empty());

    EXPECT_TRUE(m_doc.OnNewDocument());
    EXPECT_TRUE(m_doc.materials.empty());
    EXPECT_EQ(m_doc._pNode, nullptr);
    EXPECT_EQ(m_reports.Entries().size(), 0u);
}

TEST_F(DocumentTest, SecondOpenFreesTheFirstScene) {
    bool bDeleted = false;
    m_doc._pNode = new CWatchedNode(&bDeleted);
    m_doc.materials.resize(9);
    WriteContainer(m_dir.File("second.morv3d"), {Node("second")});
    ASSERT_TRUE(m_doc.OnOpenDocument(m_dir.File("second.morv3d")));
    EXPECT_TRUE(bDeleted);
    EXPECT_EQ(Tree(), "MATERIALS\nOBJECTS\n  node: second\n");
}

// The files of tests/data/viewer/document_opens.tsv, opened in turn.
TEST_F(DocumentTest, OpensAsListed) {
    WriteScene(m_dir.File("scene.morv3d"));
    WriteContainer(m_dir.File("busy.morv3d"), {Node("busy")});
    WriteContainer(m_dir.File("otherkind.morv"), SceneChunks(), kOtherKind);
    WriteWholeFile(m_dir.File("text.morv3d"), {'h', 'e', 'l', 'l', 'o'});
    WriteContainer(m_dir.File("materials.morv3d"), {SceneChunks()[0]});
    WritePartScene(m_dir.File("part.morv3d"), 3);  // material 3 has no maps

    const std::vector<std::vector<std::string>> rows = ReadTable("viewer/document_opens.tsv");
    ASSERT_GE(rows.size(), 9u);
    for (const std::vector<std::string>& f : rows) {
        const std::string& strWhere = f[0];
        ASSERT_EQ(f.size(), 9u) << strWhere;
        const std::string strPath =
            f[1] == "." ? m_dir.Path() : m_dir.File(f[1].substr(0, f[1].find(' ')));
        const int fd = f[1].ends_with(" locked") ? ::open(strPath.c_str(), O_RDONLY) : -1;
        ASSERT_TRUE(fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0) << strWhere;
        const uint32_t dwFlags = std::stoul(f[7], nullptr, 16);
        CQVR3DObject* pBefore = m_doc._pNode;
        const std::string strBefore = Tree(dwFlags);

        EXPECT_EQ(m_doc.OnOpenDocument(strPath), f[2] == "1") << strWhere;
        if (fd >= 0) {
            ::close(fd);
        }
        const std::pair<HRESULT, std::string> results[] = {{m_doc.GetOpenResult(), f[3]},
                                                           {m_doc.GetMaterialsResult(), f[4]},
                                                           {m_doc.GetObjectsResult(), f[5]}};
        for (const auto& [hr, strExpected] : results) {
            EXPECT_TRUE(strExpected == "-" || Hex(hr) == strExpected)
                << strWhere << ": " << Hex(hr);
        }
        EXPECT_TRUE(f[6] == "-" || m_doc.LoadedCompletely() == (f[6] == "1")) << strWhere;
        std::string strTree = f[8] == "scene" ? SceneTree(dwFlags) : f[8];
        std::replace(strTree.begin(), strTree.end(), '|', '\n');
        if (f[8] == "kept") {
            EXPECT_EQ(m_doc._pNode, pBefore) << strWhere;
            strTree = strBefore;
        }
        EXPECT_EQ(Tree(dwFlags), strTree) << strWhere;
    }
}
