#include "viewer/search.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "abstractdata/debugreport.h"

static constexpr char kReportUnit[] = "viewer/search";

namespace {

constexpr std::array<uint8_t, 256> MakeLowerTable() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<uint8_t>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
    }
    return table;
}
constexpr std::array<uint8_t, 256> kLower = MakeLowerTable();

uint8_t Lower(char ch) {
    return kLower[static_cast<uint8_t>(ch)];
}

// strLower is the searched text already lowered, not empty.
bool ContainsLowered(std::string_view strName, std::string_view strLower) {
    if (strName.size() < strLower.size()) {
        return false;
    }
    const uint8_t bFirst = static_cast<uint8_t>(strLower[0]);
    const size_t nLast = strName.size() - strLower.size();
    for (size_t i = 0; i <= nLast; ++i) {
        if (Lower(strName[i]) != bFirst) {
            continue;
        }
        size_t j = 1;
        while (j < strLower.size() && Lower(strName[i + j]) == static_cast<uint8_t>(strLower[j])) {
            ++j;
        }
        if (j == strLower.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string_view EntryName(const StructureTreeEntry& entry) {
    if (entry.pItemData == nullptr) {
        return {};
    }
    // The kind ends at the first ": "; the name may hold the same pair further on.
    const std::string_view strLabel = entry.strLabel;
    const size_t nColon = strLabel.find(": ");
    return nColon == std::string_view::npos ? strLabel : strLabel.substr(nColon + 2);
}

bool ContainsIgnoringCase(std::string_view strName, std::string_view strText) {
    if (strText.empty()) {
        return true;
    }
    std::string strLower(strText);
    for (char& ch : strLower) {
        ch = static_cast<char>(Lower(ch));
    }
    return ContainsLowered(strName, strLower);
}

HRESULT FindMatches(const StructureTree& tree, std::string_view strText,
                    std::vector<size_t>* pMatches) {
    if (pMatches == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    pMatches->clear();
    if (strText.empty()) {
        return S_OK;
    }
    try {
        std::string strLower(strText);
        for (char& ch : strLower) {
            ch = static_cast<char>(Lower(ch));
        }
        for (size_t i = 0; i < tree.entries.size(); ++i) {
            if (ContainsLowered(EntryName(tree.entries[i]), strLower)) {
                pMatches->push_back(i);
            }
        }
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}

size_t NextMatch(const std::vector<size_t>& matches, size_t nCurrent) {
    if (matches.empty()) {
        return kNoEntry;
    }
    const auto it = std::upper_bound(matches.begin(), matches.end(), nCurrent);
    return it != matches.end() ? *it : matches.front();
}

size_t PreviousMatch(const std::vector<size_t>& matches, size_t nCurrent) {
    if (matches.empty()) {
        return kNoEntry;
    }
    const auto it = std::lower_bound(matches.begin(), matches.end(), nCurrent);
    return it != matches.begin() ? *std::prev(it) : matches.back();
}

HRESULT MatchVisibility(const StructureTree& tree, const std::vector<size_t>& matches,
                        std::vector<uint8_t>* pVisible) {
    if (pVisible == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    try {
        pVisible->assign(tree.entries.size(), 0);
        std::vector<uint8_t>& visible = *pVisible;
        for (size_t nMatch : matches) {
            if (nMatch < visible.size()) {
                visible[nMatch] = 2;  // a match, not yet walked up from
            }
        }
        // One pass down the tree with the current entry at each depth: a match marks the
        // entries above it up to the first one marked already (everything above that is).
        std::vector<size_t> above;
        for (size_t i = 0; i < tree.entries.size(); ++i) {
            const size_t nDepth = tree.entries[i].dwDepth;
            // Deeper entries of the branch before are no longer above; depths skipped (not
            // in a tree BuildStructureTree makes) have no entry.
            above.resize(nDepth + 1, kNoEntry);
            above[nDepth] = i;
            if (visible[i] != 2) {
                continue;
            }
            visible[i] = 1;
            for (size_t d = nDepth; d-- > 0;) {
                const size_t nAbove = above[d];
                if (nAbove == kNoEntry) {
                    continue;
                }
                if (visible[nAbove] == 1) {
                    break;
                }
                visible[nAbove] = 1;
            }
        }
    } catch (const std::bad_alloc&) {
        pVisible->clear();
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}
