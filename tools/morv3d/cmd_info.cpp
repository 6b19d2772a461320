// morv3d info FILE [--json] and morv3d validate FILE: what a scene holds, and whether it
// loads completely.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "viewer/document.h"
#include "viewer/statistics.h"

namespace {

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
    SceneStatistics counts;
    const HRESULT hrCount = CountScene(doc, &counts);
    if (FAILED(hrCount)) {
        PrintFailure(strPath, "cannot be counted", hrCount);
        return kExitIncomplete;
    }
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
