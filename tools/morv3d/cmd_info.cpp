// morv3d info FILE [--json] and morv3d validate FILE: what a scene holds, and whether it
// loads completely.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "viewer/document.h"

namespace {

struct SceneCounts {
    uint64_t qwMaterials = 0;
    uint64_t qwMaps = 0;
    uint64_t qwNodes = 0;
    uint64_t qwDummies = 0;
    uint64_t qwMeshes = 0;
    uint64_t qwTriangles = 0;
    uint64_t qwVertices = 0;
    uint64_t qwMorphKeys = 0;
    uint32_t dwAnimationTime = 0;
};

SceneCounts Count(const CMorv3dViewerDoc& doc) {
    SceneCounts counts;
    counts.qwMaterials = doc._Materials.size();
    for (const CMorv3DLoader::tMaterialMaps& material : doc._Materials) {
        counts.qwMaps += material.size();
    }
    if (doc._pNode == nullptr) {
        return counts;
    }
    counts.dwAnimationTime = doc._pNode->GetAnimationTimeHierarchy();
    std::vector<CQVR3DObject*> pending{doc._pNode};
    while (!pending.empty()) {
        CQVR3DObject* pObject = pending.back();
        pending.pop_back();
        if (pObject->GetObjectType() == QVR3DOBJ_NODE) {
            ++counts.qwNodes;
            if (std::string(pObject->GetName()).rfind("dmy", 0) == 0) {
                ++counts.qwDummies;
            }
        } else if (pObject->GetObjectType() == QVR3DOBJ_MESH) {
            const CQVR3DMeshData* pGeometry = static_cast<CQVR3DMesh*>(pObject)->pGeometry;
            ++counts.qwMeshes;
            if (pGeometry != nullptr) {
                counts.qwTriangles += pGeometry->dwIndexCount / 3;
                counts.qwVertices += pGeometry->dwVertexCount;
                counts.qwMorphKeys += pGeometry->morphKeys.size();
            }
        }
        const uint32_t dwChildren = pObject->GetChildCount();
        for (uint32_t i = 0; i < dwChildren; ++i) {
            pending.push_back(pObject->GetChild(i));
        }
    }
    return counts;
}

std::string Described(HRESULT hr) {
    return HexCode(static_cast<uint32_t>(hr)) + " (" + HResultMessage(hr) + ")";
}

bool TakeFile(const std::vector<std::string>& args, const char* pszCommand, std::string& strPath,
              bool& bJson, bool bJsonAllowed) {
    for (const std::string& strArg : args) {
        if (bJsonAllowed && strArg == "--json") {
            bJson = true;
        } else if (!strArg.empty() && strArg[0] == '-') {
            UsageError(std::string(pszCommand) + ": unknown option '" + strArg + "'");
            return false;
        } else if (strPath.empty()) {
            strPath = strArg;
        } else {
            UsageError(std::string(pszCommand) + ": expected one FILE");
            return false;
        }
    }
    if (strPath.empty()) {
        UsageError(std::string(pszCommand) + ": no file given");
        return false;
    }
    return true;
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
    std::string strPath;
    bool bJson = false;
    if (!TakeFile(args, "info", strPath, bJson, true)) {
        return kExitUsage;
    }
    CMorv3dViewerDoc doc;
    if (!doc.OnOpenDocument(strPath)) {
        PrintFailure(strPath, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    const SceneCounts counts = Count(doc);
    if (bJson) {
        std::printf(
            "{\"materials\": %llu, \"maps\": %llu, \"nodes\": %llu, \"dummies\": %llu, "
            "\"meshes\": %llu, \"triangles\": %llu, \"vertices\": %llu, \"morphKeys\": %llu, "
            "\"animationTime\": %u, \"materialsResult\": \"%s\", \"objectsResult\": \"%s\"}\n",
            static_cast<unsigned long long>(counts.qwMaterials),
            static_cast<unsigned long long>(counts.qwMaps),
            static_cast<unsigned long long>(counts.qwNodes),
            static_cast<unsigned long long>(counts.qwDummies),
            static_cast<unsigned long long>(counts.qwMeshes),
            static_cast<unsigned long long>(counts.qwTriangles),
            static_cast<unsigned long long>(counts.qwVertices),
            static_cast<unsigned long long>(counts.qwMorphKeys), counts.dwAnimationTime,
            HexCode(static_cast<uint32_t>(doc.GetMaterialsResult())).c_str(),
            HexCode(static_cast<uint32_t>(doc.GetObjectsResult())).c_str());
    } else {
        std::printf("materials       %llu\n", static_cast<unsigned long long>(counts.qwMaterials));
        std::printf("maps            %llu\n", static_cast<unsigned long long>(counts.qwMaps));
        std::printf("nodes           %llu\n", static_cast<unsigned long long>(counts.qwNodes));
        std::printf("dummies         %llu\n", static_cast<unsigned long long>(counts.qwDummies));
        std::printf("meshes          %llu\n", static_cast<unsigned long long>(counts.qwMeshes));
        std::printf("triangles       %llu\n", static_cast<unsigned long long>(counts.qwTriangles));
        std::printf("vertices        %llu\n", static_cast<unsigned long long>(counts.qwVertices));
        std::printf("morph keys      %llu\n", static_cast<unsigned long long>(counts.qwMorphKeys));
        std::printf("animation time  %u\n", counts.dwAnimationTime);
        std::printf("materials pass  %s\n", Described(doc.GetMaterialsResult()).c_str());
        std::printf("objects pass    %s\n", Described(doc.GetObjectsResult()).c_str());
    }
    return doc.LoadedCompletely() ? kExitOk : kExitIncomplete;
}

int RunValidate(const std::vector<std::string>& args) {
    std::string strPath;
    bool bJson = false;
    if (!TakeFile(args, "validate", strPath, bJson, false)) {
        return kExitUsage;
    }
    CMorv3dViewerDoc doc;
    if (!doc.OnOpenDocument(strPath)) {
        PrintFailure(strPath, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    if (doc.LoadedCompletely()) {
        std::printf("%s: ok\n", strPath.c_str());
        return kExitOk;
    }
    PrintPassFailures(strPath, doc);
    return kExitIncomplete;
}
