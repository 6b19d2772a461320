// Stored spheres cull picks only where they can be trusted: set, and not left behind by
// animation.
#include <gtest/gtest.h>

#include "engine/3dobjects/mesh.h"
#include "testobjects.h"

TEST(PickSpheres, OnlySetSpheresOfStillSubtreesCull) {
    const PickRay ray{{0, 0, 0}, {1, 0, 0}};
    CQVR3DNode root;
    root.vParentSphereCenter = {0, 5, 0};  // far off the ray's line
    CQVR3DNode* pStill = NamedNode("still");
    CPickTarget* pStillTarget = new CPickTarget({0, 0, 0});
    pStill->AddChild(pStillTarget);
    pStill->vParentSphereCenter = {0, 5, 0};
    pStill->fParentSphereRadius = 1;
    root.AddChild(pStill);
    CQVR3DNode* pMoving = NamedNode("moving");
    pMoving->transform.PositionKeys().resize(2);
    pMoving->transform.PositionKeys()[1].dwTime = 10;
    pMoving->vParentSphereCenter = {0, 5, 0};
    pMoving->fParentSphereRadius = 1;
    CQVR3DNode* pCarried = NamedNode("carried");  // still itself, but its parent moves
    pCarried->vParentSphereCenter = {0, 5, 0};
    pCarried->fParentSphereRadius = 1;
    CPickTarget* pCarriedTarget = new CPickTarget({1, 0, 0});
    pCarried->AddChild(pCarriedTarget);
    pMoving->AddChild(pCarried);
    root.AddChild(pMoving);

    // The root's sphere was never set (radius 0); the still node's sphere is trusted; the
    // moving node's is not. The carried node below it is still: its own sphere culls.
    PickHitList hits;
    EXPECT_EQ(root.Pick(ray, hits), S_OK);
    EXPECT_TRUE(pStillTarget->rays.empty());
    EXPECT_TRUE(pCarriedTarget->rays.empty());
    pCarried->fParentSphereRadius = 0;
    hits.clear();
    EXPECT_EQ(root.Pick(ray, hits), S_OK);
    EXPECT_EQ(pCarriedTarget->rays.size(), 1u);
    EXPECT_EQ(hits.size(), 1u);

    // A zero direction still finds nothing.
    hits.clear();
    EXPECT_EQ(root.Pick({{0, 0, 0}, {0, 0, 0}}, hits), S_OK);
    EXPECT_TRUE(hits.empty());
}

TEST(PickSpheres, AMeshWithoutASphereIsTested) {
    CQVR3DMesh mesh;
    mesh.pGeometry = new CQVR3DMeshData;
    mesh.pMaps = new CQVR3DMeshMaps;
    CQVR3DMeshData& geometry = *mesh.pGeometry;
    geometry.pVertices = CQVR3DMeshData::AllocateVertices(3);
    geometry.dwVertexCount = 3;
    geometry.pVertices[0].vPosition = {10, 0, 0};
    geometry.pVertices[1].vPosition = {11, 0, 0};
    geometry.pVertices[2].vPosition = {10, 1, 0};
    geometry.groups.push_back({0, 3, 0, 0});
    uint16_t* pIndices = CQVR3DMeshData::AllocateIndices(3);
    pIndices[0] = 0;
    pIndices[1] = 1;
    pIndices[2] = 2;
    geometry.dwIndexCount = 3;
    ASSERT_EQ(geometry.AttachIndexBuffer(pIndices, 3), S_OK);
    ASSERT_EQ(mesh.InitInstanceBuffers(), S_OK);
    PickHitList hits;
    EXPECT_EQ(mesh.Pick({{10.25f, 0.25f, 5}, {0, 0, -1}}, hits), S_FALSE);
    EXPECT_EQ(hits.size(), 1u);
}
