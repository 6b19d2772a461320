// morv3d export: exit codes, what it prints, and that a failed export leaves nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/runcommand.h"
#include "fileformats/morv3d/morv3dwriter.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;
const std::string kSample = MORV_SOURCE_DIR "/examples/sample.morv3d";

bool Exists(const std::string& strPath) {
    return std::filesystem::exists(strPath);
}

TEST(CliExport, ExitCodesAndOutputs) {
    CTempDir dir;
    struct Case {
        std::vector<std::string> args;
        int nExit;
        const char* pszOut;   // a file that must exist afterwards ("" none)
        const char* pszText;  // in stdout or stderr
    };
    const Case cases[] = {
        {{"export", kSample, dir.File("a.glb")}, 0, "a.glb", "wrote"},
        {{"export", kSample, dir.File("b.gltf"), "--rate", "60"}, 0, "b_buffer.bin", "wrote"},
        {{"export", kSample, dir.File("c.obj")}, 0, "c.mtl", "dropped: node animation"},
        {{"export", kSample, dir.File("d.xyz")}, 2, "", "OUT must end in one of glb, gltf"},
        {{"export", kSample}, 2, "", "expected IN and OUT"},
        {{"export", kSample, dir.File("e.glb"), "--rate", "0"}, 2, "", "--rate takes"},
        {{"export", kSample, dir.File("e.glb"), "--rate"}, 2, "", "--rate takes"},
        {{"export", kSample, dir.File("e.glb"), "--fast"}, 2, "", "unknown option"},
        {{"export", dir.File("none.morv3d"), dir.File("e.glb")}, 1, "", "cannot be opened"},
        {{"export", kSample, dir.File("none/e.glb")}, 1, "", "could not be written"},
        {{"export", "--help"}, 0, "", "Usage: morv3d export IN OUT"},
    };
    for (const Case& c : cases) {
        const CommandResult result = RunCommand(kCli, c.args);
        EXPECT_EQ(result.nExitCode, c.nExit) << c.args.back() << result.strErr;
        EXPECT_NE((result.strOut + result.strErr).find(c.pszText), std::string::npos)
            << c.args.back() << "\n"
            << result.strOut << result.strErr;
        if (*c.pszOut) {
            EXPECT_TRUE(Exists(dir.File(c.pszOut))) << c.pszOut;
        }
    }
    EXPECT_FALSE(Exists(dir.File("e.glb")));
    EXPECT_FALSE(Exists(dir.File("d.xyz")));
}

TEST(CliExport, PartlyLoadedScenesAreExportedAsFarAsTheyLoadedAndExitOne) {
    CTempDir dir;
    const std::vector<uint8_t> bytes = ReadWholeFile(kSample);
    // Cut inside the object chunk: the materials load, the hierarchy in part.
    WriteWholeFile(dir.File("cut.morv3d"),
                   std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() * 3 / 4));
    const CommandResult result =
        RunCommand(kCli, {"export", dir.File("cut.morv3d"), dir.File("cut.glb")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("written from the part of the scene that loaded"),
              std::string::npos)
        << result.strErr;
    EXPECT_TRUE(Exists(dir.File("cut.glb")));
}

}  // namespace
