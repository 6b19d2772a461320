// IntersectTriangles over a million triangles with random indices into 100,000 vertices,
// against a loop that only reads the same three positions per triangle and sums them.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench_ratio.h"
#include "engine/3dobjects/mesh.h"
#include "engine/utils/picking.h"

namespace {

constexpr uint32_t kVertexCount = 100000;
constexpr uint32_t kTriangleCount = 1000000;
// 16-bit indices reach 65,536 vertices, so the triangles come in two groups of half the
// vertices each, as a mesh with two base vertices has them.
constexpr uint32_t kGroupCount = 2;
constexpr uint32_t kGroupVertices = kVertexCount / kGroupCount;
constexpr uint32_t kGroupIndices = kTriangleCount / kGroupCount * 3;

struct Scene {
    std::vector<Vertex> vertices;
    std::vector<uint16_t> indices;
    PickRay ray{{0.5f, 0.5f, -2.0f}, {0.01f, -0.02f, 1.0f}};

    Scene() : vertices(kVertexCount), indices(static_cast<size_t>(kGroupIndices) * kGroupCount) {
        std::mt19937 random(12345);
        std::uniform_real_distribution<float> position(0.0f, 1.0f);
        for (Vertex& v : vertices) {
            v.vPosition = {position(random), position(random), position(random)};
        }
        std::uniform_int_distribution<uint32_t> index(0, kGroupVertices - 1);
        for (uint16_t& i : indices) {
            i = static_cast<uint16_t>(index(random));
        }
    }

    TrianglePickQuery Query(uint32_t g) const {
        TrianglePickQuery query;
        query.pIndices = indices.data() + static_cast<size_t>(g) * kGroupIndices;
        query.dwIndexCount = kGroupIndices;
        query.pVertices = reinterpret_cast<const uint8_t*>(vertices.data() + g * kGroupVertices);
        query.dwStride = sizeof(Vertex);
        query.vRayOrigin = ray.vOrigin;
        query.vRayDirection = ray.vDirection;
        return query;
    }
};

const Scene& TheScene() {
    static const Scene scene;
    return scene;
}

void BM_ReadTrianglePositions(benchmark::State& state) {
    const Scene& scene = TheScene();
    for (auto _ : state) {
        Vector3 vSum;
        for (uint32_t g = 0; g < kGroupCount; ++g) {
            const TrianglePickQuery query = scene.Query(g);
            for (uint32_t i = 0; i + 2 < query.dwIndexCount; i += 3) {
                Vector3 v[3];
                for (int k = 0; k < 3; ++k) {
                    std::memcpy(&v[k], query.pVertices + query.pIndices[i + k] * query.dwStride,
                                sizeof(Vector3));
                }
                vSum.x += v[0].x + v[1].x + v[2].x;
                vSum.y += v[0].y + v[1].y + v[2].y;
                vSum.z += v[0].z + v[1].z + v[2].z;
            }
        }
        benchmark::DoNotOptimize(vSum);
    }
    state.SetItemsProcessed(state.iterations() * kTriangleCount);
}
BENCHMARK(BM_ReadTrianglePositions)->Unit(benchmark::kMillisecond);

void BM_IntersectTriangles(benchmark::State& state) {
    const Scene& scene = TheScene();
    PickHitList hits;
    for (auto _ : state) {
        hits.clear();
        for (uint32_t g = 0; g < kGroupCount; ++g) {
            IntersectTriangles(scene.Query(g), hits);
        }
        benchmark::DoNotOptimize(hits.data());
    }
    state.counters["hits"] = static_cast<double>(hits.size());
    state.SetItemsProcessed(state.iterations() * kTriangleCount);
}
BENCHMARK(BM_IntersectTriangles)->Unit(benchmark::kMillisecond);

// The same triangles through a mesh's Pick, which checks every group's indices against the
// vertices before testing it.
void BM_MeshPick(benchmark::State& state) {
    const Scene& scene = TheScene();
    CQVR3DMesh mesh;
    mesh.pGeometry = new CQVR3DMeshData;
    mesh.pMaps = new CQVR3DMeshMaps;
    CQVR3DMeshData& geometry = *mesh.pGeometry;
    geometry.pVertices = CQVR3DMeshData::AllocateVertices(kVertexCount);
    std::memcpy(geometry.pVertices, scene.vertices.data(), kVertexCount * sizeof(Vertex));
    geometry.dwVertexCount = kVertexCount;
    for (uint32_t g = 0; g < kGroupCount; ++g) {
        geometry.groups.push_back({g * kGroupIndices, kGroupIndices, g * kGroupVertices, 0});
    }
    const uint32_t dwIndexCount = static_cast<uint32_t>(scene.indices.size());
    uint16_t* pIndices = CQVR3DMeshData::AllocateIndices(dwIndexCount);
    std::memcpy(pIndices, scene.indices.data(), dwIndexCount * sizeof(uint16_t));
    geometry.AttachIndexBuffer(pIndices, dwIndexCount);
    mesh.fLocalSphereRadius = 10.0f;
    if (mesh.InitInstanceBuffers() != S_OK) {
        state.SkipWithError("mesh set-up failed");
    }
    PickHitList hits;
    for (auto _ : state) {
        hits.clear();
        mesh.Pick(scene.ray, hits);
        benchmark::DoNotOptimize(hits.data());
    }
    state.counters["hits"] = static_cast<double>(hits.size());
    state.SetItemsProcessed(state.iterations() * kTriangleCount);
}
BENCHMARK(BM_MeshPick)->Unit(benchmark::kMillisecond);

}  // namespace

MORV_BENCH_RATIO("BM_IntersectTriangles", "BM_ReadTrianglePositions", 3.0);
MORV_BENCH_RATIO("BM_MeshPick", "BM_IntersectTriangles", 1.1);
