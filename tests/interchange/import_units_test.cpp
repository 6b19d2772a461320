// Pieces of the import that no test model reaches: names in the code page, face groups of
// meshes larger than 16-bit indices reach, models held in memory, the child process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "interchange/importinternal.h"
#include "interchange/importmodels.h"

namespace {

TEST(ImportNames, StoredInTheCodePage) {
    for (const std::vector<std::string>& row : ReadTable("import_names.tsv")) {
        EXPECT_EQ(ToWindows1252(UnescapeBytes(row.at(1))), UnescapeBytes(row.at(2)))
            << row[0] << " " << row.at(3);
    }
}

// A mesh of 70,000 vertices whose triangles reach across all of them: every group stays within
// 16-bit indices, and the groups together give back every triangle.
TEST(ImportSplit, GroupsReachEveryTriangleWithin16BitIndices) {
    constexpr unsigned kVertices = 70000;
    aiMesh mesh;
    mesh.mNumVertices = kVertices;
    mesh.mVertices = new aiVector3D[kVertices];
    mesh.mNumFaces = kVertices;
    mesh.mFaces = new aiFace[kVertices];
    std::vector<std::array<unsigned, 3>> triangles;
    for (unsigned f = 0; f < kVertices; ++f) {
        mesh.mFaces[f].mNumIndices = 3;
        // Near and far corners alike, so that no group can be a plain run of vertices.
        triangles.push_back({f, (f * 7919u + 1) % kVertices, (f + 3) % kVertices});
        mesh.mFaces[f].mIndices =
            new unsigned[3]{triangles[f][0], triangles[f][1], triangles[f][2]};
    }
    std::vector<ImportMeshPart> parts;
    ImportSplitParts(mesh, {}, nullptr, 5, parts);
    ASSERT_GT(parts.size(), 1u);
    std::vector<std::array<unsigned, 3>> rebuilt;
    for (const ImportMeshPart& part : parts) {
        EXPECT_EQ(part.dwMaterial, 5u);
        ASSERT_LE(part.VertexCount(), 0x10000u);
        for (size_t i = 0; i < part.indices.size(); i += 3) {
            std::array<unsigned, 3> triangle;
            for (size_t k = 0; k < 3; ++k) {
                ASSERT_LT(part.indices[i + k], part.VertexCount());
                triangle[k] = part.SourceVertex(part.indices[i + k]);
            }
            rebuilt.push_back(triangle);
        }
    }
    EXPECT_TRUE(rebuilt == triangles);
}

// A model in memory: converted without a folder, so the texture it names is kept by name only.
TEST(ImportBuffer, ConvertsWithoutTouchingFiles) {
    const std::string strObj = "mtllib none.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n";
    ImportedScene imported;
    ImportReport report;
    EXPECT_TRUE(
        SUCCEEDED(ImportSceneFromBuffer(strObj.data(), strObj.size(), "obj", imported, &report)))
        << report.strError;
    EXPECT_EQ(report.qwTriangles, 2u);
    EXPECT_EQ(report.qwMeshes, 1u);
    ASSERT_TRUE(imported.scene.pRoot);
    // Only the swatch of the default material: made in memory, no source file.
    ASSERT_EQ(imported.textures.size(), 1u);
    EXPECT_TRUE(imported.textures[0].strSourcePath.empty());
    EXPECT_FALSE(imported.textures[0].bytes.empty());

    const std::string strGarbage = "this is no model at all";
    ImportedScene nothing;
    EXPECT_EQ(ImportSceneFromBuffer(strGarbage.data(), strGarbage.size(), "gltf", nothing, &report),
              MORV_E_BADFORMAT);
    EXPECT_FALSE(report.strError.empty());
    EXPECT_EQ(ImportSceneFromBuffer(nullptr, 0, "obj", nothing, &report), E_INVALIDARG);
}

// The import's child process hands back every field of its report, bytes of any value
// included; a child that crashes or ends without a report is a failure that says so.
TEST(ImportChild, ReportComesBackWholeAndACrashIsAFailure) {
    ImportReport sent;
    sent.strError = std::string("e\0\xE4", 3);
    sent.readErrors = {"first", ""};
    sent.qwReadErrors = 1ull << 40;
    sent.notes = {"note"};
    sent.qwNodes = 1;
    sent.qwMeshes = 2;
    sent.qwTriangles = 3;
    sent.qwMaterials = 4;
    sent.qwTextures = 5;
    sent.dwAnimationTime = 0xFFFFFFFF;
    ImportReport got;
    EXPECT_EQ(RunImportInChild(got, [&](ImportReport& r) { return r = sent, S_FALSE; }), S_FALSE);
    EXPECT_EQ(got.strError, sent.strError);
    EXPECT_EQ(got.readErrors, sent.readErrors);
    EXPECT_EQ(got.notes, sent.notes);
    EXPECT_EQ(std::vector<uint64_t>({got.qwReadErrors, got.qwNodes, got.qwMeshes, got.qwTriangles,
                                     got.qwMaterials, got.qwTextures, got.dwAnimationTime}),
              std::vector<uint64_t>({sent.qwReadErrors, 1, 2, 3, 4, 5, 0xFFFFFFFF}));

    ImportReport crashed;
    EXPECT_EQ(RunImportInChild(crashed, [](ImportReport&) -> HRESULT { std::abort(); }),
              MORV_E_BADFORMAT);
    EXPECT_EQ(crashed.strError, "reading the file crashed (Aborted): Assimp cannot read it");
    ImportReport ended;
    EXPECT_EQ(RunImportInChild(ended, [](ImportReport&) -> HRESULT { _exit(0); }),
              MORV_E_BADFORMAT);
    EXPECT_EQ(ended.strError, "the import ended without a result");
    // A sanitizer's handler turns the fault into an exit status.
    EXPECT_EQ(RunImportInChild(ended, [](ImportReport&) -> HRESULT { _exit(1); }),
              MORV_E_BADFORMAT);
    EXPECT_EQ(ended.strError, "reading the file crashed (exit status 1): Assimp cannot read it");
}

}  // namespace
