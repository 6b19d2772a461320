// Pictures against committed baselines, and pictures against picks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "fileformats/scenedesc.h"
#include "render/viewpick.h"
#include "rendertest.h"
#include "support/table.h"
#include "support/tempfile.h"

using namespace render_test;

namespace {

// The scenes the cases name, written once into a folder of their own.
std::string ScenePath(const std::string& strScene, const CTempDir& dir) {
    if (strScene == "sample") {
        return SamplePath();
    }
    const std::string strPath = dir.File(strScene + ".morv3d");
    if (strScene == "bare") {
        std::filesystem::copy_file(SamplePath(), strPath);
        return strPath;
    }
    EXPECT_EQ(WriteMorv3DScene(strPath, ReadSceneDesc("render/scenes.txt", strScene)), S_OK);
    return strPath;
}

RenderOptions Options(const std::string& strList) {
    RenderOptions options;
    std::stringstream list(strList);
    for (std::string strName; std::getline(list, strName, ',');) {
        options.bWireframe |= strName == "wireframe";
        options.bEdges |= strName == "edges";
        options.bSpheres |= strName == "spheres";
        options.bNormals |= strName == "normals";
        options.bGrid |= strName == "grid";
        options.bAxes |= strName == "axes";
        options.dwTriangleBudget = strName == "batches" ? 2 : options.dwTriangleBudget;
    }
    return options;
}

EViewPreset View(const std::string& strName) {
    return strName == "front"  ? EViewPreset::Front
           : strName == "top"  ? EViewPreset::Top
           : strName == "side" ? EViewPreset::Side
                               : EViewPreset::Iso;
}

// Pixels whose channels differ by more than 40 from the baseline's; the rasteriser of another
// Mesa version moves edges by a pixel, not more.
size_t DifferingPixels(const CImageRGBA& a, const CImageRGBA& b) {
    size_t nDiffering = 0;
    for (size_t i = 0; i < a.pixels.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(a.pixels[i + c] - b.pixels[i + c]) > 40) {
                ++nDiffering;
                break;
            }
        }
    }
    return nDiffering;
}

}  // namespace

TEST(Pictures, MatchTheBaselines) {
    REQUIRE_GL();
    const std::string strData = std::string(MORV_SOURCE_DIR) + "/tests/data/render/";
    const bool bUpdate = std::getenv("MORV_UPDATE_BASELINES") != nullptr;
    CTempDir dir;
    const auto rows = ReadTable("render/cases.tsv");
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 6u) << row[0];
        const std::string& strName = row[1];
        const std::string& strScene = row[2];
        SCOPED_TRACE(row[0] + " " + strName);
        const Picture picture =
            Render(ScenePath(strScene, dir), static_cast<uint32_t>(std::stoul(row[3])),
                   View(row[4]), Options(row[5]));
        const std::string strBaseline = strData + strName + ".png";
        if (bUpdate) {
            EXPECT_EQ(WritePng(strBaseline, picture.image), S_OK);
            continue;
        }
        CImageRGBA baseline;
        std::string strError;
        ASSERT_EQ(LoadImageFile(strBaseline, baseline, strError), S_OK) << strError;
        ASSERT_EQ(baseline.nWidth, picture.image.nWidth);
        ASSERT_EQ(baseline.nHeight, picture.image.nHeight);
        const size_t nDiffering = DifferingPixels(baseline, picture.image);
        const size_t nAllowed = baseline.pixels.size() / 4 / 100;
        EXPECT_LE(nDiffering, nAllowed) << "the picture drawn is render_" << strName << ".png";
        if (nDiffering > nAllowed) {
            WritePng("render_" + strName + ".png", picture.image);
        }
        // The sample's textures are all there; its bare copy misses every one of them.
        if (strScene == "sample" || strScene == "bare") {
            EXPECT_EQ(picture.missing.size(), strScene == "bare" ? 6u : 0u);
        }
    }
    EXPECT_EQ(rows.size(), 13u);
}

