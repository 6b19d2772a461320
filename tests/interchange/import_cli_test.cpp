// `morv3d import` on what is not a good model, and where it may write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "cli/runcommand.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

namespace fs = std::filesystem;

const std::string kCli = MORV3D_CLI;

std::set<std::string> FilesIn(const std::string& strDir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(strDir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void WriteText(const std::string& strPath, const std::string& strText) {
    WriteWholeFile(strPath, std::vector<uint8_t>(strText.begin(), strText.end()));
}

// A glTF triangle whose buffer and texture are named as given.
std::string TriangleGltf(const std::string& strBuffer, const std::string& strImage) {
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"name":"tri","mesh":0}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0},"material":0}]}],
"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],
"textures":[{"source":0}],"images":[{"uri":")" +
           strImage + R"("}],
"buffers":[{"uri":")" +
           strBuffer + R"(","byteLength":36}],
"bufferViews":[{"buffer":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",
"min":[0,0,0],"max":[1,1,0]}]})";
}

void WriteTriangleBuffer(const std::string& strPath) {
    const float afCorners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const auto* p = reinterpret_cast<const uint8_t*>(afCorners);
    WriteWholeFile(strPath, std::vector<uint8_t>(p, p + sizeof(afCorners)));
}

// Every file of the package's invalid/ folder: a clear message and exit 1, never a crash.
class InvalidModel : public testing::TestWithParam<std::string> {};

TEST_P(InvalidModel, FailsWithAMessage) {
    const std::string strModels = TestModelsDir();
    if (strModels.empty()) {
        GTEST_SKIP() << kNoModels;
    }
    CTempDir dir;
    const std::string strIn = strModels + "/invalid/" + GetParam();
    const CommandResult result = RunCommand(kCli, {"import", strIn, dir.File("out.morv3d")});
    EXPECT_EQ(result.nExitCode, 1) << result.strErr;
    const bool bRefused = result.strErr.find(strIn + ": cannot import: ") != std::string::npos;
    const bool bInPart = result.strErr.find(strIn + ": read in part") != std::string::npos;
    EXPECT_TRUE(bRefused || bInPart) << result.strErr;
    if (bRefused) {
        EXPECT_TRUE(FilesIn(dir.Path()).empty());
    }
}

std::vector<std::string> InvalidFiles() {
    std::vector<std::string> names;
    const std::string strModels = TestModelsDir();
    if (!strModels.empty()) {
        for (const std::string& strName : FilesIn(strModels + "/invalid")) {
            if (strName != "readme.txt") {
                names.push_back(strName);
            }
        }
    }
    return names;
}

std::string FileTestName(const testing::TestParamInfo<std::string>& info) {
    std::string strName = info.param;
    for (char& c : strName) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return strName;
}

INSTANTIATE_TEST_SUITE_P(Package, InvalidModel, testing::ValuesIn(InvalidFiles()), FileTestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(InvalidModel);

TEST(ImportCli, UsageErrorsExitTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"import"},
        {"import", "in.obj"},
        {"import", "in.obj", "out.obj"},
        {"import", "in.obj", "a.morv3d", "b.morv3d"},
        {"import", "in.obj", "out.morv3d", "--rate"},
        {"import", "in.obj", "out.morv3d", "--rate", "0"},
        {"import", "in.obj", "out.morv3d", "--rate", "fast"},
        {"import", "in.obj", "out.morv3d", "--animation", "1.5"},
        {"import", "in.obj", "out.morv3d", "--animation", "-1"},
        {"import", "in.obj", "out.morv3d", "--colour"},
    };
    for (const std::vector<std::string>& args : cases) {
        const CommandResult result = RunCommand(kCli, args);
        EXPECT_EQ(result.nExitCode, 2) << args.back();
        EXPECT_NE(result.strErr.find("morv3d: import: "), std::string::npos) << result.strErr;
    }
    const CommandResult help = RunCommand(kCli, {"import", "--help"});
    EXPECT_EQ(help.nExitCode, 0);
    EXPECT_NE(help.strOut.find("Usage: morv3d import IN OUT.morv3d"), std::string::npos);
}

