// Mesh morphing: ApplyTime over 100,000 vertices and 20 keys, copied and blended, against a
// plain copy of the same vertex bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bench_ratio.h"
#include "engine/3dobjects/mesh.h"

namespace {

constexpr uint32_t kVertexCount = 100000;
constexpr uint32_t kKeyCount = 20;
constexpr uint32_t kKeyInterval = 100;

// Keys at 0, 100, ..., 1900; with blending every key blends over its whole interval.
std::unique_ptr<CQVR3DMesh> MakeMorphingMesh(uint32_t dwFormat, bool bBlend) {
    auto pMesh = std::make_unique<CQVR3DMesh>();
    pMesh->pGeometry = new CQVR3DMeshData;
    pMesh->pMaps = new CQVR3DMeshMaps;
    CQVR3DMeshData& geometry = *pMesh->pGeometry;
    geometry.pVertices = CQVR3DMeshData::AllocateVertices(kVertexCount);
    geometry.dwVertexCount = kVertexCount;
    geometry.dwKeyVertexFormat = dwFormat;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    const size_t nBytes = static_cast<size_t>(kVertexCount) * VertexComponentSize(dwFormat);
    for (uint32_t k = 0; k < kKeyCount; ++k) {
        uint8_t* pData = CQVR3DMeshData::AllocateKeyData(kVertexCount, dwFormat);
        for (size_t i = 0; i + sizeof(float) <= nBytes; i += sizeof(float)) {
            const float f = value(random);
            std::memcpy(pData + i, &f, sizeof(f));
        }
        geometry.morphKeys.push_back({k * kKeyInterval, bBlend, kKeyInterval, pData});
    }
    pMesh->InitInstanceBuffers();
    return pMesh;
}

// Times inside an interval, never on a key, so that a blend window is always open.
uint32_t NextTime(uint32_t dwTime) {
    dwTime = (dwTime + 137) % ((kKeyCount - 1) * kKeyInterval);
    return dwTime % kKeyInterval == 0 ? dwTime + 1 : dwTime;
}

void RunApplyTime(benchmark::State& state, uint32_t dwFormat, bool bBlend) {
    auto pMesh = MakeMorphingMesh(dwFormat, bBlend);
    uint32_t dwTime = 0;
    for (auto _ : state) {
        dwTime = NextTime(dwTime);
        pMesh->ApplyTime(dwTime);
        benchmark::DoNotOptimize(pMesh->pVertices);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVertexCount);
}

// The baseline copies the vertex bytes of the same keys, in the same order, into the mesh's
// buffer, so that both read their keys from the same place in the memory hierarchy.
void BM_CopyVertices(benchmark::State& state) {
    auto pMesh = MakeMorphingMesh(0x13, false);
    const SceneVector<MorphKey>& keys = pMesh->pGeometry->morphKeys;
    uint32_t dwTime = 0;
    for (auto _ : state) {
        dwTime = NextTime(dwTime);
        std::memcpy(pMesh->pVertices, keys[dwTime / kKeyInterval].pVertexData,
                    kVertexCount * sizeof(Vertex));
        benchmark::DoNotOptimize(pMesh->pVertices);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVertexCount);
}
BENCHMARK(BM_CopyVertices)->Unit(benchmark::kMicrosecond);

// Position, normal and texture coordinates: records laid out like vertices.
void BM_MeshApplyTime_Copy(benchmark::State& state) {
    RunApplyTime(state, 0x13, false);
}
void BM_MeshApplyTime_Blend(benchmark::State& state) {
    RunApplyTime(state, 0x13, true);
}
// All five components (40-byte records with the two extras to skip).
void BM_MeshApplyTime_Copy_Extras(benchmark::State& state) {
    RunApplyTime(state, 0x1F, false);
}
void BM_MeshApplyTime_Blend_Extras(benchmark::State& state) {
    RunApplyTime(state, 0x1F, true);
}
BENCHMARK(BM_MeshApplyTime_Copy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MeshApplyTime_Blend)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MeshApplyTime_Copy_Extras)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MeshApplyTime_Blend_Extras)->Unit(benchmark::kMicrosecond);

}  // namespace

MORV_BENCH_RATIO("BM_MeshApplyTime_Copy", "BM_CopyVertices", 3.0);
MORV_BENCH_RATIO("BM_MeshApplyTime_Blend", "BM_CopyVertices", 3.0);
MORV_BENCH_RATIO("BM_MeshApplyTime_Copy_Extras", "BM_CopyVertices", 3.0);
MORV_BENCH_RATIO("BM_MeshApplyTime_Blend_Extras", "BM_CopyVertices", 3.0);
