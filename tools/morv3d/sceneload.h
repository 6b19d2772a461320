// Loading a scene the way the viewer does: the materials pass, then the objects pass.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fileformats/morv3d/morv3dloader.h"

struct LoadedScene {
    std::vector<CMorv3DLoader::tMaterialMaps> materials;
    std::unique_ptr<CQVR3DNode> pRoot;
    HRESULT hrMaterials = S_OK;
    HRESULT hrObjects = S_OK;

    bool Complete() const { return SUCCEEDED(hrMaterials) && SUCCEEDED(hrObjects); }
};

LoadedScene LoadScene(const std::string& strPath);
