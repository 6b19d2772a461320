#include <gtest/gtest.h>

#include "cli/runcommand.h"
#include "support/tempfile.h"
#include "viewer/testscene.h"

using namespace viewer_test;

namespace {

const std::string kCli = MORV3D_CLI;

class CliTree : public ::testing::Test {
protected:
    void SetUp() override { WriteScene(m_strScene); }
    CTempDir m_dir;
    std::string m_strScene = m_dir.File("scene.morv3d");
};

}  // namespace

TEST_F(CliTree, PrintsTheWholeTree) {
    CommandResult result = RunCommand(kCli, {"tree", m_strScene});
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(result.strOut, SceneTree());

    result = RunCommand(kCli, {"tree", "--images", m_strScene, "--flags", "0x3"});
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strOut,
              "MATERIALS\t0\n"
              "OBJECTS\t0\n"
              "  node: scene\t1\n"
              "    mesh: \t2\n"
              "    mesh: \t2\n"
              "    node: arm\t1\n"
              "      node: hand\t1\n"
              "        node: finger\t1\n"
              "    node: Dmy\t1\n"
              "    node: dm\t1\n");
}

TEST_F(CliTree, FlagsInHexWithOrWithoutPrefix) {
    const std::string kMaterialsOnly =
        "MATERIALS\n  Material\n  Material\n  Material\n  Material\nOBJECTS\n";
    for (const char* pszFlags : {"10", "0x10", "0X10", "00000010", "0xFFFFFF10"}) {
        const CommandResult result = RunCommand(kCli, {"tree", m_strScene, "--flags", pszFlags});
        EXPECT_EQ(result.nExitCode, 0) << pszFlags;
        EXPECT_EQ(result.strOut, kMaterialsOnly) << pszFlags;
    }
    EXPECT_EQ(RunCommand(kCli, {"tree", m_strScene, "--flags=7f"}).strOut, SceneTree());
    for (const char* pszBad : {"", "0x", "g", "1 0", "-1", "123456789", "0x1FFFFFFFF"}) {
        const CommandResult result = RunCommand(kCli, {"tree", m_strScene, "--flags", pszBad});
        EXPECT_EQ(result.nExitCode, 2) << pszBad;
        EXPECT_EQ(result.strOut, "") << pszBad;
    }
    EXPECT_EQ(RunCommand(kCli, {"tree", m_strScene, "--flags"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"tree"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"tree", m_strScene, m_strScene}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"tree", m_strScene, "--json"}).nExitCode, 2);
}

TEST_F(CliTree, FailuresExitOne) {
    // Cannot be opened: nothing but the error.
    CommandResult result = RunCommand(kCli, {"tree", m_dir.File("missing.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_EQ(result.strOut, "");
    EXPECT_EQ(result.strErr, "morv3d: " + m_dir.File("missing.morv3d") +
                                 ": cannot be opened: 0x80070002 (" +
                                 HResultMessage(HRESULT_FROM_WIN32(2)) + ")\n");

    // Loaded in part: the tree of what was loaded, and why it stopped.
    ChunkSpec badMesh = Mesh();
    badMesh.payload =
        MeshBytes(0x13, 4, {{0, 2, 0, 7}}, {{0, 1, 2}, {0, 2, 3}}, {{16, 0, false, 0, 0.0f}});
    WriteContainer(m_dir.File("part.morv3d"),
                   {{0x10003, MaterialBytes({{{0, "stone.bmp"}}}), {}},
                    Node("K\xF6rper", {Node("vorher"), badMesh, Node("nachher")})});
    result = RunCommand(kCli, {"tree", m_dir.File("part.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_EQ(result.strOut,
              "MATERIALS\n"
              "  Material\n"
              "    Map\n"
              "      Effect: Solid \n"
              "      Texture: stone.bmp\n"
              "OBJECTS\n"
              "  node: K\xC3\xB6rper\n"
              "    mesh: \n"
              "    node: vorher\n");
    EXPECT_NE(result.strErr.find("the objects could not be loaded completely: 0x80044011"),
              std::string::npos)
        << result.strErr;

    // Another kind of container: the two empty roots.
    result = RunCommand(kCli, {"tree", std::string(MORV_SOURCE_DIR) + "/examples/sample.morv"});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_EQ(result.strOut, "MATERIALS\nOBJECTS\n");
    EXPECT_NE(result.strErr.find("0x8000FFFF"), std::string::npos) << result.strErr;
}

// The bundled sample, written by the scene writer: the tree the viewer opens with, and without
// the dummies and what hangs below them.
TEST(CliTreeSample, WholeTreeOfTheSample) {
    const std::string strSource = MORV_SOURCE_DIR;
    const std::pair<const char*, const char*> cases[] = {
        {"FFFFFFFF", "tree_sample.txt"}, {"FFFFFFF7", "tree_sample_no_dummies.txt"}};
    for (const auto& [pszFlags, pszExpected] : cases) {
        const CommandResult result =
            RunCommand(kCli, {"tree", strSource + "/examples/sample.morv3d", "--flags", pszFlags});
        EXPECT_EQ(result.nExitCode, 0) << result.strErr;
        const std::vector<uint8_t> expected =
            ReadWholeFile(strSource + "/tests/data/cli/" + pszExpected);
        EXPECT_EQ(result.strOut, std::string(expected.begin(), expected.end())) << pszFlags;
    }
}
