#include <gtest/gtest.h>

#include "cli/runcommand.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;
const std::string kSample = std::string(MORV_SOURCE_DIR) + "/examples/sample.morv";

}  // namespace

TEST(CliChunks, ListsHeaderAndTreeOfTheSample) {
    const CommandResult result = RunCommand(kCli, {"chunks", kSample});
    EXPECT_EQ(result.nExitCode, 0) << result.strErr;
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(result.strOut,
              "file kind         {0AB3F933-9362-11D1-9A2B-080000300512}\n"
              "header size       44\n"
              "directory offset  102\n"
              "directory size    128\n"
              "data offset       44\n"
              "entry size        16\n"
              "file size         230\n"
              "type 0x00000000  children 3  offset none  size 0\n"
              "  type 0x00000001  children 0  offset 0  size 22\n"
              "  type 0x00000002  children 3  offset none  size 0\n"
              "    type 0x00000010  children 0  offset 22  size 4\n"
              "    type 0x00000011  children 0  offset 26  size 8\n"
              "    type 0x00000012  children 1  offset 34  size 12\n"
              "      type 0x00000020  children 0  offset 46  size 12\n"
              "  type 0x00000003  children 0  offset none  size 0\n"
              "chunks            8\n");
}

TEST(CliChunks, DamagedFilesExitOneWithTheReason) {
    CTempDir dir;
    // A directory that promises two children and holds one: the one read is listed.
    WriteWholeFile(dir.File("short.morv"), CByteBuilder()
                                               .MorvHeader(kDefaultKindBytes, 44, 48, 44, 16)
                                               .DirEntry(0, 2, 0xFFFFFFFF, 0)
                                               .DirEntry(5, 0, 0xFFFFFFFF, 0)
                                               .Get());
    CommandResult result = RunCommand(kCli, {"chunks", dir.File("short.morv")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strOut.find("type 0x00000000  children 2 (1 read)"), std::string::npos);
    EXPECT_NE(result.strErr.find("0x80004005"), std::string::npos) << result.strErr;

    // A payload that passes the end of the file.
    WriteWholeFile(dir.File("payload.morv"), CByteBuilder()
                                                 .MorvHeader(kDefaultKindBytes, 44, 32, 44, 16)
                                                 .DirEntry(0, 1, 0xFFFFFFFF, 0)
                                                 .DirEntry(7, 0, 0, 1000)
                                                 .Get());
    result = RunCommand(kCli, {"chunks", dir.File("payload.morv")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("chunk 1 (type 0x00000007) lies beyond the end"),
              std::string::npos)
        << result.strErr;

    result = RunCommand(kCli, {"chunks", dir.File("missing.morv")});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("0x80070002 (file not found)"), std::string::npos)
        << result.strErr;

    // --trace shows where in the layers the failure arose.
    WriteWholeFile(dir.File("tiny.morv"), {1, 2, 3});
    result = RunCommand(kCli, {"chunks", dir.File("tiny.morv"), "--trace"});
    EXPECT_EQ(result.nExitCode, 1);
    EXPECT_NE(result.strErr.find("abstractdata/streams/tsstream("), std::string::npos);
    EXPECT_NE(result.strErr.find("fileformats/morv/morv("), std::string::npos);
}

TEST(CliChunks, UsageErrorsHelpAndVersion) {
    EXPECT_EQ(RunCommand(kCli, {}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"frobnicate"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"chunks"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"chunks", "a", "b"}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"--bogus", "chunks", kSample}).nExitCode, 2);
    EXPECT_EQ(RunCommand(kCli, {"chunks", "--", kSample}).nExitCode, 0);
    const CommandResult help = RunCommand(kCli, {"--help"});
    EXPECT_EQ(help.nExitCode, 0);
    EXPECT_NE(help.strOut.find("chunks FILE"), std::string::npos);
    EXPECT_EQ(RunCommand(kCli, {"chunks", "--help"}).nExitCode, 0);
    const CommandResult version = RunCommand(kCli, {"--version"});
    EXPECT_EQ(version.nExitCode, 0);
    EXPECT_EQ(version.strOut, "morv3d 1.0.0\n");
}

// Each verb's help names its arguments and options; `help VERB` is `VERB --help`.
TEST(CliChunks, HelpOfEveryVerb) {
    const std::vector<std::vector<std::string>> verbs = {
        {"chunks", "FILE", "--trace"},
        {"info", "FILE", "--json", "--trace"},
        {"validate", "FILE", "--trace"},
        {"tree", "FILE", "--flags HEX", "--images", "--trace"},
        {"render", "FILE OUT.png", "--size WxH", "--time T", "--view front|top|side|iso",
         "--wireframe", "--spheres", "--normals", "--grid", "--axes", "--background RRGGBB"},
        {"pick", "FILE --at X,Y", "--size WxH", "--time T", "--view", "--json"},
        {"import", "IN OUT.morv3d", "--rate R", "--animation N"},
        {"export", "IN OUT", "--rate R"},
    };
    for (const std::vector<std::string>& verb : verbs) {
        const CommandResult help = RunCommand(kCli, {verb[0], "--help"});
        EXPECT_EQ(help.nExitCode, 0) << verb[0];
        EXPECT_EQ(help.strErr, "") << verb[0];
        EXPECT_EQ(help.strOut.rfind("Usage: morv3d " + verb[0] + " " + verb[1], 0), 0u)
            << help.strOut;
        for (size_t i = 2; i < verb.size(); ++i) {
            EXPECT_NE(help.strOut.find("\n  " + verb[i]), std::string::npos)
                << verb[0] << " " << verb[i] << "\n"
                << help.strOut;
        }
        EXPECT_EQ(RunCommand(kCli, {"help", verb[0]}).strOut, help.strOut);
    }
}
