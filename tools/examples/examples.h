// The sample files under examples/: written by the morv_examples program and checked by a test
// to be identical to a fresh generation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

// A small container of the default kind that shows nesting, payloads written whole and
// through the lent stream, and a chunk without payload.
HRESULT WriteSampleContainer(const std::string& strPath);

// A small scene to learn the viewer from: materials of every effect, a named hierarchy with dummy
// nodes, blended children ordered by sort id, moving nodes and a morphing mesh.
HRESULT WriteSampleScene(const std::string& strPath);

// The pictures the sample scene's materials name, beside it: 64 x 64 BMP and TGA files.
HRESULT WriteSampleTextures(const std::string& strDirectory);
const std::vector<std::string>& SampleTextureNames();

// A scene of geometry only, for benchmarks: dwMeshes nodes "partN" under the root, each with a
// grid mesh of dwQuads x dwQuads quads (two triangles each) whose rows of quads have vertices of
// their own; 200 meshes of 50 x 50 quads are 1,000,000 triangles in about 60 MB.
HRESULT WriteGeometryScene(const std::string& strPath, uint32_t dwMeshes = 200,
                           uint32_t dwQuads = 50);

// Writes every sample into strDirectory.
HRESULT WriteAllExamples(const std::string& strDirectory);
