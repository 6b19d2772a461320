#include "viewer/structuretree.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>
#include <utility>

#include "abstractdata/borrowed.h"
#include "abstractdata/codepage.h"
#include "abstractdata/debugreport.h"
#include "abstractdata/heapprefault.h"
#include "engine/3dobjects/nodewalk.h"

static constexpr char kReportUnit[] = "viewer/structuretree";

uint32_t ShowFlagOfCommand(uint32_t dwCommandId) {
    switch (dwCommandId) {
        case ID_SHOW_NODES:
            return SHOW_NODES;
        case ID_SHOW_MESHES:
            return SHOW_MESHES;
        case ID_SHOW_ANIMATION:
            return SHOW_ANIMATION;
        case ID_SHOW_DUMMIES:
            return SHOW_DUMMIES;
        case ID_SHOW_MATERIALS:
            return SHOW_MATERIALS;
        case ID_SHOW_MATERIAL_MAPS:
            return SHOW_MATERIAL_MAPS;
        case ID_SHOW_MESH_ANIMATIONS:
            return SHOW_MESH_ANIMATIONS;
        default:
            return 0;
    }
}

uint32_t FlipShowFlag(uint32_t dwShowFlags, uint32_t dwCommandId) {
    return dwShowFlags ^ ShowFlagOfCommand(dwCommandId);
}

bool IsShowFlagChecked(uint32_t dwShowFlags, uint32_t dwCommandId) {
    return (dwShowFlags & ShowFlagOfCommand(dwCommandId)) != 0;
}

