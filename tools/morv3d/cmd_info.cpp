// morv3d info FILE [--json] and morv3d validate FILE: what a scene holds, and whether it
// loads completely.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli.h"
#include "viewer/document.h"
#include "viewer/statistics.h"

namespace {

std::string Described(HRESULT hr) {
    return HexCode(static_cast<uint32_t>(hr)) + " (" + HResultMessage(hr) + ")";
}

struct InfoArgs {
    std::string strPath;
    bool bJson = false;
};

int RunInfo(const InfoArgs& a) {
    const std::string& strPath = a.strPath;
    CMorv3dViewerDoc& doc = DocumentOfThisRun();
    if (!doc.OpenScene(strPath)) {
        PrintFailure(strPath, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    SceneStatistics counts;
    const HRESULT hrCount = CountScene(doc, &counts);
    if (FAILED(hrCount)) {
        PrintFailure(strPath, "cannot be counted", hrCount);
        return kExitIncomplete;
    }
    if (a.bJson) {
        const nlohmann::ordered_json info = {
            {"materials", counts.qwMaterials},
            {"maps", counts.qwMaps},
            {"nodes", counts.qwNodes},
            {"dummies", counts.qwDummies},
            {"meshes", counts.qwMeshes},
            {"triangles", counts.qwTriangles},
            {"vertices", counts.qwVertices},
            {"morphKeys", counts.qwMorphKeys},
            {"animationTime", counts.dwAnimationTime},
            {"materialsResult", HexCode(static_cast<uint32_t>(doc.GetMaterialsResult()))},
            {"objectsResult", HexCode(static_cast<uint32_t>(doc.GetObjectsResult()))}};
        std::printf("%s\n", JsonLine(info).c_str());
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

int RunValidate(const std::string& strPath) {
    CMorv3dViewerDoc& doc = DocumentOfThisRun();
    if (!doc.OpenScene(strPath)) {
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

}  // namespace

void AddInfo(CCli& cli) {
    auto info = std::make_shared<InfoArgs>();
    CLI::App* pInfo = cli.AddVerb(
        "info", "load a scene as the viewer does and print what it holds and each pass's result",
        "info: expected one FILE", [info] { return RunInfo(*info); });
    pInfo->add_option("FILE", info->strPath);
    pInfo->add_flag("--json", info->bJson, "print one JSON object");

    auto strPath = std::make_shared<std::string>();
    cli.AddVerb("validate",
                "load a scene and report every failure; --trace shows where in the file it failed",
                "validate: expected one FILE", [strPath] { return RunValidate(*strPath); })
        ->add_option("FILE", *strPath);
}
