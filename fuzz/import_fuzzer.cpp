// The import on arbitrary glTF and OBJ files through Assimp's readers: whatever it converts
// must write and load back completely, the property every imported scene has. The first byte
// picks the reader (even: glTF, odd: OBJ); the rest is the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "abstractdata/debugreport.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "interchange/importscene.h"
#include "memoryfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static const bool bQuiet = (SetReportsEnabled(false), true);
    (void)bQuiet;
    if (nSize < 2) {
        return 0;
    }
    static const MemoryFile output("import-output");
    ImportedScene imported;
    ImportReport report;
    const char* pszHint = (pData[0] & 1) == 0 ? "gltf" : "obj";
    if (FAILED(ImportSceneFromBuffer(pData + 1, nSize - 1, pszHint, imported, &report))) {
        return 0;
    }
    if (FAILED(WriteMorv3DScene(output.strPath, imported.scene))) {
        std::fprintf(stderr, "an imported scene could not be written\n");
        std::abort();
    }
    CMorv3DSceneLoader loader(nullptr);
    const HRESULT hrMaterials = loader.Load(output.strPath, MORV3D_LOAD_MATERIALS);
    const HRESULT hrObjects = loader.Load(output.strPath, MORV3D_LOAD_OBJECTS);
    std::unique_ptr<CQVR3DNode> pRoot(loader.DetachRoot());
    if (FAILED(hrMaterials) || FAILED(hrObjects) || !pRoot) {
        std::fprintf(stderr, "an imported scene does not load: 0x%08X 0x%08X\n",
                     static_cast<uint32_t>(hrMaterials), static_cast<uint32_t>(hrObjects));
        std::abort();
    }
    pRoot->SetTime(pRoot->GetAnimationTimeHierarchy() / 2);
    pRoot->UpdateHook1();
    return 0;
}
