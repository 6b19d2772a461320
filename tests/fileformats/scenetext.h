// A loaded scene as text: the materials, then the hierarchy in pre-order with every field the
// loader sets, so that a test compares one listing from tests/data/scene/ instead of field after
// field.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/3dobjects/mesh.h"
#include "fileformats/morv3d/morv3dloader.h"

namespace scenetext {

inline std::string Num(float f) {
    char sz[32];
    std::snprintf(sz, sizeof(sz), " %.9g", static_cast<double>(f));
    return sz;
}

inline std::string Vec(const Vector3& v) {
    return Num(v.x) + Num(v.y) + Num(v.z);
}

inline std::string Hex(uint32_t dw) {
    char sz[16];
    std::snprintf(sz, sizeof(sz), " %x", dw);
    return sz;
}

// One record of a morph key in the key vertex format: the components its flags name.
inline std::string KeyRecord(const uint8_t* p, uint32_t dwFormat) {
    std::string str;
    const char* const kNames[5] = {" p", " n", " e", " e", " uv"};
    for (uint32_t c = 0; c < 5; ++c) {
        if (!(dwFormat & (1u << c))) {
            continue;
        }
        str += kNames[c];
        for (uint32_t k = 0; k < kVertexComponentSizes[c] / 4; ++k, p += 4) {
            float f;
            uint32_t dw;
            std::memcpy(&f, p, 4);
            std::memcpy(&dw, p, 4);
            str += c == 2 || c == 3 ? Hex(dw) : Num(f);
        }
    }
    return str;
}

inline std::string Mesh(CQVR3DMesh& mesh, const std::string& strIndent) {
    const CQVR3DMeshData& geometry = *mesh.pGeometry;
    const uint16_t* pIndices = geometry.IndexBuffer();
    std::string str = strIndent + "mesh sphere" + Vec(mesh.vLocalSphereCenter) +
                      Num(mesh.fLocalSphereRadius) + " format" + Hex(geometry.dwKeyVertexFormat) +
                      " blend" + Hex(mesh.GetBlendFlags()) + " time " +
                      std::to_string(mesh.GetAnimationTime()) + " vertices " +
                      (mesh.pVertices == nullptr              ? "none"
                       : mesh.pVertices == geometry.pVertices ? "shared"
                                                              : "own") +
                      "\n";
    for (size_t g = 0; g < geometry.groups.size(); ++g) {
        const MeshGroup& group = geometry.groups[g];
        str += strIndent + "  group " + std::to_string(group.dwFirstIndex) + " " +
               std::to_string(group.dwIndexCount) + " base " + std::to_string(group.dwBaseVertex) +
               " reserved" + Hex(group.dwReserved) + " material " +
               (group.dwMaterial == kNoMaterial ? "none" : std::to_string(group.dwMaterial));
        if (g < mesh.groupIndexPointers.size() && pIndices != nullptr) {
            str += " at " + std::to_string(mesh.groupIndexPointers[g] - pIndices);
        }
        str += " effects";
        for (size_t j = 0; mesh.pMaps != nullptr && g < mesh.pMaps->groupMaps.size() &&
                           j < mesh.pMaps->groupMaps[g].size();
             ++j) {
            str += Hex(mesh.pMaps->groupMaps[g][j].dwEffect);
        }
        str += "\n";
    }
    if (pIndices != nullptr) {
        str += strIndent + "  indices";
        for (uint32_t i = 0; i < geometry.dwIndexCount; ++i) {
            str += " " + std::to_string(pIndices[i]);
        }
        str += "\n";
    }
    for (uint32_t i = 0; geometry.pVertices != nullptr && i < geometry.dwVertexCount; ++i) {
        const Vertex& v = geometry.pVertices[i];
        str += strIndent + "  vertex p" + Vec(v.vPosition) + " n" + Vec(v.vNormal) + " uv" +
               Num(v.fU) + Num(v.fV) + "\n";
    }
    const uint32_t dwStride = VertexComponentSize(geometry.dwKeyVertexFormat);
    for (const MorphKey& key : geometry.morphKeys) {
        str += strIndent + "  key " + std::to_string(key.dwTime) + " blend " +
               std::to_string(key.bBlend) + " duration " + std::to_string(key.dwBlendDuration) +
               "\n";
        for (uint32_t i = 0;
             key.pVertexData != nullptr && dwStride != 0 && i < geometry.dwVertexCount; ++i) {
            str += strIndent + "   " +
                   KeyRecord(key.pVertexData + static_cast<size_t>(i) * dwStride,
                             geometry.dwKeyVertexFormat) +
                   "\n";
        }
    }
    return str;
}

inline std::string Node(CQVR3DNode& node, const std::string& strIndent) {
    std::string str = strIndent + "node \"" + node.GetName() + "\" time " +
                      std::to_string(node.GetAnimationTime()) + "\n" + strIndent + "  matrix";
    for (int i = 0; i < 16; ++i) {
        str += Num(node.GetLocalMatrix().m[i / 4][i % 4]);
    }
    str += "\n" + strIndent + "  spheres" + Vec(node.vLocalSphereCenter) +
           Num(node.fLocalSphereRadius) + Vec(node.vParentSphereCenter) +
           Num(node.fParentSphereRadius) + "\n";
    for (const PositionKey& key : node.transform.PositionKeys()) {
        str += strIndent + "  position " + std::to_string(key.dwTime) + Vec(key.vPosition) + " in" +
               Vec(key.vControlIn) + " out" + Vec(key.vControlOut) + "\n";
    }
    for (const RotationKey& key : node.transform.RotationKeys()) {
        str += strIndent + "  rotation " + std::to_string(key.dwTime) + Vec(key.vAxis) + " angle" +
               Num(key.fAngle) + " block";
        for (int i = 0; i < 12; ++i) {
            str += Num(key.afBlock[i / 4][i % 4]);
        }
        str += " unused";
        for (uint8_t b : key.abUnused) {
            str += Hex(b);
        }
        str += "\n";
    }
    return str;
}

}  // namespace scenetext

