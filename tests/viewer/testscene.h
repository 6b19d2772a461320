// A scene that exercises every kind of tree entry, written as a file, with the tree the viewer
// shows for it. Shared by the viewer and the command-line tests.
#pragma once

#include <string>
#include <vector>

#include "fileformats/scenebytes.h"

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

inline const std::string kMaterialsBranch =
    "MATERIALS\n"
    "  Material\n"
    "    Map\n"
    "      Effect: Solid \n"
    "      Texture: stone.bmp\n"
    "  Material\n"
    "    Map\n"
    "      Effect: Alpha \n"
    "      Texture: glass.bmp\n"
    "    Map\n"
    "      Effect: \n"
    "      Texture: \n"
    "  Material\n"
    "    Map\n"
    "      Effect: Alpha Additive \n"
    "      Texture: fire.bmp\n"
    "  Material\n";

// The animation entry first, the meshes reversed (the still one, then the animated one), then
// the nodes in list order.
inline const std::string kObjectsBranch =
    "OBJECTS\n"
    "  node: scene\n"
    "    Animation: Hierarchy: 200 \n"
    "    mesh: \n"
    "    mesh: \n"
    "      Animation: Hierarchy: 80 Object: 80 \n"
    "    node: arm\n"
    "      Animation: Hierarchy: 120 Object: 120 \n"
    "      node: hand\n"
    "        Animation: Hierarchy: 50 \n"
    "        node: finger\n"
    "          Animation: Hierarchy: 50 Object: 50 \n"
    "    node: dmyHelper\n"
    "      Animation: Hierarchy: 200 \n"
    "      node: inner\n"
    "        Animation: Hierarchy: 200 \n"
    "        mesh: \n"
    "          Animation: Hierarchy: 200 Object: 200 \n"
    "    node: Dmy\n"
    "    node: dm\n"
    "    node: dmy\n";

inline const std::string kSceneTree = kMaterialsBranch + kObjectsBranch;

}  // namespace viewer_test
