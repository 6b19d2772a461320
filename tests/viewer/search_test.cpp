#include "viewer/search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/document.h"

namespace {

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
        m_tree = BuildStructureTree(m_doc, SHOW_ALL);
    }
    std::string Names(const std::vector<size_t>& entries) const {
        std::string strText;
        for (size_t nEntry : entries) {
            strText += std::string(EntryName(m_tree.entries[nEntry])) + " ";
        }
        return strText;
    }
    CMorv3dViewerDoc m_doc;
    StructureTree m_tree;
};

StructureTree TreeOfDepths(const std::vector<uint32_t>& depths) {
    StructureTree tree;
    for (uint32_t dwDepth : depths) {
        tree.entries.push_back({"", TREEIMAGE_NODE, nullptr, true, dwDepth});
    }
    return tree;
}

}  // namespace

TEST(Search, ContainsIgnoringCase) {
    const struct {
        const char* pszName;
        const char* pszText;
        bool bFound;
    } cases[] = {
        {"glass_sort1", "SORT", true},
        {"Glas", "gLAS", true},
        {"ab", "abc", false},
        {"x", "", true},
        {"", "x", false},
        {"aab", "ab", true},
        {"B\xE4ume", "B\xC4UME", false},  // only ASCII letters fold
        {"B\xE4ume", "\xE4um", true},
        {"a@b", "A`B", false},  // '@' and '`' are no letters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ContainsIgnoringCase(c.pszName, c.pszText), c.bFound)
            << c.pszName << " / " << c.pszText;
    }
}

TEST_F(SearchTest, MatchesInDisplayOrder) {
    const struct {
        const char* pszText;
        const char* pszNames;
    } cases[] = {
        {"A", "flag base arm lamp frame haze sortlast_glow glass_sort1 "},
        {"SORT", "sortlast_glow sort0_window glass_sort1 "},
        {"dmy", "dmyPivot dmyTip "},
        {"", ""},          // an empty field searches nothing
        {"Material", ""},  // only object entries are searched
        {"node", ""},      // and only their names, not their kind
    };
    for (const auto& c : cases) {
        std::vector<size_t> matches{99};
        EXPECT_EQ(FindMatches(m_tree, c.pszText, &matches), S_OK);
        EXPECT_EQ(Names(matches), c.pszNames) << c.pszText;
    }
    EXPECT_EQ(FindMatches(m_tree, "a", nullptr), E_INVALIDARG);

    StructureTreeEntry entry{"node: a: b", TREEIMAGE_NODE, m_doc._pNode, true, 1};
    EXPECT_EQ(EntryName(entry), "a: b");
    entry.pItemData = nullptr;
    EXPECT_EQ(EntryName(entry), "");
}

TEST(Search, NextAndPreviousWrapAround) {
    const std::vector<size_t> matches = {5, 9, 20};
    const struct {
        size_t nCurrent, nNext, nPrevious;
    } cases[] = {{kNoEntry, 5, 20}, {0, 5, 20}, {5, 9, 20}, {7, 9, 5}, {20, 5, 9}, {25, 5, 20}};
    for (const auto& c : cases) {
        EXPECT_EQ(NextMatch(matches, c.nCurrent), c.nNext) << c.nCurrent;
        EXPECT_EQ(PreviousMatch(matches, c.nCurrent), c.nPrevious) << c.nCurrent;
    }
    EXPECT_EQ(NextMatch({}, 3), kNoEntry);
    EXPECT_EQ(PreviousMatch({}, 3), kNoEntry);
}

TEST_F(SearchTest, HidingKeepsMatchesAndWhatIsAboveThem) {
    // dmyPivot matches and is above lamp, which matches too.
    std::vector<size_t> matches;
    std::vector<size_t> more;
    ASSERT_EQ(FindMatches(m_tree, "o", &matches), S_OK);
    ASSERT_EQ(FindMatches(m_tree, "LAMP", &more), S_OK);
    matches.insert(matches.end(), more.begin(), more.end());
    std::vector<uint8_t> visible;
    ASSERT_EQ(MatchVisibility(m_tree, matches, &visible), S_OK);
    std::string strShown;
    for (size_t i = 0; i < m_tree.entries.size(); ++i) {
        if (visible[i]) {
            strShown += std::string(m_tree.entries[i].dwDepth, ' ') + m_tree.entries[i].strLabel;
            strShown += "\n";
        }
    }
    EXPECT_EQ(strShown,
              "OBJECTS\n"
              " node: scene\n"
              "  node: dmyPivot\n"
              "   node: arm\n"
              "    node: dmyTip\n"
              "     node: lamp\n"
              "  node: windows\n"
              "   node: sortlast_glow\n"
              "   node: sort0_window\n"
              "   node: glass_sort1\n");
}

TEST(Search, HidingInTreesWithGapsAndBadMatches) {
    const struct {
        std::vector<uint32_t> depths;
        std::vector<size_t> matches;
        std::vector<uint8_t> visible;
    } cases[] = {
        {{0, 1, 2, 1, 2}, {4}, {1, 0, 0, 1, 1}},   // the earlier branch is not above
        {{0, 1, 3}, {2}, {1, 1, 1}},               // a skipped depth
        {{0, 1, 2, 1, 3}, {4}, {1, 0, 0, 1, 1}},   // both
        {{0, 1, 1}, {2, 7, kNoEntry}, {1, 0, 1}},  // matches beyond the tree are ignored
        {{0, 1, 2, 2}, {3, 2}, {1, 1, 1, 1}},      // matches need not be in order
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> visible;
        EXPECT_EQ(MatchVisibility(TreeOfDepths(c.depths), c.matches, &visible), S_OK);
        EXPECT_EQ(visible, c.visible);
    }
}
