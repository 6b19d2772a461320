#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "cli.h"
#include "viewer/document.h"

namespace {

const CliCommand kCommands[] = {
    {"chunks", "FILE [--trace]",
     "print a morv container's header and its chunk tree (type id, children, payload)", RunChunks},
    {"info", "FILE [--json] [--trace]",
     "load a scene as the viewer does and print what it holds and each pass's result", RunInfo},
    {"validate", "FILE [--trace]",
     "load a scene and report every failure; --trace shows where in the file it failed",
     RunValidate},
    {"tree", "FILE [--flags HEX] [--images] [--trace]",
     "print the viewer's structure tree; --flags chooses what it shows (default FFFFFFFF: "
     "1 nodes, 2 meshes, 4 animation, 8 dummies, 10 materials, 20 maps, 40 mesh animations), "
     "--images adds each entry's image index",
     RunTree},
    {"render",
     "FILE OUT.png [--size WxH] [--time T] [--view front|top|side|iso] [--wireframe] "
     "[--spheres] [--normals] [--grid] [--axes] [--background RRGGBB]",
     "draw the scene at time T (default 0) without a display and write a PNG (default 800x600, "
     "iso view); missing textures are drawn as checkers and listed",
     RunRender},
    {"pick", "FILE --at X,Y [--size WxH] [--time T] [--view front|top|side|iso] [--json]",
     "list what lies under pixel X,Y of the picture render would draw, nearest first: object "
     "path, kind, pick id, distance",
     RunPick},
    {"import", "IN OUT.morv3d [--rate R] [--animation N]",
     "convert a model Assimp reads (glTF, FBX, OBJ, Collada, 3DS, BVH, ...) into a scene; "
     "textures are written beside OUT; --rate sets key time units per second (default 30), "
     "--animation picks one of several animations (default 0)",
     RunImport},
    {"export", "IN OUT [--rate R] [--trace]",
     "write the scene as OUT's format: glb, gltf (glTF 2.0), obj, fbx, dae, stl, ply, 3mf, x; "
     "key times become seconds at R units per second (default 30); prints what the format "
     "could not hold",
     RunExport},
};

void PrintHelp(FILE* pOut) {
    std::fprintf(pOut,
                 "Usage: morv3d COMMAND [ARGS]\n"
                 "       morv3d --help | --version\n\n"
                 "Commands:\n");
    for (const CliCommand& command : kCommands) {
        std::fprintf(pOut, "  %s %s\n      %s\n", command.pszName, command.pszUsage,
                     command.pszSummary);
    }
    std::fprintf(pOut,
                 "\nOptions of every command:\n"
                 "  --trace   show the failure reports of the library on stderr\n\n"
                 "Exit status: 0 success, 1 the file could not be read or loaded completely,\n"
                 "2 usage error.\n");
}

}  // namespace

int UsageError(const std::string& strMessage) {
    std::fprintf(stderr, "morv3d: %s\nTry 'morv3d --help'.\n", strMessage.c_str());
    return kExitUsage;
}

void PrintPassFailures(const std::string& strPath, const CMorv3dViewerDoc& doc) {
    if (FAILED(doc.GetMaterialsResult())) {
        PrintFailure(strPath, "the materials could not be loaded completely",
                     doc.GetMaterialsResult());
    }
    if (FAILED(doc.GetObjectsResult())) {
        PrintFailure(strPath, "the objects could not be loaded completely", doc.GetObjectsResult());
    }
}

std::string HexCode(uint32_t dwValue) {
    char szText[16];
    std::snprintf(szText, sizeof(szText), "0x%08X", dwValue);
    return szText;
}

void PrintFailure(const std::string& strPath, const std::string& strWhat, HRESULT hr) {
    std::fprintf(stderr, "morv3d: %s: %s: %s (%s)\n", strPath.c_str(), strWhat.c_str(),
                 HexCode(static_cast<uint32_t>(hr)).c_str(), HResultMessage(hr));
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return UsageError("no command given");
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (args[0] == "--version") {
        std::printf("morv3d " MORV3D_VERSION "\n");
        return kExitOk;
    }

    // The library reports nothing unless the user asks for it.
    bool bTrace = false;
    std::vector<std::string> rest;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--trace") {
            bTrace = true;
        } else {
            rest.push_back(args[i]);
        }
    }
    SetReportsEnabled(bTrace);

    for (const CliCommand& command : kCommands) {
        if (args[0] != command.pszName) {
            continue;
        }
        for (const std::string& strArg : rest) {
            if (strArg == "--help" || strArg == "-h") {
                std::printf("Usage: morv3d %s %s\n  %s\n", command.pszName, command.pszUsage,
                            command.pszSummary);
                return kExitOk;
            }
        }
        return command.pfnRun(rest);
    }
    return UsageError("unknown command '" + args[0] + "'");
}
