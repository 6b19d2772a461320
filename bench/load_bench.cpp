// Loading scenes as the document does (materials pass, objects pass on one loader, DetachRoot,
// deleting the root), against a plain read of the whole file into memory. Two scenes
// (benchscenes.h): geometry (200 meshes of 5,000 triangles) and hierarchy (50,000 named nodes in
// three levels, each with a small mesh and a track chunk). The memory of the loaded scene is
// reported against twice the file size plus 16 MiB.
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
#include "benchscenes.h"
#include "engine/3dobjects/mesh.h"
#include "fileformats/morv3d/morv3dloader.h"

namespace {

constexpr uint32_t kMeshCount = kBenchMeshCount;
constexpr uint32_t kGridQuads = kBenchGridQuads;
constexpr uint32_t kNodeCount = kBenchNodeCount;

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

        Check(WriteMorv3DScene(strGeometry, BenchGeometryScene()));
        Check(WriteMorv3DScene(strHierarchy, BenchHierarchyScene()));
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
