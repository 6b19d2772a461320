// The renderer's frame on the processor: the 50,000-node animated scene brought to a new time
// and submitted, against a plain walk that brings every node to the same new time and
// computes its world matrix through the engine (the least any picture of the scene needs);
// and a morphing mesh of 100,000 vertices updated and uploaded, against the engine's
// ApplyTime alone. Drawn into a small offscreen target of a headless context; each hierarchy
// frame ends with an untimed glFinish so that the driver's queue stays bounded.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "bench_ratio.h"
#include "benchscenes.h"
#include "engine/3dobjects/mesh.h"
#include "render/headless.h"
#include "render/scenerenderer.h"
#include "render/viewpick.h"
#include "viewer/document.h"

namespace {

constexpr uint32_t kMorphVertices = 100000;

struct Gl {
    CHeadlessContext context;
    COffscreenTarget target;
    Gl() {
        SetReportsEnabled(false);
        std::string strError;
        if (FAILED(context.Create(strError)) || FAILED(target.Create(64, 48, strError))) {
            std::fprintf(stderr, "no headless OpenGL: %s\n", strError.c_str());
            std::exit(1);
        }
    }
};

Gl& TheGl() {
    static Gl gl;
    return gl;
}

struct Hierarchy {
    CMorv3dViewerDoc doc;
    Hierarchy() {
        const std::string strPath =
            (std::filesystem::temp_directory_path() / "morv3d-render-bench.morv3d").string();
        if (FAILED(WriteMorv3DScene(strPath, BenchHierarchyScene())) ||
            !doc.OnOpenDocument(strPath) || !doc.LoadedCompletely()) {
            std::abort();
        }
        std::filesystem::remove(strPath);
    }
};

Hierarchy& TheHierarchy() {
    static Hierarchy hierarchy;
    return hierarchy;
}

// One mesh of 100,000 vertices and two morph keys, the second blended in over the whole span.
CQVR3DNode* MorphScene() {
    CQVR3DMesh* pMesh = new CQVR3DMesh;
    pMesh->pGeometry = new CQVR3DMeshData;
    pMesh->pMaps = new CQVR3DMeshMaps;
    CQVR3DMeshData& geometry = *pMesh->pGeometry;
    geometry.dwVertexCount = kMorphVertices;
    geometry.pVertices = CQVR3DMeshData::AllocateVertices(kMorphVertices);
    geometry.dwKeyVertexFormat = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;
    const uint32_t dwStride = VertexComponentSize(geometry.dwKeyVertexFormat);
    for (uint32_t k = 0; k < 2; ++k) {
        MorphKey key;
        key.dwTime = k * 100;
        key.bBlend = k == 1;
        key.dwBlendDuration = 100;
        key.pVertexData =
            CQVR3DMeshData::AllocateKeyData(kMorphVertices, geometry.dwKeyVertexFormat);
        for (uint32_t i = 0; i < kMorphVertices; ++i) {
            float* p =
                reinterpret_cast<float*>(key.pVertexData + static_cast<size_t>(i) * dwStride);
            p[0] = static_cast<float>(i % 317);
            p[1] = static_cast<float>(i / 317);
            p[2] = static_cast<float>(k);
            p[5] = 1.0f;
        }
        geometry.morphKeys.push_back(key);
    }
    // Triangles over the first 60,000 vertices; the upload carries all of them.
    constexpr uint32_t kIndices = 3 * 20000;
    uint16_t* pIndices = CQVR3DMeshData::AllocateIndices(kIndices);
    for (uint32_t i = 0; i < kIndices; ++i) {
        pIndices[i] = static_cast<uint16_t>(i);
    }
    geometry.groups.push_back({0, kIndices, 0, 0});
    geometry.dwIndexCount = kIndices;
    pMesh->pMaps->groupMaps.assign(1, {});
    if (FAILED(geometry.AttachIndexBuffer(pIndices, kIndices)) ||
        FAILED(pMesh->InitInstanceBuffers())) {
        std::abort();
    }
    CQVR3DNode* pRoot = new CQVR3DNode;
    pRoot->AddChild(pMesh);
    return pRoot;
}

void BM_HierarchyFrame(benchmark::State& state) {
    Gl& gl = TheGl();
    CQVR3DObject* pRoot = TheHierarchy().doc._pNode;
    CSceneRenderer renderer;
    std::string strError;
    if (FAILED(renderer.Initialize(strError))) {
        std::abort();
    }
    renderer.SetScene(&TheHierarchy().doc.materials, pRoot, nullptr);
    renderer.Prepare();
    // A small picture: the 50,000 quads of this scene lie on top of each other, and filling
    // their pixels is the software rasteriser's work, not the frame's cost on the processor.
    const CCamera camera = CameraForPicture(renderer.Items(), 64, 48, EViewPreset::Iso);
    renderer.Draw(camera, RenderOptions{});  // the buffers are made once, before timing
    glFinish();
    uint32_t dwTime = 0;
    for (auto _ : state) {
        dwTime = (dwTime + 7) % 100;
        pRoot->SetTime(dwTime);
        renderer.Prepare();
        renderer.Draw(camera, RenderOptions{});
        state.PauseTiming();
        glFinish();
        state.ResumeTiming();
    }
    (void)gl;
}

// Every node brought to a new time and its world matrix computed, with an explicit stack.
void BM_HierarchyWorldWalk(benchmark::State& state) {
    CQVR3DNode* pRoot = static_cast<CQVR3DNode*>(TheHierarchy().doc._pNode);
    struct tItem {
        CQVR3DNode* pNode;
        Matrix4 parentWorld;
    };
    std::vector<tItem> pending;
    uint32_t dwTime = 0;
    for (auto _ : state) {
        dwTime = (dwTime + 7) % 100;
        pRoot->SetTime(dwTime);
        size_t nNodes = 0;
        pending.push_back({pRoot, Matrix4::Identity()});
        while (!pending.empty()) {
            const tItem item = pending.back();
            pending.pop_back();
            Matrix4 world = item.parentWorld;
            item.pNode->TransformMatrix(world);
            ++nNodes;
            for (CQVR3DObject* pChild : item.pNode->Children()) {
                if (pChild->GetObjectType() == QVR3DOBJ_NODE) {
                    pending.push_back({static_cast<CQVR3DNode*>(pChild), world});
                }
            }
            benchmark::DoNotOptimize(world);
        }
        if (nNodes != kBenchNodeCount) {
            std::abort();
        }
    }
}

void BM_MorphFrame(benchmark::State& state) {
    Gl& gl = TheGl();
    CQVR3DNode* pRoot = MorphScene();
    CSceneRenderer renderer;
    std::string strError;
    if (FAILED(renderer.Initialize(strError))) {
        std::abort();
    }
    renderer.SetScene(nullptr, pRoot, nullptr);
    renderer.Prepare();
    const CCamera camera = CameraForPicture(renderer.Items(), 800, 600, EViewPreset::Front);
    renderer.Draw(camera, RenderOptions{});
    glFinish();
    uint32_t dwTime = 1;
    for (auto _ : state) {
        dwTime = dwTime % 98 + 1;
        pRoot->SetTime(dwTime);
        renderer.Prepare();
        renderer.Upload(RenderOptions{});
    }
    renderer.SetScene(nullptr, nullptr, nullptr);
    delete pRoot;
    (void)gl;
}

void BM_MorphApplyTime(benchmark::State& state) {
    CQVR3DNode* pRoot = MorphScene();
    CQVR3DObject* pMesh = pRoot->GetChild(0);
    uint32_t dwTime = 1;
    for (auto _ : state) {
        dwTime = dwTime % 98 + 1;
        pRoot->SetTime(dwTime);
        pMesh->UpdateTime();
        benchmark::ClobberMemory();
    }
    delete pRoot;
}

}  // namespace

