// `morv3d import` on what is not a good model, and where it may write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "cli/runcommand.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

namespace fs = std::filesystem;

const std::string kCli = MORV3D_CLI;

// The package's models of import_refused.tsv: a clear message and exit 1, never a crash.
class InvalidModel : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(InvalidModel, FailsWithAMessage) {
    const std::string strModels = TestModelsDir();
    if (strModels.empty()) {
        GTEST_SKIP() << kNoModels;
    }
    CTempDir dir;
    const std::string strIn = strModels + "/" + GetParam().at(1);
    const CommandResult result = RunCommand(kCli, {"import", strIn, dir.File("out.morv3d")});
    EXPECT_EQ(result.nExitCode, 1) << result.strErr;
    const bool bRefused = result.strErr.find(strIn + ": cannot import: ") != std::string::npos;
    const bool bInPart = result.strErr.find(strIn + ": read in part") != std::string::npos;
    EXPECT_TRUE(bRefused || bInPart) << result.strErr;
    if (bRefused) {
        EXPECT_TRUE(FilesIn(dir.Path()).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Package, InvalidModel,
                         testing::ValuesIn(ReadTable("interchange/import_refused.tsv")),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return TestName(info.param.at(1));
                         });

// A file that cannot be read says so, with the system's reason (not "no suitable reader").
TEST(ImportCli, UnreadableFileSaysWhy) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    CTempDir dir;
    fs::copy(MORV_SOURCE_DIR "/tests/data/interchange/cli/model/tri.gltf", dir.File("tri.gltf"));
    ASSERT_EQ(::chmod(dir.File("tri.gltf").c_str(), 0), 0);
    const CommandResult result =
        RunCommand(kCli, {"import", dir.File("tri.gltf"), dir.File("out.morv3d")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("cannot import: the file cannot be read: Permission denied"),
              std::string::npos)
        << result.strErr;
}

// Every path below the folder with its contents (a folder's are empty).
std::set<std::pair<std::string, std::string>> Snapshot(const std::string& strDir) {
    std::set<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(strDir)) {
        files.insert({entry.path().string(),
                      entry.is_regular_file() ? ReadText(entry.path().string()) : ""});
    }
    return files;
}

// The runs of import_cli.tsv in order, then what they left in the folders.
TEST(ImportCli, RunsAsTheTableSays) {
    CTempDir dir;
    fs::copy(MORV_SOURCE_DIR "/tests/data/interchange/cli", dir.Path(),
             fs::copy_options::recursive);
    fs::create_directory(dir.File("folder.obj"));
    fs::create_directory(dir.File("failing/taken.morv3d"));  // a folder where the scene would go
    ASSERT_EQ(::mkfifo(dir.File("pipe.obj").c_str(), 0600), 0);
    std::string strDeep =
        R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)";
    constexpr int kDepth = 20000;  // far more than the ordinary stack takes in Assimp's reader
    for (int i = 0; i < kDepth; ++i) {
        strDeep += (i > 0 ? "," : "") + std::string(R"({"name":"n")") +
                   (i + 1 < kDepth ? R"(,"children":[)" + std::to_string(i + 1) + "]}" : "}");
    }
    strDeep += "]}";
    WriteWholeFile(dir.File("deep.gltf"), std::vector<uint8_t>(strDeep.begin(), strDeep.end()));

    for (const std::vector<std::string>& row : ReadTable("interchange/import_cli.tsv")) {
        std::vector<std::string> args(row.begin() + 3, row.end());
        std::string strCase;
        for (std::string& strArg : args) {
            strCase += " " + strArg;
            strArg = strArg.rfind("./", 0) == 0 ? dir.File(strArg.substr(2)) : strArg;
        }
        SCOPED_TRACE(row[0] + ": morv3d" + strCase);
        const auto before = Snapshot(dir.Path());
        const CommandResult result = RunCommand(kCli, args);
        EXPECT_EQ(result.nExitCode, std::stoi(row.at(1))) << result.strErr;
        EXPECT_TRUE(row.at(2) == "-" ||
                    (result.strOut + result.strErr).find(row[2]) != std::string::npos)
            << result.strOut << result.strErr;
        if (result.nExitCode != 0) {
            EXPECT_EQ(Snapshot(dir.Path()), before);
        }
    }
    const CommandResult tree = RunCommand(kCli, {"tree", dir.File("out/tri.morv3d")});
    EXPECT_NE(tree.strOut.find("Texture: wood_2.png"), std::string::npos) << tree.strOut;
    for (const std::vector<std::string>& row : ReadTable("interchange/import_cli_files.tsv")) {
        std::string strActual = fs::exists(dir.File(row.at(1))) ? "" : "(absent)";
        if (row[1].ends_with('/')) {
            for (const std::string& strName : FilesIn(dir.File(row[1]))) {
                strActual += (strActual.empty() ? "" : " ") + strName;
            }
        } else if (strActual.empty()) {
            strActual = ReadText(dir.File(row[1]));
        }
        EXPECT_EQ(strActual, UnescapeBytes(row.at(2))) << row[0] << ": " << row[1];
    }
}

}  // namespace
