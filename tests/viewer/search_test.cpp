#include "viewer/search.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

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
