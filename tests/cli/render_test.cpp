// morv3d render and pick as a user runs them: exit codes, messages, the picture, the hits.
#include <gtest/gtest.h>

#include "cli/runcommand.h"
#include "render/texturefile.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;
const std::string kSample = std::string(MORV_SOURCE_DIR) + "/examples/sample.morv3d";

std::string ReadText(const std::string& strPath) {
    const std::vector<uint8_t> bytes = ReadWholeFile(strPath);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(CliRender, ExitCodesAndMessages) {
    CTempDir dir;
    const std::string strOut = dir.File("out.png");
    const struct {
        std::vector<std::string> args;
        int nExit;
        const char* pszErr;  // part of what stderr says
    } cases[] = {
        {{"render", kSample, strOut, "--size", "64x48", "--view", "top", "--wireframe"}, 0, ""},
        {{"render", kSample}, 2, "render takes FILE and OUT.png"},
        {{"render", kSample, strOut, "--size", "0x10"}, 2, "--size takes WxH"},
        {{"render", kSample, strOut, "--view", "below"}, 2, "--view takes"},
        {{"render", kSample, strOut, "--background", "zz0000"}, 2, "--background"},
        {{"render", kSample, strOut, "--background", "-12345"}, 2, "--background"},
        {{"render", dir.File("none.morv3d"), strOut}, 1, "cannot be opened"},
        {{"render", kSample, dir.File("no/such/dir.png")}, 1, "cannot be written"},
        {{"pick", kSample}, 2, "pick needs --at"},
        {{"pick", kSample, "--at", "800,10"}, 2, "outside the picture"},
        {{"pick", kSample, "--at", "1,1", "--time", "-3"}, 2, "--time"},
    };
    for (const auto& c : cases) {
        const CommandResult result = RunCommand(kCli, c.args);
        EXPECT_EQ(result.nExitCode, c.nExit) << c.args[0] << " " << result.strErr;
        EXPECT_NE(result.strErr.find(c.pszErr), std::string::npos) << result.strErr;
    }
    CImageRGBA image;
    std::string strError;
    ASSERT_EQ(LoadImageFile(strOut, image, strError), S_OK) << strError;
    EXPECT_EQ(image.nWidth, 64);
    EXPECT_EQ(image.nHeight, 48);
}

TEST(CliRender, APartlyLoadedSceneIsDrawnAndExitsOne) {
    CTempDir dir;
    const std::vector<uint8_t> bytes = ReadWholeFile(kSample);
    for (size_t nCut = 1; nCut < 2000; nCut += 97) {
        std::vector<uint8_t> damaged = bytes;
        // Overwrite a stretch of payload in the middle with garbage.
        for (size_t i = 0; i < 24 && bytes.size() / 2 + nCut + i < damaged.size(); ++i) {
            damaged[bytes.size() / 2 + nCut + i] = 0xFF;
        }
        WriteWholeFile(dir.File("part.morv3d"), damaged);
        const CommandResult validate = RunCommand(kCli, {"validate", dir.File("part.morv3d")});
        if (validate.nExitCode != 1) {
            continue;
        }
        const CommandResult result = RunCommand(
            kCli, {"render", dir.File("part.morv3d"), dir.File("part.png"), "--size", "32x24"});
        EXPECT_EQ(result.nExitCode, 1);
        EXPECT_NE(result.strErr.find("drew the part of the scene that loaded"), std::string::npos)
            << result.strErr;
        EXPECT_FALSE(ReadWholeFile(dir.File("part.png")).empty());
        return;
    }
    FAIL() << "no damaged variant of the sample loaded in part";
}

TEST(CliRender, WithoutOpenGLSaysWhatIsMissing) {
    CTempDir dir;
    const CommandResult result =
        RunCommand("/usr/bin/env", {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json", kCli,
                                    "render", kSample, dir.File("out.png")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("cannot render without OpenGL: "), std::string::npos)
        << result.strErr;
}

TEST(CliPick, HitsNearestFirstAsJson) {
    const CommandResult result =
        RunCommand(kCli, {"pick", kSample, "--size", "160x120", "--at", "72,70", "--json"});
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strOut,
              ReadText(std::string(MORV_SOURCE_DIR) + "/tests/data/cli/pick_sample_72_70.json"));
}

// Names are stored in Windows-1252; the hits name them in UTF-8, so the JSON stays valid.
TEST(CliPick, NamesInUtf8) {
    CTempDir dir;
    std::string strScene = ReadText(kSample);
    const size_t nAt = strScene.find("base");
    ASSERT_NE(nAt, std::string::npos);
    strScene[nAt + 1] = '\xE4';
    WriteWholeFile(dir.File("named.morv3d"),
                   std::vector<uint8_t>(strScene.begin(), strScene.end()));
    std::string strExpected =
        ReadText(std::string(MORV_SOURCE_DIR) + "/tests/data/cli/pick_sample_72_70.json");
    for (size_t n = 0; (n = strExpected.find("/base/", n)) != std::string::npos;) {
        strExpected.replace(n, 6, "/b\xC3\xA4se/");
    }
    const std::vector<std::string> args = {
        "pick", dir.File("named.morv3d"), "--size", "160x120", "--at", "72,70"};
    CommandResult result = RunCommand(kCli, args);
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strOut.substr(0, result.strOut.find('\t')),
              "scene/dmyPivot/b\xC3\xA4se/mesh[0]");
    std::vector<std::string> jsonArgs = args;
    jsonArgs.push_back("--json");
    result = RunCommand(kCli, jsonArgs);
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strOut, strExpected);
}