namespace {

// One object of the scene, read once per rebuild in breadth-first order: a record's children
// are contiguous and come after it. So the hierarchy times sum up in one backward pass instead
// of a walk over every subtree for each entry, and whether an entry is shown follows from its
// parent's record.
struct tRecord {
    CQVR3DObject* pObject;
    // In the tree's text, built while the object is at hand: reading its name again later
    // costs a cache miss per object in a large scene.
    std::string_view strLabel;
    uint32_t dwTime;       // GetAnimationTime
    uint32_t dwHierarchy;  // the largest time of the object and everything below it
    uint32_t dwParent;
    uint32_t dwFirstChild;
    uint32_t dwChildCount;
    int nImage;
    bool bShown;
    bool bMesh;
};

struct tPending {
    uint32_t dwRecord;
    uint32_t dwDepth;
};

// The working memory of a rebuild: the records and the walk's stack. Kept between rebuilds: a scene
// of many objects would otherwise take fresh pages from the system for every rebuild, which costs
// more than the rebuild itself.
struct tTreeScratch {
    std::vector<tRecord> records;
    std::vector<tPending> pending;
};
thread_local tTreeScratch t_treeScratch;

// "Animation: Hierarchy: -2147483648 Object: -2147483648 "
constexpr size_t kMaxAnimationLabel = 54;
// Below the allocator's threshold for blocks of their own from the system, so the blocks of a
// tree just freed serve the next rebuild with pages already touched.
constexpr size_t kTextBlockBytes = 64 * 1024;

bool IsDummyName(const char* pszName) {
    return pszName != nullptr && pszName[0] == 'd' && pszName[1] == 'm' && pszName[2] == 'y';
}

char* PutText(char* pOut, const char* pszText, size_t nLength) {
    std::memcpy(pOut, pszText, nLength);
    return pOut + nLength;
}

void SetLabel(tRecord& record, CStructureTreeText& text, std::string_view strPrefix,
              const char* pszName) {
    record.strLabel = text.Add(strPrefix, pszName != nullptr ? pszName : "");
}

// Fills in the record of an object: label, image, and whether the filters show it. Returns the
// object's type.
int32_t ReadObject(tRecord& record, CStructureTreeText& text, bool bParentShown,
                   uint32_t dwShowFlags) {
    CQVR3DObject* pObject = record.pObject;
    const int32_t nType = pObject->GetObjectType();
    bool bShown = bParentShown;
    const char* pszName = nullptr;
    if (nType == QVR3DOBJ_OBJECT) {
        if (bShown) {
            SetLabel(record, text, "object: ", pObject->GetName());
        }
    } else if (nType == QVR3DOBJ_NODE) {
        record.nImage = TREEIMAGE_NODE;
        if (bShown) {
            pszName = pObject->GetName();
            if (IsDummyName(pszName)) {
                record.nImage = TREEIMAGE_DUMMY;
                bShown = (dwShowFlags & SHOW_DUMMIES) != 0;
            }
            bShown = bShown && (dwShowFlags & SHOW_NODES) != 0;
        }
        if (bShown) {
            SetLabel(record, text, "node: ", pszName);
        }
    } else if (nType == QVR3DOBJ_MESH) {
        record.nImage = TREEIMAGE_MESH;
        record.bMesh = true;
        bShown = bShown && (dwShowFlags & SHOW_MESHES) != 0;
        if (bShown) {
            SetLabel(record, text, "mesh: ", pObject->GetName());
        }
    }
    record.bShown = bShown;
    record.dwTime = pObject->GetAnimationTime();
    record.dwHierarchy = record.dwTime;
    return nType;
}

bool ShowsAnimation(const tRecord& record, uint32_t dwShowFlags) {
    const uint32_t dwBit = record.bMesh ? SHOW_MESH_ANIMATIONS : SHOW_ANIMATION;
    return record.bShown && (dwShowFlags & dwBit) != 0 &&
           (record.dwHierarchy != 0 || record.dwTime != 0);
}

void AddRecord(std::vector<tRecord>& records, CQVR3DObject* pObject, uint32_t dwParent) {
    tRecord& record = records.emplace_back();
    record.pObject = pObject;
    record.strLabel = std::string_view();
    record.dwParent = dwParent;
    record.nImage = TREEIMAGE_BLANK;
    record.bMesh = false;
}

// Reads the whole hierarchy; returns how many entries it will give.
size_t ReadRecords(CQVR3DObject* pRoot, uint32_t dwShowFlags, tTreeScratch& scratch,
                   CStructureTreeText& text) {
    std::vector<tRecord>& records = scratch.records;
    AddRecord(records, pRoot, 0);
    for (size_t i = 0; i < records.size(); ++i) {
        const bool bParentShown = i == 0 || records[records[i].dwParent].bShown;
        const int32_t nType = ReadObject(records[i], text, bParentShown, dwShowFlags);
        CQVR3DObject* pObject = records[i].pObject;
        const uint32_t dwFirst = static_cast<uint32_t>(records.size());
        if (const CQVR3DNode* pNode = AsPlainNode(pObject, nType)) {
            // A plain node's list directly, without two calls per child.
            for (CQVR3DObject* pChild : pNode->Children()) {
                if (pChild != nullptr) {
                    AddRecord(records, pChild, static_cast<uint32_t>(i));
                }
            }
        } else {
            const uint32_t dwCount = pObject->GetChildCount();
            for (uint32_t j = 0; j < dwCount; ++j) {
                if (CQVR3DObject* pChild = pObject->GetChild(j)) {
                    AddRecord(records, pChild, static_cast<uint32_t>(i));
                }
            }
        }
        records[i].dwFirstChild = dwFirst;
        records[i].dwChildCount = static_cast<uint32_t>(records.size()) - dwFirst;
    }
    // A record's time is complete once every record after it has been added to its parent.
    size_t nEntries = 0;
    for (size_t i = records.size(); i-- > 0;) {
        const tRecord& record = records[i];
        nEntries += (record.bShown ? 1 : 0) + (ShowsAnimation(record, dwShowFlags) ? 1 : 0);
        if (i != 0) {
            tRecord& parent = records[record.dwParent];
            parent.dwHierarchy = std::max(parent.dwHierarchy, record.dwHierarchy);
        }
    }
    return nEntries;
}

// The original text shows the times as signed numbers. pOut has room for 12 characters.
char* PutNumber(char* pOut, uint32_t dwValue) {
    pOut = std::to_chars(pOut, pOut + 11, static_cast<int32_t>(dwValue)).ptr;
    *pOut++ = ' ';
    return pOut;
}

// strLabel is the tree's text or a literal.
void AddEntry(StructureTree& tree, std::string_view strLabel, int nImage, CQVR3DObject* pItemData,
              bool bExpanded, uint32_t dwDepth) {
    StructureTreeEntry& entry = tree.entries.emplace_back();
    entry.strLabel = strLabel;
    entry.nImage = nImage;
    entry.pItemData = pItemData;
    entry.bExpanded = bExpanded;
    entry.dwDepth = dwDepth;
}

void AddEntryCopy(StructureTree& tree, std::string_view strLabel, int nImage, bool bExpanded,
                  uint32_t dwDepth) {
    AddEntry(tree, tree.text.Add(strLabel), nImage, nullptr, bExpanded, dwDepth);
}

std::string_view AnimationLabel(CStructureTreeText& text, const tRecord& record) {
    char* pOut = PutText(text.Reserve(kMaxAnimationLabel), "Animation: ", 11);
    if (record.dwHierarchy != 0) {
        pOut = PutNumber(PutText(pOut, "Hierarchy: ", 11), record.dwHierarchy);
    }
    if (record.dwTime != 0) {
        pOut = PutNumber(PutText(pOut, "Object: ", 8), record.dwTime);
    }
    return text.Keep(pOut);
}

size_t CountMaterialEntries(const CMorv3dViewerDoc& doc, uint32_t dwShowFlags) {
    if (!(dwShowFlags & SHOW_MATERIALS)) {
        return 0;
    }
    size_t nEntries = doc.materials.size();
    if (dwShowFlags & SHOW_MATERIAL_MAPS) {
        for (const CMorv3DLoader::tMaterialMaps& material : doc.materials) {
            nEntries += 3 * material.size();
        }
    }
    return nEntries;
}

void AddMaterials(StructureTree& tree, const CMorv3dViewerDoc& doc, uint32_t dwShowFlags) {
    if (!(dwShowFlags & SHOW_MATERIALS)) {
        return;
    }
    for (const CMorv3DLoader::tMaterialMaps& material : doc.materials) {
        AddEntry(tree, "Material", TREEIMAGE_MATERIAL, nullptr, false, 1);
        if (!(dwShowFlags & SHOW_MATERIAL_MAPS)) {
            continue;
        }
        for (const CMorv3DLoader::tMaterialMap& map : material) {
            AddEntry(tree, "Map", TREEIMAGE_MAP, nullptr, false, 2);
            AddEntryCopy(tree, "Effect: " + MapEffectText(map.morv3DMaterialMap.dwEffect),
                         TREEIMAGE_MAP, false, 3);
            AddEntryCopy(tree, "Texture: " + map.strTexture, TREEIMAGE_MAP, false, 3);
        }
    }
}

// The object entries in display order. Under an object entry: its animation entry, then the
// meshes among its children in reverse (each was put before the first child), then the others.
void AddObjects(StructureTree& tree, tTreeScratch& scratch, uint32_t dwShowFlags) {
    const std::vector<tRecord>& records = scratch.records;
    std::vector<tPending>& pending = scratch.pending;
    pending.clear();
    if (records[0].bShown) {
        pending.push_back({0, 1});
    }
    while (!pending.empty()) {
        const tPending item = pending.back();
        pending.pop_back();
        const tRecord& record = records[item.dwRecord];
        AddEntry(tree, record.strLabel, record.nImage, record.pObject, true, item.dwDepth);
        if (ShowsAnimation(record, dwShowFlags)) {
            AddEntry(tree, AnimationLabel(tree.text, record),
                     record.bMesh ? TREEIMAGE_MESH_ANIMATION : TREEIMAGE_ANIMATION, nullptr, false,
                     item.dwDepth + 1);
        }

        // Pushed in reverse of the display order: the other children from the last, then the
        // meshes from the first.
        const uint32_t dwFirst = record.dwFirstChild;
        const uint32_t dwEnd = dwFirst + record.dwChildCount;
        for (uint32_t i = dwEnd; i-- > dwFirst;) {
            if (records[i].bShown && !records[i].bMesh) {
                pending.push_back({i, item.dwDepth + 1});
            }
        }
        for (uint32_t i = dwFirst; i < dwEnd; ++i) {
            if (records[i].bShown && records[i].bMesh) {
                pending.push_back({i, item.dwDepth + 1});
            }
        }
    }
}

}  // namespace

