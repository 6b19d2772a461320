#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/objects.h"
#include "testobjects.h"

using Names = std::vector<std::string>;

TEST(NodeBlendFlags, CombineChildrenOrAndAnd) {
    CQVR3DNode blended;
    EXPECT_EQ(blended.GetBlendFlags(), 0u);
    blended.AddChild(new CTestObject(nullptr, 3));
    EXPECT_EQ(blended.GetBlendFlags(), 3u);
    blended.AddChild(new CTestObject(nullptr, 0));
    EXPECT_EQ(blended.GetBlendFlags(), 1u);

    // Flags come up through nested nodes; a childless node below counts as opaque.
    CQVR3DNode outer;
    CQVR3DNode* pInner = new CQVR3DNode;
    pInner->AddChild(new CTestObject(nullptr, 3));
    outer.AddChild(pInner);
    EXPECT_EQ(outer.GetBlendFlags(), 3u);
    pInner->AddChild(new CQVR3DNode);
    EXPECT_EQ(outer.GetBlendFlags(), 1u);
}

// tests/data/engine/child_order.txt: children linked one by one and the order they end in.
TEST(ChildListChanged, OrdersByBlendGroupAndSortId) {
    const auto rows = ReadTable("engine/child_order.txt");
    ASSERT_GE(rows.size(), 9u);
    for (const auto& row : rows) {
        const std::string& strLine = row[0];
        CReportCapture capture;
        CQVR3DNode node;
        std::istringstream in(row.at(1));
        for (std::string strToken; in >> strToken && strToken != "=>";) {
            if (strToken == "!") {
                node.ChildListChanged();
                continue;
            }
            if (strToken[0] == '~') {
                CQVR3DObject* pGone = node.FindByName(strToken.c_str() + 1);
                ASSERT_NE(pGone, nullptr) << strLine;
                node.RemoveChild(pGone);
                delete pGone;
                continue;
            }
            const std::string strName = strToken.substr(0, strToken.find(':'));
            const uint32_t dwFlags = std::stoul(strToken.substr(strToken.find(':') + 1));
            node.AddChild(new CTestObject(strName == "-" ? nullptr : strName.c_str(), dwFlags));
        }
        Names expected;
        for (std::string strToken; in >> strToken && strToken != "|";) {
            expected.push_back(strToken);
        }
        uint32_t dwOpaque = 0, dwUnsorted = 0;
        size_t nReports = 0;
        in >> dwOpaque >> dwUnsorted >> nReports;
        EXPECT_EQ(ChildNames(node), expected) << strLine;
        EXPECT_EQ(node.GetOpaqueChildCount(), dwOpaque) << strLine;
        EXPECT_EQ(node.GetUnsortedBlendedChildCount(), dwUnsorted) << strLine;
        EXPECT_EQ(capture.Entries().size(), nReports) << strLine;
    }
}

TEST(ChildListChanged, ChangeBelowAChildRegroupsItAtTheNextRun) {
    // root { group { inner { leaf } }, x }: every level's flags are known after the first ask.
    CQVR3DNode root;
    CQVR3DNode* pGroup = NamedNode("group");
    CQVR3DNode* pInner = NamedNode("inner");
    pInner->AddChild(new CTestObject("leaf"));
    pGroup->AddChild(pInner);
    root.AddChild(pGroup);
    root.AddChild(new CTestObject("x"));
    EXPECT_EQ(root.GetBlendFlags(), 0u);

    // A blended child two levels down makes the group partly blended: the root's flags follow,
    // and the next opaque child linked to the root cannot just be slotted in behind the others.
    CTestObject* pGlass = Blended("glass");
    pInner->AddChild(pGlass);
    EXPECT_EQ(root.GetBlendFlags(), 1u);
    root.AddChild(new CTestObject("y"));
    EXPECT_EQ(ChildNames(root), (Names{"x", "y", "group"}));
    pInner->RemoveChild(pGlass);
    delete pGlass;
    EXPECT_EQ(root.GetBlendFlags(), 0u);
    root.AddChild(new CTestObject("z"));
    EXPECT_EQ(ChildNames(root), (Names{"x", "y", "group", "z"}));
}

