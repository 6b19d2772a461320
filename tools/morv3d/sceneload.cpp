#include "sceneload.h"

LoadedScene LoadScene(const std::string& strPath) {
    LoadedScene scene;
    CMorv3DSceneLoader loader(nullptr);
    scene.hrMaterials = loader.Load(strPath, MORV3D_LOAD_MATERIALS);
    scene.materials = loader.materials;
    scene.hrObjects = loader.Load(strPath, MORV3D_LOAD_OBJECTS);
    scene.pRoot.reset(loader.DetachRoot());
    return scene;
}
