#include "viewer/search.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "support/table.h"

namespace {

// A field's numbers; "-" is no entry.
std::vector<size_t> Numbers(const std::string& strField) {
    std::vector<size_t> numbers;
    std::istringstream words(strField);
    for (std::string strWord; words >> strWord;) {
        numbers.push_back(strWord == "-" ? kNoEntry : std::stoul(strWord));
    }
    return numbers;
}

}  // namespace

TEST(Search, AsListed) {
    const std::vector<size_t> kMatches = {5, 9, 20};
    const std::vector<std::vector<std::string>> rows = ReadTable("viewer/search_cases.tsv");
    ASSERT_GE(rows.size(), 20u);
    for (const std::vector<std::string>& row : rows) {
        ASSERT_GE(row.size(), 5u) << row[0];
        if (row[1] == "contains") {
            EXPECT_EQ(ContainsIgnoringCase(UnescapeBytes(row[2]), UnescapeBytes(row[3])),
                      row[4] == "1")
                << row[0];
        } else if (row[1] == "wrap") {
            const size_t nCurrent = Numbers(row[2]).at(0);
            EXPECT_EQ(NextMatch(kMatches, nCurrent), Numbers(row[3]).at(0)) << row[0];
            EXPECT_EQ(PreviousMatch(kMatches, nCurrent), Numbers(row[4]).at(0)) << row[0];
        } else {
            StructureTree tree;
            for (size_t nDepth : Numbers(row[2])) {
                tree.entries.push_back({"", TREEIMAGE_NODE, nullptr, true, uint32_t(nDepth)});
            }
            std::vector<uint8_t> visible;
            EXPECT_EQ(MatchVisibility(tree, Numbers(row[3]), &visible), S_OK) << row[0];
            EXPECT_EQ(std::vector<size_t>(visible.begin(), visible.end()), Numbers(row[4]))
                << row[0];
        }
    }
    EXPECT_EQ(NextMatch({}, 3), kNoEntry);
    EXPECT_EQ(PreviousMatch({}, 3), kNoEntry);
}
