// morv3d export IN OUT [--rate R]: the scene as the viewer loads it, written as glTF or
// through Assimp; the format is OUT's extension.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "interchange/export.h"
#include "interchange/exportmodel.h"
#include "viewer/document.h"

namespace {

std::string ExtensionList() {
    std::string strList;
    for (const std::string& str : ExportExtensions()) {
        strList += (strList.empty() ? "" : ", ") + str;
    }
    return strList;
}

struct ExportArgs {
    std::string strIn;
    std::string strOut;
    ExportOptions options;
};

std::string FolderOf(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string(".")
           : nSlash == 0               ? std::string("/")
                                       : strPath.substr(0, nSlash);
}

// What was written goes to stdout; what the format could not hold and other notes to stderr,
// as every verb prints its notes.
void PrintReport(const ExportReport& report) {
    for (const std::string& str : report.written) {
        std::printf("wrote %s\n", str.c_str());
    }
    std::fflush(stdout);
    for (const std::string& str : report.dropped) {
        std::fprintf(stderr, "dropped: %s\n", str.c_str());
    }
    for (const std::string& str : report.missingTextures) {
        std::fprintf(stderr, "missing texture: %s\n", str.c_str());
    }
    for (const std::string& str : report.notes) {
        std::fprintf(stderr, "note: %s\n", str.c_str());
    }
    if (report.dMaxRotationError > 0.0) {
        std::fprintf(stderr, "rotation tracks sampled: largest error %.6f rad\n",
                     report.dMaxRotationError);
    }
}

int RunExport(const ExportArgs& parsed) {
    if (!IsExportPath(parsed.strOut)) {
        return UsageError("export: OUT must end in one of " + ExtensionList());
    }
    CMorv3dViewerDoc& doc = DocumentOfThisRun();
    if (!doc.OpenScene(parsed.strIn)) {
        PrintFailure(parsed.strIn, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    ExportReport report;
    const HRESULT hr = ExportScene(doc.materials, doc._pNode, FolderOf(parsed.strIn), parsed.strOut,
                                   parsed.options, &report);
    PrintReport(report);
    if (FAILED(hr)) {
        PrintFailure(parsed.strOut, "could not be written", hr);
        return kExitIncomplete;
    }
    if (!doc.LoadedCompletely()) {
        PrintPassFailures(parsed.strIn, doc);
        std::fprintf(stderr, "morv3d: %s: written from the part of the scene that loaded\n",
                     parsed.strOut.c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace

void AddExport(CCli& cli) {
    auto a = std::make_shared<ExportArgs>();
    CLI::App* pVerb = cli.AddVerb(
        "export",
        "write the scene as OUT's format: glb, gltf (glTF 2.0), obj, fbx, dae, stl, ply, 3mf, x; "
        "prints what the format could not hold",
        "export: expected IN and OUT", [a] { return RunExport(*a); });
    pVerb->add_option("IN", a->strIn);
    pVerb->add_option("OUT", a->strOut);
    cli.AddValue(pVerb, "--rate", "R",
                 "key time units per second: key times become seconds (default 30)",
                 "export: --rate takes a positive number of key units per second",
                 [a](const std::string& strValue) {
                     double& dRate = a->options.dTimeUnitsPerSecond;
                     return ParseWhole(strValue, dRate) && std::isfinite(dRate) && dRate > 0.0;
                 });
}
