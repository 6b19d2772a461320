#include "viewer/structuretree.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/3dobjects/mesh.h"
#include "support/tempfile.h"
#include "viewer/testscene.h"

using namespace viewer_test;

namespace {

std::string TreeText(const CMorv3dViewerDoc& doc, uint32_t dwFlags, bool bImages = false) {
    return FormatStructureTree(BuildStructureTree(doc, dwFlags), bImages);
}

// A grouping node that reports another object kind: a plain object with children, or a kind
// the tree does not know.
class CKindNode : public CQVR3DNode {
public:
    explicit CKindNode(int32_t nType) : m_nType(nType) {}
    int32_t GetObjectType() override { return m_nType; }

private:
    int32_t m_nType;
};

template <typename T = CQVR3DNode>
T* Add(CQVR3DNode* pParent, T* pChild, const char* pszName = nullptr, uint32_t dwTime = 0) {
    if constexpr (std::is_base_of_v<CQVR3DNode, T>) {
        if (pszName != nullptr) {
            pChild->strName = pszName;
        }
        if (dwTime != 0) {
            PositionKey key;
            key.dwTime = dwTime;
            pChild->transform.PositionKeys().push_back(key);
        }
    }
    if (pParent != nullptr) {
        pParent->AddChild(pChild);
    }
    return pChild;
}

class StructureTreeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteScene(m_dir.File("scene.morv3d"));
        ASSERT_TRUE(m_doc.OnOpenDocument(m_dir.File("scene.morv3d")));
        ASSERT_TRUE(m_doc.LoadedCompletely());
    }
    CTempDir m_dir;
    CMorv3dViewerDoc m_doc;
};

}  // namespace

TEST_F(StructureTreeFileTest, ItemDataAndExpansion) {
    const StructureTree tree = BuildStructureTree(m_doc, SHOW_ALL);
    std::vector<CQVR3DObject*> objects;
    for (const StructureTreeEntry& entry : tree.entries) {
        const bool bObject =
            entry.strLabel.rfind("node: ", 0) == 0 || entry.strLabel.rfind("mesh: ", 0) == 0;
        const bool bRoot = entry.dwDepth == 0;
        EXPECT_EQ(entry.bExpanded, bObject || bRoot) << entry.strLabel;
        EXPECT_EQ(entry.pItemData != nullptr, bObject) << entry.strLabel;
        if (bObject) {
            objects.push_back(entry.pItemData);
        }
    }
    // In display order: the root, its meshes reversed, then its nodes.
    ASSERT_GE(objects.size(), 5u);
    CQVR3DObject* pRoot = m_doc._pNode;
    EXPECT_EQ(objects[0], pRoot);
    EXPECT_EQ(objects[1], pRoot->GetChild(3));
    EXPECT_EQ(objects[2], pRoot->GetChild(1));
    EXPECT_EQ(objects[3], pRoot->GetChild(0));
}

// The expected trees of tests/data/viewer/trees.txt: the test scene as a file, and documents
// made here: "kinds" (a root of an unknown kind, plain objects with children, the names the
// dummy rule tells apart), "empty", "order", "times" and "names".
TEST_F(StructureTreeFileTest, ScenesUnderEachSetOfFilters) {
    std::map<std::string, CMorv3dViewerDoc> docs;
    CKindNode* pKinds = Add(nullptr, new CKindNode(7), "ignored");
    docs["kinds"]._pNode = pKinds;
    CKindNode* pLamp = Add(pKinds, new CKindNode(QVR3DOBJ_OBJECT), "lamp", 30);
    Add(pLamp, new CQVR3DNode, "bulb");
    CQVR3DNode* pDummy = Add(pKinds, new CQVR3DNode, "dmyA");
    Add(pDummy, new CQVR3DMesh);
    Add(pDummy, new CQVR3DNode, "under");
    Add(pKinds, new CQVR3DObject);
    for (const char* pszName : {"dmy", "dmyB", "Dmy", "DMY", "dm", "d", "", "xdmy", "dmY"}) {
        Add(pKinds, new CQVR3DNode, pszName);
    }
    Add(pKinds, new CQVR3DMesh);

    CQVR3DNode* pOrder = Add(nullptr, new CQVR3DNode, "root", 10);
    docs["order"]._pNode = pOrder;
    Add(pOrder, new CQVR3DNode, "A");
    Add(pOrder, new CQVR3DMesh);
    Add(pOrder, new CQVR3DNode, "B");
    Add(pOrder, new CQVR3DMesh);
    Add(pOrder, new CQVR3DObject);

    CQVR3DNode* pTimes = Add(nullptr, new CQVR3DNode, "root", 0x80000000u);
    docs["times"]._pNode = pTimes;
    Add(pTimes, new CQVR3DNode, "last", 0xFFFFFFFFu);

    CMorv3dViewerDoc& names = docs["names"];
    names._pNode = Add(nullptr, new CQVR3DNode, "K\xF6rper \x80");
    CMorv3DLoader::tMaterialMap map;
    map.morv3DMaterialMap.dwEffect = 1;
    map.strTexture = "gr\xFCn.bmp";
    names.materials.push_back({map});
    docs["empty"];

    const std::vector<ExpectedTree> trees = ExpectedTrees();
    ASSERT_GE(trees.size(), 20u);
    for (const ExpectedTree& tree : trees) {
        const CMorv3dViewerDoc& doc = tree.strScene == "file" ? m_doc : docs.at(tree.strScene);
        EXPECT_EQ(TreeText(doc, tree.dwFlags, tree.bImages), tree.strText) << tree.strNote;
        // The playback's end comes with the tree, under any filter.
        const uint32_t dwEnd = doc._pNode ? doc._pNode->GetAnimationTimeHierarchy() : 0;
        EXPECT_EQ(BuildStructureTree(doc, tree.dwFlags).dwAnimationTime, dwEnd) << tree.strNote;
    }
    // Labels are kept as stored; the roots start expanded.
    const StructureTree named = BuildStructureTree(names, SHOW_ALL);
    ASSERT_EQ(named.entries.size(), 7u);
    EXPECT_EQ(named.entries[4].strLabel, "Texture: gr\xFCn.bmp");
    const StructureTree empty = BuildStructureTree(docs["empty"], SHOW_ALL);
    ASSERT_EQ(empty.entries.size(), 2u);
    EXPECT_TRUE(empty.entries[0].bExpanded && empty.entries[1].bExpanded);
}

