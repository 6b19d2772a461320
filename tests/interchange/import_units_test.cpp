// Pieces of the import that no test model reaches: names in the code page, face groups of
// meshes larger than 16-bit indices reach, models held in memory, the child process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "interchange/importinternal.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

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

// The rows of gltf_data_checks.tsv, as .gltf or as .glb with a binary chunk of the given size.
TEST(ImportRefusal, GltfDataFitsWhereItLies) {
    const std::map<std::string, std::string> kWords = {{"past", "reaches past the data it lies in"},
                                                       {"nothing", "names one that does not exist"},
                                                       {"number", "no whole number"}};
    for (const std::vector<std::string>& row : ReadTable("interchange/gltf_data_checks.tsv")) {
        ASSERT_EQ(row.size(), 5u) << row[0];
        std::string strFile = row[4];
        if (row[3] != "-") {
            const auto le32 = [](uint32_t n) {
                return std::string{static_cast<char>(n), static_cast<char>(n >> 8),
                                   static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
            };
            std::string strJson = row[4];
            strJson.resize((strJson.size() + 3) / 4 * 4, ' ');
            const std::string strBody(std::stoul(row[3]), '\0');
            strFile = "glTF" + le32(2) + le32(28 + strJson.size() + strBody.size()) +
                      le32(strJson.size()) + "JSON" + strJson + le32(strBody.size()) +
                      std::string("BIN\0", 4) + strBody;
        }
        const char* pszRefusal =
            AssimpReaderRefusal(reinterpret_cast<const uint8_t*>(strFile.data()), strFile.size(),
                                row[3] == "-" ? "gltf" : "glb");
        if (row[2] == "fits") {
            EXPECT_EQ(pszRefusal, nullptr) << row[0] << " " << row[1] << ": " << pszRefusal;
        } else {
            ASSERT_NE(pszRefusal, nullptr) << row[0] << " " << row[1];
            EXPECT_NE(std::string(pszRefusal).find(kWords.at(row[2])), std::string::npos)
                << row[0] << " " << row[1] << ": " << pszRefusal;
        }
    }
}

// The helper's answer carries every field of the report, bytes of any value included; a cut
// answer is no answer.
TEST(ImportChild, AnswerComesBackWhole) {
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
    const std::string bytes = EncodeImportAnswer(S_FALSE, sent);
    ImportReport got;
    HRESULT hr = E_FAIL;
    ASSERT_TRUE(DecodeImportAnswer(bytes, hr, got));
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(got.strError, sent.strError);
    EXPECT_EQ(got.readErrors, sent.readErrors);
    EXPECT_EQ(got.notes, sent.notes);
    EXPECT_EQ(std::vector<uint64_t>({got.qwReadErrors, got.qwNodes, got.qwMeshes, got.qwTriangles,
                                     got.qwMaterials, got.qwTextures, got.dwAnimationTime}),
              std::vector<uint64_t>({sent.qwReadErrors, 1, 2, 3, 4, 5, 0xFFFFFFFF}));
    EXPECT_FALSE(DecodeImportAnswer(bytes.substr(0, bytes.size() - 1), hr, got));
    EXPECT_FALSE(DecodeImportAnswer(bytes + "x", hr, got));
}

// A helper that crashes, ends without an answer, hangs past the timeout or is cancelled: the
// import fails with a message that says which, soon, and leaves no file.
TEST(ImportChild, FailsAsTheHelperEnds) {
    struct tCase {
        const char* pszHook;
        bool bCancel;
        HRESULT hr;
        const char* pszError;
    };
    const tCase kCases[] = {
        {"abort", false, MORV_E_BADFORMAT,
         "reading the file crashed (Aborted): Assimp cannot read it"},
        {"exit:1", false, MORV_E_BADFORMAT,
         "reading the file crashed (exit status 1): Assimp cannot read it"},
        {"exit:0", false, MORV_E_BADFORMAT, "the import ended without a result"},
        {"sleep:60", false, E_FAIL, "reading the file took longer than 1 s"},
        {"sleep:60", true, E_FAIL, "the import was cancelled"},
    };
    const std::string strModel = MORV_SOURCE_DIR "/tests/data/interchange/cli/model/tri.gltf";
    for (const tCase& c : kCases) {
        SCOPED_TRACE(c.pszHook);
        CTempDir dir;
        std::atomic<bool> bCancel{false};
        ASSERT_EQ(::setenv("MORV3D_IMPORT_CHILD_TEST", c.pszHook, 1), 0);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            bCancel = c.bCancel;
        });
        const auto start = std::chrono::steady_clock::now();
        ImportReport report;
        const HRESULT hr =
            ImportScene(strModel, dir.File("out.morv3d"), &report, {}, {1, &bCancel});
        const auto elapsed = std::chrono::steady_clock::now() - start;
        canceller.join();
        ::unsetenv("MORV3D_IMPORT_CHILD_TEST");
        EXPECT_EQ(hr, c.hr);
        EXPECT_EQ(report.strError, c.pszError);
        EXPECT_LT(elapsed, std::chrono::seconds(10));
        EXPECT_TRUE(FilesIn(dir.Path()).empty());
    }
    // Without the hook the same import completes.
    CTempDir dir;
    ImportReport report;
    EXPECT_EQ(ImportScene(strModel, dir.File("out.morv3d"), &report), S_OK) << report.strError;
}

}  // namespace
