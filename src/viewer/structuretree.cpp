#include "viewer/structuretree.h"

#include <algorithm>
#include <charconv>
#include <new>

#include "abstractdata/codepage.h"
#include "abstractdata/debugreport.h"

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

// One object of the scene as read once per rebuild. Children of a record are contiguous and
// come after it, so the hierarchy times can be summed up in one backward pass instead of
// walking every subtree again for each entry.
struct tRecord {
    CQVR3DObject* pObject;
    int32_t nType;
    uint32_t dwTime;       // GetAnimationTime
    uint32_t dwHierarchy;  // the largest time of the object and everything below it
    uint32_t dwParent;
    uint32_t dwFirstChild;
    uint32_t dwChildCount;
};

void ReadRecords(CQVR3DObject* pRoot, std::vector<tRecord>& records) {
    records.push_back({pRoot, 0, 0, 0, 0, 0, 0});
    for (size_t i = 0; i < records.size(); ++i) {
        CQVR3DObject* pObject = records[i].pObject;
        const int32_t nType = pObject->GetObjectType();
        const uint32_t dwTime = pObject->GetAnimationTime();
        const uint32_t dwFirst = static_cast<uint32_t>(records.size());
        for (uint32_t j = 0; j < pObject->GetChildCount(); ++j) {
            if (CQVR3DObject* pChild = pObject->GetChild(j)) {
                records.push_back({pChild, 0, 0, 0, static_cast<uint32_t>(i), 0, 0});
            }
        }
        tRecord& record = records[i];
        record.nType = nType;
        record.dwTime = dwTime;
        record.dwHierarchy = dwTime;
        record.dwFirstChild = dwFirst;
        record.dwChildCount = static_cast<uint32_t>(records.size()) - dwFirst;
    }
    for (size_t i = records.size(); i-- > 1;) {
        tRecord& parent = records[records[i].dwParent];
        parent.dwHierarchy = std::max(parent.dwHierarchy, records[i].dwHierarchy);
    }
}

bool IsDummyName(const char* pszName) {
    return pszName != nullptr && pszName[0] == 'd' && pszName[1] == 'm' && pszName[2] == 'y';
}

void AppendNumber(std::string& strText, uint32_t dwValue) {
    // The original text shows the times as signed numbers.
    char szNumber[16];
    const auto result =
        std::to_chars(szNumber, szNumber + sizeof(szNumber), static_cast<int32_t>(dwValue));
    strText.append(szNumber, result.ptr);
    strText.push_back(' ');
}

void AddEntry(StructureTree& tree, std::string&& strLabel, int nImage, CQVR3DObject* pItemData,
              bool bExpanded, uint32_t dwDepth) {
    StructureTreeEntry& entry = tree.entries.emplace_back();
    entry.strLabel = std::move(strLabel);
    entry.nImage = nImage;
    entry.pItemData = pItemData;
    entry.bExpanded = bExpanded;
    entry.dwDepth = dwDepth;
}

