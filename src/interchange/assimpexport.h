// Output through Assimp's exporters: .obj, .fbx, .dae, .stl, .ply, .3mf, .x. The scene is built
// as an aiScene (one aiMesh per face group, the node tree with the axis turn at the root,
// node animation sampled for the formats that hold it), handed to Assimp::Exporter, and what
// it writes is caught in memory and written through CExportFiles. What a format cannot hold
// is listed in the report. Texture coordinates get v = 1 - v (Assimp's v points up); texture
// files are copied beside the output under the names the materials then give.
#pragma once

#include <string>

#include "abstractdata/hresult.h"
#include "interchange/exportfiles.h"
#include "interchange/exportmodel.h"

// strFormat: obj, fbx, dae, stl, ply, 3mf or x.
HRESULT WriteWithAssimp(const ExportModel& scene, const std::string& strFormat, CExportFiles& files,
                        ExportReport& report);
