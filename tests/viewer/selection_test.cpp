#include "viewer/selection.h"

#include <gtest/gtest.h>

#include <vector>

#include "viewer/document.h"

TEST(Selection, DeepChainAndUnnamedMaterials) {
    // Deeper than any call stack would take recursively.
    CQVR3DNode* pRoot = new CQVR3DNode;
    CQVR3DNode* pNode = pRoot;
    for (int i = 0; i < 100000; ++i) {
        auto* pChild = new CQVR3DNode;
        pNode->AddChild(pChild);
        pNode = pChild;
    }
    auto* pMesh = new CQVR3DMesh;
    pMesh->pGeometry = new CQVR3DMeshData;
    pMesh->pGeometry->groups.resize(3);
    pMesh->pGeometry->groups[1].dwMaterial = 2;
    pMesh->pGeometry->groups[2].dwMaterial = 0x80000000u;  // beyond what a position can be
    pNode->AddChild(pMesh);

    std::vector<CQVR3DMesh*> meshes;
    EXPECT_EQ(SubtreeMeshes(pRoot, &meshes), S_OK);
    EXPECT_EQ(meshes, std::vector<CQVR3DMesh*>{pMesh});
    const struct {
        size_t nGroup;
        int32_t nMaterial;
    } groups[] = {{0, -1}, {1, 2}, {2, -1}, {3, -1}};
    for (const auto& group : groups) {
        EXPECT_EQ(GroupMaterial(*pMesh, group.nGroup), group.nMaterial) << group.nGroup;
    }
    for (int32_t nMaterial : {-1, 0, 2}) {
        meshes.clear();
        EXPECT_EQ(MaterialMeshes(pRoot, nMaterial, &meshes), S_OK);
        EXPECT_EQ(meshes.size(), nMaterial == 2 ? 1u : 0u) << nMaterial;
    }

    StructureTree tree;
    tree.entries.push_back({"node: ", TREEIMAGE_NODE, pRoot, true, 1});
    CObjectEntryIndex index;
    ASSERT_EQ(index.Build(tree), S_OK);
    EXPECT_EQ(index.EntryOf(pMesh), 0u);
    delete pRoot;
}
