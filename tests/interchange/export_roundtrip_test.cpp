// Every format round-trips the sample (export_roundtrip.tsv): `morv3d export` then
// `morv3d import` at a rate other than the default gives the same tree of names under `scene`
// (where the format has a hierarchy), the same triangles, the same animation time within one
// unit (where it has animation), every vertex's world position within 1e-4 of the scene's size
// at the listed times, no "read in part", and a "dropped:" line for what the format cannot
// hold. The exported file itself, as its reader sees it, has every triangle facing where its
// normals point.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <tiny_gltf.h>
#include <assimp/Importer.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include "cli/runcommand.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/facing.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;
const std::string kSample = MORV_SOURCE_DIR "/examples/sample.morv3d";
const std::string kRate = "24";

std::vector<std::string> Split(const std::string& str, char cSeparator) {
    std::vector<std::string> parts;
    std::istringstream in(str);
    for (std::string strPart; std::getline(in, strPart, cSeparator);) {
        parts.push_back(strPart);
    }
    return parts;
}

Vector3 At(const std::vector<float>& values, size_t i) {
    return {values[3 * i], values[3 * i + 1], values[3 * i + 2]};
}

// The floats or indices of an accessor (tightly packed, as our export writes them).
std::vector<float> GltfFloats(const tinygltf::Model& model, int nAccessor) {
    const tinygltf::Accessor& accessor = model.accessors[nAccessor];
    const tinygltf::BufferView& view = model.bufferViews[accessor.bufferView];
    const size_t n = accessor.count * tinygltf::GetNumComponentsInType(accessor.type);
    std::vector<float> values(n);
    std::memcpy(values.data(),
                model.buffers[view.buffer].data.data() + view.byteOffset + accessor.byteOffset,
                n * sizeof(float));
    return values;
}

std::vector<uint32_t> GltfIndices(const tinygltf::Model& model, int nAccessor) {
    const tinygltf::Accessor& accessor = model.accessors[nAccessor];
    const tinygltf::BufferView& view = model.bufferViews[accessor.bufferView];
    const uint8_t* p =
        model.buffers[view.buffer].data.data() + view.byteOffset + accessor.byteOffset;
    std::vector<uint32_t> indices(accessor.count);
    for (size_t i = 0; i < accessor.count; ++i) {
        if (accessor.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
            uint16_t w = 0;
            std::memcpy(&w, p + 2 * i, 2);
            indices[i] = w;
        } else {
            std::memcpy(&indices[i], p + 4 * i, 4);
        }
    }
    return indices;
}

// Triangles of the exported file that wind against their normals, and all its triangles: glTF
// read by tinygltf, the rest by Assimp without post-processing beyond triangulation.
std::pair<size_t, size_t> WindingAgainstNormals(const std::string& strPath, bool bGltf) {
    size_t nAgainst = 0, nAll = 0;
    const auto count = [&](const Vector3* p, const Vector3* n) {
        nAgainst += WindsAgainstNormals(p[0], p[1], p[2], n[0], n[1], n[2]) ? 1 : 0;
        ++nAll;
    };
    if (bGltf) {
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int,
                                 const unsigned char*, int, void*) { return true; },
                              nullptr);
        std::string strError, strWarning;
        const bool bRead = strPath.ends_with(".glb")
                               ? loader.LoadBinaryFromFile(&model, &strError, &strWarning, strPath)
                               : loader.LoadASCIIFromFile(&model, &strError, &strWarning, strPath);
        EXPECT_TRUE(bRead) << strError;
        for (const tinygltf::Mesh& mesh : model.meshes) {
            for (const tinygltf::Primitive& primitive : mesh.primitives) {
                const std::vector<float> positions =
                    GltfFloats(model, primitive.attributes.at("POSITION"));
                const std::vector<float> normals =
                    GltfFloats(model, primitive.attributes.at("NORMAL"));
                const std::vector<uint32_t> indices = GltfIndices(model, primitive.indices);
                for (size_t f = 0; f + 2 < indices.size(); f += 3) {
                    Vector3 p[3], n[3];
                    for (int k = 0; k < 3; ++k) {
                        p[k] = At(positions, indices[f + k]);
                        n[k] = At(normals, indices[f + k]);
                    }
                    count(p, n);
                }
            }
        }
        return {nAgainst, nAll};
    }
    Assimp::Importer importer;
    const aiScene* pScene = importer.ReadFile(strPath, aiProcess_Triangulate);
    EXPECT_NE(pScene, nullptr) << importer.GetErrorString();
    for (unsigned m = 0; pScene != nullptr && m < pScene->mNumMeshes; ++m) {
        const aiMesh& mesh = *pScene->mMeshes[m];
        for (unsigned f = 0; mesh.mNormals != nullptr && f < mesh.mNumFaces; ++f) {
            Vector3 p[3], n[3];
            for (int k = 0; k < 3; ++k) {
                const unsigned v = mesh.mFaces[f].mIndices[k];
                p[k] = {mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z};
                n[k] = {mesh.mNormals[v].x, mesh.mNormals[v].y, mesh.mNormals[v].z};
            }
            count(p, n);
        }
    }
    return {nAgainst, nAll};
}

// Every triangle in world space at a time, corners in the order that faces its normals.
struct Triangle {
    Vector3 corners[3];
};

