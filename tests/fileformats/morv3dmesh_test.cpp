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

class MeshLoadTest : public ::testing::Test {
protected:
    // Loads a scene whose root node holds the given mesh chunks; returns the objects result.
    HRESULT LoadMeshes(const std::vector<std::vector<uint8_t>>& meshes) {
        ChunkSpec root = Node("root");
        for (const auto& mesh : meshes) {
            root.children.push_back({0x10002, mesh, {}});
        }
        m_pLoader.reset();  // it keeps its file open, and so locked, until it goes
        WriteContainer(m_strPath, {{0x10003, MaterialBytes(kMaterials), {}}, root});
        m_pLoader = std::make_unique<CMorv3DSceneLoader>(nullptr);
        EXPECT_EQ(m_pLoader->Load(m_strPath, MORV3D_LOAD_MATERIALS), S_OK);
        const HRESULT hr = m_pLoader->Load(m_strPath, MORV3D_LOAD_OBJECTS);
        m_pRoot.reset(m_pLoader->DetachRoot());
        return hr;
    }

    CQVR3DMesh* Mesh(uint32_t i) {
        EXPECT_LT(i, m_pRoot->GetChildCount());
        CQVR3DObject* pChild = m_pRoot->GetChild(i);
        EXPECT_EQ(pChild->GetObjectType(), QVR3DOBJ_MESH);
        return static_cast<CQVR3DMesh*>(pChild);
    }

    static float FloatAt(const uint8_t* p) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }

    CTempDir m_dir;
    std::string m_strPath = m_dir.File("mesh.morv3d");
    std::unique_ptr<CMorv3DSceneLoader> m_pLoader;
    std::unique_ptr<CQVR3DNode> m_pRoot;
};

const std::vector<std::array<uint32_t, 3>> kQuad = {{0, 1, 2}, {0, 2, 3}};

}  // namespace

TEST_F(MeshLoadTest, SingleFrameSharesTheGeometry) {
    ASSERT_EQ(LoadMeshes({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, {{12, 0, false, 0, 0.0f}})}),
              S_OK);
    CQVR3DMesh* pMesh = Mesh(0);
    const CQVR3DMeshData& geometry = *pMesh->pGeometry;
    EXPECT_TRUE(geometry.morphKeys.empty());
    EXPECT_EQ(pMesh->pVertices, geometry.pVertices);
    EXPECT_EQ(pMesh->GetAnimationTime(), 0u);
    EXPECT_EQ(geometry.dwVertexCount, 4u);
    EXPECT_EQ(geometry.dwIndexCount, 6u);
    EXPECT_EQ(geometry.IndexBuffer()[5], 3);
    EXPECT_EQ(geometry.groups[0].dwReserved, 0x4444u);
    // Vertex i: position i, normal i + 1/16, u and v i + 4/16.
    EXPECT_EQ(geometry.pVertices[2].vPosition.y, 2.0f);
    EXPECT_EQ(geometry.pVertices[2].vNormal.z, 2.0625f);
    EXPECT_EQ(geometry.pVertices[2].fV, 2.25f);
    EXPECT_EQ(pMesh->fLocalSphereRadius, 100.0f);
    EXPECT_EQ(pMesh->vLocalSphereCenter.y, 2.0f);
    ASSERT_EQ(pMesh->pMaps->groupMaps.size(), 1u);
    EXPECT_EQ(pMesh->pMaps->groupMaps[0].size(), 1u);
}

TEST_F(MeshLoadTest, FramesBecomeMorphKeysPackedByTheComponentFlags) {
    const std::vector<FrameSpec> frames = {
        {16, 0, false, 5, 0.0f}, {12, 100, true, 0, 10.0f}, {16, 200, true, 40, 20.0f}};
    ASSERT_EQ(LoadMeshes({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, frames),
                          MeshBytes(0x11, 4, {{0, 2, 0, 0}}, kQuad, frames),
                          MeshBytes(0x00, 4, {{0, 2, 0, 0}}, kQuad, frames)}),
              S_OK);

    const CQVR3DMeshData& full = *Mesh(0)->pGeometry;
    ASSERT_EQ(full.morphKeys.size(), 3u);
    EXPECT_NE(Mesh(0)->pVertices, full.pVertices);  // an animated mesh morphs its own copy
    EXPECT_EQ(Mesh(0)->GetAnimationTime(), 200u);
    EXPECT_EQ(full.morphKeys[1].dwTime, 100u);
    EXPECT_TRUE(full.morphKeys[1].bBlend);
    EXPECT_EQ(full.morphKeys[1].dwBlendDuration, 10u);  // a 12-byte header
    EXPECT_EQ(full.morphKeys[2].dwBlendDuration, 40u);
    // Stride 32: position at 0, normal at 12, u and v at 24, for the first frame as for later.
    const uint8_t* pFirst = full.morphKeys[0].pVertexData;
    EXPECT_EQ(FloatAt(pFirst + 32 * 3 + 0), 3.0f);
    EXPECT_EQ(FloatAt(pFirst + 32 * 3 + 12), 3.0625f);
    EXPECT_EQ(FloatAt(pFirst + 32 * 3 + 28), 3.25f);
    const uint8_t* pThird = full.morphKeys[2].pVertexData;
    EXPECT_EQ(FloatAt(pThird + 32 * 1 + 4), 21.0f);
    EXPECT_EQ(FloatAt(pThird + 32 * 1 + 24), 21.25f);

    // Stride 20: u and v right behind the position.
    const CQVR3DMeshData& noNormals = *Mesh(1)->pGeometry;
    ASSERT_EQ(noNormals.morphKeys.size(), 3u);
    EXPECT_EQ(FloatAt(noNormals.morphKeys[0].pVertexData + 20 * 2 + 12), 2.25f);
    EXPECT_EQ(FloatAt(noNormals.morphKeys[1].pVertexData + 20 * 2 + 16), 12.25f);

    // Stride 0: later frames carry no vertices; the first still gives the base.
    const CQVR3DMeshData& none = *Mesh(2)->pGeometry;
    EXPECT_EQ(none.morphKeys.size(), 3u);
    EXPECT_EQ(none.pVertices[1].vPosition.x, 1.0f);
}

