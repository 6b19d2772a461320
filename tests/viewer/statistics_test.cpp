#include "viewer/statistics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/3dobjects/mesh.h"
#include "support/tempfile.h"
#include "viewer/testscene.h"

namespace {

// Materials, maps, nodes, dummies, meshes, triangles, vertices, morph keys, animation time.
std::string Counts(const SceneStatistics& s) {
    std::string str;
    for (uint64_t qwCount :
         {s.qwMaterials, s.qwMaps, s.qwNodes, s.qwDummies, s.qwMeshes, s.qwTriangles, s.qwVertices,
          s.qwMorphKeys, uint64_t{s.dwAnimationTime}}) {
        str += (str.empty() ? "" : " ") + std::to_string(qwCount);
    }
    return str;
}

// Objects a hand-made hierarchy may hold that no loader makes: a node without a name, one
// with an empty slot in its child list, one that calls itself a mesh.
class COddNode : public CQVR3DNode {
public:
    explicit COddNode(int32_t nType, bool bHole) : m_nType(nType), m_bHole(bHole) {}
    int32_t GetObjectType() override { return m_nType; }
    const char* GetName() override { return nullptr; }
    uint32_t GetChildCount() override { return CQVR3DNode::GetChildCount() + (m_bHole ? 1 : 0); }
    CQVR3DObject* GetChild(uint32_t i) override {
        return i < CQVR3DNode::GetChildCount() ? CQVR3DNode::GetChild(i) : nullptr;
    }

private:
    int32_t m_nType;
    bool m_bHole;
};

}  // namespace

// The files of tests/data/viewer/statistics.tsv, then an empty document.
TEST(SceneStatistics, CountsOfFiles) {
    CTempDir dir;
    viewer_test::WriteScene(dir.File("scene.morv3d"));
    for (const std::vector<std::string>& row : ReadTable("viewer/statistics.tsv")) {
        CMorv3dViewerDoc doc;
        ASSERT_TRUE(doc.OnOpenDocument(row.at(1) == "$SAMPLE" ? MORV_SOURCE_DIR
                                           "/examples/sample.morv3d"
                                                              : dir.File(row[1].substr(5))));
        SceneStatistics statistics;
        EXPECT_EQ(CountScene(doc, &statistics), S_OK);
        EXPECT_EQ(Counts(statistics), row.at(2)) << row[0];
    }
    CMorv3dViewerDoc empty;
    SceneStatistics statistics;
    statistics.qwNodes = 7;
    EXPECT_EQ(CountScene(empty, &statistics), S_OK);
    EXPECT_EQ(Counts(statistics), "0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(CountScene(empty, nullptr), E_INVALIDARG);
}

TEST(SceneStatistics, OddAndDeepHierarchies) {
    CMorv3dViewerDoc doc;
    auto* pRoot = new COddNode(QVR3DOBJ_NODE, true);  // no name, an empty child slot
    doc._pNode = pRoot;
    pRoot->AddChild(new COddNode(QVR3DOBJ_MESH, false));  // a mesh kind without geometry
    CQVR3DNode* pNode = pRoot;
    for (int i = 0; i < 100000; ++i) {
        auto* pChild = new CQVR3DNode;
        pChild->strName = "dmy";
        pNode->AddChild(pChild);
        pNode = pChild;
    }
    SceneStatistics statistics;
    EXPECT_EQ(CountScene(doc, &statistics), S_OK);
    EXPECT_EQ(Counts(statistics), "0 0 100001 100000 1 0 0 0 0");
}
