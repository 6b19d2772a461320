#include "viewer/properties.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

#include "abstractdata/codepage.h"
#include "abstractdata/debugreport.h"
#include "viewer/selection.h"

static constexpr char kReportUnit[] = "viewer/properties";

namespace {

// Appends one formatted line; the text grows through std::string, so bad_alloc is the caller's.
void Line(std::string& strText, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
void Line(std::string& strText, const char* pszFormat, ...) {
    char szLine[512];
    va_list args;
    va_start(args, pszFormat);
    const int nLength = std::vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    if (nLength > 0) {
        strText.append(szLine, std::min(static_cast<size_t>(nLength), sizeof(szLine) - 1));
    }
    strText.push_back('\n');
}

// Names are 8-bit text from the file, shown decoded.
void NameLine(std::string& strText, const char* pszLabel, const char* pszName) {
    strText += pszLabel;
    strText += Windows1252ToUtf8(pszName != nullptr ? pszName : "");
    strText.push_back('\n');
}

void VectorLine(std::string& strText, const char* pszLabel, const Vector3& v) {
    Line(strText, "%s: %.9g %.9g %.9g", pszLabel, v.x, v.y, v.z);
}

void MatrixLines(std::string& strText, const char* pszLabel, const Matrix4& m) {
    for (int r = 0; r < 4; ++r) {
        Line(strText, "%s row %d: %.9g %.9g %.9g %.9g", pszLabel, r, m.m[r][0], m.m[r][1],
             m.m[r][2], m.m[r][3]);
    }
}

template <typename Track>
void TrackLine(std::string& strText, const char* pszLabel, const Track& keys) {
    if (keys.empty()) {
        Line(strText, "%s: 0", pszLabel);
        return;
    }
    uint32_t dwFirst = keys.front().dwTime;
    uint32_t dwLast = dwFirst;
    for (const auto& key : keys) {  // a file need not keep them in order
        dwFirst = std::min(dwFirst, key.dwTime);
        dwLast = std::max(dwLast, key.dwTime);
    }
    Line(strText, "%s: %zu, times %" PRIu32 " to %" PRIu32, pszLabel, keys.size(), dwFirst, dwLast);
}

void SortIdLine(std::string& strText, const char* pszName) {
    uint32_t dwSlot = 0;
    if (pszName == nullptr || !FindSortSlot(pszName, dwSlot)) {
        Line(strText, "Sort id: none");
    } else if (dwSlot == 0) {
        Line(strText, "Sort id: last");
    } else {
        Line(strText, "Sort id: %" PRIu32, dwSlot - 1);
    }
}

void BlendLine(std::string& strText, uint32_t dwFlags) {
    Line(strText, "Blend flags: 0x%08" PRIX32 "%s%s", dwFlags,
         (dwFlags & QVR3DBLEND_SOME) ? " some" : "", (dwFlags & QVR3DBLEND_ALL) ? " all" : "");
}

void CommonLines(std::string& strText, CQVR3DObject* pObject) {
    VectorLine(strText, "Local sphere center", pObject->vLocalSphereCenter);
    Line(strText, "Local sphere radius: %.9g", pObject->fLocalSphereRadius);
    VectorLine(strText, "Parent sphere center", pObject->vParentSphereCenter);
    Line(strText, "Parent sphere radius: %.9g", pObject->fParentSphereRadius);
    Line(strText, "Object animation time: %" PRIu32, pObject->GetAnimationTime());
    Line(strText, "Hierarchy animation time: %" PRIu32, pObject->GetAnimationTimeHierarchy());
}

HRESULT NodeLines(std::string& strText, CQVR3DNode* pNode) {
    Matrix4 world;
    const HRESULT hr = WorldMatrix(pNode, &world);
    if (FAILED(hr)) {
        return hr;
    }
    Line(strText, "Kind: node");
    NameLine(strText, "Name: ", pNode->GetName());
    SortIdLine(strText, pNode->GetName());
    BlendLine(strText, pNode->GetBlendFlags());
    Line(strText, "Children: %" PRIu32, pNode->GetChildCount());
    MatrixLines(strText, "Local matrix", pNode->GetLocalMatrix());
    Line(strText, "World position: %.9g %.9g %.9g", world.m[3][0], world.m[3][1], world.m[3][2]);
    TrackLine(strText, "Position keys", pNode->transform.PositionKeys());
    TrackLine(strText, "Rotation keys", pNode->transform.RotationKeys());
    CommonLines(strText, pNode);
    return S_OK;
}

void ComponentLine(std::string& strText, uint32_t dwFlags) {
    std::string strNames;
    const struct {
        uint32_t dwBit;
        const char* pszName;
    } components[] = {{VERTEX_POSITION, " position"},
                      {VERTEX_NORMAL, " normal"},
                      {VERTEX_EXTRA1, " extra1"},
                      {VERTEX_EXTRA2, " extra2"},
                      {VERTEX_TEXCOORD, " texcoord"}};
    for (const auto& component : components) {
        if (dwFlags & component.dwBit) {
            strNames += component.pszName;
        }
    }
    Line(strText, "Components: 0x%08" PRIX32 "%s", dwFlags, strNames.c_str());
}

void MeshLines(std::string& strText, CQVR3DMesh* pMesh) {
    Line(strText, "Kind: mesh");
    BlendLine(strText, pMesh->GetBlendFlags());
    const CQVR3DMeshData* pGeometry = pMesh->pGeometry;
    if (pGeometry == nullptr) {
        Line(strText, "Geometry: none");
        CommonLines(strText, pMesh);
        return;
    }
    Line(strText, "Vertices: %" PRIu32, pGeometry->dwVertexCount);
    Line(strText, "Triangles: %" PRIu32, pGeometry->dwIndexCount / 3);
    ComponentLine(strText, pGeometry->dwKeyVertexFormat);
    Line(strText, "Face groups: %zu", pGeometry->groups.size());
    for (size_t g = 0; g < pGeometry->groups.size(); ++g) {
        const MeshGroup& group = pGeometry->groups[g];
        std::string strMaps;
        if (pMesh->pMaps != nullptr && g < pMesh->pMaps->groupMaps.size()) {
            for (const MapBinding& binding : pMesh->pMaps->groupMaps[g]) {
                std::string strEffect = MapEffectText(binding.dwEffect);
                if (strEffect.empty()) {
                    char szEffect[16];
                    std::snprintf(szEffect, sizeof(szEffect), "0x%08" PRIX32, binding.dwEffect);
                    strEffect = szEffect;
                } else {
                    strEffect.pop_back();  // the space after the last word
                }
                strMaps += (strMaps.empty() ? "" : ", ") + strEffect;
            }
        }
        Line(strText,
             "Group %zu: material %" PRId32 ", triangles %" PRIu32 ", first index %" PRIu32
             ", base vertex %" PRIu32 ", maps %s",
             g, GroupMaterial(*pMesh, g), group.dwIndexCount / 3, group.dwFirstIndex,
             group.dwBaseVertex, strMaps.empty() ? "none" : strMaps.c_str());
    }
    Line(strText, "Morph frames: %zu", pGeometry->morphKeys.size());
    for (size_t k = 0; k < pGeometry->morphKeys.size(); ++k) {
        const MorphKey& key = pGeometry->morphKeys[k];
        if (key.bBlend) {
            Line(strText, "Frame %zu: time %" PRIu32 ", blended over %" PRIu32, k, key.dwTime,
                 key.dwBlendDuration);
        } else {
            Line(strText, "Frame %zu: time %" PRIu32, k, key.dwTime);
        }
    }
    CommonLines(strText, pMesh);
}

HRESULT MapLines(std::string& strText, const CMorv3DLoader::tMaterialMap& map, size_t nMap,
                 const TextureResolver& resolve) {
    std::string strFile;
    if (resolve) {
        try {
            strFile = resolve(map.strTexture);
        } catch (const std::bad_alloc&) {
            return REPORTED(E_OUTOFMEMORY);
        } catch (...) {
            return REPORTED(E_FAIL);  // whatever the lookup throws stays here
        }
    }
    Line(strText, "Map %zu effect: %s", nMap,
         MapEffectText(map.morv3DMaterialMap.dwEffect).c_str());
    NameLine(strText, ("Map " + std::to_string(nMap) + " texture: ").c_str(),
             map.strTexture.c_str());
    strText += "Map " + std::to_string(nMap) + " file: " + (strFile.empty() ? "missing" : strFile);
    strText.push_back('\n');
    return S_OK;
}

}  // namespace

HRESULT WorldMatrix(CQVR3DObject* pObject, Matrix4* pMatrix) {
    if (pObject == nullptr || pMatrix == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    try {
        std::vector<CQVR3DObject*> chain;
        for (CQVR3DObject* p = pObject; p != nullptr; p = p->GetParent()) {
            chain.push_back(p);
        }
        Matrix4 m = Matrix4::Identity();
        for (size_t i = chain.size(); i-- > 0;) {
            chain[i]->TransformMatrix(m);  // m = local x parent's world
        }
        *pMatrix = m;
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}

HRESULT ObjectProperties(CQVR3DObject* pObject, std::string* pText) {
    if (pObject == nullptr || pText == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    pText->clear();
    HRESULT hr = S_OK;
    try {
        const int32_t nType = pObject->GetObjectType();
        auto* pNode = nType == QVR3DOBJ_NODE ? dynamic_cast<CQVR3DNode*>(pObject) : nullptr;
        auto* pMesh = nType == QVR3DOBJ_MESH ? dynamic_cast<CQVR3DMesh*>(pObject) : nullptr;
        if (pNode != nullptr) {
            hr = NodeLines(*pText, pNode);
        } else if (pMesh != nullptr) {
            MeshLines(*pText, pMesh);
        } else {
            Line(*pText, "Kind: object");
            NameLine(*pText, "Name: ", pObject->GetName());
            CommonLines(*pText, pObject);
        }
    } catch (const std::bad_alloc&) {
        hr = REPORTED(E_OUTOFMEMORY);
    }
    if (FAILED(hr)) {
        pText->clear();
    }
    return hr;
}

HRESULT MaterialProperties(const CMorv3dViewerDoc& doc, int32_t nMaterial, int32_t nMap,
                           const TextureResolver& resolve, std::string* pText) {
    if (pText == nullptr || nMaterial < 0 ||
        static_cast<size_t>(nMaterial) >= doc.materials.size()) {
        return REPORTED(E_INVALIDARG);
    }
    const CMorv3DLoader::tMaterialMaps& maps = doc.materials[static_cast<size_t>(nMaterial)];
    if (nMap >= 0 && static_cast<size_t>(nMap) >= maps.size()) {
        return REPORTED(E_INVALIDARG);
    }
    pText->clear();
    HRESULT hr = S_OK;
    try {
        Line(*pText, "Kind: %s", nMap < 0 ? "material" : "map");
        Line(*pText, "Material: %" PRId32, nMaterial);
        Line(*pText, "Maps: %zu", maps.size());
        for (size_t i = 0; i < maps.size() && SUCCEEDED(hr); ++i) {
            if (nMap < 0 || static_cast<size_t>(nMap) == i) {
                hr = MapLines(*pText, maps[i], i, resolve);
            }
        }
    } catch (const std::bad_alloc&) {
        hr = REPORTED(E_OUTOFMEMORY);
    }
    if (FAILED(hr)) {
        pText->clear();
    }
    return hr;
}

HRESULT EntryProperties(const StructureTree& tree, size_t nEntry, const CMorv3dViewerDoc& doc,
                        const TextureResolver& resolve, std::string* pText) {
    if (pText == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    pText->clear();
    const EntryInfo info = DescribeEntry(tree, nEntry);
    switch (info.kind) {
        case EEntryKind::Object:
        case EEntryKind::Animation:
            return info.pObject != nullptr ? ObjectProperties(info.pObject, pText) : S_OK;
        case EEntryKind::Material:
        case EEntryKind::Map:
            // A tree built from another document could name a material this one lacks.
            if (info.nMaterial < 0 || static_cast<size_t>(info.nMaterial) >= doc.materials.size()) {
                return S_OK;
            }
            return MaterialProperties(doc, info.nMaterial, info.nMap, resolve, pText);
        default:
            return S_OK;
    }
}
