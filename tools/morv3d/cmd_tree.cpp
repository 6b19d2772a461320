// morv3d tree FILE [--flags HEX] [--images]: the structure tree the viewer shows for a scene.
#include <cstdio>
#include <memory>
#include <string>

#include "cli.h"
#include "viewer/document.h"
#include "viewer/structuretree.h"

namespace {

struct TreeArgs {
    std::string strPath;
    uint32_t dwShowFlags = SHOW_ALL;
    bool bImages = false;
};

// Hex digits with or without 0x, at most 32 bits.
bool ParseHexWord(std::string_view strText, uint32_t& dwValue) {
    if (strText.size() >= 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X')) {
        strText.remove_prefix(2);
    }
    return ParseWhole(strText, dwValue, 16);
}

int RunTree(const TreeArgs& a) {
    CMorv3dViewerDoc& doc = DocumentOfThisRun();
    if (!doc.OpenScene(a.strPath)) {
        PrintFailure(a.strPath, "cannot be opened", doc.GetOpenResult());
        return kExitIncomplete;
    }
    StructureTree tree;
    const HRESULT hrTree = BuildStructureTree(&tree, doc, a.dwShowFlags);
    const std::string strText = FormatStructureTree(tree, a.bImages);
    std::fwrite(strText.data(), 1, strText.size(), stdout);
    PrintPassFailures(a.strPath, doc);
    if (FAILED(hrTree)) {
        PrintFailure(a.strPath, "the tree could not be built whole", hrTree);
    }
    return (doc.LoadedCompletely() && SUCCEEDED(hrTree)) ? kExitOk : kExitIncomplete;
}

}  // namespace

void AddTree(CCli& cli) {
    auto a = std::make_shared<TreeArgs>();
    CLI::App* pVerb = cli.AddVerb("tree", "print the viewer's structure tree",
                                  "tree: expected one FILE", [a] { return RunTree(*a); });
    pVerb->add_option("FILE", a->strPath);
    cli.AddValue(
        pVerb, "--flags", "HEX",
        "what the tree shows (default FFFFFFFF): 1 nodes, 2 meshes, 4 animation, 8 dummies, "
        "10 materials, 20 maps, 40 mesh animations",
        "tree: --flags takes a 32-bit hex value",
        [a](const std::string& strValue) { return ParseHexWord(strValue, a->dwShowFlags); });
    pVerb->add_flag("--images", a->bImages, "add each entry's image index");
}
