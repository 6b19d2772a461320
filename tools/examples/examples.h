// The sample files under examples/: written by the morv_examples program and checked by a test
// to be identical to a fresh generation.
#pragma once

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

// Writes every sample into strDirectory.
HRESULT WriteAllExamples(const std::string& strDirectory);