// One hierarchy time per object and rebuild, with the same text as asking each object for its
// own: a chain of 4096 nodes, each one animated one step longer than its parent.
TEST(StructureTree, DeepChainMatchesThePerObjectHierarchyTimes) {
    constexpr uint32_t kDepth = 4096;
    CMorv3dViewerDoc doc;
    CQVR3DNode* pParent = Add(nullptr, new CQVR3DNode, "n0", 1);
    doc._pNode = pParent;
    std::vector<CQVR3DNode*> chain{pParent};
    for (uint32_t i = 1; i < kDepth; ++i) {
        // Every seventh node not animated, every 100th a dummy.
        const std::string strName = (i % 100 == 0 ? "dmy" : "n") + std::to_string(i);
        pParent = Add(pParent, new CQVR3DNode, strName.c_str(), i % 7 == 0 ? 0 : i + 1);
        chain.push_back(pParent);
    }
    std::string strExpected = "MATERIALS\nOBJECTS\n";
    size_t nAnimated = 0;
    for (uint32_t i = 0; i < kDepth; ++i) {
        const std::string strIndent(2 * (i + 1), ' ');
        strExpected += strIndent + "node: " + chain[i]->strName + "\n";
        const uint32_t dwHierarchy = chain[i]->GetAnimationTimeHierarchy();
        const uint32_t dwOwn = chain[i]->GetAnimationTime();
        if (dwHierarchy == 0 && dwOwn == 0) {
            continue;  // the last node
        }
        ++nAnimated;
        strExpected += strIndent + "  Animation: Hierarchy: " + std::to_string(dwHierarchy) + " ";
        if (dwOwn != 0) {
            strExpected += "Object: " + std::to_string(dwOwn) + " ";
        }
        strExpected += "\n";
    }
    EXPECT_EQ(nAnimated, kDepth - 1);
    EXPECT_EQ(TreeText(doc, SHOW_ALL), strExpected);
    EXPECT_EQ(BuildStructureTree(doc, 0).dwAnimationTime, kDepth - 1);
    // The first dummy, n100, hides the rest of the chain.
    EXPECT_EQ(BuildStructureTree(doc, SHOW_ALL & ~SHOW_DUMMIES).entries.size(), 2u + 2 * 100);
}

TEST(StructureTree, HundredThousandObjects) {
    CMorv3dViewerDoc doc;
    CQVR3DNode* pRoot = Add(nullptr, new CQVR3DNode, "root");
    doc._pNode = pRoot;
    for (int g = 0; g < 400; ++g) {
        CQVR3DNode* pGroup = Add(pRoot, new CQVR3DNode, "group");
        for (int i = 0; i < 249; ++i) {
            Add(pGroup, new CQVR3DNode, "leaf", g == 399 && i == 248 ? 5 : 0);
        }
    }
    const StructureTree tree = BuildStructureTree(doc, SHOW_ALL);
    // Objects, the animation entries of the last leaf and its two ancestors, the two roots.
    ASSERT_EQ(tree.entries.size(), 2u + 100001 + 3);
    EXPECT_EQ(tree.entries[3].strLabel, "Animation: Hierarchy: 5 ");
    EXPECT_EQ(tree.entries.back().strLabel, "Animation: Hierarchy: 5 Object: 5 ");
    EXPECT_EQ(tree.entries.back().dwDepth, 4u);
}

// The commands of tests/data/viewer/show_commands.tsv: each flips its flag, the others none.
TEST(StructureTree, FlagCommands) {
    for (const std::vector<std::string>& row : ReadTable("viewer/show_commands.tsv")) {
        SCOPED_TRACE(row[0]);
        const uint32_t dwCommand = std::stoul(row.at(1));
        const uint32_t dwBit = std::stoul(row.at(2), nullptr, 16);
        EXPECT_EQ(ShowFlagOfCommand(dwCommand), dwBit);
        EXPECT_EQ(IsShowFlagChecked(SHOW_ALL, dwCommand), dwBit != 0);  // all pressed at start
        const uint32_t dwOff = FlipShowFlag(SHOW_ALL, dwCommand);
        EXPECT_EQ(dwOff, SHOW_ALL & ~dwBit);
        EXPECT_FALSE(IsShowFlagChecked(dwOff, dwCommand));
        EXPECT_EQ(FlipShowFlag(dwOff, dwCommand), SHOW_ALL);
        EXPECT_EQ(FlipShowFlag(0x12345678, dwCommand), 0x12345678u ^ dwBit);
    }
}