void AddMaterials(StructureTree& tree, const CMorv3dViewerDoc& doc, uint32_t dwShowFlags) {
    if (!(dwShowFlags & SHOW_MATERIALS)) {
        return;
    }
    for (const CMorv3DLoader::tMaterialMaps& material : doc._Materials) {
        AddEntry(tree, "Material", TREEIMAGE_MATERIAL, nullptr, false, 1);
        if (!(dwShowFlags & SHOW_MATERIAL_MAPS)) {
            continue;
        }
        for (const CMorv3DLoader::tMaterialMap& map : material) {
            AddEntry(tree, "Map", TREEIMAGE_MAP, nullptr, false, 2);
            const uint32_t dwEffect = map.morv3DMaterialMap.dwEffect;
            std::string strEffect = "Effect: ";
            if (dwEffect == 0) {
                strEffect += "Solid ";
            }
            if ((dwEffect & MORV3D_MAPEFFECT_ALPHA) == MORV3D_MAPEFFECT_ALPHA) {
                strEffect += "Alpha ";
            }
            if ((dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD) {
                strEffect += "Additive ";
            }
            AddEntry(tree, std::move(strEffect), TREEIMAGE_MAP, nullptr, false, 3);
            AddEntry(tree, "Texture: " + map.strTexture, TREEIMAGE_MAP, nullptr, false, 3);
        }
    }
}

std::string ObjectLabel(const char* pszPrefix, const char* pszName) {
    std::string strLabel = pszPrefix;
    if (pszName != nullptr) {
        strLabel += pszName;
    }
    return strLabel;
}

// The object entries in display order. Under an object entry: its animation entry, then the
// meshes among its children in reverse (each was put before the first child), then the others.
void AddObjects(StructureTree& tree, const std::vector<tRecord>& records, uint32_t dwShowFlags) {
    struct tPending {
        uint32_t dwRecord;
        uint32_t dwDepth;
    };
    std::vector<tPending> pending;
    pending.push_back({0, 1});
    while (!pending.empty()) {
        const tPending item = pending.back();
        pending.pop_back();
        const tRecord& record = records[item.dwRecord];
        CQVR3DObject* pObject = record.pObject;

        std::string strLabel;
        int nImage = TREEIMAGE_BLANK;
        bool bMesh = false;
        if (record.nType == QVR3DOBJ_OBJECT) {
            strLabel = ObjectLabel("object: ", pObject->GetName());
        } else if (record.nType == QVR3DOBJ_NODE) {
            const char* pszName = pObject->GetName();
            strLabel = ObjectLabel("node: ", pszName);
            nImage = TREEIMAGE_NODE;
            if (IsDummyName(pszName)) {
                nImage = TREEIMAGE_DUMMY;
                if (!(dwShowFlags & SHOW_DUMMIES)) {
                    continue;
                }
            }
            if (!(dwShowFlags & SHOW_NODES)) {
                continue;
            }
        } else if (record.nType == QVR3DOBJ_MESH) {
            strLabel = ObjectLabel("mesh: ", pObject->GetName());
            nImage = TREEIMAGE_MESH;
            bMesh = true;
            if (!(dwShowFlags & SHOW_MESHES)) {
                continue;
            }
        }
        AddEntry(tree, std::move(strLabel), nImage, pObject, true, item.dwDepth);

        const uint32_t dwHierarchy = record.dwHierarchy;
        const uint32_t dwTime = record.dwTime;
        const bool bShowAnimation =
            bMesh ? (dwShowFlags & SHOW_MESH_ANIMATIONS) != 0 : (dwShowFlags & SHOW_ANIMATION) != 0;
        if (bShowAnimation && (dwHierarchy != 0 || dwTime != 0)) {
            std::string strAnimation = "Animation: ";
            if (dwHierarchy != 0) {
                strAnimation += "Hierarchy: ";
                AppendNumber(strAnimation, dwHierarchy);
            }
            if (dwTime != 0) {
                strAnimation += "Object: ";
                AppendNumber(strAnimation, dwTime);
            }
            AddEntry(tree, std::move(strAnimation),
                     bMesh ? TREEIMAGE_MESH_ANIMATION : TREEIMAGE_ANIMATION, nullptr, false,
                     item.dwDepth + 1);
        }

        // Pushed in reverse of the display order: the other children from the last, then the
        // meshes from the first.
        const uint32_t dwFirst = record.dwFirstChild;
        const uint32_t dwEnd = dwFirst + record.dwChildCount;
        for (uint32_t i = dwEnd; i-- > dwFirst;) {
            if (records[i].nType != QVR3DOBJ_MESH) {
                pending.push_back({i, item.dwDepth + 1});
            }
        }
        for (uint32_t i = dwFirst; i < dwEnd; ++i) {
            if (records[i].nType == QVR3DOBJ_MESH) {
                pending.push_back({i, item.dwDepth + 1});
            }
        }
    }
}

}  // namespace

HRESULT BuildStructureTree(StructureTree* pTree, const CMorv3dViewerDoc& doc,
                           uint32_t dwShowFlags) {
    if (pTree == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    StructureTree& tree = *pTree;
    tree.entries.clear();
    try {
        std::vector<tRecord> records;
        if (doc._pNode != nullptr) {
            ReadRecords(doc._pNode, records);
        }
        size_t nMapEntries = 0;
        for (const CMorv3DLoader::tMaterialMaps& material : doc._Materials) {
            nMapEntries += 3 * material.size();
        }
        // Every object and its animation entry at most.
        tree.entries.reserve(2 + doc._Materials.size() + nMapEntries + 2 * records.size());

        AddEntry(tree, "MATERIALS", TREEIMAGE_BLANK, nullptr, true, 0);
        AddMaterials(tree, doc, dwShowFlags);
        AddEntry(tree, "OBJECTS", TREEIMAGE_BLANK, nullptr, true, 0);
        if (!records.empty()) {
            AddObjects(tree, records, dwShowFlags);
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
