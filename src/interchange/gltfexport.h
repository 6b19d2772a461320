// glTF 2.0 output of an export: .glb (one file, images inside) or .gltf (JSON, a .bin and the
// images beside it), written with tinygltf.
//
// Mapping: every engine node becomes a glTF node of the same name in the same child order,
// every mesh a child node "meshN" (N counting the meshes of its parent) carrying the glTF mesh;
// the root's matrix carries the axis turn of axes.h. Face groups are primitives with their
// material. Texture coordinates are written as stored: the files put v = 0 at an image's top,
// as glTF does. Times are seconds: key units / ExportModel::dTimeUnitsPerSecond.
#pragma once

#include "abstractdata/hresult.h"
#include "interchange/exportfiles.h"
#include "interchange/exportmodel.h"

HRESULT WriteGltf(const ExportModel& scene, bool bBinary, CExportFiles& files,
                  ExportReport& report);
