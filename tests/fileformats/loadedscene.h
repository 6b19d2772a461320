// A scene opened as every program opens one: the loader's materials pass, then its objects
// pass. For the tests of the layers that read a loaded scene (render, interchange).
#pragma once

#include <string>
#include <vector>

#include "abstractdata/hresult.h"
#include "fileformats/morv3d/morv3dloader.h"

struct LoadedScene {
    LoadedScene() = default;
    explicit LoadedScene(const std::string& strPath) { Open(strPath); }
    ~LoadedScene() { delete pRoot; }
    LoadedScene(const LoadedScene&) = delete;
    LoadedScene& operator=(const LoadedScene&) = delete;

    // Whether both passes succeeded; what they read stays either way.
    bool Open(const std::string& strPath) {
        delete pRoot;
        CMorv3DSceneLoader loader(nullptr);
        hrMaterials = loader.Load(strPath, MORV3D_LOAD_MATERIALS);
        materials = loader.materials;
        hrObjects = loader.Load(strPath, MORV3D_LOAD_OBJECTS);
        pRoot = loader.DetachRoot();
        return Complete();
    }
    bool Complete() const { return SUCCEEDED(hrMaterials) && SUCCEEDED(hrObjects); }

    std::vector<CMorv3DLoader::tMaterialMaps> materials;
    CQVR3DObject* pRoot = nullptr;  // owned
    HRESULT hrMaterials = E_FAIL;
    HRESULT hrObjects = E_FAIL;
};