// The materials, then every object of the hierarchy below pRoot (which may be null).
inline std::string SceneListing(const std::vector<CMorv3DLoader::tMaterialMaps>& materials,
                                CQVR3DNode* pRoot) {
    std::string str;
    for (const CMorv3DLoader::tMaterialMaps& material : materials) {
        str += "material\n";
        for (const CMorv3DLoader::tMaterialMap& map : material) {
            str += "  map" + scenetext::Hex(map.morv3DMaterialMap.dwKept1) +
                   scenetext::Hex(map.morv3DMaterialMap.dwKept2) + " effect" +
                   scenetext::Hex(map.morv3DMaterialMap.dwEffect) + " \"" + map.strTexture + "\"\n";
        }
    }
    std::vector<std::pair<CQVR3DObject*, std::string>> pending;
    if (pRoot != nullptr) {
        pending.push_back({pRoot, ""});
    }
    while (!pending.empty()) {
        const auto [pObject, strIndent] = pending.back();
        pending.pop_back();
        if (pObject->GetObjectType() == QVR3DOBJ_MESH) {
            str += scenetext::Mesh(*static_cast<CQVR3DMesh*>(pObject), strIndent);
        } else {
            str += scenetext::Node(*static_cast<CQVR3DNode*>(pObject), strIndent);
        }
        for (uint32_t i = pObject->GetChildCount(); i-- > 0;) {
            pending.push_back({pObject->GetChild(i), strIndent + "  "});
        }
    }
    return str;
}

// The listing titled strTitle in a file of listings, each started by a line "== title"; fails
// the test, naming the listing's line, when the actual text differs.
inline void ExpectListing(const std::string& strFile, const std::string& strTitle,
                          const std::string& strActual) {
    const std::string strPath = std::string(MORV_SOURCE_DIR) + "/tests/data/scene/" + strFile;
    std::ifstream in(strPath);
    std::string strLine;
    std::string strExpected;
    int nTitleLine = 0;
    for (int nLine = 1; std::getline(in, strLine); ++nLine) {
        if (strLine.rfind("== ", 0) == 0) {
            if (nTitleLine != 0) {
                break;
            }
            nTitleLine = strLine.substr(3) == strTitle ? nLine : 0;
        } else if (nTitleLine != 0 && strLine.rfind("#", 0) != 0) {
            strExpected += strLine + "\n";
        }
    }
    if (std::getenv("MORV_PRINT_LISTINGS") != nullptr) {
        std::ofstream(strPath + ".actual", std::ios::app) << "== " << strTitle << "\n" << strActual;
    }
    EXPECT_NE(nTitleLine, 0) << strFile << " has no listing \"" << strTitle << "\"";
    EXPECT_EQ(strActual, strExpected) << strFile << ":" << nTitleLine << " " << strTitle;
}
