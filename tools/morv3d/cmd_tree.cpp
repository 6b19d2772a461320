// morv3d tree FILE [--flags HEX] [--images]: the structure tree the viewer shows for a scene.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "viewer/document.h"
#include "viewer/structuretree.h"

namespace {

// Hex digits with or without 0x, at most 32 bits.
bool ParseHexWord(const std::string& strText, uint32_t& dwValue) {
    size_t nStart = 0;
    if (strText.size() >= 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X')) {
        nStart = 2;
    }
    if (nStart == strText.size() || strText.size() - nStart > 8) {
        return false;
    }
    uint32_t dwResult = 0;
    for (size_t i = nStart; i < strText.size(); ++i) {
        const char ch = strText[i];
        uint32_t dwDigit = 0;
        if (ch >= '0' && ch <= '9') {
            dwDigit = static_cast<uint32_t>(ch - '0');
        } else if (ch >= 'a' && ch <= 'f') {
            dwDigit = static_cast<uint32_t>(ch - 'a' + 10);
        } else if (ch >= 'A' && ch <= 'F') {
            dwDigit = static_cast<uint32_t>(ch - 'A' + 10);
        } else {
            return false;
        }
        dwResult = (dwResult << 4) | dwDigit;
    }
    dwValue = dwResult;
    return true;
}

}  // namespace

int RunTree(const std::vector<std::string>& args) {
    std::string strPath;
    uint32_t dwShowFlags = SHOW_ALL;
    bool bImages = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        if (strArg == "--images") {
            bImages = true;
        } else if (strArg == "--flags" || strArg.rfind("--flags=", 0) == 0) {
            std::string strValue;
            if (strArg == "--flags") {
                if (i + 1 == args.size()) {
                    return UsageError("tree: --flags needs a hex value");
                }
                strValue = args[++i];
            } else {
                strValue = strArg.substr(8);
            }
            if (!ParseHexWord(strValue, dwShowFlags)) {
                return UsageError("tree: --flags: '" + strValue + "' is not a 32-bit hex value");
            }
        } else if (!strArg.empty() && strArg[0] == '-') {
            return UsageError("tree: unknown option '" + strArg + "'");
        } else if (strPath.empty()) {
            strPath = strArg;
        } else {
            return UsageError("tree: expected one FILE");
        }
    }
    if (strPath.empty()) {
        return UsageError("tree: no file given");
    }

    CMorv3dViewerDoc doc;
    if (!doc.OnOpenDocument(strPath)) {
        PrintFailure(strPath, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    StructureTree tree;
    const HRESULT hrTree = BuildStructureTree(&tree, doc, dwShowFlags);
    const std::string strText = FormatStructureTree(tree, bImages);
    std::fwrite(strText.data(), 1, strText.size(), stdout);
    PrintPassFailures(strPath, doc);
    if (FAILED(hrTree)) {
        PrintFailure(strPath, "the tree could not be built whole", hrTree);
    }
    return (doc.LoadedCompletely() && SUCCEEDED(hrTree)) ? kExitOk : kExitIncomplete;
}
