#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/objects.h"
#include "testobjects.h"

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
