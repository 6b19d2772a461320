// Mesh chunks: records, frames and packing against hand-written bytes, and damaged meshes.
#include <gtest/gtest.h>

#include <memory>

#include "abstractdata/debugreport.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "scenebytes.h"
#include "support/tempfile.h"

namespace {

// Materials 0 to 3: solid, alpha, additive, and one without maps.
const std::vector<std::vector<MapSpec>> kMaterials = {
    {{0, "stone"}}, {{1, "glass"}, {0, "frame"}}, {{3, "fire"}}, {}};

const std::vector<std::array<uint32_t, 3>> kQuad = {{0, 1, 2}, {0, 2, 3}};
const std::vector<FrameSpec> kOneFrame = {{16, 0, false, 0, 0.0f}};

// The material tables, then a root node holding the given mesh chunks. A first table of five
// materials leaves an empty one behind the end of the list the second makes, so that a group
// naming material 4 cannot crash the test however it is handled.
std::vector<ChunkSpec> Scene(const std::vector<std::vector<uint8_t>>& meshes) {
    ChunkSpec root = Node("root");
    for (const auto& mesh : meshes) {
        root.children.push_back({0x10002, mesh, {}});
    }
    std::vector<std::vector<MapSpec>> fiveMaterials = kMaterials;
    fiveMaterials.push_back({});
    return {{0x10003, MaterialBytes(fiveMaterials), {}},
            {0x10003, MaterialBytes(kMaterials), {}},
            root};
}

// The mesh of one group over the quad, with one header word replaced.
std::vector<uint8_t> WithHeaderWord(size_t nOffset, uint32_t dwValue) {
    std::vector<uint8_t> bytes = MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, kOneFrame);
    for (int i = 0; i < 4; ++i) {
        bytes[nOffset + i] = static_cast<uint8_t>(dwValue >> (8 * i));
    }
    return bytes;
}

using MeshLoadTest = SceneLoadTest;

}  // namespace

// Sound and damaged meshes: results, reports and what was loaded are the listings of
// tests/data/scene/meshes.txt. Damaged meshes are refused before anything is sized and stay
// attached to their node.
TEST_F(MeshLoadTest, LoadedMeshesMatchTheirListings) {
    const std::vector<FrameSpec> frames = {
        {16, 0, false, 5, 0.0f}, {12, 100, true, 0, 10.0f}, {16, 200, true, 40, 20.0f}};
    const auto twoGroups = [](uint32_t dwMaterialA, uint32_t dwMaterialB) {
        return MeshBytes(0x13, 4, {{0, 1, 0, dwMaterialA}, {1, 1, 0, dwMaterialB}}, kQuad,
                         kOneFrame);
    };
    std::vector<uint8_t> cutFrame =
        MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad,
                  {{16, 0, false, 0, 0.0f}, {16, 10, false, 0, 1.0f}, {16, 20, false, 0, 2.0f}});
    cutFrame.erase(cutFrame.end() - 10, cutFrame.end());  // the third frame's vertices are cut
    ExpectLoads(
        "meshes.txt",
        {
            {"single frame",
             Scene({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, {{12, 0, false, 0, 0.0f}})})},
            {"three frames packed by flags 13, 11 and 0",
             Scene({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, frames),
                    MeshBytes(0x11, 4, {{0, 2, 0, 0}}, kQuad, frames),
                    MeshBytes(0x00, 4, {{0, 2, 0, 0}}, kQuad, frames)})},
            {"blend flags follow each group's first map",
             Scene({twoGroups(1, 0), twoGroups(1, 2), twoGroups(0, 0)})},
            {"untextured group",
             Scene({MeshBytes(0x13, 4, {{0, 1, 0, 0}, {1, 1, 0, 3}}, kQuad, kOneFrame)})},
            {"frame header of 20 bytes",
             Scene({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, {{20, 0, false, 0, 0.0f}})})},
            {"frame running past the payload", Scene({cutFrame})},
            {"header size 41", Scene({WithHeaderWord(0, 41)})},
            {"no groups", Scene({WithHeaderWord(8, 0)})},
            {"no faces", Scene({WithHeaderWord(12, 0)})},
            {"two vertices", Scene({WithHeaderWord(16, 2)})},
            {"word 20 is 0", Scene({WithHeaderWord(20, 0)})},
            {"vertex count beyond the payload", Scene({WithHeaderWord(16, 0x10000000)})},
            {"face count beyond the payload", Scene({WithHeaderWord(12, 0xFFFFFFFF)})},
            {"material beyond the list",
             Scene({MeshBytes(0x13, 4, {{0, 2, 0, 4}}, kQuad, kOneFrame)})},
            {"faces beyond the face list",
             Scene({MeshBytes(0x13, 4, {{1, 2, 0, 0}}, kQuad, kOneFrame)})},
            {"index beyond the vertices",
             Scene({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, {{0, 1, 2}, {0, 2, 4}}, kOneFrame)})},
            {"base vertex beyond the vertices",
             Scene({MeshBytes(0x13, 4, {{0, 2, 1, 0}}, kQuad, kOneFrame)})},
        });
}

TEST_F(MeshLoadTest, FaceIndicesKeepTheirLowSixteenBits) {
    LoadBothPasses(Scene({MeshBytes(0x01, 4465, {{0, 1, 0, 0}}, {{70000, 1, 2}}, kOneFrame)}));
    ASSERT_EQ(m_hrObjects, S_OK);
    EXPECT_EQ(static_cast<CQVR3DMesh*>(m_pRoot->GetChild(0))->pGeometry->IndexBuffer()[0], 4464);
}
