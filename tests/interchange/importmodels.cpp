#include "interchange/importmodels.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "engine/3dobjects/mesh.h"
#include "interchange/facing.h"

std::string TestModelsDir() {
    const char* pszDir = "/usr/share/assimp/models";
    struct stat st;
    return ::stat(pszDir, &st) == 0 && S_ISDIR(st.st_mode) ? pszDir : "";
}

std::string TestName(std::string str) {
    for (char& c : str) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return str;
}

std::set<std::string> FilesIn(const std::string& strDir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(strDir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::vector<PlacedObject> PlaceObjects(CQVR3DObject* pRoot) {
    std::vector<PlacedObject> placed;
    std::vector<PlacedObject> pending{{pRoot, Matrix4::Identity()}};
    while (!pending.empty()) {
        PlacedObject item = pending.back();
        pending.pop_back();
        if (item.pObject->GetObjectType() == QVR3DOBJ_NODE) {
            item.pObject->TransformMatrix(item.world);  // local x parent's world
        }
        placed.push_back(item);
        for (uint32_t i = item.pObject->GetChildCount(); i-- > 0;) {
            pending.push_back({item.pObject->GetChild(i), item.world});
        }
    }
    return placed;
}

std::vector<PlacedObject> PlaceObjectsAt(CQVR3DObject* pRoot, uint32_t dwTime) {
    pRoot->SetTime(dwTime + 1);
    PlaceObjects(pRoot);
    pRoot->SetTime(dwTime);
    std::vector<PlacedObject> placed = PlaceObjects(pRoot);
    for (const PlacedObject& object : placed) {
        object.pObject->UpdateTime();
    }
    return placed;
}

std::vector<Vector3> MeshCorners(const CQVR3DObject& object, bool bBaseShape) {
    const auto& mesh = static_cast<const CQVR3DMesh&>(object);
    const CQVR3DMeshData& geometry = *mesh.pGeometry;
    const Vertex* pVertices = bBaseShape ? geometry.pVertices : mesh.pVertices;
    std::vector<Vector3> corners;
    for (const MeshGroup& group : geometry.groups) {
        for (uint32_t i = 0; i + 2 < group.dwIndexCount; i += 3) {
            const uint16_t* pFace = geometry.IndexBuffer() + group.dwFirstIndex + i;
            const Vertex& a = pVertices[group.dwBaseVertex + pFace[0]];
            const Vertex& b = pVertices[group.dwBaseVertex + pFace[1]];
            const Vertex& c = pVertices[group.dwBaseVertex + pFace[2]];
            const bool bTurn = WindsAgainstNormals(a.vPosition, b.vPosition, c.vPosition, a.vNormal,
                                                   b.vNormal, c.vNormal);
            corners.insert(corners.end(), {a.vPosition, bTurn ? c.vPosition : b.vPosition,
                                           bTurn ? b.vPosition : c.vPosition});
        }
    }
    return corners;
}

testing::AssertionResult MatrixNear(const Matrix4& actual, const Matrix4& expected,
                                    double dAbsolute, double dRelative, int nColumns) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < nColumns; ++c) {
            const double dExpected = expected.m[r][c];
            if (!(std::fabs(actual.m[r][c] - dExpected) <=
                  std::max(dAbsolute, dRelative * std::fabs(dExpected)))) {
                return testing::AssertionFailure() << "entry " << r << "," << c << ": "
                                                   << actual.m[r][c] << " for " << dExpected;
            }
        }
    }
    return testing::AssertionSuccess();
}

std::unique_ptr<LoadedScene> LoadScene(const std::string& strPath) {
    auto pScene = std::make_unique<LoadedScene>();
    EXPECT_TRUE(pScene->Open(strPath)) << strPath;
    return pScene;
}