CStructureTreeText::CStructureTreeText(CStructureTreeText&& other) noexcept
    : m_blocks(std::move(other.m_blocks)),
      m_pFree(std::exchange(other.m_pFree, nullptr)),
      m_nFree(std::exchange(other.m_nFree, 0)) {}

CStructureTreeText& CStructureTreeText::operator=(CStructureTreeText&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    m_blocks = std::move(other.m_blocks);
    other.m_blocks.clear();
    m_pFree = std::exchange(other.m_pFree, nullptr);
    m_nFree = std::exchange(other.m_nFree, 0);
    return *this;
}

std::string_view CStructureTreeText::Add(std::string_view strFirst, std::string_view strSecond) {
    const size_t nBytes = strFirst.size() + strSecond.size();
    if (nBytes == 0) {
        return std::string_view();
    }
    char* pBytes = Reserve(nBytes);
    std::memcpy(pBytes, strFirst.data(), strFirst.size());
    std::memcpy(pBytes + strFirst.size(), strSecond.data(), strSecond.size());
    return Keep(pBytes + nBytes);
}

char* CStructureTreeText::Reserve(size_t nMaxBytes) {
    if (nMaxBytes > m_nFree) {
        const size_t nBlock = std::max(nMaxBytes, kTextBlockBytes);
        m_blocks.reserve(m_blocks.size() + 1);  // so that the new block cannot be lost
        // Left uninitialised (Emscripten's library lacks make_unique_for_overwrite).
        m_blocks.push_back(std::unique_ptr<char[]>(new char[nBlock]));
        m_pFree = m_blocks.back().get();
        m_nFree = nBlock;
    }
    return m_pFree;
}