TEST_F(MeshLoadTest, BlendFlagsFollowEachGroupsFirstMap) {
    const auto twoGroups = [](uint32_t dwMaterialA, uint32_t dwMaterialB) {
        return MeshBytes(0x13, 4, {{0, 1, 0, dwMaterialA}, {1, 1, 0, dwMaterialB}}, kQuad,
                         {{16, 0, false, 0, 0.0f}});
    };
    ASSERT_EQ(LoadMeshes({twoGroups(1, 0), twoGroups(1, 2), twoGroups(0, 0)}), S_OK);
    // Order after ChildListChanged: opaque, partly blended, entirely blended.
    EXPECT_EQ(Mesh(0)->GetBlendFlags(), 0u);
    EXPECT_EQ(Mesh(1)->GetBlendFlags(), 1u);
    EXPECT_EQ(Mesh(2)->GetBlendFlags(), 3u);
    const CQVR3DMesh* pMixed = Mesh(1);
    EXPECT_EQ(pMixed->groupIndexPointers[1], pMixed->groupIndexPointers[0] + 3);
    EXPECT_EQ(pMixed->pMaps->groupMaps[0].size(), 2u);  // the glass material has two maps
}

TEST_F(MeshLoadTest, FaceIndicesKeepTheirLowSixteenBits) {
    const uint32_t dwVertices = 4465;
    ASSERT_EQ(LoadMeshes({MeshBytes(0x01, dwVertices, {{0, 1, 0, 0}}, {{70000, 1, 2}},
                                    {{16, 0, false, 0, 0.0f}})}),
              S_OK);
    EXPECT_EQ(Mesh(0)->pGeometry->IndexBuffer()[0], 4464);
}

TEST_F(MeshLoadTest, UntexturedGroupAndBadFrameHeaderAreReportedAndKept) {
    CReportCapture reports;
    EXPECT_EQ(LoadMeshes({MeshBytes(0x13, 4, {{0, 1, 0, 0}, {1, 1, 0, 3}}, kQuad,
                                    {{16, 0, false, 0, 0.0f}})}),
              E_UNEXPECTED);
    ASSERT_EQ(m_pRoot->GetChildCount(), 1u);  // the failed mesh is attached
    EXPECT_EQ(reports.Entries()[0].strMessage, "Error: Untextured meshes are not supported.\n");

    reports.Clear();
    EXPECT_EQ(LoadMeshes({MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, {{20, 0, false, 0, 0.0f}})}),
              E_FAIL);
    EXPECT_EQ(reports.Entries()[0].strMessage, "Error: Invalid file format.");
    EXPECT_EQ(m_pRoot->GetChildCount(), 1u);
}

TEST_F(MeshLoadTest, DamagedMeshesAreRefusedBeforeAnythingIsSized) {
    const std::vector<FrameSpec> oneFrame = {{16, 0, false, 0, 0.0f}};
    const auto withHeaderWord = [&](size_t nOffset, uint32_t dwValue) {
        std::vector<uint8_t> bytes = MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad, oneFrame);
        for (int i = 0; i < 4; ++i) {
            bytes[nOffset + i] = static_cast<uint8_t>(dwValue >> (8 * i));
        }
        return bytes;
    };
    struct Case {
        const char* pszWhat;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"header size", withHeaderWord(0, 41)},
        {"no groups", withHeaderWord(8, 0)},
        {"no faces", withHeaderWord(12, 0)},
        {"two vertices", withHeaderWord(16, 2)},
        {"word 20", withHeaderWord(20, 0)},
        {"vertex count beyond the payload", withHeaderWord(16, 0x10000000)},
        {"face count beyond the payload", withHeaderWord(12, 0xFFFFFFFF)},
        {"material beyond the list", MeshBytes(0x13, 4, {{0, 2, 0, 4}}, kQuad, oneFrame)},
        {"faces beyond the face list", MeshBytes(0x13, 4, {{1, 2, 0, 0}}, kQuad, oneFrame)},
        {"index beyond the vertices",
         MeshBytes(0x13, 4, {{0, 2, 0, 0}}, {{0, 1, 2}, {0, 2, 4}}, oneFrame)},
        {"base vertex beyond the vertices", MeshBytes(0x13, 4, {{0, 2, 1, 0}}, kQuad, oneFrame)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadMeshes({c.bytes}), MORV_E_BADFORMAT) << c.pszWhat;
        EXPECT_EQ(m_pRoot->GetChildCount(), 1u) << c.pszWhat;
    }
}

TEST_F(MeshLoadTest, FrameRunningPastThePayloadIsNoKey) {
    std::vector<uint8_t> bytes =
        MeshBytes(0x13, 4, {{0, 2, 0, 0}}, kQuad,
                  {{16, 0, false, 0, 0.0f}, {16, 10, false, 0, 1.0f}, {16, 20, false, 0, 2.0f}});
    bytes.erase(bytes.end() - 10, bytes.end());  // the third frame's vertices are cut
    EXPECT_EQ(LoadMeshes({bytes}), E_FAIL);
    EXPECT_EQ(Mesh(0)->pGeometry->morphKeys.size(), 2u);
}
