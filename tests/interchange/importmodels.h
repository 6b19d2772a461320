// Shared pieces of the import tests: the test models, their table, and what a loaded scene
// shows in Assimp's space.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/3dobjects/objects.h"
#include "fileformats/loadedscene.h"
#include "support/table.h"

// The folder of the assimp-testmodels package; empty when it is not installed.
std::string TestModelsDir();
// Why a test that needs the models is skipped.
constexpr const char* kNoModels =
    "the assimp-testmodels package is not installed (scripts/install-deps installs it)";

// A path or name as a test name: everything but letters and digits becomes '_'.
std::string TestName(std::string str);
// The names of a folder's entries.
std::set<std::string> FilesIn(const std::string& strDir);

// World matrices of a loaded tree at its current time, each node's and mesh's (a mesh's is its
// parent's), in pre-order.
struct PlacedObject {
    CQVR3DObject* pObject = nullptr;
    Matrix4 world;
};
std::vector<PlacedObject> PlaceObjects(CQVR3DObject* pRoot);
// The same at a time, evaluated afresh (away first: a time equal to the one applied last is not
// evaluated again), each mesh brought to the time.
std::vector<PlacedObject> PlaceObjectsAt(CQVR3DObject* pRoot, uint32_t dwTime);
// Corners of every triangle of a mesh in its node's space, group by group, each triangle wound
// to face where its normals point (as export and import turn it).
// bBaseShape: the stored shape instead of the one shown at the mesh's time (morph frames).
std::vector<Vector3> MeshCorners(const CQVR3DObject& mesh, bool bBaseShape = false);

// Whether each entry of the first nColumns columns is within max(dAbsolute, dRelative x
// |expected|) of the expected one; the failure names the first that is not.
testing::AssertionResult MatrixNear(const Matrix4& actual, const Matrix4& expected,
                                    double dAbsolute, double dRelative, int nColumns = 4);

// Opens a scene file in the loader's two passes; fails the test when it does not load completely.
std::unique_ptr<LoadedScene> LoadScene(const std::string& strPath);
