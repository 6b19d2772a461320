// Descriptions for the scene writer held as text under tests/data/ (the format is described at
// the top of tests/data/scene/descriptions.txt), so that a test names the scene it writes
// instead of building it field by field.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "fileformats/morv3d/morv3dwriter.h"
#include "support/table.h"

namespace scenedesc {

// Each field takes the next word of the record: numbers may be "nan" or "0x...", a name "-"
// for none and "\xHH" for a byte a word cannot hold (a space); fields left off at the end of
// a record are 0.
inline std::string Next(std::istream& in) {
    std::string strWord;
    return in >> strWord ? strWord : "0";
}
inline void Read(std::istream& in, float& f) {
    f = std::strtof(Next(in).c_str(), nullptr);
}
template <typename T>
requires std::is_integral_v<T>
void Read(std::istream& in, T& value) {
    value = static_cast<T>(std::stoul(Next(in), nullptr, 0));
}
inline void Read(std::istream& in, std::string& str) {
    str = Next(in);
    str = str == "-" ? "" : UnescapeBytes(str);
}
inline void Read(std::istream& in, Vector3& v) {
    Read(in, v.x), Read(in, v.y), Read(in, v.z);
}
template <typename T, size_t N>
void Read(std::istream& in, T (&array)[N]) {
    for (T& element : array) {
        Read(in, element);
    }
}
template <typename... T>
void ReadAll(std::istream& in, T&... fields) {
    (Read(in, fields), ...);
}

// One record for the scene being read; nodes[d] is the last node read at depth d.
inline void ReadRecord(const std::string& strKey, std::istream& in, Morv3DSceneDesc& scene,
                       std::vector<Morv3DNodeDesc*>& nodes, Morv3DMeshDesc*& pMesh) {
    Morv3DNodeDesc* pNode = nodes.empty() ? nullptr : nodes.back();
    if (strKey == "materials") {
        const std::string strWhere = Next(in);
        scene.bWriteMaterials = strWhere != "none";
        scene.bMaterialsAfterObjects = strWhere == "after";
    } else if (strKey == "material") {
        Read(in, scene.materials.emplace_back().adwKept);
    } else if (strKey == "map") {
        Morv3DMapDesc& map = scene.materials.back().maps.emplace_back();
        ReadAll(in, map.record.dwKept1, map.record.dwKept2, map.record.dwEffect, map.strTexture);
    } else if (strKey == "node" || strKey == "mesh") {
        uint32_t dwDepth = 0;
        Read(in, dwDepth);
        ASSERT_TRUE(dwDepth <= nodes.size() && (dwDepth > 0 || strKey == "node"));
        nodes.resize(dwDepth);
        if (strKey == "mesh") {
            pMesh = nodes.back()->AddMesh().get();
            ReadAll(in, pMesh->dwComponentFlags, pMesh->vCenter, pMesh->fRadius);
        } else if (dwDepth == 0) {
            scene.pRoot = std::make_shared<Morv3DNodeDesc>();
            Read(in, scene.pRoot->strName);
            nodes.push_back(scene.pRoot.get());
        } else {
            nodes.push_back(nodes.back()->AddNode("").get());
            Read(in, nodes.back()->strName);
        }
    } else if (strKey == "flags") {
        Read(in, pNode->dwFlags);
    } else if (strKey == "matrix") {
        Read(in, pNode->matrix.m);
    } else if (strKey == "spheres") {
        ReadAll(in, pNode->vLocalCenter, pNode->fLocalRadius, pNode->vParentCenter,
                pNode->fParentRadius);
    } else if (strKey == "tracks") {
        pNode->bWriteTracks = true;
        ReadAll(in, pNode->dwPositionKeySize, pNode->dwRotationKeySize);
    } else if (strKey == "position") {
        PositionKey& key = pNode->positionKeys.emplace_back();
        ReadAll(in, key.dwTime, key.vPosition, key.vControlIn, key.vControlOut);
    } else if (strKey == "rotation") {
        RotationKey& key = pNode->rotationKeys.emplace_back();
        ReadAll(in, key.dwTime, key.vAxis, key.fAngle, key.afBlock, key.abUnused);
    } else if (strKey == "group") {
        FileGroup& group = pMesh->groups.emplace_back();
        ReadAll(in, group.dwFirstFace, group.dwFaceCount, group.dwBaseVertex, group.dwReserved,
                group.dwMaterial);
    } else if (strKey == "face") {
        Read(in, pMesh->faces.emplace_back().adwIndex);
    } else if (strKey == "frame") {
        Morv3DFrameDesc& frame = pMesh->frames.emplace_back();
        ReadAll(in, frame.dwTime, frame.bBlend, frame.dwBlendDuration, frame.dwHeaderSize);
    } else if (strKey == "vertex") {
        Morv3DFileVertex& v = pMesh->frames.back().vertices.emplace_back();
        ReadAll(in, v.vPosition, v.vNormal, v.dwExtra1, v.dwExtra2, v.fU, v.fV);
    } else {
        ADD_FAILURE() << "unknown record " << strKey;
    }
}

}  // namespace scenedesc

// The description titled strTitle in tests/data/<strFile>.
inline Morv3DSceneDesc ReadSceneDesc(const std::string& strFile, const std::string& strTitle) {
    std::ifstream file(std::string(MORV_SOURCE_DIR) + "/tests/data/" + strFile);
    Morv3DSceneDesc scene;
    std::vector<Morv3DNodeDesc*> nodes;
    Morv3DMeshDesc* pMesh = nullptr;
    int nTitleLine = 0;
    bool bInScene = false;
    std::string strLine;
    for (int nLine = 1; std::getline(file, strLine); ++nLine) {
        if (strLine.rfind("== ", 0) == 0) {
            bInScene = strLine.substr(3) == strTitle;
            nTitleLine = bInScene ? nLine : nTitleLine;
            continue;
        }
        std::istringstream in(strLine.substr(0, strLine.find('#')));
        std::string strKey;
        if (bInScene && in >> strKey) {
            SCOPED_TRACE(strFile + ":" + std::to_string(nLine));
            scenedesc::ReadRecord(strKey, in, scene, nodes, pMesh);
        }
    }
    EXPECT_NE(nTitleLine, 0) << strFile << " has no scene \"" << strTitle << "\"";
    return scene;
}