BENCHMARK(BM_HierarchyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HierarchyWorldWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MorphFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MorphApplyTime)->Unit(benchmark::kMillisecond);

MORV_BENCH_RATIO("BM_HierarchyFrame", "BM_HierarchyWorldWalk", 3.0);
MORV_BENCH_RATIO("BM_MorphFrame", "BM_MorphApplyTime", 2.0);

namespace {

struct Geometry {
    CMorv3dViewerDoc doc;
    Geometry() {
        const std::string strPath =
            (std::filesystem::temp_directory_path() / "morv3d-pick-bench.morv3d").string();
        if (FAILED(WriteMorv3DScene(strPath, BenchGeometryScene())) ||
            !doc.OnOpenDocument(strPath) || !doc.LoadedCompletely()) {
            std::abort();
        }
        std::filesystem::remove(strPath);
    }
};

Geometry& TheGeometry() {
    static Geometry geometry;
    return geometry;
}

// A click in the middle of the 1,000,000-triangle scene's picture, as the desktop view picks.
void BM_PickThroughPixel(benchmark::State& state) {
    CQVR3DObject* pRoot = TheGeometry().doc._pNode;
    std::vector<DrawItem> items;
    CollectDrawItems(pRoot, items);
    const CCamera camera = CameraForPicture(items, 800, 600, EViewPreset::Iso);
    std::vector<ViewHit> hits;
    for (auto _ : state) {
        PickThroughPixel(pRoot, camera, 400, 300, hits);
        benchmark::DoNotOptimize(hits.data());
    }
    state.counters["hits"] = static_cast<double>(hits.size());
}

// The triangle test over every triangle of the scene with the same ray, in each mesh's space.
void BM_IntersectEveryTriangle(benchmark::State& state) {
    CQVR3DObject* pRoot = TheGeometry().doc._pNode;
    std::vector<DrawItem> items;
    CollectDrawItems(pRoot, items);
    const CCamera camera = CameraForPicture(items, 800, 600, EViewPreset::Iso);
    const PickRay ray = camera.RayThroughPixel(400, 300);
    std::vector<PickRay> local;
    for (const DrawItem& item : items) {
        const Matrix4 inverse = InverseAffine(item.world);
        local.push_back(
            {TransformPoint(ray.vOrigin, inverse), TransformDirection(ray.vDirection, inverse)});
    }
    PickHitList hits;
    for (auto _ : state) {
        hits.clear();
        for (size_t i = 0; i < items.size(); ++i) {
            const CQVR3DMesh* pMesh = items[i].pMesh;
            for (size_t g = 0; g < pMesh->pGeometry->groups.size(); ++g) {
                const MeshGroup& group = pMesh->pGeometry->groups[g];
                TrianglePickQuery query;
                query.pIndices = pMesh->groupIndexPointers[g];
                query.dwIndexCount = group.dwIndexCount;
                query.pVertices =
                    reinterpret_cast<const uint8_t*>(pMesh->pVertices + group.dwBaseVertex);
                query.dwStride = sizeof(Vertex);
                query.vRayOrigin = local[i].vOrigin;
                query.vRayDirection = local[i].vDirection;
                IntersectTriangles(query, hits);
            }
        }
        benchmark::DoNotOptimize(hits.data());
    }
}

}  // namespace

BENCHMARK(BM_PickThroughPixel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntersectEveryTriangle)->Unit(benchmark::kMillisecond);
MORV_BENCH_RATIO("BM_PickThroughPixel", "BM_IntersectEveryTriangle", 2.0);