std::string_view CStructureTreeText::Keep(char* pEnd) {
    const size_t nBytes = static_cast<size_t>(pEnd - m_pFree);
    const std::string_view strText(m_pFree, nBytes);
    m_pFree = pEnd;
    m_nFree -= nBytes;
    return strText;
}

std::string MapEffectText(uint32_t dwEffect) {
    std::string strEffect;
    if (dwEffect == 0) {
        strEffect += "Solid ";
    }
    if ((dwEffect & MORV3D_MAPEFFECT_ALPHA) == MORV3D_MAPEFFECT_ALPHA) {
        strEffect += "Alpha ";
    }
    if ((dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD) {
        strEffect += "Additive ";
    }
    return strEffect;
}

HRESULT BuildStructureTree(StructureTree* pTree, const CMorv3dViewerDoc& doc,
                           uint32_t dwShowFlags) {
    if (pTree == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    StructureTree& tree = *pTree;
    tree.entries.clear();
    tree.text = CStructureTreeText();
    tree.dwAnimationTime = 0;
    // A rebuild nested in a virtual call gets its own records.
    CBorrowed<tTreeScratch> scratch(t_treeScratch);
    scratch->records.clear();
    try {
        size_t nObjectEntries = 0;
        if (doc._pNode != nullptr) {
            nObjectEntries = ReadRecords(doc._pNode, dwShowFlags, *scratch, tree.text);
            tree.dwAnimationTime = scratch->records.front().dwHierarchy;
        }
        tree.entries.reserve(2 + CountMaterialEntries(doc, dwShowFlags) + nObjectEntries);
        const size_t nEntryBytes = tree.entries.capacity() * sizeof(StructureTreeEntry);
        PrefaultBlock(tree.entries.data(), nEntryBytes);  // may be fresh from the system

        AddEntry(tree, "MATERIALS", TREEIMAGE_BLANK, nullptr, true, 0);
        AddMaterials(tree, doc, dwShowFlags);
        AddEntry(tree, "OBJECTS", TREEIMAGE_BLANK, nullptr, true, 0);
        if (!scratch->records.empty()) {
            AddObjects(tree, *scratch, dwShowFlags);
        }
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}

StructureTree BuildStructureTree(const CMorv3dViewerDoc& doc, uint32_t dwShowFlags) {
    StructureTree tree;
    BuildStructureTree(&tree, doc, dwShowFlags);
    return tree;
}

std::string FormatStructureTree(const StructureTree& tree, bool bImages) {
    std::string strText;
    try {
        for (const StructureTreeEntry& entry : tree.entries) {
            strText.append(2 * static_cast<size_t>(entry.dwDepth), ' ');
            strText += Windows1252ToUtf8(entry.strLabel);
            if (bImages) {
                strText.push_back('\t');
                strText += std::to_string(entry.nImage);
            }
            strText.push_back('\n');
        }
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return std::string();
    }
    return strText;
}
