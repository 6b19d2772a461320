// Descriptions for the scene writer held as text under tests/data/ (the format is described at
// the top of tests/data/scene/descriptions.txt), so that a test names the scene it writes
// instead of building it field by field.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fileformats/morv3d/morv3dwriter.h"

namespace scenedesc {

// The next nCount numbers of a record ("nan" and "0x..." allowed); those left off are 0.
inline std::vector<float> Floats(std::istream& in, size_t nCount) {
    std::vector<float> values(nCount);
    std::string strWord;
    for (float& f : values) {
        f = in >> strWord ? std::strtof(strWord.c_str(), nullptr) : 0.0f;
    }
    return values;
}

inline uint32_t Word(std::istream& in) {
    std::string strWord;
    return in >> strWord ? static_cast<uint32_t>(std::stoul(strWord, nullptr, 0)) : 0;
}

inline Vector3 Vec(std::istream& in) {
    const std::vector<float> v = Floats(in, 3);
    return {v[0], v[1], v[2]};
}

// A name or texture; "-" stands for none.
inline std::string Name(std::istream& in) {
    std::string strName;
    in >> strName;
    return strName == "-" ? "" : strName;
}

// One record for the scene being read; nodes[d] is the last node read at depth d.
inline void ReadRecord(const std::string& strKey, std::istream& in, Morv3DSceneDesc& scene,
                       std::vector<Morv3DNodeDesc*>& nodes, Morv3DMeshDesc*& pMesh) {
    Morv3DNodeDesc* pNode = nodes.empty() ? nullptr : nodes.back();
    if (strKey == "materials") {
        const std::string strWhere = Name(in);
        scene.bWriteMaterials = strWhere != "none";
        scene.bMaterialsAfterObjects = strWhere == "after";
    } else if (strKey == "material") {
        scene.materials.emplace_back();
        scene.materials.back().adwKept[0] = Word(in);
        scene.materials.back().adwKept[1] = Word(in);
    } else if (strKey == "map") {
        Morv3DMapDesc map;
        map.record.dwKept1 = Word(in);
        map.record.dwKept2 = Word(in);
        map.record.dwEffect = Word(in);
        map.strTexture = Name(in);
        scene.materials.back().maps.push_back(map);
    } else if (strKey == "node" || strKey == "mesh") {
        const uint32_t dwDepth = Word(in);
        ASSERT_TRUE(dwDepth <= nodes.size() && (dwDepth > 0 || strKey == "node"));
        nodes.resize(dwDepth);
        if (strKey == "mesh") {
            pMesh = nodes.back()->AddMesh().get();
            pMesh->dwComponentFlags = Word(in);
            pMesh->vCenter = Vec(in);
            pMesh->fRadius = Floats(in, 1)[0];
        } else if (dwDepth == 0) {
            scene.pRoot = std::make_shared<Morv3DNodeDesc>();
            scene.pRoot->strName = Name(in);
            nodes.push_back(scene.pRoot.get());
        } else {
            nodes.push_back(nodes.back()->AddNode(Name(in)).get());
        }
    } else if (strKey == "flags") {
        pNode->dwFlags = Word(in);
    } else if (strKey == "matrix") {
        const std::vector<float> m = Floats(in, 16);
        for (int i = 0; i < 16; ++i) {
            pNode->matrix.m[i / 4][i % 4] = m[i];
        }
    } else if (strKey == "spheres") {
        pNode->vLocalCenter = Vec(in);
        pNode->fLocalRadius = Floats(in, 1)[0];
        pNode->vParentCenter = Vec(in);
        pNode->fParentRadius = Floats(in, 1)[0];
    } else if (strKey == "tracks") {
        pNode->bWriteTracks = true;
        pNode->dwPositionKeySize = Word(in);
        pNode->dwRotationKeySize = Word(in);
    } else if (strKey == "position") {
        PositionKey& key = pNode->positionKeys.emplace_back();
        key.dwTime = Word(in);
        key.vPosition = Vec(in);
        key.vControlIn = Vec(in);
        key.vControlOut = Vec(in);
    } else if (strKey == "rotation") {
        RotationKey& key = pNode->rotationKeys.emplace_back();
        key.dwTime = Word(in);
        key.vAxis = Vec(in);
        key.fAngle = Floats(in, 1)[0];
        const std::vector<float> block = Floats(in, 12);
        std::copy(block.begin(), block.end(), &key.afBlock[0][0]);
        for (uint8_t& b : key.abUnused) {
            b = static_cast<uint8_t>(Word(in));
        }
    } else if (strKey == "group") {
        FileGroup& group = pMesh->groups.emplace_back();
        group.dwFirstFace = Word(in);
        group.dwFaceCount = Word(in);
        group.dwBaseVertex = Word(in);
        group.dwReserved = Word(in);
        group.dwMaterial = Word(in);
    } else if (strKey == "face") {
        pMesh->faces.push_back({{Word(in), Word(in), Word(in)}});
    } else if (strKey == "frame") {
        Morv3DFrameDesc& frame = pMesh->frames.emplace_back();
        frame.dwTime = Word(in);
        frame.bBlend = Word(in) != 0;
        frame.dwBlendDuration = Word(in);
        frame.dwHeaderSize = Word(in);
    } else if (strKey == "vertex") {
        Morv3DFileVertex& v = pMesh->frames.back().vertices.emplace_back();
        v.vPosition = Vec(in);
        v.vNormal = Vec(in);
        v.dwExtra1 = Word(in);
        v.dwExtra2 = Word(in);
        v.fU = Floats(in, 1)[0];
        v.fV = Floats(in, 1)[0];
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
