// Export of a loaded scene to glTF 2.0 (.glb, .gltf) and to the formats Assimp writes (.obj,
// .fbx, .dae, .stl, .ply, .3mf, .x); the format is chosen by the output's extension.
//
// The scene is loaded in the loader's two passes (materials, then objects), so that each face
// group names its material. Textures are looked for in strSceneDir (abstractdata/texturefind.h).
// The output and the files beside it appear only when the whole export succeeded.
#pragma once

#include <string>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/objects.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "interchange/exportoptions.h"

// The formats by extension, lower case without the dot, in the order --help lists them.
const std::vector<std::string>& ExportExtensions();
// True when the path ends in one of them (case ignored).
bool IsExportPath(const std::string& strOutPath);

// E_INVALIDARG for an unknown extension or a bad option; otherwise the first failure of
// gathering, converting or writing. pReport (may be null) receives what was missing, dropped
// or approximated, and the files written.
HRESULT ExportScene(const std::vector<CMorv3DLoader::tMaterialMaps>& materials, CQVR3DObject* pRoot,
                    const std::string& strSceneDir, const std::string& strOutPath,
                    const ExportOptions& options, ExportReport* pReport);
