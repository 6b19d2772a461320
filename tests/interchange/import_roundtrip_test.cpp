// A scene exported to .glb and imported again comes back as it was: the same tree (names,
// order, kinds), the same triangles, and, at the key times of the original, the same world
// matrices and morphed vertices (within kMatrixTolerance and kVertexTolerance).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "cli/runcommand.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;

// Matrices: the export samples rotations within 0.001 rad; between those samples the import
// turns with an eased parameter (within a tenth of each sample's turn); 32-bit floats.
constexpr double kMatrixTolerance = 5e-3;
// Vertices, relative to the scene's extent.
constexpr double kVertexTolerance = 1e-4;

bool Near(const Vector3& a, const Vector3& b) {
    return Length(Subtract(a, b)) <= 1e-5f * (1.0f + Length(a));
}

// Whether a position track is where a straight line between keys puts it: at a key, outside
// the keys, or in a segment whose control points lie a third of the way along it. Glitf's cubic
// splines carry the rest, but Assimp 5.2 reads them as lines between the keys.
bool StraightAt(const PositionTrack& keys, uint32_t dwTime) {
    for (size_t i = 1; i < keys.size(); ++i) {
        const PositionKey& a = keys[i - 1];
        const PositionKey& b = keys[i];
        if (dwTime > a.dwTime && dwTime < b.dwTime) {
            const Vector3 third = Scale(1.0f / 3.0f, Subtract(b.vPosition, a.vPosition));
            return Near(a.vControlOut, Add(a.vPosition, third)) &&
                   Near(b.vControlIn, Subtract(b.vPosition, third));
        }
    }
    return true;
}

// The key times of the scene (node tracks and mesh frames, as the viewer jumps between them) at
// which every position track is straight.
std::vector<uint32_t> StraightKeyTimes(const std::vector<PlacedObject>& objects) {
    std::set<uint32_t> times{0};
    for (const PlacedObject& placed : objects) {
        if (const auto* pNode = dynamic_cast<const CQVR3DNode*>(placed.pObject)) {
            for (const PositionKey& key : pNode->transform.PositionKeys()) {
                times.insert(key.dwTime);
            }
            for (const RotationKey& key : pNode->transform.RotationKeys()) {
                times.insert(key.dwTime);
            }
        } else if (const auto* pMesh = dynamic_cast<const CQVR3DMesh*>(placed.pObject)) {
            for (size_t k = 0;
                 pMesh->pGeometry != nullptr && k < pMesh->pGeometry->morphKeys.size(); ++k) {
                times.insert(pMesh->pGeometry->morphKeys[k].dwTime);
            }
        }
    }
    std::vector<uint32_t> straight;
    for (const uint32_t dwTime : times) {
        bool bStraight = true;
        for (const PlacedObject& placed : objects) {
            if (placed.pObject->GetObjectType() == QVR3DOBJ_NODE) {
                bStraight =
                    bStraight &&
                    StraightAt(static_cast<CQVR3DNode*>(placed.pObject)->transform.PositionKeys(),
                               dwTime);
            }
        }
        if (bStraight) {
            straight.push_back(dwTime);
        }
    }
    return straight;
}

double Extent(const std::vector<PlacedObject>& objects) {
    double dExtent = 1.0;
    for (const PlacedObject& placed : objects) {
        if (placed.pObject->GetObjectType() != QVR3DOBJ_MESH) {
            continue;
        }
        const auto* pMesh = static_cast<CQVR3DMesh*>(placed.pObject);
        for (uint32_t v = 0; v < pMesh->pGeometry->dwVertexCount; ++v) {
            const Vector3 p = TransformPoint(pMesh->pVertices[v].vPosition, placed.world);
            dExtent = std::max(
                {dExtent, std::fabs(double(p.x)), std::fabs(double(p.y)), std::fabs(double(p.z))});
        }
    }
    return dExtent;
}

class ImportRoundTrip : public testing::TestWithParam<std::string> {};

TEST_P(ImportRoundTrip, GivesTheSceneBack) {
    CTempDir dir;
    // The sample, or one of the scenes of tests/data/interchange/scenes.
    const std::string strOriginal =
        std::string(MORV_SOURCE_DIR) +
        (GetParam() == "sample" ? "/examples/sample.morv3d"
                                : "/tests/data/interchange/scenes/" + GetParam() + ".morv3d");
    CommandResult result = RunCommand(kCli, {"export", strOriginal, dir.File("scene.glb")});
    ASSERT_EQ(result.nExitCode, 0) << result.strErr;
    result = RunCommand(kCli, {"import", dir.File("scene.glb"), dir.File("back.morv3d")});
    ASSERT_EQ(result.nExitCode, 0) << result.strErr;

    // Names, order and kinds of the tree, and which objects are animated.
    const CommandResult before = RunCommand(kCli, {"tree", strOriginal, "--flags", "7"});
    const CommandResult after = RunCommand(kCli, {"tree", dir.File("back.morv3d"), "--flags", "7"});
    EXPECT_EQ(after.strOut, before.strOut);

    const std::unique_ptr<LoadedScene> pOriginal = LoadScene(strOriginal);
    const std::unique_ptr<LoadedScene> pBack = LoadScene(dir.File("back.morv3d"));
    ASSERT_NE(pOriginal->pRoot, nullptr);
    ASSERT_NE(pBack->pRoot, nullptr);
    EXPECT_EQ(pBack->pRoot->GetAnimationTimeHierarchy(),
              pOriginal->pRoot->GetAnimationTimeHierarchy());

    const double dTolerance = kVertexTolerance * Extent(PlaceObjects(pOriginal->pRoot));
    const std::vector<uint32_t> times = StraightKeyTimes(PlaceObjects(pOriginal->pRoot));
    EXPECT_FALSE(times.empty());
    for (const uint32_t dwTime : times) {
        const std::vector<PlacedObject> original = PlaceObjectsAt(pOriginal->pRoot, dwTime);
        const std::vector<PlacedObject> back = PlaceObjectsAt(pBack->pRoot, dwTime);
        ASSERT_EQ(back.size(), original.size());
        for (size_t i = 0; i < original.size(); ++i) {
            SCOPED_TRACE("time " + std::to_string(dwTime) + ", object " + std::to_string(i));
            if (original[i].pObject->GetObjectType() == QVR3DOBJ_NODE) {
                ASSERT_TRUE(
                    MatrixNear(back[i].world, original[i].world,
                               kMatrixTolerance * std::max(1.0, dTolerance / kVertexTolerance), 0));
                continue;
            }
            const std::vector<Vector3> expected = MeshCorners(*original[i].pObject);
            const std::vector<Vector3> actual = MeshCorners(*back[i].pObject);
            ASSERT_EQ(actual.size(), expected.size());
            for (size_t k = 0; k < expected.size(); ++k) {
                ASSERT_NEAR(actual[k].x, expected[k].x, dTolerance) << "corner " << k;
                ASSERT_NEAR(actual[k].y, expected[k].y, dTolerance) << "corner " << k;
                ASSERT_NEAR(actual[k].z, expected[k].z, dTolerance) << "corner " << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, ImportRoundTrip,
                         testing::Values("sample", "static", "animated", "morph", "blended"));

}  // namespace
