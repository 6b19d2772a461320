// The structure view's tree as data: which entries exist for a document under a filter word,
// in which order, with which label, image and item data, and which are expanded. The desktop
// view copies it into its tree widget and the CLI prints it, so the two cannot disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/3dobjects/objects.h"
#include "viewer/document.h"

// Filter bits of the show-flags word; a set bit shows the entries.
constexpr uint32_t SHOW_NODES = 0x01;
constexpr uint32_t SHOW_MESHES = 0x02;
constexpr uint32_t SHOW_ANIMATION = 0x04;
constexpr uint32_t SHOW_DUMMIES = 0x08;  // needs SHOW_NODES too
constexpr uint32_t SHOW_MATERIALS = 0x10;
constexpr uint32_t SHOW_MATERIAL_MAPS = 0x20;  // needs SHOW_MATERIALS too
constexpr uint32_t SHOW_MESH_ANIMATIONS = 0x40;
constexpr uint32_t SHOW_ALL = 0xFFFFFFFF;

// The commands that flip them (32778 is not used).
constexpr uint32_t ID_SHOW_NODES = 32772;
constexpr uint32_t ID_SHOW_MESHES = 32773;
constexpr uint32_t ID_SHOW_ANIMATION = 32774;
constexpr uint32_t ID_SHOW_DUMMIES = 32775;
constexpr uint32_t ID_SHOW_MATERIALS = 32776;
constexpr uint32_t ID_SHOW_MATERIAL_MAPS = 32777;
constexpr uint32_t ID_SHOW_MESH_ANIMATIONS = 32779;

// Image indexes of the tree's image list.
constexpr int TREEIMAGE_BLANK = 0;
constexpr int TREEIMAGE_NODE = 1;
constexpr int TREEIMAGE_MESH = 2;
constexpr int TREEIMAGE_ANIMATION = 3;
constexpr int TREEIMAGE_DUMMY = 4;
constexpr int TREEIMAGE_MATERIAL = 5;
constexpr int TREEIMAGE_MAP = 6;
constexpr int TREEIMAGE_MESH_ANIMATION = 7;

// The bit a command flips; 0 for any other command.
uint32_t ShowFlagOfCommand(uint32_t dwCommandId);
// The word with the command's bit flipped (unchanged for other commands).
uint32_t FlipShowFlag(uint32_t dwShowFlags, uint32_t dwCommandId);
// Whether the command's toggle shows checked (pressed).
bool IsShowFlagChecked(uint32_t dwShowFlags, uint32_t dwCommandId);

struct StructureTreeEntry {
    // 8-bit text as built, names as stored in the file; its bytes live as long as the tree.
    std::string_view strLabel;
    int nImage = TREEIMAGE_BLANK;       // also the selected image
    CQVR3DObject* pItemData = nullptr;  // the scene object of an object entry
    bool bExpanded = false;
    uint32_t dwDepth = 0;  // 0 for "MATERIALS" and "OBJECTS"
};

// The bytes of a tree's labels, in blocks that never move: a label costs no allocation of its
// own (a tree of many objects would spend a good part of a rebuild in the allocator), and
// moving the tree keeps its labels valid. Not copyable.
class CStructureTreeText {
public:
    CStructureTreeText() = default;
    CStructureTreeText(CStructureTreeText&& other) noexcept;
    CStructureTreeText& operator=(CStructureTreeText&& other) noexcept;

    // A copy of the two texts one after the other, kept while the text lives. Neither may be a
    // view of nothing (a null pointer). Throws std::bad_alloc.
    std::string_view Add(std::string_view strFirst, std::string_view strSecond = "");
    // A text written in place: Reserve room for up to nMaxBytes (throws std::bad_alloc), write
    // from the pointer it returns, then Keep up to where the writing ended.
    char* Reserve(size_t nMaxBytes);
    std::string_view Keep(char* pEnd);

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_pFree = nullptr;  // in the last block
    size_t m_nFree = 0;
};

// The entries in display order (depth first, pre-order): an entry's children are the entries
// that follow it with a depth one greater, up to the next entry at its own depth or less.
struct StructureTree {
    std::vector<StructureTreeEntry> entries;
    CStructureTreeText text;
    // The root's GetAnimationTimeHierarchy, read on the way under any filter: the playback's
    // end needs no walk of its own.
    uint32_t dwAnimationTime = 0;
};

StructureTree BuildStructureTree(const CMorv3dViewerDoc& doc, uint32_t dwShowFlags);
// The same, with a result: E_OUTOFMEMORY when the tree could not be built whole, and then
// *pTree holds the entries built before (a valid tree, cut short).
HRESULT BuildStructureTree(StructureTree* pTree, const CMorv3dViewerDoc& doc, uint32_t dwShowFlags);

// The words of a map's effect as its "Effect: " entry shows them, each followed by a space.
std::string MapEffectText(uint32_t dwEffect);

// One entry a line, two spaces of indent per level, labels decoded from Windows-1252 to UTF-8;
// with bImages a tab and the image index follow each label.
std::string FormatStructureTree(const StructureTree& tree, bool bImages);
