// Loading scenes as the document does (materials pass, objects pass on one loader, DetachRoot,
// deleting the root), against a plain read of the whole file into memory. Two scenes: geometry
// (200 meshes of 5,000 triangles) and hierarchy (50,000 named nodes in three levels, each with
// a small mesh and a track chunk). The memory of the loaded scene is reported against twice the
// file size plus 16 MiB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "bench_ratio.h"
#include "engine/3dobjects/mesh.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "fileformats/morv3d/morv3dwriter.h"

namespace {

constexpr uint32_t kMeshCount = 200;
constexpr uint32_t kGridQuads = 50;  // 50 x 50 quads: 5,000 triangles, 2,601 vertices
constexpr uint32_t kNodeCount = 50000;
constexpr uint32_t kFanOut = 223;  // root -> 223 -> about 223 each

std::vector<Morv3DMaterialDesc> Materials() {
    std::vector<Morv3DMaterialDesc> materials(2);
    materials[0].maps.resize(1);
    materials[0].maps[0].strTexture = "stone.bmp";
    materials[1].maps.resize(1);
    materials[1].maps[0].record.dwEffect = MORV3D_MAPEFFECT_ALPHA;
    materials[1].maps[0].strTexture = "glass.tga";
    return materials;
}

std::shared_ptr<Morv3DMeshDesc> Grid(uint32_t dwQuads) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;
    pMesh->fRadius = static_cast<float>(dwQuads);
    Morv3DFrameDesc frame;
    const uint32_t dwSide = dwQuads + 1;
    for (uint32_t y = 0; y < dwSide; ++y) {
        for (uint32_t x = 0; x < dwSide; ++x) {
            Morv3DFileVertex v;
            v.vPosition = {static_cast<float>(x), static_cast<float>(y), 0.0f};
            v.vNormal = {0.0f, 0.0f, 1.0f};
            v.fU = static_cast<float>(x) / static_cast<float>(dwQuads);
            v.fV = static_cast<float>(y) / static_cast<float>(dwQuads);
            frame.vertices.push_back(v);
        }
    }
    pMesh->frames.push_back(frame);
    for (uint32_t y = 0; y < dwQuads; ++y) {
        for (uint32_t x = 0; x < dwQuads; ++x) {
            const uint32_t a = y * dwSide + x;
            pMesh->faces.push_back({{a, a + 1, a + dwSide + 1}});
            pMesh->faces.push_back({{a, a + dwSide + 1, a + dwSide}});
        }
    }
    FileGroup group;
    group.dwFaceCount = static_cast<uint32_t>(pMesh->faces.size());
    pMesh->groups.push_back(group);
    return pMesh;
}

// Every node of the hierarchy scene: a name, a small mesh and two keys per track.
void FillNode(Morv3DNodeDesc& node, uint32_t dwIndex,
              const std::shared_ptr<Morv3DMeshDesc>& pMesh) {
    node.strName = "node" + std::to_string(dwIndex);
    node.bWriteTracks = true;
    node.positionKeys.resize(2);
    node.positionKeys[1].dwTime = 100;
    node.positionKeys[1].vPosition = {1.0f, 0.0f, 0.0f};
    node.rotationKeys.resize(2);
    for (RotationKey& key : node.rotationKeys) {
        key.vAxis = {0.0f, 0.0f, 1.0f};
        key.afBlock[0][0] = key.afBlock[1][1] = key.afBlock[2][2] = 1.0f;
    }
    node.rotationKeys[1].dwTime = 100;
    node.rotationKeys[1].fAngle = 1.0f;
    node.children.push_back({nullptr, pMesh});
}

struct BenchScenes {
    std::string strDir;
    std::string strGeometry;
    std::string strHierarchy;
    uint64_t qwGeometryBytes = 0;
    uint64_t qwHierarchyBytes = 0;

    BenchScenes() {
        SetReportsEnabled(false);
        // Freed memory stays with the process, for the loader and the baseline alike: this
        // measures the work of loading, not how slowly the machine hands out fresh pages.
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        strDir = (std::filesystem::temp_directory_path() / "morv3dbench-XXXXXX").string();
        if (mkdtemp(strDir.data()) == nullptr) {
            std::abort();
        }
        strGeometry = strDir + "/geometry.morv3d";
        strHierarchy = strDir + "/hierarchy.morv3d";

        {
            Morv3DSceneDesc scene;
            scene.materials = Materials();
            scene.pRoot = std::make_shared<Morv3DNodeDesc>();
            scene.pRoot->strName = "geometry";
            const auto pGrid = Grid(kGridQuads);  // one description, written 200 times
            for (uint32_t i = 0; i < kMeshCount; ++i) {
                scene.pRoot->AddNode("part" + std::to_string(i))
                    ->children.push_back({nullptr, pGrid});
            }
            Check(WriteMorv3DScene(strGeometry, scene));
        }
        {
            Morv3DSceneDesc scene;
            scene.materials = Materials();
            scene.pRoot = std::make_shared<Morv3DNodeDesc>();
            const auto pSmall = Grid(1);  // 4 vertices, 2 triangles
            uint32_t dwIndex = 0;
            FillNode(*scene.pRoot, dwIndex++, pSmall);
            // 1 + 223 + 223 * 223 = 49,953 nodes: the first 47 of the middle level take one
            // child more, which makes 50,000.
            const uint32_t dwExtra = kNodeCount - 1 - kFanOut - kFanOut * kFanOut;
            for (uint32_t i = 0; i < kFanOut; ++i) {
                auto pMiddle = scene.pRoot->AddNode("");
                FillNode(*pMiddle, dwIndex++, pSmall);
                const uint32_t dwLeaves = kFanOut + (i < dwExtra ? 1 : 0);
                for (uint32_t j = 0; j < dwLeaves; ++j) {
                    FillNode(*pMiddle->AddNode(""), dwIndex++, pSmall);
                }
            }
            if (dwIndex != kNodeCount) {
                std::abort();
            }
            Check(WriteMorv3DScene(strHierarchy, scene));
        }
        qwGeometryBytes = std::filesystem::file_size(strGeometry);
        qwHierarchyBytes = std::filesystem::file_size(strHierarchy);
    }
    ~BenchScenes() { std::filesystem::remove_all(strDir); }