TEST(NodeHierarchy, AddChildLinksOnceAndRefusesCycles) {
    CReportCapture capture;
    CQVR3DNode first;
    CQVR3DNode* pSecond = new CQVR3DNode;
    CTestObject* pChild = new CTestObject("child");
    EXPECT_EQ(first.AddChild(pChild), S_OK);
    EXPECT_EQ(pSecond->AddChild(pChild), S_OK);
    EXPECT_EQ(pSecond->AddChild(pChild), S_OK);  // again: still once
    EXPECT_EQ(first.GetChildCount(), 0u);
    EXPECT_EQ(pSecond->GetChildCount(), 1u);
    EXPECT_EQ(pChild->GetParent(), pSecond);
    EXPECT_TRUE(capture.Entries().empty());

    // Holding itself or an ancestor would make a cycle; null is no child.
    EXPECT_EQ(first.AddChild(pSecond), S_OK);
    EXPECT_EQ(pSecond->AddChild(&first), E_INVALIDARG);
    EXPECT_EQ(pSecond->AddChild(pSecond), E_INVALIDARG);
    EXPECT_EQ(first.AddChild(nullptr), E_INVALIDARG);
    EXPECT_EQ(capture.Entries().size(), 3u);
    EXPECT_EQ(first.GetParent(), nullptr);
    EXPECT_EQ(ChildNames(*pSecond), (Names{"child"}));

    // GetChild out of range reports and returns null.
    EXPECT_EQ(first.GetChild(1), nullptr);
    EXPECT_EQ(first.GetChild(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(capture.Entries().size(), 5u);
}

TEST(NodeHierarchy, RemoveChildOnlyClearsAParentItHeld) {
    CQVR3DNode node;
    CTestObject* pA = new CTestObject("a");
    node.AddChild(pA);
    node.RemoveChild(pA);
    EXPECT_EQ(pA->GetParent(), nullptr);
    // An object not in the list that names this node as parent: the pointer is cleared.
    pA->pParent = &node;
    node.RemoveChild(pA);
    EXPECT_EQ(pA->DetachFromParent(), nullptr);
    delete pA;

    // An object that another node lists keeps its parent, so it never gets two owners.
    CQVR3DNode other;
    CTestObject* pForeign = new CTestObject("foreign");
    other.AddChild(pForeign);
    node.RemoveChild(pForeign);
    EXPECT_EQ(pForeign->GetParent(), &other);
    node.AddChild(pForeign);
    EXPECT_EQ(other.GetChildCount(), 0u);
    EXPECT_EQ(node.GetChildCount(), 1u);
}

TEST(NodeSearches, PreOrderFirstMatchWins) {
    // root { alpha { beta, unnamed object }, beta { alphabet } }
    CQVR3DNode root;
    root.strName = "root";
    CQVR3DNode* pAlpha = NamedNode("alpha");
    CQVR3DNode* pBeta = NamedNode("beta");
    CQVR3DNode* pBeta2 = NamedNode("beta");
    CTestObject* pAlphabet = new CTestObject("alphabet");
    pAlpha->AddChild(pBeta);
    pAlpha->AddChild(new CQVR3DObject);
    pBeta2->AddChild(pAlphabet);
    root.AddChild(pAlpha);
    root.AddChild(pBeta2);

    EXPECT_EQ(root.FindByName("beta"), pBeta);
    EXPECT_EQ(root.FindByName("alphabet"), pAlphabet);
    EXPECT_EQ(root.FindByName("alph"), nullptr);
    EXPECT_EQ(root.FindByPrefix("alpha"), pAlpha);
    EXPECT_EQ(root.FindByPrefix("alphab"), pAlphabet);
    EXPECT_EQ(pBeta2->FindByPrefix("root"), nullptr);
    EXPECT_EQ(root.FindByPrefix(""), &root);
    CQVR3DObjectList found;
    root.CollectByPrefix("alpha", found);
    EXPECT_EQ(found, (CQVR3DObjectList{pAlpha, pAlphabet}));

    // A node read without a name has an empty one, which the empty string finds; objects
    // without a name never match.
    EXPECT_EQ(root.FindByName(""), nullptr);
    CQVR3DNode* pUnnamed = new CQVR3DNode;
    pBeta->AddChild(pUnnamed);
    EXPECT_EQ(root.FindByName(""), pUnnamed);
    CQVR3DObject plain;
    EXPECT_EQ(plain.FindByPrefix(""), nullptr);
    EXPECT_EQ(plain.FindByName(""), nullptr);
}

// A hierarchy far deeper than any recursion could take, built the way the loader links it:
// every walk, and the destructor at the end, must do without the call stack.
TEST(DeepHierarchy, EveryWalkHandlesDeepTrees) {
    constexpr int kDepth = 100000;
    CQVR3DNode root;
    root.strName = "level";
    CQVR3DNode* pTip = &root;
    std::vector<CQVR3DNode*> chain;
    for (int i = 0; i < kDepth; ++i) {
        CQVR3DNode* pNext = NamedNode("level");
        pTip->AddChild(pNext);
        pTip = pNext;
        chain.push_back(pNext);
    }
    CPickTarget* pTarget = new CPickTarget({1, 2, 3});
    pTip->AddChild(Blended("deep_sort1"));
    pTip->AddChild(pTarget);
    PositionKey key;
    key.dwTime = 77;
    pTip->transform.PositionKeys().push_back(key);

    EXPECT_NE(root.FindByName("deep_sort1"), nullptr);
    EXPECT_NE(root.FindByPrefix("deep"), nullptr);
    CQVR3DObjectList found;
    root.CollectByPrefix("level", found);
    EXPECT_EQ(found.size(), static_cast<size_t>(kDepth) + 1);
    EXPECT_EQ(root.GetBlendFlags(), 1u);
    EXPECT_EQ(root.GetAnimationTimeHierarchy(), 77u);

    chain[kDepth / 2]->SetInheritTime(false);
    root.SetTime(9);
    EXPECT_EQ(chain[kDepth / 2 - 1]->dwRequestedTime, 9u);
    EXPECT_EQ(pTip->dwRequestedTime, 0u);
    chain[kDepth / 2]->SetInheritTime(true);
    root.SetTime(10);
    EXPECT_EQ(pTarget->dwRequestedTime, 10u);

    root.SetPickId(5);
    EXPECT_EQ(pTarget->nPickId, 5);
    EXPECT_EQ(chain.back()->nPickId, 5);

    PickHitList hits;
    EXPECT_EQ(root.Pick({{0, 0, 0}, {1, 0, 0}}, hits), S_OK);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].nPickId, 5);
    EXPECT_EQ(hits[0].vPoint, (Vector3{1, 2, 3}));

    CQVR3DObject* pClone = nullptr;
    ASSERT_EQ(root.Clone(&pClone), S_OK);
    std::unique_ptr<CQVR3DObject> clone(pClone);
    EXPECT_EQ(clone->GetAnimationTimeHierarchy(), 77u);
    CQVR3DObjectList cloned;
    clone->CollectByPrefix("", cloned);
    EXPECT_EQ(cloned.size(), static_cast<size_t>(kDepth) + 2);
}
