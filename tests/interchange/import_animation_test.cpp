// Animation survives the import: the engine's evaluation of the scene is held against Assimp's
// own interpolation of the original (linear positions and scales, spherical rotations, linear
// morph weights), at 30 key time units per second.
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <set>
#include <span>

#include "engine/3dobjects/axes.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/importmodels.h"
#include "interchange/importscene.h"
#include "interchange/keytracks.h"
#include "support/tempfile.h"

namespace {

constexpr double kUnitsPerSecond = 30.0;
constexpr size_t kSampledTimes = 24;

// Assimp's keys of one kind as a track.
template <typename Key>
KeyTrack TrackOf(const Key* pKeys, unsigned nKeys, EInterpolation interpolation) {
    KeyTrack track{{}, {}, interpolation};
    for (unsigned k = 0; k < nKeys; ++k) {
        track.times.push_back(pKeys[k].mTime);
        const auto& v = pKeys[k].mValue;
        if constexpr (std::is_same_v<Key, aiQuatKey>) {
            track.values.insert(track.values.end(), {v.x, v.y, v.z, v.w});
        } else {
            track.values.insert(track.values.end(), {v.x, v.y, v.z});
        }
    }
    return track;
}

// Row-vector local matrix of an Assimp node at a time: its transformation, or its channel's
// keys over the parts of it they leave.
Matrix4 LocalAt(const aiNode& node, const aiAnimation& animation, double dTicks) {
    for (unsigned c = 0; c < animation.mNumChannels; ++c) {
        const aiNodeAnim& ch = *animation.mChannels[c];
        if (ch.mNodeName != node.mName) {
            continue;
        }
        aiVector3D s, t;
        aiQuaternion r;
        node.mTransformation.Decompose(s, r, t);
        const EInterpolation linear = EInterpolation::Linear;
        return ComposeTRS(
            SampleTrack(TrackOf(ch.mPositionKeys, ch.mNumPositionKeys, linear), dTicks,
                        {t.x, t.y, t.z}),
            SampleTrack(TrackOf(ch.mRotationKeys, ch.mNumRotationKeys, EInterpolation::Spherical),
                        dTicks, {r.x, r.y, r.z, r.w}),
            SampleTrack(TrackOf(ch.mScalingKeys, ch.mNumScalingKeys, linear), dTicks,
                        {s.x, s.y, s.z}));
    }
    Matrix4 m;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            m.m[c][r] = node.mTransformation[r][c];
        }
    }
    return m;
}

// Assimp's nodes in pre-order with their world matrices at a time.
std::vector<std::pair<const aiNode*, Matrix4>> AssimpWorlds(const aiScene& scene, double dTicks) {
    std::vector<std::pair<const aiNode*, Matrix4>> placed;
    std::vector<std::pair<const aiNode*, Matrix4>> pending{{scene.mRootNode, Matrix4::Identity()}};
    while (!pending.empty()) {
        const auto [pNode, parent] = pending.back();
        pending.pop_back();
        const Matrix4 world = MatrixProduct(LocalAt(*pNode, *scene.mAnimations[0], dTicks), parent);
        placed.push_back({pNode, world});
        for (unsigned c = pNode->mNumChildren; c-- > 0;) {
            pending.push_back({pNode->mChildren[c], world});
        }
    }
    return placed;
}

// Times at which every track of the scene has a key, at most kSampledTimes of them.
std::vector<uint32_t> SharedKeyTimes(const std::vector<PlacedObject>& objects) {
    std::vector<uint32_t> shared;
    bool bFirst = true;
    for (const PlacedObject& placed : objects) {
        if (placed.pObject->GetObjectType() != QVR3DOBJ_NODE) {
            continue;
        }
        const CQVR3DTransform& transform = static_cast<CQVR3DNode*>(placed.pObject)->transform;
        std::vector<uint32_t> positions, rotations;
        for (const PositionKey& key : transform.PositionKeys())
            positions.push_back(key.dwTime);
        for (const RotationKey& key : transform.RotationKeys())
            rotations.push_back(key.dwTime);
        for (const std::vector<uint32_t>* pTimes : {&positions, &rotations}) {
            if (pTimes->empty()) {
                continue;
            }
            std::vector<uint32_t> both;
            std::set_intersection(shared.begin(), shared.end(), pTimes->begin(), pTimes->end(),
                                  std::back_inserter(both));
            shared = bFirst ? *pTimes : both;
            bFirst = false;
        }
    }
    std::vector<uint32_t> sampled;
    for (size_t i = 0; i < kSampledTimes && !shared.empty(); ++i) {
        const uint32_t dwTime = shared[i * (shared.size() - 1) / (kSampledTimes - 1)];
        if (sampled.empty() || sampled.back() != dwTime) {
            sampled.push_back(dwTime);
        }
    }
    return sampled;
}

// A row of import_animation.tsv: path, kind.
class ImportAnimation : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ImportAnimation, FollowsAssimpAtSharedKeyTimes) {
    const std::string strModels = TestModelsDir();
    if (strModels.empty()) {
        GTEST_SKIP() << kNoModels;
    }
    const std::string strModel = strModels + "/" + GetParam().at(1);
    CTempDir dir;
    ImportReport report;
    ASSERT_TRUE(SUCCEEDED(ImportScene(strModel, dir.File("scene.morv3d"), &report)))
        << report.strError;
    const std::unique_ptr<LoadedScene> pLoaded = LoadScene(dir.File("scene.morv3d"));
    CQVR3DObject* pRoot = pLoaded->pRoot;
    ASSERT_NE(pRoot, nullptr);