std::vector<Triangle> WorldTriangles(CQVR3DObject* pRoot, uint32_t dwTime, bool bBaseShape) {
    std::vector<Triangle> triangles;
    for (const PlacedObject& placed : PlaceObjectsAt(pRoot, dwTime)) {
        if (placed.pObject->GetObjectType() != QVR3DOBJ_MESH) {
            continue;
        }
        const std::vector<Vector3> corners = MeshCorners(*placed.pObject, bBaseShape);
        for (size_t i = 0; i + 2 < corners.size(); i += 3) {
            Triangle t;
            for (int k = 0; k < 3; ++k) {
                t.corners[k] = TransformPoint(corners[i + k], placed.world);
            }
            triangles.push_back(t);
        }
    }
    return triangles;
}

double Size(const std::vector<Triangle>& triangles) {
    Vector3 vMin{INFINITY, INFINITY, INFINITY}, vMax{-INFINITY, -INFINITY, -INFINITY};
    for (const Triangle& t : triangles) {
        for (const Vector3& p : t.corners) {
            vMin = {std::min(vMin.x, p.x), std::min(vMin.y, p.y), std::min(vMin.z, p.z)};
            vMax = {std::max(vMax.x, p.x), std::max(vMax.y, p.y), std::max(vMax.z, p.z)};
        }
    }
    return Length(Subtract(vMax, vMin));
}

// The largest distance of a corner from its match: each original triangle is matched with the
// nearest unmatched one read back, corners compared in their cyclic order (the formats may
// start a triangle at another corner, and a format without hierarchy keeps no object order).
double LargestDistance(const std::vector<Triangle>& original, std::vector<Triangle> back) {
    double dWorst = 0.0;
    for (const Triangle& t : original) {
        double dBest = INFINITY;
        size_t nBest = 0;
        for (size_t j = 0; j < back.size(); ++j) {
            for (int r = 0; r < 3; ++r) {
                double d = 0.0;
                for (int k = 0; k < 3; ++k) {
                    d = std::max(
                        d, double(Length(Subtract(t.corners[k], back[j].corners[(k + r) % 3]))));
                }
                if (d < dBest) {
                    dBest = d;
                    nBest = j;
                }
            }
        }
        if (back.empty()) {
            return INFINITY;
        }
        dWorst = std::max(dWorst, dBest);
        back.erase(back.begin() + static_cast<ptrdiff_t>(nBest));
    }
    return dWorst;
}

class ExportRoundTrip : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ExportRoundTrip, GivesTheSampleBack) {
    // format, tree, triangles, animation time, times, shape, dropped
    const std::vector<std::string>& row = GetParam();
    ASSERT_EQ(row.size(), 9u) << "short row " << row[0];
    const std::string& strFormat = row[1];
    CTempDir dir;
    const std::string strOut = dir.File("sample." + strFormat);
    const CommandResult exported = RunCommand(kCli, {"export", kSample, strOut, "--rate", kRate});
    ASSERT_EQ(exported.nExitCode, 0) << exported.strOut << exported.strErr;
    for (const std::string& strDropped : Split(row[7], ';')) {
        if (strDropped != "-") {
            EXPECT_NE(exported.strErr.find("dropped: " + strDropped), std::string::npos)
                << "no 'dropped: " << strDropped << "' in\n"
                << exported.strErr;
        }
    }
    if (row[8] != "-") {
        const auto [nAgainst, nAll] =
            WindingAgainstNormals(strOut, strFormat == "glb" || strFormat == "gltf");
        EXPECT_EQ(nAgainst, 0u) << "triangles winding against their normals";
        EXPECT_EQ(nAll, std::stoul(row[8])) << "triangles with normals in the file";
    }

    const std::string strBack = dir.File("back.morv3d");
    const CommandResult imported = RunCommand(kCli, {"import", strOut, strBack, "--rate", kRate});
    ASSERT_EQ(imported.nExitCode, 0) << imported.strErr;
    EXPECT_EQ(imported.strErr.find("in part"), std::string::npos) << imported.strErr;
    if (row[2] == "tree") {
        const CommandResult before = RunCommand(kCli, {"tree", kSample, "--flags", "3"});
        const CommandResult after = RunCommand(kCli, {"tree", strBack, "--flags", "3"});
        EXPECT_EQ(after.strOut, before.strOut);
    }
    const std::unique_ptr<LoadedScene> pOriginal = LoadScene(kSample);
    const std::unique_ptr<LoadedScene> pBack = LoadScene(strBack);
    ASSERT_NE(pBack->pRoot, nullptr);
    const double dAnimation = pBack->pRoot->GetAnimationTimeHierarchy();
    EXPECT_NEAR(dAnimation, std::stod(row[4]), 1.0);
    const double dTolerance = 1e-4 * Size(WorldTriangles(pOriginal->pRoot, 0, false));
    for (const std::string& strTime : Split(row[5], ',')) {
        const auto dwTime = static_cast<uint32_t>(std::stoul(strTime));
        const std::vector<Triangle> original =
            WorldTriangles(pOriginal->pRoot, dwTime, row[6] == "base");
        const std::vector<Triangle> back = WorldTriangles(pBack->pRoot, dwTime, false);
        EXPECT_EQ(back.size(), std::stoul(row[3])) << "at " << dwTime;
        EXPECT_EQ(original.size(), std::stoul(row[3]));
        EXPECT_LE(LargestDistance(original, back), dTolerance) << "at " << dwTime;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportRoundTrip,
                         testing::ValuesIn(ReadTable("interchange/export_roundtrip.tsv")),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return info.param.size() > 1 ? TestName(info.param[1])
                                                          : std::string("short");
                         });

}  // namespace
