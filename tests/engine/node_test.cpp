#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/objects.h"
#include "testobjects.h"

namespace {

Matrix4 Translation(float x, float y, float z) {
    Matrix4 m = Matrix4::Identity();
    m.m[3][0] = x, m.m[3][1] = y, m.m[3][2] = z;
    return m;
}

}  // namespace

TEST(NodePick, HitsComeBackThroughTheNodeMatrix) {
    CQVR3DNode node;
    node.SetLocalMatrix(Translation(10, 0, 0));
    node.vParentSphereCenter = {12, 0, 0};
    node.fParentSphereRadius = 1;
    CPickTarget* pTarget = new CPickTarget({5, 0, 0});
    node.AddChild(pTarget);
    node.SetPickId(7);

    PickHitList hits = {{{-1, -1, -1}, 99}};
    EXPECT_EQ(node.Pick({{0, 0, 0}, {2, 0, 0}}, hits), S_OK);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[1].vPoint, (Vector3{15, 0, 0}));
    EXPECT_EQ(hits[1].nPickId, 7);
    // The child sees the ray in node space, its direction not normalised.
    ASSERT_EQ(pTarget->rays.size(), 1u);
    EXPECT_EQ(pTarget->rays[0].vOrigin, (Vector3{-10, 0, 0}));
    EXPECT_EQ(pTarget->rays[0].vDirection, (Vector3{2, 0, 0}));
}

// Stored spheres cull picks only where they can be trusted: set, and not left behind by
// animation.
TEST(NodePick, OnlySetSpheresOfStillSubtreesCull) {
    // root { still { target }, moving { carried { target } } }, every sphere off the ray's line.
    CQVR3DNode root;
    CQVR3DNode* pStill = NamedNode("still");
    CQVR3DNode* pMoving = NamedNode("moving");
    CQVR3DNode* pCarried = NamedNode("carried");  // still itself, but its parent moves
    CPickTarget* pStillTarget = new CPickTarget({0, 0, 0});
    CPickTarget* pCarriedTarget = new CPickTarget({1, 0, 0});
    for (CQVR3DNode* pNode : {&root, pStill, pMoving, pCarried}) {
        pNode->vParentSphereCenter = {0, 5, 0};
        pNode->fParentSphereRadius = pNode == &root ? 0.0f : 1.0f;  // the root's was never set
    }
    pMoving->transform.PositionKeys().resize(2);
    pMoving->transform.PositionKeys()[1].dwTime = 10;
    pStill->AddChild(pStillTarget);
    pCarried->AddChild(pCarriedTarget);
    pMoving->AddChild(pCarried);
    root.AddChild(pStill);
    root.AddChild(pMoving);

    // The moving node's sphere is not trusted; the carried node's own sphere still culls.
    const PickRay ray{{0, 0, 0}, {1, 0, 0}};
    PickHitList hits;
    EXPECT_EQ(root.Pick(ray, hits), S_OK);
    EXPECT_TRUE(pStillTarget->rays.empty());
    EXPECT_TRUE(pCarriedTarget->rays.empty());
    pCarried->fParentSphereRadius = 0;
    EXPECT_EQ(root.Pick(ray, hits), S_OK);
    EXPECT_EQ(pCarriedTarget->rays.size(), 1u);
    EXPECT_EQ(hits.size(), 1u);
    // A zero or NaN direction meets no sphere.
    root.Pick({{0, 0, 0}, {0, 0, 0}}, hits);
    root.Pick({{0, 0, 0}, {std::numeric_limits<float>::quiet_NaN(), 0, 0}}, hits);
    EXPECT_EQ(hits.size(), 1u);

    // Nothing below a node with a singular matrix is hit.
    Matrix4 flat = Matrix4::Identity();
    flat.m[1][1] = 0;
    pMoving->SetLocalMatrix(flat);
    pMoving->fParentSphereRadius = 0;
    EXPECT_EQ(root.Pick(ray, hits), S_OK);
    EXPECT_EQ(pCarriedTarget->rays.size(), 1u);
}

TEST(NodePick, FailingChildStopsTheWalkButKeepsItsHits) {
    CReportCapture capture;
    CQVR3DNode root;
    CQVR3DNode* pNode = new CQVR3DNode;
    pNode->SetLocalMatrix(Translation(0, 1, 0));
    CPickTarget* pLate = new CPickTarget({3, 0, 0});
    CPickTarget* pSibling = new CPickTarget({4, 0, 0});
    pNode->AddChild(new CPickTarget({1, 0, 0}));
    pNode->AddChild(new CPickTarget({2, 0, 0}, E_UNEXPECTED));
    pNode->AddChild(pLate);
    root.AddChild(pNode);
    root.AddChild(pSibling);

    PickHitList hits;
    EXPECT_EQ(root.Pick({{0, 0, 0}, {0, 0, 1}}, hits), E_UNEXPECTED);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].vPoint, (Vector3{1, 1, 0}));
    EXPECT_EQ(hits[1].vPoint, (Vector3{2, 1, 0}));
    EXPECT_TRUE(pLate->rays.empty());
    EXPECT_TRUE(pSibling->rays.empty());
    EXPECT_EQ(capture.Entries().size(), 2u);  // each node reports the failure
}

