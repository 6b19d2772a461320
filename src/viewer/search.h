// The structure tree's search field: which object entries' names hold a text (ASCII letters
// in either case), stepping through them, and which entries stay when the others are hidden.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "abstractdata/hresult.h"
#include "viewer/selection.h"
#include "viewer/structuretree.h"

// The object's name as the entry shows it: the label after its kind ("node: ", "mesh: ",
// "object: "); empty for entries of no object.
std::string_view EntryName(const StructureTreeEntry& entry);

// Whether strName holds strText, ASCII letters matched in either case (other bytes as they
// are: names are 8-bit Windows-1252 text). The empty text is in every name.
bool ContainsIgnoringCase(std::string_view strName, std::string_view strText);

// The object entries whose names hold strText, in display order; none for the empty text (an
// empty search field searches nothing). E_OUTOFMEMORY keeps the matches found so far.
HRESULT FindMatches(const StructureTree& tree, std::string_view strText,
                    std::vector<size_t>* pMatches);

// The first match after nCurrent, from the first again past the last; the last match before
// nCurrent, from the last again before the first. nCurrent need not be a match (kNoEntry: no
// current entry). kNoEntry without matches.
size_t NextMatch(const std::vector<size_t>& matches, size_t nCurrent);
size_t PreviousMatch(const std::vector<size_t>& matches, size_t nCurrent);

// One flag per entry: set for the matches and every entry above one, so that hiding the rest
// leaves each match reachable.
HRESULT MatchVisibility(const StructureTree& tree, const std::vector<size_t>& matches,
                        std::vector<uint8_t>* pVisible);
