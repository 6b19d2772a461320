// The scene loader on arbitrary bytes, both passes as the viewer runs them, and then the
// loaded scene put to work: animation at a few times, picking, cloning, searches.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "abstractdata/debugreport.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "memoryfile.h"

namespace {

void Exercise(CQVR3DNode* pRoot) {
    const uint32_t dwLength = pRoot->GetAnimationTimeHierarchy();
    for (const uint32_t dwTime : {0u, dwLength / 3, dwLength / 2 + 1, dwLength, 0xFFFFFFFFu}) {
        pRoot->SetTime(dwTime);
        pRoot->UpdateHook1();
        PickHitList hits;
        pRoot->Pick(PickRay{{0.5f, 0.5f, 10.0f}, {0.0f, 0.0f, -1.0f}}, hits);
        pRoot->Pick(PickRay{{0.0f, 0.0f, 0.0f}, {1.0f, 0.25f, 0.125f}}, hits);
        SortHitsAlongRay(hits, {0.0f, 0.0f, -1.0f});
    }
    CQVR3DObject* pClone = nullptr;
    if (SUCCEEDED(pRoot->Clone(&pClone))) {
        pClone->SetTime(dwLength / 2);
        pClone->UpdateHook2();
        delete pClone;
    }
    CQVR3DObjectList found;
    pRoot->CollectByPrefix("dmy", found);
    pRoot->FindByPrefix("sort");
    pRoot->FindByName("");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static const bool bQuiet = (SetReportsEnabled(false), true);
    (void)bQuiet;
    static const MemoryFile input("morv3d-input");
    input.Fill(pData, nSize);

    std::unique_ptr<CQVR3DNode> pRoot;
    {
        CMorv3DSceneLoader loader(nullptr);
        loader.Load(input.strPath, MORV3D_LOAD_MATERIALS);
        const std::vector<CMorv3DLoader::tMaterialMaps> materials = loader.materials;
        loader.Load(input.strPath, MORV3D_LOAD_OBJECTS);
        pRoot.reset(loader.DetachRoot());
    }
    if (pRoot) {
        Exercise(pRoot.get());
    }
    return 0;
}