TEST(NodeTime, AnimationTimeIsTheEndOfTheLongerTrack) {
    CQVR3DNode node;
    EXPECT_EQ(node.GetAnimationTime(), 0u);
    node.transform.PositionKeys().resize(2);
    node.transform.PositionKeys()[1].dwTime = 100;
    node.transform.RotationKeys().resize(2);
    node.transform.RotationKeys()[1].dwTime = 250;
    EXPECT_EQ(node.GetAnimationTime(), 250u);
    node.transform.PositionKeys()[1].dwTime = 300;
    EXPECT_EQ(node.GetAnimationTime(), 300u);
}

TEST(NodeClone, DeepCopyIsIndependent) {
    CQVR3DNode source;
    source.strName = "source";
    source.SetLocalMatrix(Translation(1, 2, 3));
    source.fParentSphereRadius = 4;
    source.nPickId = 3;
    source.SetTime(40);
    source.SetInheritTime(false);
    source.transform.PositionKeys().resize(1);
    source.transform.PositionKeys()[0].dwTime = 60;
    CQVR3DNode* pInner = NamedNode("inner");
    pInner->AddChild(Blended("deep"));
    source.AddChild(Blended("b_sort1"));
    source.AddChild(pInner);
    source.AddChild(Blended("a_sort0"));

    CQVR3DObject* pObject = nullptr;
    ASSERT_EQ(source.Clone(&pObject), S_OK);
    std::unique_ptr<CQVR3DNode> clone(dynamic_cast<CQVR3DNode*>(pObject));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetParent(), nullptr);
    EXPECT_EQ(clone->transform.GetMatrix().m[3][2], 3.0f);
    EXPECT_EQ(clone->fParentSphereRadius, 4.0f);
    EXPECT_EQ(clone->nPickId, 3);
    EXPECT_EQ(clone->dwRequestedTime, 0u);  // neither times nor the flag are copied
    EXPECT_TRUE(clone->bInheritTime);
    EXPECT_EQ(ChildNames(*clone), ChildNames(source));
    EXPECT_EQ(clone->GetOpaqueChildCount(), source.GetOpaqueChildCount());
    EXPECT_EQ(clone->GetUnsortedBlendedChildCount(), source.GetUnsortedBlendedChildCount());
    for (uint32_t i = 0; i < clone->GetChildCount(); ++i) {
        EXPECT_EQ(clone->GetChild(i)->GetParent(), clone.get());
        EXPECT_NE(clone->GetChild(i), source.GetChild(i));
    }
    ASSERT_NE(clone->FindByName("inner"), pInner);

    // Changing or emptying the source leaves the clone alone.
    source.strName = "changed";
    source.transform.PositionKeys().clear();
    pInner->DetachFromParent();
    delete pInner;
    EXPECT_STREQ(clone->GetName(), "source");
    EXPECT_EQ(clone->GetAnimationTime(), 60u);
    EXPECT_NE(clone->FindByName("deep"), nullptr);
}

TEST(NodeClone, CopyToAndItsFailures) {
    CReportCapture capture;
    // Keys go before the target's own, children after its own; its time stays.
    CQVR3DNode source;
    source.transform.PositionKeys().resize(1);
    source.transform.PositionKeys()[0].dwTime = 5;
    source.AddChild(new CTestObject("new"));
    CQVR3DNode target;
    target.transform.PositionKeys().resize(1);
    target.transform.PositionKeys()[0].dwTime = 9;
    target.AddChild(new CTestObject("old"));
    target.SetTime(30);
    EXPECT_EQ(source.CopyTo(&target), S_OK);
    EXPECT_EQ(target.transform.PositionKeys()[0].dwTime, 5u);
    EXPECT_EQ(target.transform.PositionKeys()[1].dwTime, 9u);
    EXPECT_EQ(ChildNames(target), (std::vector<std::string>{"old", "new"}));
    EXPECT_EQ(target.dwRequestedTime, 30u);

    // A plain object cannot be cloned: the partial clone is deleted, and CopyTo and Clone of
    // both nodes report it.
    CQVR3DNode* pInner = new CQVR3DNode;
    pInner->AddChild(new CTestObject("fine"));
    pInner->AddChild(new CQVR3DObject);
    source.AddChild(pInner);
    CQVR3DObject* pClone = &source;
    EXPECT_EQ(source.Clone(&pClone), E_FAIL);
    EXPECT_EQ(pClone, nullptr);
    EXPECT_EQ(capture.Entries().size(), 4u);
    // CopyTo keeps what it cloned before the failure.
    CQVR3DNode partial;
    EXPECT_EQ(pInner->CopyTo(&partial), E_FAIL);
    EXPECT_EQ(ChildNames(partial), (std::vector<std::string>{"fine"}));

    // Copying into itself or its own subtree would never end.
    EXPECT_EQ(source.CopyTo(&source), E_INVALIDARG);
    EXPECT_EQ(source.CopyTo(pInner), E_INVALIDARG);
    EXPECT_EQ(source.CopyTo(nullptr), E_INVALIDARG);
    EXPECT_EQ(pInner->GetChildCount(), 2u);
}

TEST(NodeBasics, ParentSphereFollowsTheNodeMatrix) {
    CQVR3DNode node;
    Matrix4 scale = Translation(1, 0, 0);
    scale.m[0][0] = scale.m[1][1] = scale.m[2][2] = 2;
    node.SetLocalMatrix(scale);
    node.vLocalSphereCenter = {1, 1, 0};
    node.fLocalSphereRadius = 3;
    node.UpdateParentSphere();
    EXPECT_EQ(node.vParentSphereCenter, (Vector3{3, 2, 0}));
    EXPECT_EQ(node.fParentSphereRadius, 6.0f);
}
