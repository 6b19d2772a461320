#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "examples.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "support/tempfile.h"

// The committed samples are what the generator writes today: run `make examples` after
// changing it.
TEST(Examples, CommittedSamplesMatchAFreshGeneration) {
    CTempDir dir;
    ASSERT_EQ(WriteAllExamples(dir.Path()), S_OK);
    std::vector<std::string> names = {"sample.morv", "sample.morv3d"};
    names.insert(names.end(), SampleTextureNames().begin(), SampleTextureNames().end());
    for (const std::string& strName : names) {
        const std::vector<uint8_t> fresh = ReadWholeFile(dir.File(strName));
        const std::vector<uint8_t> committed =
            ReadWholeFile(std::string(MORV_SOURCE_DIR) + "/examples/" + strName);
        EXPECT_FALSE(fresh.empty());
        EXPECT_EQ(fresh, committed) << strName;
    }
}

namespace {

struct SceneCounts {
    size_t nNodes = 0;
    size_t nDummies = 0;
    size_t nMeshes = 0;
    size_t nMorphKeys = 0;
    size_t nBlendedMeshes = 0;
    size_t nMaxDepth = 0;
};

void Count(CQVR3DObject* pObject, size_t nDepth, SceneCounts& counts) {
    counts.nMaxDepth = std::max(counts.nMaxDepth, nDepth);
    if (pObject->GetObjectType() == QVR3DOBJ_MESH) {
        const CQVR3DMeshData& geometry = *static_cast<CQVR3DMesh*>(pObject)->pGeometry;
        ++counts.nMeshes;
        counts.nMorphKeys += geometry.morphKeys.size();
        counts.nBlendedMeshes += (geometry.dwBlendFlags & QVR3DBLEND_SOME) ? 1 : 0;
        return;
    }
    ++counts.nNodes;
    counts.nDummies += std::string(pObject->GetName()).rfind("dmy", 0) == 0 ? 1 : 0;
    for (uint32_t i = 0; i < pObject->GetChildCount(); ++i) {
        Count(pObject->GetChild(i), nDepth + 1, counts);
    }
}

}  // namespace

// What the sample is meant to show a user of the viewer.
TEST(Examples, SampleSceneTeachesTheViewer) {
    const std::string strPath = std::string(MORV_SOURCE_DIR) + "/examples/sample.morv3d";
    CMorv3DSceneLoader loader(nullptr);
    ASSERT_EQ(loader.Load(strPath, MORV3D_LOAD_MATERIALS), S_OK);
    ASSERT_EQ(loader.Load(strPath, MORV3D_LOAD_OBJECTS), S_OK);
    std::unique_ptr<CQVR3DNode> pRoot(loader.DetachRoot());
    ASSERT_NE(pRoot, nullptr);

    std::vector<uint32_t> effects;
    for (const auto& material : loader.materials) {
        ASSERT_FALSE(material.empty());
        effects.push_back(material[0].morv3DMaterialMap.dwEffect);
        for (const auto& map : material) {
            EXPECT_FALSE(map.strTexture.empty());
        }
    }
    EXPECT_EQ(effects, (std::vector<uint32_t>{0, 0, 1, 3, 0}));
    EXPECT_EQ(loader.materials[1].size(), 2u);

    SceneCounts counts;
    Count(pRoot.get(), 0, counts);
    EXPECT_EQ(counts.nNodes, 13u);
    EXPECT_EQ(counts.nDummies, 2u);
    EXPECT_EQ(counts.nMeshes, 9u);
    EXPECT_EQ(counts.nBlendedMeshes, 5u);
    EXPECT_EQ(counts.nMorphKeys, 3u);
    EXPECT_GE(counts.nMaxDepth, 5u);  // scene, dmyPivot, arm, dmyTip, lamp, its mesh
    EXPECT_EQ(pRoot->GetAnimationTimeHierarchy(), 160u);

    auto* pWindows = static_cast<CQVR3DNode*>(pRoot->FindByName("windows"));
    ASSERT_NE(pWindows, nullptr);
    std::vector<std::string> order;
    for (CQVR3DObject* pChild : pWindows->Children()) {
        order.push_back(pChild->GetName());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"frame", "haze", "sortlast_glow", "sort0_window",
                                               "glass_sort1"}));

    // The pivot turns half way by the middle of the animation; the arm rises and sinks.
    auto* pPivot = static_cast<CQVR3DNode*>(pRoot->FindByName("dmyPivot"));
    auto* pArm = static_cast<CQVR3DNode*>(pRoot->FindByName("arm"));
    ASSERT_NE(pPivot, nullptr);
    ASSERT_NE(pArm, nullptr);
    pRoot->SetTime(80);
    EXPECT_NEAR(pPivot->GetLocalMatrix().m[0][0], -1.0f, 1e-5f);
    EXPECT_NEAR(pArm->GetLocalMatrix().m[3][2], 1.5f, 1e-5f);
    pRoot->SetTime(40);
    EXPECT_NEAR(pPivot->GetLocalMatrix().m[0][0], 0.0f, 1e-5f);
    pRoot->SetTime(160);
    EXPECT_NEAR(pPivot->GetLocalMatrix().m[0][0], 1.0f, 1e-5f);
    EXPECT_NEAR(pArm->GetLocalMatrix().m[3][2], 0.5f, 1e-5f);
}