// What a pick names is what the picture shows there: an id picture (each mesh in a colour of
// its own) against the engine's pick through the same pixel.
TEST(Pictures, PicksNameTheMeshDrawnThere) {
    REQUIRE_GL();
    constexpr int kWidth = 160;
    constexpr int kHeight = 120;
    for (const auto& [dwTime, view] :
         {std::pair{0u, EViewPreset::Iso}, std::pair{80u, EViewPreset::Front},
          std::pair{120u, EViewPreset::Top}}) {
        SCOPED_TRACE(dwTime);
        LoadedScene scene;
        ASSERT_TRUE(scene.Open(SamplePath()));
        scene.pRoot->SetTime(dwTime);
        CSceneRenderer renderer;
        COffscreenTarget target;
        std::string strError;
        ASSERT_EQ(renderer.Initialize(strError), S_OK);
        ASSERT_EQ(target.Create(kWidth, kHeight, strError), S_OK);
        renderer.SetScene(&scene.materials, scene.pRoot, nullptr);
        ASSERT_EQ(renderer.Prepare(), S_OK);
        const CCamera camera = CameraForPicture(renderer.Items(), kWidth, kHeight, view);
        ASSERT_EQ(renderer.Draw(camera, {}), S_OK);  // the ids then reuse the picture's buffers
        ASSERT_EQ(renderer.DrawIds(camera), S_OK);
        CImageRGBA ids;
        ASSERT_EQ(target.Read(ids), S_OK);
        const auto idAt = [&](int x, int y) {
            const uint8_t* p = &ids.pixels[(static_cast<size_t>(y) * kWidth + x) * 4];
            return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        };
        size_t nChecked = 0;
        size_t nOnMeshes = 0;
        for (int y = 1; y < kHeight - 1; y += 2) {
            for (int x = 1; x < kWidth - 1; x += 2) {
                // Pixels on an edge may go either way.
                const uint32_t dwId = idAt(x, y);
                bool bInside = true;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        bInside = bInside && idAt(x + dx, y + dy) == dwId;
                    }
                }
                if (!bInside) {
                    continue;
                }
                // The frame's list of meshes serves the pick as well as a walk of its own.
                std::vector<ViewHit> hits;
                std::vector<ViewHit> walked;
                ASSERT_EQ(PickThroughPixel(scene.pRoot, renderer.Items(), camera, x, y, hits),
                          S_OK);
                ASSERT_EQ(PickThroughPixel(scene.pRoot, camera, x, y, walked), S_OK);
                ASSERT_EQ(hits.size(), walked.size());
                for (size_t i = 0; i < hits.size(); ++i) {
                    EXPECT_EQ(hits[i].pMesh, walked[i].pMesh);
                    EXPECT_EQ(hits[i].nPickId, walked[i].nPickId);
                }
                ++nChecked;
                if (dwId == 0) {
                    EXPECT_TRUE(hits.empty()) << x << "," << y;
                } else {
                    ++nOnMeshes;
                    ASSERT_FALSE(hits.empty())
                        << x << "," << y << " " << ObjectPath(renderer.Items()[dwId - 1].pMesh);
                    // Coplanar meshes (the sample's frame and its glow) may show either one.
                    bool bFound = false;
                    for (const ViewHit& hit : hits) {
                        bFound |= hit.fDistance <= hits[0].fDistance * 1.0001f &&
                                  hit.pMesh == renderer.Items()[dwId - 1].pMesh;
                    }
                    EXPECT_TRUE(bFound) << x << "," << y;
                }
            }
        }
        EXPECT_GT(nOnMeshes, 60u);
        EXPECT_GT(nChecked, 3000u);
    }
}

