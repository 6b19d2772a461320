// morv3d import IN OUT.morv3d: any format Assimp reads into a scene file, textures beside it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "cli.h"
#include "interchange/importscene.h"

namespace {

struct ImportArgs {
    std::string strIn;
    std::string strOut;
    ImportOptions options;
    ImportControl control;
};

bool EndsWithMorv3d(const std::string& strPath) {
    constexpr std::string_view kExt = ".morv3d";
    return strPath.size() > kExt.size() &&
           std::equal(kExt.begin(), kExt.end(), strPath.end() - kExt.size(), [](char e, char c) {
               return e == std::tolower(static_cast<unsigned char>(c));
           });
}

int RunImport(const ImportArgs& a) {
    if (!EndsWithMorv3d(a.strOut)) {
        return UsageError("import: the output must be a .morv3d file");
    }
    ImportReport report;
    const HRESULT hr = ImportScene(a.strIn, a.strOut, &report, a.options, a.control);
    for (const std::string& strNote : report.notes) {
        std::fprintf(stderr, "morv3d: %s: note: %s\n", a.strIn.c_str(), strNote.c_str());
    }
    for (const std::string& strError : report.readErrors) {
        std::fprintf(stderr, "morv3d: %s: Assimp: %s\n", a.strIn.c_str(), strError.c_str());
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "morv3d: %s: cannot import: %s (%s)\n", a.strIn.c_str(),
                     report.strError.c_str(), HexCode(static_cast<uint32_t>(hr)).c_str());
        return kExitIncomplete;
    }
    std::printf(
        "%s: %llu nodes, %llu meshes, %llu triangles, %llu materials, %llu textures, "
        "animation time %u\n",
        a.strOut.c_str(), static_cast<unsigned long long>(report.qwNodes),
        static_cast<unsigned long long>(report.qwMeshes),
        static_cast<unsigned long long>(report.qwTriangles),
        static_cast<unsigned long long>(report.qwMaterials),
        static_cast<unsigned long long>(report.qwTextures), report.dwAnimationTime);
    if (hr == S_FALSE) {
        std::fprintf(stderr,
                     "morv3d: %s: read in part: Assimp reported %llu errors; the scene holds "
                     "what it read\n",
                     a.strIn.c_str(), static_cast<unsigned long long>(report.qwReadErrors));
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace

void AddImport(CCli& cli) {
    auto a = std::make_shared<ImportArgs>();
    CLI::App* pVerb = cli.AddVerb(
        "import",
        "convert a model Assimp reads (glTF, FBX, OBJ, Collada, 3DS, BVH, ...) into a scene; "
        "textures are written beside OUT",
        "import: expected IN and OUT.morv3d", [a] { return RunImport(*a); });
    pVerb->add_option("IN", a->strIn);
    pVerb->add_option("OUT.morv3d", a->strOut);
    cli.AddValue(pVerb, "--rate", "R", "key time units per second (default 30)",
                 "import: --rate takes a number in (0, 1000000]", [a](const std::string& strValue) {
                     double& dRate = a->options.dUnitsPerSecond;
                     return ParseWhole(strValue, dRate) && dRate > 0.0 && dRate <= 1e6;
                 });
    cli.AddValue(
        pVerb, "--animation", "N", "which of several animations drives the tracks (default 0)",
        "import: --animation takes the number of an animation",
        [a](const std::string& strValue) { return ParseWhole(strValue, a->options.dwAnimation); });
    cli.AddValue(pVerb, "--timeout", "S",
                 "seconds the import may take, of the clock and of processor time (default 300)",
                 "import: --timeout takes a whole number of seconds from 1 to 86400",
                 [a](const std::string& strValue) {
                     uint32_t& dwSeconds = a->control.dwTimeoutSeconds;
                     return ParseWhole(strValue, dwSeconds) && dwSeconds >= 1 && dwSeconds <= 86400;
                 });
}
