#include "viewer/selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/document.h"

namespace {

class SelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
        ASSERT_TRUE(m_doc.LoadedCompletely());
        m_tree = BuildStructureTree(m_doc, SHOW_ALL);
    }
    // The nOccurrence-th entry with this label, plus nOffset.
    size_t Find(const std::string& strLabel, int nOccurrence = 0, size_t nOffset = 0) const {
        for (size_t i = 0; i < m_tree.entries.size(); ++i) {
            if (m_tree.entries[i].strLabel == strLabel && nOccurrence-- == 0) {
                return i + nOffset;
            }
        }
        ADD_FAILURE() << "no entry " << strLabel;
        return kNoEntry;
    }
    // Meshes have no names: each is told by the node that holds it.
    static std::string Holders(const std::vector<CQVR3DMesh*>& meshes) {
        std::string strText;
        for (CQVR3DMesh* pMesh : meshes) {
            strText += std::string(pMesh->GetParent()->GetName()) + " ";
        }
        return strText;
    }
    CMorv3dViewerDoc m_doc;
    StructureTree m_tree;
};

}  // namespace

TEST_F(SelectionTest, WhatAnEntryStandsFor) {
    struct Case {
        const char* pszLabel;
        int nOccurrence;
        size_t nOffset;
        EEntryKind kind;
        int32_t nMaterial, nMap;
        const char* pszMeshes;
    };
    const Case cases[] = {
        {"MATERIALS", 0, 0, EEntryKind::Root, -1, -1, ""},
        {"OBJECTS", 0, 0, EEntryKind::Root, -1, -1, ""},
        {"node: scene", 0, 0, EEntryKind::Object, -1, -1,
         "flag base arm lamp frame haze sortlast_glow sort0_window glass_sort1 "},
        {"node: dmyPivot", 0, 0, EEntryKind::Object, -1, -1, "base arm lamp "},
        {"node: arm", 0, 1, EEntryKind::Animation, -1, -1, "arm lamp "},  // its animation line
        {"node: flag", 0, 2, EEntryKind::Object, -1, -1, "flag "},        // its mesh
        {"node: dmyTip", 0, 0, EEntryKind::Object, -1, -1, "lamp "},
        {"Material", 0, 0, EEntryKind::Material, 0, -1, "base frame "},
        {"Material", 2, 0, EEntryKind::Material, 2, -1, "haze sort0_window glass_sort1 "},
        {"Material", 4, 0, EEntryKind::Material, 4, -1, "flag "},
        {"Map", 2, 0, EEntryKind::Map, 1, 1, "base arm "},
        {"Texture: wood_grain.tga", 0, 0, EEntryKind::Map, 1, 1, "base arm "},
        {"Effect: Alpha Additive ", 0, 0, EEntryKind::Map, 3, 0, "lamp sortlast_glow "},
    };
    for (const Case& c : cases) {
        const size_t nEntry = Find(c.pszLabel, c.nOccurrence, c.nOffset);
        const EntryInfo info = DescribeEntry(m_tree, nEntry);
        EXPECT_EQ(info.kind, c.kind) << c.pszLabel;
        EXPECT_EQ(info.nMaterial, c.nMaterial) << c.pszLabel;
        EXPECT_EQ(info.nMap, c.nMap) << c.pszLabel;
        std::vector<CQVR3DMesh*> meshes;
        EXPECT_EQ(EntryMeshes(m_tree, nEntry, m_doc._pNode, &meshes), S_OK);
        EXPECT_EQ(Holders(meshes), c.pszMeshes) << c.pszLabel << " #" << c.nOccurrence;
    }
    EXPECT_EQ(DescribeEntry(m_tree, m_tree.entries.size()).kind, EEntryKind::None);
    EXPECT_EQ(ParentEntry(m_tree, Find("node: arm", 0, 1)), Find("node: arm"));
    EXPECT_EQ(ParentEntry(m_tree, 0), kNoEntry);
    EXPECT_EQ(EntryMeshes(m_tree, 0, m_doc._pNode, nullptr), E_INVALIDARG);
}

TEST_F(SelectionTest, EntryOfAnObjectUnderFilters) {
    CQVR3DObject* pArmMesh = m_doc._pNode->FindByName("arm")->GetChild(0);
    CQVR3DObject* pFlagMesh = m_doc._pNode->FindByName("flag")->GetChild(0);
    ASSERT_EQ(pArmMesh->GetObjectType(), QVR3DOBJ_MESH);
    struct Case {
        uint32_t dwFlags;
        CQVR3DObject* pObject;
        const char* pszEntry;  // label of the entry expected; null for none
        size_t nOffset;
    };
    const Case cases[] = {
        {SHOW_ALL, pFlagMesh, "node: flag", 2},  // its own entry
        {SHOW_ALL & ~SHOW_MESHES, pFlagMesh, "node: flag", 0},
        {SHOW_ALL & ~SHOW_DUMMIES, pArmMesh, "node: scene", 0},  // dmyPivot hides arm
        {0, pArmMesh, nullptr, 0},
        {SHOW_ALL, nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        m_tree = BuildStructureTree(m_doc, c.dwFlags);
        CObjectEntryIndex index;
        ASSERT_EQ(index.Build(m_tree), S_OK);
        const size_t nExpected = c.pszEntry ? Find(c.pszEntry, 0, c.nOffset) : kNoEntry;
        EXPECT_EQ(index.EntryOf(c.pObject), nExpected) << std::hex << c.dwFlags;
    }
}

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
    pMesh->pMaps = new CQVR3DMeshMaps;
    pMesh->pMaps->groupMaps = {{{0, 0}}, {{0, 3}, {1, 3}}, {}};
    pNode->AddChild(pMesh);

    std::vector<CQVR3DMesh*> meshes;
    EXPECT_EQ(SubtreeMeshes(pRoot, &meshes), S_OK);
    EXPECT_EQ(meshes, std::vector<CQVR3DMesh*>{pMesh});
    const struct {
        size_t nGroup;
        int32_t nMaterial;
    } groups[] = {{0, -1}, {1, 2}, {2, -1}, {3, -1}};  // handle 0 names no material
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
