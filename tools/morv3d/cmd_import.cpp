// morv3d import IN OUT.morv3d: any format Assimp reads into a scene file, textures beside it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli.h"
#include "interchange/importscene.h"

namespace {

bool EndsWithMorv3d(const std::string& strPath) {
    const std::string strExt = ".morv3d";
    if (strPath.size() <= strExt.size()) {
        return false;
    }
    for (size_t i = 0; i < strExt.size(); ++i) {
        const char c = strPath[strPath.size() - strExt.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != strExt[i]) {
            return false;
        }
    }
    return true;
}

bool ParseNumber(const std::string& strText, double& dValue) {
    char* pEnd = nullptr;
    dValue = std::strtod(strText.c_str(), &pEnd);
    return !strText.empty() && pEnd != nullptr && *pEnd == '\0' && std::isfinite(dValue);
}

}  // namespace

int RunImport(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    ImportOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        double dValue = 0.0;
        if (strArg == "--rate" || strArg == "--animation") {
            if (i + 1 >= args.size() || !ParseNumber(args[i + 1], dValue)) {
                return UsageError("import: " + strArg + " needs a number");
            }
            ++i;
            if (strArg == "--rate") {
                if (!(dValue > 0.0 && dValue <= 1e6)) {
                    return UsageError("import: --rate must lie in (0, 1000000]");
                }
                options.dUnitsPerSecond = dValue;
            } else {
                if (dValue < 0.0 || dValue > 0xFFFFFFFFu || dValue != std::floor(dValue)) {
                    return UsageError("import: --animation takes the number of an animation");
                }
                options.dwAnimation = static_cast<uint32_t>(dValue);
            }
        } else if (!strArg.empty() && strArg[0] == '-') {
            return UsageError("import: unknown option '" + strArg + "'");
        } else {
            files.push_back(strArg);
        }
    }
    if (files.size() != 2) {
        return UsageError("import: expected IN and OUT.morv3d");
    }
    if (!EndsWithMorv3d(files[1])) {
        return UsageError("import: the output must be a .morv3d file");
    }

    ImportReport report;
    const HRESULT hr = ImportScene(files[0], files[1], &report, options);
    for (const std::string& strNote : report.notes) {
        std::fprintf(stderr, "morv3d: %s: note: %s\n", files[0].c_str(), strNote.c_str());
    }
    for (const std::string& strError : report.readErrors) {
        std::fprintf(stderr, "morv3d: %s: Assimp: %s\n", files[0].c_str(), strError.c_str());
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "morv3d: %s: cannot import: %s (%s)\n", files[0].c_str(),
                     report.strError.c_str(), HexCode(static_cast<uint32_t>(hr)).c_str());
        return kExitIncomplete;
    }
    std::printf(
        "%s: %llu nodes, %llu meshes, %llu triangles, %llu materials, %llu textures, "
        "animation time %u\n",
        files[1].c_str(), static_cast<unsigned long long>(report.qwNodes),
        static_cast<unsigned long long>(report.qwMeshes),
        static_cast<unsigned long long>(report.qwTriangles),
        static_cast<unsigned long long>(report.qwMaterials),
        static_cast<unsigned long long>(report.qwTextures), report.dwAnimationTime);
    if (hr == S_FALSE) {
        std::fprintf(stderr,
                     "morv3d: %s: read in part: Assimp reported %llu errors; the scene holds "
                     "what it read\n",
                     files[0].c_str(), static_cast<unsigned long long>(report.qwReadErrors));
        return kExitIncomplete;
    }
    return kExitOk;
}
