#include <gtest/gtest.h>

#include "cli/runcommand.h"
#include "fileformats/scenebytes.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;

void WriteSmallScene(const std::string& strPath) {
    const std::vector<std::array<uint32_t, 3>> quad = {{0, 1, 2}, {0, 2, 3}};
    WriteContainer(strPath,
                   {{0x10003, MaterialBytes({{{0, "stone"}}, {{1, "glass"}, {0, "frame"}}}), {}},
                    {0x10000,
                     NodeBytes(1, "root"),
                     {{0x10001, TrackBytes({{0, 1.0f}, {120, 2.0f}}, {}), {}},
                      {0x10000,
                       NodeBytes(1, "dmyPivot"),
                       {{0x10002,
                         MeshBytes(0x13, 4, {{0, 2, 0, 1}}, quad,
                                   {{16, 0, false, 0, 0.0f}, {12, 300, true, 0, 1.0f}}),
                         {}}}},
                      {0x10000, NodeBytes(1, "plain"), {}}}}});
}

}  // namespace

TEST(CliInfo, CountsAndResultsAsJson) {
    CTempDir dir;
    WriteSmallScene(dir.File("scene.morv3d"));
    const CommandResult result = RunCommand(kCli, {"info", dir.File("scene.morv3d"), "--json"});
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strOut,
              "{\"materials\": 2, \"maps\": 3, \"nodes\": 3, \"dummies\": 1, \"meshes\": 1, "
              "\"triangles\": 2, \"vertices\": 4, \"morphKeys\": 2, \"animationTime\": 300, "
              "\"materialsResult\": \"0x00000000\", \"objectsResult\": \"0x00000000\"}\n");
}

TEST(CliInfo, DamagedFilesExitOneAndSayWhy) {
    CTempDir dir;
    WriteSmallScene(dir.File("scene.morv3d"));
    std::vector<uint8_t> bytes = ReadWholeFile(dir.File("scene.morv3d"));
    bytes[8] = 0x33;  // the container's default kind instead of the scene kind
    WriteWholeFile(dir.File("otherkind.morv3d"), bytes);

    CommandResult result = RunCommand(kCli, {"info", dir.File("otherkind.morv3d"), "--json"});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strOut.find("\"materialsResult\": \"0x8000FFFF\""), std::string::npos);
    EXPECT_NE(result.strOut.find("\"nodes\": 0"), std::string::npos);

    result = RunCommand(kCli, {"validate", dir.File("otherkind.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("materials could not be loaded completely: 0x8000FFFF"),
              std::string::npos)
        << result.strErr;

    result = RunCommand(kCli, {"validate", dir.File("scene.morv3d")});
    EXPECT_EQ(result.nExitCode, 0);
    EXPECT_EQ(result.strOut, dir.File("scene.morv3d") + ": ok\n");

    // --trace shows the failure reports of every layer on stderr.
    WriteWholeFile(dir.File("cut.morv3d"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 60));
    result = RunCommand(kCli, {"validate", dir.File("cut.morv3d"), "--trace"});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("fileformats/morv3d/morv3dloader("), std::string::npos)
        << result.strErr;

    EXPECT_EQ(RunCommand(kCli, {"info"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"info", "a", "--bogus"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"validate", "a", "b"}).nExitCode, 2);
}
