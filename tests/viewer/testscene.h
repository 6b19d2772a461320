// The scenes of tests/data/viewer/scenes.hex written as files, with the trees the viewer shows
// for them. Shared by the viewer, command-line and GUI tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fileformats/scenebytes.h"
#include "support/table.h"

namespace viewer_test {

// A scene of tests/data/<strFile> (a file of scene cases, laid out as viewer/scenes.hex says).
inline std::vector<SceneChunk> SceneCase(const std::string& strFile, const std::string& strTitle) {
    return ReadSceneCase("../" + strFile, strTitle);
}

// The scene that exercises every kind of tree entry ("scene" of viewer/scenes.hex).
inline std::vector<SceneChunk> SceneChunks() {
    return SceneCase("viewer/scenes.hex", "scene");
}

inline void WriteScene(const std::string& strPath) {
    WriteContainer(strPath, SceneChunks());
}

// A scene whose objects pass fails at a mesh naming dwMaterial (3: no maps, 9: not there),
// keeping what came before it.
inline void WritePartScene(const std::string& strPath, uint32_t dwMaterial) {
    WriteContainer(strPath, SceneCase("viewer/scenes.hex", "part " + std::to_string(dwMaterial)));
}

struct ExpectedTree {
    std::string strScene;
    uint32_t dwFlags = 0;
    bool bImages = false;
    std::string strNote;
    std::string strText;
};

// The sections of tests/data/viewer/trees.txt: "== SCENE FLAGS [images] # note", then the tree.
inline std::vector<ExpectedTree> ExpectedTrees() {
    std::ifstream in(std::string(MORV_SOURCE_DIR) + "/tests/data/viewer/trees.txt");
    std::vector<ExpectedTree> trees;
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.rfind("== ", 0) == 0) {
            std::istringstream header(strLine.substr(3));
            ExpectedTree tree;
            std::string strWord;
            header >> tree.strScene >> std::hex >> tree.dwFlags >> strWord;
            tree.bImages = strWord == "images";
            tree.strNote = strLine.substr(strLine.find('#') + 1);
            trees.push_back(tree);
        } else if (!trees.empty()) {
            trees.back().strText += strLine + "\n";
        }
    }
    return trees;
}

// The test scene's tree as the viewer shows it with dwFlags.
inline std::string SceneTree(uint32_t dwFlags = 0xFFFFFFFF, bool bImages = false) {
    for (const ExpectedTree& tree : ExpectedTrees()) {
        if (tree.strScene == "file" && tree.dwFlags == dwFlags && tree.bImages == bImages) {
            return tree.strText;
        }
    }
    return "no expected tree for these flags";
}

}  // namespace viewer_test
