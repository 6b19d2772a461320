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

#include "engine/3dobjects/axes.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/importmodels.h"
#include "interchange/importscene.h"
#include "support/tempfile.h"

namespace {

constexpr double kUnitsPerSecond = 30.0;
constexpr size_t kSampledTimes = 24;

// Assimp's interpolation of a channel at a time; keys hold before the first and after the last.
template <typename Key, typename Value, typename Blend>
Value Sample(const Key* pKeys, unsigned nKeys, double dTicks, Value fallback, Blend blend) {
    if (nKeys == 0) {
        return fallback;
    }
    if (dTicks <= pKeys[0].mTime) {
        return pKeys[0].mValue;
    }
    for (unsigned k = 1; k < nKeys; ++k) {
        if (dTicks <= pKeys[k].mTime) {
            const double f = (dTicks - pKeys[k - 1].mTime) / (pKeys[k].mTime - pKeys[k - 1].mTime);
            return blend(pKeys[k - 1].mValue, pKeys[k].mValue, static_cast<float>(f));
        }
    }
    return pKeys[nKeys - 1].mValue;
}

aiMatrix4x4 LocalAt(const aiNode& node, const aiAnimation& animation, double dTicks) {
    for (unsigned c = 0; c < animation.mNumChannels; ++c) {
        const aiNodeAnim& ch = *animation.mChannels[c];
        if (ch.mNodeName != node.mName) {
            continue;
        }
        aiVector3D s, t;
        aiQuaternion r;
        node.mTransformation.Decompose(s, r, t);
        auto lerp = [](const aiVector3D& a, const aiVector3D& b, float f) {
            return a + (b - a) * f;
        };
        auto slerp = [](const aiQuaternion& a, const aiQuaternion& b, float f) {
            aiQuaternion q;
            aiQuaternion::Interpolate(q, a, b, f);
            return q.Normalize();
        };
        t = Sample(ch.mPositionKeys, ch.mNumPositionKeys, dTicks, t, lerp);
        r = Sample(ch.mRotationKeys, ch.mNumRotationKeys, dTicks, r, slerp);
        s = Sample(ch.mScalingKeys, ch.mNumScalingKeys, dTicks, s, lerp);
        aiMatrix4x4 translation, scaling;
        aiMatrix4x4::Translation(t, translation);
        aiMatrix4x4::Scaling(s, scaling);
        return translation * aiMatrix4x4(r.GetMatrix()) * scaling;
    }
    return node.mTransformation;
}

// Assimp's nodes in pre-order with their world matrices at a time.
std::vector<std::pair<const aiNode*, aiMatrix4x4>> AssimpWorlds(const aiScene& scene,
                                                                double dTicks) {
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> placed;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending{{scene.mRootNode, aiMatrix4x4()}};
    while (!pending.empty()) {
        const auto [pNode, parent] = pending.back();
        pending.pop_back();
        const aiMatrix4x4 world = parent * LocalAt(*pNode, *scene.mAnimations[0], dTicks);
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
    const std::string strModel = strModels + "/" + GetParam().at(0);
    CTempDir dir;
    ImportReport report;
    ASSERT_TRUE(SUCCEEDED(ImportScene(strModel, dir.File("scene.morv3d"), &report)))
        << report.strError;
    const std::unique_ptr<CMorv3dViewerDoc> pDoc = LoadScene(dir.File("scene.morv3d"));
    CQVR3DObject* pRoot = pDoc->_pNode;
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

    if (GetParam().at(1) == "morph") {
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
        for (uint32_t dwTime = 0; dwTime <= pRoot->GetAnimationTimeHierarchy(); dwTime += 7) {
            pRoot->SetTime(dwTime);
            pMesh->UpdateTime();
            // Weights between the keys around the time, linearly.
            const double dTicks = ticksAt(dwTime);
            unsigned b = 0;
            while (b + 1 < channel.mNumKeys && channel.mKeys[b].mTime < dTicks) {
                ++b;
            }
            const unsigned a = b > 0 ? b - 1 : 0;
            const double dSpan = channel.mKeys[b].mTime - channel.mKeys[a].mTime;
            const double f =
                dSpan > 0 ? std::clamp((dTicks - channel.mKeys[a].mTime) / dSpan, 0.0, 1.0) : 1.0;
            for (unsigned v = 0; v < source.mNumVertices; ++v) {
                aiVector3D expected = source.mVertices[v];
                for (const unsigned k : {a, b}) {
                    const double dWeight = k == a ? 1.0 - f : f;
                    for (unsigned t = 0; t < channel.mKeys[k].mNumValuesAndWeights; ++t) {
                        const aiAnimMesh& target = *source.mAnimMeshes[channel.mKeys[k].mValues[t]];
                        expected += (target.mVertices[v] - source.mVertices[v]) *
                                    static_cast<float>(dWeight * channel.mKeys[k].mWeights[t]);
                    }
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
            // Row-vector world x WorldToViewAxes() is Assimp's column-vector world, transposed.
            const Matrix4 actual = MatrixProduct(nodes[n].world, WorldToViewAxes());
            const aiMatrix4x4& e = expected[n].second;
            double dLargest = 1.0;
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    dLargest = std::max(dLargest, std::fabs(static_cast<double>(e[r][c])));
                }
            }
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    ASSERT_NEAR(actual.m[c][r], e[r][c], 2e-4 * dLargest)
                        << "node " << expected[n].first->mName.C_Str() << " time " << dwTime
                        << " entry " << r << "," << c;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ImportAnimation,
                         testing::ValuesIn(ReadTable("import_animation.tsv")),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return TestName(info.param.at(0));
                         });

}  // namespace
