// Between the structure tree's entries and the scene's objects: what a selected entry stands
// for in the 3D view (the meshes to highlight, the material it names), and which entry shows a
// picked object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/mesh.h"
#include "viewer/structuretree.h"

constexpr size_t kNoEntry = static_cast<size_t>(-1);

enum class EEntryKind {
    None,       // no such entry
    Root,       // "MATERIALS", "OBJECTS"
    Object,     // a scene object
    Animation,  // the animation line of an object entry
    Material,
    Map,  // a map, or one of its effect and texture lines
};

struct EntryInfo {
    EEntryKind kind = EEntryKind::None;
    CQVR3DObject* pObject = nullptr;  // Object: its own; Animation: that of the entry above
    size_t nEntry = kNoEntry;         // the entry of pObject
    int32_t nMaterial = -1;           // Material, Map: position among the material entries
    int32_t nMap = -1;                // Map: position among its material's map entries
};

// The entry whose children the entry is among; kNoEntry for the roots and a bad index.
size_t ParentEntry(const StructureTree& tree, size_t nEntry);
EntryInfo DescribeEntry(const StructureTree& tree, size_t nEntry);

// The material a face group is drawn with; -1 when the group is bound to none.
int32_t GroupMaterial(const CQVR3DMesh& mesh, size_t nGroup);

// The meshes an entry stands for, in tree order: every mesh in an object's subtree (the
// animation line: its object's), every mesh of pRoot's scene with a face group of a material
// (a map: its material's), none for the roots. E_OUTOFMEMORY leaves the meshes found so far.
HRESULT EntryMeshes(const StructureTree& tree, size_t nEntry, CQVR3DObject* pRoot,
                    std::vector<CQVR3DMesh*>* pMeshes);
// Every mesh at or below pObject, pre-order in child list order.
HRESULT SubtreeMeshes(CQVR3DObject* pObject, std::vector<CQVR3DMesh*>* pMeshes);
HRESULT MaterialMeshes(CQVR3DObject* pRoot, int32_t nMaterial, std::vector<CQVR3DMesh*>* pMeshes);

// Which entry shows a scene object: built once per tree, then a lookup per question.
class CObjectEntryIndex {
public:
    HRESULT Build(const StructureTree& tree);
    // The object's own entry, or where the filters hide it, its nearest shown ancestor's;
    // kNoEntry when none is shown (or the object is not in the tree's scene).
    size_t EntryOf(CQVR3DObject* pObject) const;

private:
    std::unordered_map<const CQVR3DObject*, size_t> m_entries;
};