// Missing files, folders and pipes are refused before Assimp opens them (a pipe would block);
// a node tree deeper than a scene file holds is refused after reading, not by a crash.
TEST(ImportCli, RefusesWhatIsNoModelFile) {
    CTempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe.obj").c_str(), 0600), 0);
    fs::create_directory(dir.File("folder.obj"));
    std::string strDeep =
        R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)";
    constexpr int kDepth = 20000;  // far more than the ordinary stack takes in Assimp's reader
    for (int i = 0; i < kDepth; ++i) {
        strDeep += (i > 0 ? "," : "") + std::string(R"({"name":"n")") +
                   (i + 1 < kDepth ? R"(,"children":[)" + std::to_string(i + 1) + "]}" : "}");
    }
    WriteText(dir.File("deep.gltf"), strDeep + "]}");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.obj", "No such file or directory"},
        {"folder.obj", "not a regular file"},
        {"pipe.obj", "not a regular file"},
        {"deep.gltf", "deeper than"},
    };
    for (const auto& [strName, strWhy] : cases) {
        const CommandResult result =
            RunCommand(kCli, {"import", dir.File(strName), dir.File("out.morv3d")});
        EXPECT_EQ(result.nExitCode, 1) << strName;
        EXPECT_NE(result.strErr.find("cannot import: "), std::string::npos) << result.strErr;
        EXPECT_NE(result.strErr.find(strWhy), std::string::npos) << result.strErr;
        EXPECT_FALSE(fs::exists(dir.File("out.morv3d")));
    }
}

// A texture goes beside the scene under its own name, or under another when a different file
// has it; importing again writes nothing new.
TEST(ImportCli, TexturesNeverReplaceOtherFiles) {
    CTempDir dir;
    fs::create_directory(dir.File("model"));
    fs::create_directory(dir.File("out"));
    WriteTriangleBuffer(dir.File("model/tri.bin"));
    WriteText(dir.File("model/tri.gltf"), TriangleGltf("tri.bin", "wood.png"));
    WriteText(dir.File("model/wood.png"), "the model's texture");
    WriteText(dir.File("out/wood.png"), "someone else's file");

    for (int nRun = 0; nRun < 2; ++nRun) {
        const CommandResult result =
            RunCommand(kCli, {"import", dir.File("model/tri.gltf"), dir.File("out/tri.morv3d")});
        ASSERT_EQ(result.nExitCode, 0) << result.strErr;
        EXPECT_EQ(FilesIn(dir.File("out")),
                  (std::set<std::string>{"tri.morv3d", "wood.png", "wood_2.png"}));
    }
    const std::vector<uint8_t> other = ReadWholeFile(dir.File("out/wood.png"));
    EXPECT_EQ(std::string(other.begin(), other.end()), "someone else's file");
    const std::vector<uint8_t> copied = ReadWholeFile(dir.File("out/wood_2.png"));
    EXPECT_EQ(std::string(copied.begin(), copied.end()), "the model's texture");
    const CommandResult tree = RunCommand(kCli, {"tree", dir.File("out/tri.morv3d")});
    EXPECT_NE(tree.strOut.find("Texture: wood_2.png"), std::string::npos) << tree.strOut;
}

// What a model names outside its folder is neither read nor copied.
TEST(ImportCli, ModelCannotReachOutsideItsFolder) {
    CTempDir dir;
    fs::create_directory(dir.File("model"));
    WriteTriangleBuffer(dir.File("outside.bin"));
    WriteText(dir.File("secret.png"), "not the model's");
    WriteTriangleBuffer(dir.File("model/tri.bin"));
    WriteText(dir.File("model/texture.gltf"), TriangleGltf("tri.bin", "../secret.png"));
    WriteText(dir.File("model/buffer.gltf"), TriangleGltf("../outside.bin", "none.png"));

    CommandResult result =
        RunCommand(kCli, {"import", dir.File("model/texture.gltf"), dir.File("model/a.morv3d")});
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_NE(result.strErr.find("not found in the model's folder (secret.png)"), std::string::npos)
        << result.strErr;
    EXPECT_FALSE(fs::exists(dir.File("model/secret.png")));

    result =
        RunCommand(kCli, {"import", dir.File("model/buffer.gltf"), dir.File("model/b.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("cannot import: "), std::string::npos) << result.strErr;
}

// A failure after the textures were written takes them back; an existing scene file stays as
// it was.
TEST(ImportCli, FailureLeavesNothingBehind) {
    CTempDir dir;
    fs::create_directory(dir.File("model"));
    fs::create_directory(dir.File("out"));
    WriteTriangleBuffer(dir.File("model/tri.bin"));
    WriteText(dir.File("model/tri.gltf"), TriangleGltf("tri.bin", "wood.png"));
    WriteText(dir.File("model/wood.png"), "texture");
    fs::create_directory(dir.File("out/taken.morv3d"));  // a folder where the scene would go
    WriteText(dir.File("out/old.morv3d"), "an older scene");
    WriteText(dir.File("model/broken.obj"), "f 1 2 3\n");

    CommandResult result =
        RunCommand(kCli, {"import", dir.File("model/tri.gltf"), dir.File("out/taken.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    result = RunCommand(kCli, {"import", dir.File("model/broken.obj"), dir.File("out/old.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_EQ(FilesIn(dir.File("out")), (std::set<std::string>{"taken.morv3d", "old.morv3d"}));
    const std::vector<uint8_t> old = ReadWholeFile(dir.File("out/old.morv3d"));
    EXPECT_EQ(std::string(old.begin(), old.end()), "an older scene");
}

}  // namespace
