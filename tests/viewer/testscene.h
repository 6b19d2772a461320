// A scene that exercises every kind of tree entry, written as a file, with the tree the viewer
// shows for it. Shared by the viewer and the command-line tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fileformats/scenebytes.h"
#include "support/table.h"

namespace viewer_test {

inline ChunkSpec Tracks(uint32_t dwLastTime) {
    return {0x10001, TrackBytes({{0, 1.0f}, {dwLastTime, 2.0f}}, {}), {}};
}

// Four vertices, two faces of material 0 (solid, so the mesh keeps its place in the child
// list); animated when dwLastFrame is not 0.
inline ChunkSpec Mesh(uint32_t dwLastFrame = 0) {
    std::vector<FrameSpec> frames = {{16, 0, false, 0, 0.0f}};
    if (dwLastFrame != 0) {
        frames.push_back({16, dwLastFrame, false, 0, 1.0f});
    }
    return {0x10002, MeshBytes(0x13, 4, {{0, 2, 0, 0}}, {{0, 1, 2}, {0, 2, 3}}, frames), {}};
}

inline const std::vector<std::vector<MapSpec>> kMaterials = {
    {{0, "stone.bmp"}},
    {{1, "glass.bmp"}, {2, ""}},
    {{3, "fire.bmp"}},
    {},
};

// Root "scene" (not animated): node "arm" (120) holding "hand" (not animated) holding
// "finger" (50), an animated mesh (80), a dummy with a node and an animated mesh (200) below
// it, a still mesh, and the names the dummy rule must tell apart.
inline std::vector<ChunkSpec> SceneChunks() {
    return {
        {0x10003, MaterialBytes(kMaterials), {}},
        Node("scene", {Node("arm", {Tracks(120), Node("hand", {Node("finger", {Tracks(50)})})}),
                       Mesh(80), Node("dmyHelper", {Node("inner", {Mesh(200)})}), Mesh(),
                       Node("Dmy"), Node("dm"), Node("dmy")}),
    };
}

inline void WriteScene(const std::string& strPath) {
    WriteContainer(strPath, SceneChunks());
}

// The materials, then a root holding "before" (with a mesh), a mesh whose group names
// dwMaterial and "after": with a material that has no maps or does not exist, the objects pass
// fails at that mesh, keeping what came before it.
inline void WritePartScene(const std::string& strPath, uint32_t dwMaterial) {
    ChunkSpec badMesh = Mesh();
    badMesh.payload = MeshBytes(0x13, 4, {{0, 2, 0, dwMaterial}}, {{0, 1, 2}, {0, 2, 3}},
                                {{16, 0, false, 0, 0.0f}});
    WriteContainer(strPath, {{0x10003, MaterialBytes(kMaterials), {}},
                             Node("root", {Node("before", {Mesh()}), badMesh, Node("after")})});
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
