// morv3d export IN OUT [--rate R]: the scene as the viewer loads it, written as glTF or
// through Assimp; the format is OUT's extension.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

bool ParseRate(const std::string& strText, double& dRate) {
    if (strText.empty()) {
        return false;
    }
    char* pEnd = nullptr;
    errno = 0;
    dRate = std::strtod(strText.c_str(), &pEnd);
    return errno == 0 && *pEnd == '\0' && std::isfinite(dRate) && dRate > 0.0;
}

struct ExportArgs {
    std::string strIn;
    std::string strOut;
    ExportOptions options;
};

bool TakeArgs(const std::vector<std::string>& args, ExportArgs& out) {
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        if (strArg == "--rate") {
            if (i + 1 >= args.size() || !ParseRate(args[i + 1], out.options.dTimeUnitsPerSecond)) {
                UsageError("export: --rate takes a positive number of key units per second");
                return false;
            }
            ++i;
        } else if (!strArg.empty() && strArg[0] == '-') {
            UsageError("export: unknown option '" + strArg + "'");
            return false;
        } else {
            files.push_back(strArg);
        }
    }
    if (files.size() != 2) {
        UsageError("export: expected IN and OUT");
        return false;
    }
    out.strIn = files[0];
    out.strOut = files[1];
    if (!IsExportPath(out.strOut)) {
        UsageError("export: OUT must end in one of " + ExtensionList());
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string(".")
           : nSlash == 0               ? std::string("/")
                                       : strPath.substr(0, nSlash);
}

void PrintReport(const ExportReport& report) {
    for (const std::string& str : report.written) {
        std::printf("wrote %s\n", str.c_str());
    }
    for (const std::string& str : report.dropped) {
        std::printf("dropped: %s\n", str.c_str());
    }
    for (const std::string& str : report.missingTextures) {
        std::printf("missing texture: %s\n", str.c_str());
    }
    for (const std::string& str : report.notes) {
        std::printf("note: %s\n", str.c_str());
    }
    if (report.dMaxRotationError > 0.0) {
        std::printf("rotation tracks sampled: largest error %.6f rad\n", report.dMaxRotationError);
    }
}

}  // namespace

int RunExport(const std::vector<std::string>& args) {
    ExportArgs parsed;
    if (!TakeArgs(args, parsed)) {
        return kExitUsage;
    }
    CMorv3dViewerDoc doc;
    doc.SetMaterialsHook(TagMaterialHandles);
    if (!doc.OnOpenDocument(parsed.strIn)) {
        PrintFailure(parsed.strIn, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    ExportReport report;
    const HRESULT hr = ExportScene(doc._Materials, doc._pNode, FolderOf(parsed.strIn),
                                   parsed.strOut, parsed.options, &report);
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
