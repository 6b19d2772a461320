// The sample's tree with everything shown: what its entries stand for and select, their
// properties, searching it, and the entry of an object under filters.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "viewer/document.h"
#include "viewer/properties.h"
#include "viewer/search.h"
#include "viewer/selection.h"
#include "viewer/testscene.h"

using namespace viewer_test;

namespace {

// Some of the sample's textures are there, the others are not.
std::string Resolve(const std::string& strTexture) {
    return strTexture == "wood.bmp" || strTexture == "stone.bmp" ? "textures/" + strTexture : "";
}

const char* const kKindNames[] = {"None", "Root", "Object", "Animation", "Material", "Map"};

class SampleTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
        ASSERT_TRUE(m_doc.LoadedCompletely());
        m_tree = BuildStructureTree(m_doc, SHOW_ALL);
    }
    // LABEL[#N][+OFFSET]: the N-th entry with that label (trailing spaces aside), plus OFFSET.
    size_t Find(const std::string& strEntry) const {
        const size_t nHash = strEntry.find('#');
        const size_t nPlus = strEntry.find('+');
        const std::string strLabel = strEntry.substr(0, std::min(nHash, nPlus));
        int nOccurrence = nHash == std::string::npos ? 0 : std::stoi(strEntry.substr(nHash + 1));
        const size_t nOffset =
            nPlus == std::string::npos ? 0 : std::stoul(strEntry.substr(nPlus + 1));
        for (size_t i = 0; i < m_tree.entries.size(); ++i) {
            const std::string_view strShown = m_tree.entries[i].strLabel;
            if (strShown.substr(0, strShown.find_last_not_of(' ') + 1) == strLabel &&
                nOccurrence-- == 0) {
                return i + nOffset;
            }
        }
        ADD_FAILURE() << "no entry " << strEntry;
        return kNoEntry;
    }
    // Meshes have no names: each is told by the node that holds it.
    std::string Holders(size_t nEntry) const {
        std::vector<CQVR3DMesh*> meshes;
        EXPECT_EQ(EntryMeshes(m_tree, nEntry, m_doc._pNode, &meshes), S_OK);
        std::string strText;
        for (CQVR3DMesh* pMesh : meshes) {
            strText += (strText.empty() ? "" : " ") + std::string(pMesh->GetParent()->GetName());
        }
        return strText;
    }
    std::string Names(const std::vector<size_t>& entries) const {
        std::string strText;
        for (size_t nEntry : entries) {
            strText +=
                (strText.empty() ? "" : " ") + std::string(EntryName(m_tree.entries[nEntry]));
        }
        return strText;
    }
    CMorv3dViewerDoc m_doc;
    StructureTree m_tree;
};

}  // namespace

TEST_F(SampleTreeTest, EntriesAsListed) {
    const std::vector<std::vector<std::string>> rows = ReadTable("viewer/sample_entries.tsv");
    ASSERT_GE(rows.size(), 20u);
    for (const std::vector<std::string>& f : rows) {
        const std::string& strWhere = f[0];
        ASSERT_EQ(f.size(), 8u) << strWhere;
        const size_t nEntry = Find(f[1]);
        if (f[2] != "-") {
            const EntryInfo info = DescribeEntry(m_tree, nEntry);
            EXPECT_EQ(kKindNames[static_cast<int>(info.kind)], f[2]) << strWhere;
            EXPECT_EQ(info.nMaterial, std::stoi(f[3])) << strWhere;
            EXPECT_EQ(info.nMap, std::stoi(f[4])) << strWhere;
            EXPECT_EQ(Holders(nEntry), f[5]) << strWhere;
        }
        if (f[7] != "-") {
            m_doc._pNode->SetTime(std::stoul(f[6]));
            std::string strText = "stale";
            EXPECT_EQ(EntryProperties(m_tree, nEntry, m_doc, Resolve, &strText), S_OK) << strWhere;
            EXPECT_EQ(strText, ExpectedText("viewer/" + f[7], strText)) << strWhere;
        }
    }
    EXPECT_EQ(DescribeEntry(m_tree, m_tree.entries.size()).kind, EEntryKind::None);
    EXPECT_EQ(ParentEntry(m_tree, Find("node: arm+1")), Find("node: arm"));
    EXPECT_EQ(ParentEntry(m_tree, 0), kNoEntry);
    EXPECT_EQ(EntryMeshes(m_tree, 0, m_doc._pNode, nullptr), E_INVALIDARG);
}

TEST_F(SampleTreeTest, PropertiesRefusalsAndFailingLookups) {
    std::string strText;
    const size_t nMap = Find("Map");
    EXPECT_EQ(EntryProperties(m_tree, nMap, m_doc, nullptr, &strText), S_OK);  // no lookup
    EXPECT_NE(strText.find("Map 0 file: missing\n"), std::string::npos) << strText;

    const TextureResolver throwing = [](const std::string&) -> std::string {
        throw std::runtime_error("lookup failed");
    };
    EXPECT_EQ(EntryProperties(m_tree, nMap, m_doc, throwing, &strText), E_FAIL);
    EXPECT_EQ(strText, "");
    EXPECT_EQ(MaterialProperties(m_doc, 5, -1, Resolve, &strText), E_INVALIDARG);
    EXPECT_EQ(MaterialProperties(m_doc, 1, 2, Resolve, &strText), E_INVALIDARG);
    EXPECT_EQ(ObjectProperties(nullptr, &strText), E_INVALIDARG);

    // A tree of another document names materials this one does not have.
    CMorv3dViewerDoc empty;
    strText = "stale";
    EXPECT_EQ(EntryProperties(m_tree, nMap, empty, Resolve, &strText), S_OK);
    EXPECT_EQ(strText, "");
}

// The cases of tests/data/viewer/sample_entry_of.tsv.
TEST_F(SampleTreeTest, EntryOfAnObjectUnderFilters) {
    for (const std::vector<std::string>& f : ReadTable("viewer/sample_entry_of.tsv")) {
        m_tree = BuildStructureTree(m_doc, std::stoul(f.at(1), nullptr, 16));
        CObjectEntryIndex index;
        ASSERT_EQ(index.Build(m_tree), S_OK);
        CQVR3DObject* pNode = m_doc._pNode->FindByName(f.at(2).c_str());
        CQVR3DObject* pMesh = pNode != nullptr ? pNode->GetChild(0) : nullptr;
        ASSERT_TRUE(pMesh == nullptr || pMesh->GetObjectType() == QVR3DOBJ_MESH) << f[0];
        EXPECT_EQ(index.EntryOf(pMesh), f.at(3) == "-" ? kNoEntry : Find(f[3])) << f[0];
    }
}

// The cases of tests/data/viewer/sample_searches.tsv.
TEST_F(SampleTreeTest, SearchMatchesInDisplayOrder) {
    const std::vector<std::vector<std::string>> rows = ReadTable("viewer/sample_searches.tsv");
    ASSERT_GE(rows.size(), 6u);
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 4u) << row[0];
        std::vector<size_t> matches{99};
        EXPECT_EQ(FindMatches(m_tree, row[1], &matches), S_OK) << row[0];
        EXPECT_EQ(Names(matches), row[2]) << row[0];
    }
    EXPECT_EQ(FindMatches(m_tree, "a", nullptr), E_INVALIDARG);

    StructureTreeEntry entry{"node: a: b", TREEIMAGE_NODE, m_doc._pNode, true, 1};
    EXPECT_EQ(EntryName(entry), "a: b");
    entry.pItemData = nullptr;
    EXPECT_EQ(EntryName(entry), "");
}
