#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/objects.h"
#include "testobjects.h"

using Names = std::vector<std::string>;

namespace {

const char kOccupied[] =
    "Error: ChildListChanged: Object '%s' has an object '%s' which uses an already occupied sort "
    "id.\n";

std::string OccupiedMessage(const char* pszNode, const char* pszChild) {
    char szMessage[512];
    std::snprintf(szMessage, sizeof szMessage, kOccupied, pszNode, pszChild);
    return szMessage;
}

std::vector<std::string> Messages(const CReportCapture& capture) {
    std::vector<std::string> messages;
    for (const DebugReportEntry& entry : capture.Entries()) {
        messages.push_back(entry.strMessage);
    }
    return messages;
}

}  // namespace

TEST(NodeBlendFlags, CombineChildrenOrAndAnd) {
    CQVR3DNode empty;
    EXPECT_EQ(empty.GetBlendFlags(), 0u);
    EXPECT_EQ(empty.GetChildCount(), 0u);

    CQVR3DNode plain;
    plain.AddChild(new CQVR3DObject);
    plain.AddChild(new CQVR3DObject);
    EXPECT_EQ(plain.GetBlendFlags(), 0u);

    CQVR3DNode blended;
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

TEST(ChildListChanged, GroupsOpaqueUnsortedAndSortedChildren) {
    CQVR3DNode node;
    node.AddChild(new CTestObject("X"));
    node.AddChild(Blended("b_sort2"));
    node.AddChild(new CTestObject("Y"));
    node.AddChild(Blended("a_sort0"));
    node.AddChild(Blended("c"));
    EXPECT_EQ(ChildNames(node), (Names{"X", "Y", "c", "a_sort0", "b_sort2"}));
    EXPECT_EQ(node.GetOpaqueChildCount(), 2u);
    EXPECT_EQ(node.GetUnsortedBlendedChildCount(), 1u);

    // Partly blended children come before entirely blended ones; opaque ones are never sorted.
    CQVR3DNode groups;
    groups.AddChild(Blended("all"));
    groups.AddChild(new CTestObject("some", 1));
    groups.AddChild(new CTestObject("sort1"));
    groups.AddChild(new CTestObject("opaque"));
    EXPECT_EQ(ChildNames(groups), (Names{"sort1", "opaque", "some", "all"}));
    EXPECT_EQ(groups.GetOpaqueChildCount(), 2u);
    EXPECT_EQ(groups.GetUnsortedBlendedChildCount(), 2u);

    // Unnamed blended children stay unsorted.
    groups.AddChild(new CTestObject(nullptr, 3));
    EXPECT_EQ(ChildNames(groups), (Names{"sort1", "opaque", "some", "all", "-"}));
}

TEST(ChildListChanged, ReadsSortIdsInPrefixAndSuffixForm) {
    CQVR3DNode node;
    for (const char* pszName : {"sort7abc", "sortx", "x_sort08", "mysort", "sort", "ab5",
                                "sort12_left", "glass_sort3", "sort_3", "s3"}) {
        node.AddChild(Blended(pszName));
    }
    EXPECT_EQ(ChildNames(node), (Names{"sortx", "mysort", "sort", "ab5", "sort_3", "s3",
                                       "glass_sort3", "sort7abc", "x_sort08", "sort12_left"}));
    EXPECT_EQ(node.GetUnsortedBlendedChildCount(), 6u);
}

TEST(ChildListChanged, DuplicateSortIdsExchangePlacesOnEveryRun) {
    CReportCapture capture;
    CQVR3DNode node;
    node.strName = "shelf";
    node.AddChild(Blended("first_sort1"));
    node.AddChild(Blended("second_sort1"));
    EXPECT_EQ(ChildNames(node), (Names{"second_sort1", "first_sort1"}));
    EXPECT_EQ(Messages(capture), (Names{OccupiedMessage("shelf", "second_sort1")}));
    EXPECT_EQ(node.GetUnsortedBlendedChildCount(), 1u);

    capture.Clear();
    node.ChildListChanged();
    EXPECT_EQ(ChildNames(node), (Names{"first_sort1", "second_sort1"}));
    EXPECT_EQ(Messages(capture), (Names{OccupiedMessage("shelf", "first_sort1")}));
    node.ChildListChanged();
    EXPECT_EQ(ChildNames(node), (Names{"second_sort1", "first_sort1"}));
}

TEST(ChildListChanged, SortIdsBeyondTheChildCount) {
    // Id 5 on the only blended child of two: accepted, and last.
    CQVR3DNode node;
    node.AddChild(Blended("far_sort5"));
    node.AddChild(new CTestObject("opaque"));
    EXPECT_EQ(ChildNames(node), (Names{"opaque", "far_sort5"}));
    EXPECT_EQ(node.GetUnsortedBlendedChildCount(), 0u);

    // Any id that fits a signed 32-bit integer works without a table of that size; longer
    // digit runs carry no id.
    CQVR3DNode huge;
    huge.AddChild(Blended("sort2000000000"));
    huge.AddChild(Blended("b_sort2147483648"));
    huge.AddChild(Blended("sort2147483647"));
    huge.AddChild(Blended("c_sort99999999999999999999"));
    huge.AddChild(Blended("a_sort2"));
    huge.AddChild(Blended("sort00000000000000000004"));
    EXPECT_EQ(ChildNames(huge),
              (Names{"b_sort2147483648", "c_sort99999999999999999999", "a_sort2",
                     "sort00000000000000000004", "sort2000000000", "sort2147483647"}));
    EXPECT_EQ(huge.GetUnsortedBlendedChildCount(), 2u);
}

TEST(ChildListChanged, LastMarkPlacesOneChildBeforeTheNumberedOnes) {
    CReportCapture capture;
    CQVR3DNode node;
    node.strName = "glass";
    node.AddChild(Blended("pane_sort0"));
    node.AddChild(Blended("sortlast_pane"));
    node.AddChild(Blended("plain"));
    EXPECT_EQ(ChildNames(node), (Names{"plain", "sortlast_pane", "pane_sort0"}));
    EXPECT_TRUE(capture.Entries().empty());

    // A second marked child is an occupied slot: reported, left unsorted, never lost.
    node.AddChild(Blended("sortlast2"));
    EXPECT_EQ(ChildNames(node), (Names{"plain", "sortlast2", "sortlast_pane", "pane_sort0"}));
    EXPECT_EQ(Messages(capture), (Names{OccupiedMessage("glass", "sortlast2")}));
    EXPECT_EQ(node.GetUnsortedBlendedChildCount(), 2u);
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
    EXPECT_EQ(capture.Entries()[0].kind, ReportKind::Assertion);
    EXPECT_EQ(first.GetParent(), nullptr);
    EXPECT_EQ(ChildNames(*pSecond), (Names{"child"}));

    // GetChild out of range reports and returns null.
    EXPECT_EQ(first.GetChild(1), nullptr);
    EXPECT_EQ(first.GetChild(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(capture.Entries().size(), 5u);
}

TEST(NodeHierarchy, RemoveChild) {
    CQVR3DNode node;
    CTestObject* pA = Blended("a_sort0");
    node.AddChild(pA);
    node.AddChild(Blended("b_sort0"));
    EXPECT_EQ(ChildNames(node), (Names{"b_sort0", "a_sort0"}));
    // Removal re-runs the ordering: b now takes the slot.
    node.RemoveChild(pA);
    EXPECT_EQ(pA->GetParent(), nullptr);
    EXPECT_EQ(ChildNames(node), (Names{"b_sort0"}));
    EXPECT_EQ(node.GetUnsortedBlendedChildCount(), 0u);
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
    EXPECT_EQ(node.GetChildCount(), 2u);
}

TEST(NodeSearches, PreOrderFirstMatchWins) {
    // root { alpha { beta, mesh-like unnamed }, beta2 { alphabet } }
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
    EXPECT_EQ(root.FindByName(""), nullptr);
    EXPECT_EQ(root.FindByPrefix("alpha"), pAlpha);
    EXPECT_EQ(root.FindByPrefix("alphab"), pAlphabet);
    EXPECT_EQ(root.FindByPrefix(""), &root);
    EXPECT_EQ(pBeta2->FindByPrefix("root"), nullptr);

    CQVR3DObjectList found;
    root.CollectByPrefix("", found);
    EXPECT_EQ(found, (CQVR3DObjectList{&root, pAlpha, pBeta, pBeta2, pAlphabet}));
    found.clear();
    root.CollectByPrefix("alpha", found);
    EXPECT_EQ(found, (CQVR3DObjectList{pAlpha, pAlphabet}));

    // A node read without a name has an empty one, which the empty string finds.
    CQVR3DNode* pUnnamed = new CQVR3DNode;
    pBeta->AddChild(pUnnamed);
    EXPECT_STREQ(pUnnamed->GetName(), "");
    EXPECT_EQ(root.FindByName(""), pUnnamed);

    // Objects without a name never match.
    CQVR3DObject plain;
    EXPECT_EQ(plain.FindByPrefix(""), nullptr);
    EXPECT_EQ(plain.FindByName(""), nullptr);
}

TEST(NodeHierarchy, AnimationTimeOfTheWholeSubtree) {
    CQVR3DNode root;
    CQVR3DNode* pChild = new CQVR3DNode;
    CQVR3DNode* pGrandchild = new CQVR3DNode;
    PositionKey key;
    key.dwTime = 400;
    pGrandchild->transform.PositionKeys().push_back(key);
    pChild->AddChild(pGrandchild);
    root.AddChild(pChild);
    root.AddChild(new CQVR3DObject);
    EXPECT_EQ(root.GetAnimationTime(), 0u);
    EXPECT_EQ(root.GetAnimationTimeHierarchy(), 400u);
    EXPECT_EQ(pChild->GetAnimationTimeHierarchy(), 400u);
    EXPECT_EQ(pGrandchild->GetAnimationTimeHierarchy(), 400u);
}

// Hierarchies far deeper than any recursion could take, built the way the loader links them.
TEST(DeepHierarchy, LongChainIsDestroyedWithoutRecursion) {
    CQVR3DNode* pRoot = new CQVR3DNode;
    CQVR3DNode* pTip = pRoot;
    for (int i = 0; i < 100000; ++i) {
        CQVR3DNode* pNext = new CQVR3DNode;
        pTip->AddChild(pNext);
        pTip = pNext;
    }
    pTip->AddChild(new CTestObject("tip"));
    EXPECT_EQ(pRoot->FindByName("tip")->GetParent(), pTip);
    delete pRoot;
}

TEST(DeepHierarchy, EveryWalkHandlesDeepTrees) {
    constexpr int kDepth = 4096;
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

namespace {

// The ordering written the plain way, with a slot table as long as the largest id: the model
// that the node's sparse ordering must agree with.
void ReferenceOrder(std::vector<CQVR3DObject*>& list) {
    std::vector<CQVR3DObject*> grouped;
    for (uint32_t dwGroup : {0u, 1u, 2u}) {
        for (CQVR3DObject* pChild : list) {
            const uint32_t dwFlags = pChild->GetBlendFlags();
            if (((dwFlags & 2) ? 2u : (dwFlags & 1) ? 1u : 0u) == dwGroup) {
                grouped.push_back(pChild);
            }
        }
    }
    size_t nOpaque = 0;
    while (nOpaque < grouped.size() && grouped[nOpaque]->GetBlendFlags() == 0) {
        ++nOpaque;
    }
    std::vector<CQVR3DObject*> slots;
    std::vector<CQVR3DObject*> result(grouped.begin(), grouped.begin() + nOpaque);
    for (size_t i = nOpaque; i < grouped.size(); ++i) {
        const std::string strName = grouped[i]->GetName();
        const size_t nAt = strName.rfind("sort");
        const size_t nSlot =
            (strName.rfind("sortlast", 0) == 0) ? 0 : std::stoul(strName.substr(nAt + 4)) + 1;
        if (nSlot >= slots.size()) {
            slots.resize(nSlot + 1);
        }
        if (slots[nSlot] != nullptr) {
            result.push_back(grouped[i]);
        } else {
            slots[nSlot] = grouped[i];
        }
    }
    for (CQVR3DObject* pChild : slots) {
        if (pChild != nullptr) {
            result.push_back(pChild);
        }
    }
    list = result;
}

}  // namespace

TEST(ChildListChanged, AgreesWithASlotTableOnManyChildren) {
    CReportCapture capture;  // duplicates report; keep them off the console
    CQVR3DNode node;
    std::vector<CQVR3DObject*> expected;
    uint32_t dwSeed = 7;
    for (int i = 0; i < 300; ++i) {
        dwSeed = dwSeed * 1103515245u + 12345u;
        const uint32_t dwId = (dwSeed >> 8) % 250;
        CQVR3DObject* pChild;
        if (dwSeed % 7 == 0) {
            pChild = new CTestObject(("o_sort" + std::to_string(dwId)).c_str(), 0);
        } else if (dwSeed % 11 == 0) {
            pChild = new CTestObject("sortlast", 1);
        } else {
            pChild =
                new CTestObject(("n" + std::to_string(i) + "_sort" + std::to_string(dwId)).c_str(),
                                (dwSeed % 5 == 0) ? 1 : 3);
        }
        node.AddChild(pChild);
        expected.push_back(pChild);
        ReferenceOrder(expected);
        ASSERT_EQ(node.Children(), expected) << "after child " << i;
    }
    node.ChildListChanged();
    ReferenceOrder(expected);
    EXPECT_EQ(node.Children(), expected);
}

namespace {

// Blend flags computed from scratch, for checking the flags nodes keep between changes.
uint32_t FreshBlendFlags(CQVR3DObject* pObject) {
    if (pObject->GetObjectType() != QVR3DOBJ_NODE) {
        return pObject->GetBlendFlags();
    }
    const uint32_t dwCount = pObject->GetChildCount();
    if (dwCount == 0) {
        return 0;
    }
    uint32_t dwFlags = 2;
    for (uint32_t i = 0; i < dwCount; ++i) {
        const uint32_t dwChild = FreshBlendFlags(pObject->GetChild(i));
        dwFlags |= dwChild & 1;
        if (!(dwChild & 2)) {
            dwFlags &= ~2u;
        }
    }
    return dwFlags;
}

}  // namespace

TEST(ChildListChanged, StaysRightWhileChildrenAreAddedRemovedAndChangedBelow) {
    CReportCapture capture;
    CQVR3DNode root;
    std::vector<CQVR3DObject*> expected;
    std::vector<CQVR3DNode*> nodeChildren;
    uint32_t dwSeed = 99;
    uint32_t dwNextId = 0;
    const auto next = [&dwSeed] {
        dwSeed = dwSeed * 1103515245u + 12345u;
        return dwSeed >> 8;
    };
    for (int step = 0; step < 2000; ++step) {
        const uint32_t dwAction = next() % 10;
        // Mostly unique sort ids, so that the quick path for opaque children is taken, with
        // the odd duplicate to leave it and come back.
        const uint32_t dwId = (next() % 40 == 0 && dwNextId > 0) ? next() % dwNextId : dwNextId++;
        const std::string strName = "c" + std::to_string(step) + "_sort" + std::to_string(dwId);
        if (dwAction < 4) {
            CQVR3DObject* pChild = new CTestObject(strName.c_str(), next() % 3 == 0 ? 3 : 0);
            root.AddChild(pChild);
            expected.push_back(pChild);
        } else if (dwAction < 6) {
            CQVR3DNode* pNode = NamedNode(strName.c_str());
            root.AddChild(pNode);
            expected.push_back(pNode);
            nodeChildren.push_back(pNode);
        } else if (dwAction < 9 && !nodeChildren.empty()) {
            // A change below one of the root's children may change that child's group.
            CQVR3DNode* pNode = nodeChildren[next() % nodeChildren.size()];
            const uint32_t dwFlags = next() % 3 == 0 ? 0 : (next() % 2 ? 1 : 3);
            if (pNode->GetChildCount() > 0 && next() % 3 == 0) {
                CQVR3DObject* pGone = pNode->GetChild(0);
                pNode->RemoveChild(pGone);
                delete pGone;
            } else {
                pNode->AddChild(new CTestObject(nullptr, dwFlags));
            }
            // The root's list only changes with its next run.
            root.ChildListChanged();
        } else if (!expected.empty()) {
            CQVR3DObject* pGone = expected[next() % expected.size()];
            root.RemoveChild(pGone);
            expected.erase(std::find(expected.begin(), expected.end(), pGone));
            nodeChildren.erase(std::remove(nodeChildren.begin(), nodeChildren.end(), pGone),
                               nodeChildren.end());
            delete pGone;
        } else {
            continue;
        }
        ReferenceOrder(expected);
        ASSERT_EQ(root.Children(), expected) << "step " << step;
        ASSERT_EQ(root.GetBlendFlags(), FreshBlendFlags(&root)) << "step " << step;
    }
}