    // The same reading as the import's, so that the vertices come in the same order.
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_PP_SLM_VERTEX_LIMIT, 0xFFFF);
    importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
    importer.SetPropertyBool(AI_CONFIG_PP_FD_CHECKAREA, false);
    const aiScene* pScene = importer.ReadFile(
        strModel, aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                      aiProcess_JoinIdenticalVertices | aiProcess_SplitLargeMeshes |
                      aiProcess_ValidateDataStructure | aiProcess_FindDegenerates);
    ASSERT_TRUE(pScene != nullptr && pScene->mNumAnimations > 0);
    const aiAnimation& animation = *pScene->mAnimations[0];
    const double dTicksPerSecond = animation.mTicksPerSecond > 0 ? animation.mTicksPerSecond : 25.0;
    auto ticksAt = [&](uint32_t dwTime) { return dwTime / kUnitsPerSecond * dTicksPerSecond; };

    if (GetParam().at(2) == "morph") {
        const aiMesh& source = *pScene->mMeshes[0];
        const aiMeshMorphAnim& channel = *animation.mMorphMeshChannels[0];
        CQVR3DMesh* pMesh = nullptr;
        for (const PlacedObject& placed : PlaceObjects(pRoot)) {
            if (placed.pObject->GetObjectType() == QVR3DOBJ_MESH) {
                pMesh = static_cast<CQVR3DMesh*>(placed.pObject);
            }
        }
        ASSERT_NE(pMesh, nullptr);
        ASSERT_EQ(pMesh->pGeometry->dwVertexCount, source.mNumVertices);
        // The keys' weights, every target's in each, between keys linearly.
        const unsigned nTargets = source.mNumAnimMeshes;
        KeyTrack weightTrack;
        for (unsigned k = 0; k < channel.mNumKeys; ++k) {
            weightTrack.times.push_back(channel.mKeys[k].mTime);
            weightTrack.values.resize(weightTrack.values.size() + nTargets);
            for (unsigned t = 0; t < channel.mKeys[k].mNumValuesAndWeights; ++t) {
                ASSERT_LT(channel.mKeys[k].mValues[t], nTargets);
                weightTrack.values[k * nTargets + channel.mKeys[k].mValues[t]] =
                    static_cast<float>(channel.mKeys[k].mWeights[t]);
            }
        }
        for (uint32_t dwTime = 0; dwTime <= pRoot->GetAnimationTimeHierarchy(); dwTime += 7) {
            pRoot->SetTime(dwTime);
            pMesh->UpdateTime();
            const std::vector<float> weights =
                SampleTrack(weightTrack, ticksAt(dwTime), std::vector<float>(nTargets));
            for (unsigned v = 0; v < source.mNumVertices; ++v) {
                aiVector3D expected = source.mVertices[v];
                for (unsigned k = 0; k < nTargets; ++k) {
                    expected +=
                        (source.mAnimMeshes[k]->mVertices[v] - source.mVertices[v]) * weights[k];
                }
                const Vector3& actual = pMesh->pVertices[v].vPosition;
                ASSERT_NEAR(actual.x, expected.x, 1e-5f) << "time " << dwTime << " vertex " << v;
                ASSERT_NEAR(actual.y, expected.y, 1e-5f) << "time " << dwTime << " vertex " << v;
                ASSERT_NEAR(actual.z, expected.z, 1e-5f) << "time " << dwTime << " vertex " << v;
            }
        }
        return;
    }

    const std::vector<uint32_t> times = SharedKeyTimes(PlaceObjects(pRoot));
    ASSERT_GE(times.size(), 2u) << "no key times shared by every track";
    for (const uint32_t dwTime : times) {
        std::vector<PlacedObject> nodes;
        for (const PlacedObject& placed : PlaceObjectsAt(pRoot, dwTime)) {
            if (placed.pObject->GetObjectType() == QVR3DOBJ_NODE) {
                nodes.push_back(placed);
            }
        }
        const auto expected = AssimpWorlds(*pScene, ticksAt(dwTime));
        ASSERT_EQ(nodes.size(), expected.size());
        for (size_t n = 0; n < nodes.size(); ++n) {
            ASSERT_STREQ(nodes[n].pObject->GetName(), expected[n].first->mName.C_Str());
            // Within 2e-4 of the largest entry: a long arm turns its far end's place further.
            const Matrix4& e = expected[n].second;
            double dLargest = 1.0;
            for (const float f : std::span(&e.m[0][0], 16)) {
                dLargest = std::max(dLargest, std::fabs(static_cast<double>(f)));
            }
            ASSERT_TRUE(
                MatrixNear(MatrixProduct(nodes[n].world, WorldToViewAxes()), e, 2e-4 * dLargest, 0))
                << "node " << expected[n].first->mName.C_Str() << " time " << dwTime;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ImportAnimation,
                         testing::ValuesIn(ReadTable("import_animation.tsv")),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return TestName(info.param.at(1));
                         });

}  // namespace