    static void Check(HRESULT hr) {
        if (FAILED(hr)) {
            std::fprintf(stderr, "bench set-up failed: 0x%08X\n", static_cast<unsigned>(hr));
            std::abort();
        }
    }
};

const BenchScenes& Scenes() {
    static BenchScenes scenes;
    return scenes;
}

// The document's open: both passes, the material list copied, the root taken and, when the
// document is emptied, deleted. With pHeld, the bytes that the scene and the still open loader
// hold after loading (allocator statistics; mallinfo2 walks the heap, so not in timed runs).
void LoadLikeTheDocument(const std::string& strPath, size_t* pHeld) {
    const size_t nBefore = pHeld != nullptr ? mallinfo2().uordblks : 0;
    std::vector<CMorv3DLoader::tMaterialMaps> materials;
    CQVR3DNode* pRoot = nullptr;
    {
        CMorv3DSceneLoader loader(nullptr);
        BenchScenes::Check(loader.Load(strPath, MORV3D_LOAD_MATERIALS));
        materials = loader.materials;
        BenchScenes::Check(loader.Load(strPath, MORV3D_LOAD_OBJECTS));
        pRoot = loader.DetachRoot();
        if (pHeld != nullptr) {
            *pHeld = mallinfo2().uordblks - nBefore;
        }
    }
    if (pRoot == nullptr) {
        std::abort();
    }
    delete pRoot;
}

void RunLoad(benchmark::State& state, const std::string& strPath, uint64_t qwFileBytes) {
    size_t nHeld = 0;
    LoadLikeTheDocument(strPath, &nHeld);
    for (auto _ : state) {
        LoadLikeTheDocument(strPath, nullptr);
    }
    const double dMiB = 1024.0 * 1024.0;
    const double dLimit = 2.0 * static_cast<double>(qwFileBytes) + 16.0 * dMiB;
    state.counters["file_MiB"] = static_cast<double>(qwFileBytes) / dMiB;
    state.counters["scene_MiB"] = static_cast<double>(nHeld) / dMiB;
    state.counters["limit_MiB"] = dLimit / dMiB;
    state.counters["scene/limit"] = static_cast<double>(nHeld) / dLimit;
}

// Reads the whole file with plain reads into a buffer allocated once.
void RunPlainRead(benchmark::State& state, const std::string& strPath, uint64_t qwFileBytes) {
    std::vector<uint8_t> buffer(qwFileBytes);
    for (auto _ : state) {
        const int fd = ::open(strPath.c_str(), O_RDONLY);
        size_t nDone = 0;
        while (nDone < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + nDone, buffer.size() - nDone);
            if (n <= 0) {
                break;
            }
            nDone += static_cast<size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
}

void BM_LoadGeometry(benchmark::State& state) {
    RunLoad(state, Scenes().strGeometry, Scenes().qwGeometryBytes);
    state.counters["triangles_per_s"] =
        benchmark::Counter(1.0 * kMeshCount * 2 * kGridQuads * kGridQuads,
                           benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LoadGeometry_Baseline(benchmark::State& state) {
    RunPlainRead(state, Scenes().strGeometry, Scenes().qwGeometryBytes);
}

void BM_LoadHierarchy(benchmark::State& state) {
    RunLoad(state, Scenes().strHierarchy, Scenes().qwHierarchyBytes);
    state.counters["nodes_per_s"] =
        benchmark::Counter(kNodeCount, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LoadHierarchy_Baseline(benchmark::State& state) {
    RunPlainRead(state, Scenes().strHierarchy, Scenes().qwHierarchyBytes);
}

}  // namespace

BENCHMARK(BM_LoadGeometry)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadGeometry_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadHierarchy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadHierarchy_Baseline)->Unit(benchmark::kMillisecond);

MORV_BENCH_RATIO("BM_LoadGeometry", "BM_LoadGeometry_Baseline", 3.0);
MORV_BENCH_RATIO("BM_LoadHierarchy", "BM_LoadHierarchy_Baseline", 10.0);
