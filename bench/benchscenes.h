// The large scenes of the benchmarks: geometry (200 meshes of 5,000 triangles, 1,000,000 in
// all, about 60 MB) and hierarchy (50,000 named nodes in three levels, each with a small mesh and
// key tracks). Written by the benchmarks themselves and by `bench_scene_writer DIR` for the
// whole-process comparisons.
#pragma once

#include <memory>
#include <string>

#include "abstractdata/hresult.h"
#include "fileformats/morv3d/morv3dwriter.h"

constexpr uint32_t kBenchMeshCount = 200;
constexpr uint32_t kBenchGridQuads = 50;  // 50 x 50 quads: 5,000 triangles, 2,601 vertices
constexpr uint32_t kBenchNodeCount = 50000;

// A grid of dwQuads x dwQuads quads in the xy plane, one solid face group; with bRowsApart
// each row of quads has vertices of its own (the geometry scene then holds about 60 MB).
std::shared_ptr<Morv3DMeshDesc> BenchGrid(uint32_t dwQuads, bool bRowsApart);
Morv3DSceneDesc BenchGeometryScene();
Morv3DSceneDesc BenchHierarchyScene();

// geometry.morv3d, hierarchy.morv3d, and geometry.obj: the geometry scene's triangles as a
// Wavefront file, for the programs that cannot read ours.
HRESULT WriteBenchScenes(const std::string& strDirectory);