// Scenes no artist would make still draw, without a crash or a hang.
TEST(Pictures, DegenerateScenesDraw) {
    REQUIRE_GL();
    CTempDir dir;
    Morv3DSceneDesc scene = ReadSceneDesc("render/scenes.txt", "odd");
    // 50,000 nodes, one quad shared by all of them through the description.
    const std::shared_ptr<Morv3DNodeDesc> pMany = scene.pRoot->children.back().pNode;
    const Morv3DNodeDesc first = *pMany->children.at(0).pNode;
    for (int i = 1; i < 50000; ++i) {
        auto pNode = std::make_shared<Morv3DNodeDesc>(first);
        pNode->matrix.m[3][0] = static_cast<float>(i % 250);
        pNode->matrix.m[3][2] = static_cast<float>(i / 250);
        pMany->children.push_back({pNode, nullptr});
    }
    ASSERT_EQ(WriteMorv3DScene(dir.File("odd.morv3d"), scene), S_OK);
    RenderOptions options;
    options.bEdges = options.bSpheres = options.bNormals = options.bGrid = options.bAxes = true;
    const Picture picture = Render(dir.File("odd.morv3d"), 0, EViewPreset::Iso, options, 64, 48);
    EXPECT_EQ(picture.image.nWidth, 64);
    ASSERT_EQ(picture.missing.size(), 2u);  // tex0.bmp, and /dev/zero never opened as a device
}

// Calls out of order and sizes no framebuffer can have are refused, not drawn.
TEST(Pictures, RefusedWithoutProgramsOrPixels) {
    REQUIRE_GL();
    CSceneRenderer renderer;
    const CCamera camera;
    EXPECT_EQ(renderer.Draw(camera, {}), E_UNEXPECTED);
    EXPECT_EQ(renderer.DrawIds(camera), E_UNEXPECTED);
    std::string strError;
    EXPECT_EQ(renderer.Initialize(strError), S_OK);
    EXPECT_EQ(renderer.Initialize(strError), S_OK);  // once is enough
    EXPECT_EQ(render_test::Context(strError)->Create(strError), S_OK);
    COffscreenTarget target;
    CImageRGBA image;
    EXPECT_EQ(target.Read(image), E_UNEXPECTED);
    for (const auto& [nWidth, nHeight] :
         {std::pair{0, 1}, std::pair{1, 0}, std::pair{16385, 1}, std::pair{1, 16385}}) {
        EXPECT_EQ(target.Create(nWidth, nHeight, strError), E_INVALIDARG) << strError;
    }
    EXPECT_EQ(target.Read(image), E_UNEXPECTED);
}

// A frame whose root time and scene stay walks nothing: a mesh's own requested time, changed
// behind the root's back, is applied only by a walk.
TEST(Pictures, PrepareWalksOnlyWhenTheTimeOrTheSceneChanged) {
    LoadedScene scene;
    ASSERT_TRUE(scene.Open(SamplePath()));
    CSceneRenderer renderer;
    renderer.SetScene(&scene.materials, scene.pRoot, nullptr);
    scene.pRoot->SetTime(10);
    ASSERT_EQ(renderer.Prepare(), S_OK);
    ASSERT_FALSE(renderer.Items().empty());
    CQVR3DMesh* pMesh = renderer.Items()[0].pMesh;
    const uint32_t dwApplied = pMesh->dwAppliedTime;
    pMesh->dwRequestedTime = dwApplied + 1;
    ASSERT_EQ(renderer.Prepare(), S_OK);
    EXPECT_EQ(pMesh->dwAppliedTime, dwApplied);
    renderer.SetScene(&scene.materials, scene.pRoot, nullptr);
    pMesh->dwRequestedTime = dwApplied + 1;
    ASSERT_EQ(renderer.Prepare(), S_OK);
    EXPECT_EQ(pMesh->dwAppliedTime, dwApplied + 1);
    scene.pRoot->SetTime(20);
    ASSERT_EQ(renderer.Prepare(), S_OK);
    EXPECT_EQ(pMesh->dwAppliedTime, 20u);
}
