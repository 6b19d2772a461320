// The command-line tool as a user runs it: the cases of tests/data/cli/cases.txt (its head says
// how they are written), against scenes written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/runcommand.h"
#include "render/texturefile.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"
#include "viewer/testscene.h"

namespace {

const std::string kCli = MORV3D_CLI;
const std::string kData = MORV_SOURCE_DIR "/tests/data/cli/";
const std::string kSample = MORV_SOURCE_DIR "/examples/sample.morv3d";

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The scenes the cases name as $DIR/...
void WriteScenes(const CTempDir& dir) {
    viewer_test::WriteScene(dir.File("scene.morv3d"));

    // small and part of tests/data/cli/scenes.hex.
    for (const std::string strName : {"small", "part"}) {
        WriteContainer(dir.File(strName + ".morv3d"),
                       viewer_test::SceneCase("cli/scenes.hex", strName));
    }
    // cut60: small's first 60 bytes (a scene without objects); otherkind: small in the
    // container's default kind.
    std::vector<uint8_t> bytes = ReadWholeFile(dir.File("small.morv3d"));
    WriteWholeFile(dir.File("cut60.morv3d"), {bytes.begin(), bytes.begin() + 60});
    bytes[8] = 0x33;
    WriteWholeFile(dir.File("otherkind.morv3d"), bytes);
    const std::string strText = "no scene\n";
    WriteWholeFile(dir.File("text.morv3d"), {strText.begin(), strText.end()});
    WriteWholeFile(dir.File("empty.morv3d"), {});

    for (const char* pszName : {"short.morv", "payload.morv", "tiny.morv"}) {
        WriteWholeFile(dir.File(pszName), ReadHexFile(kData + pszName + ".hex"));
    }

    // Variants of the sample: cut inside the object chunk; 24 bytes of its middle overwritten
    // (the objects stop there); "base" named "b\xE4se" in Windows-1252.
    bytes = ReadWholeFile(kSample);
    WriteWholeFile(dir.File("cut.morv3d"), {bytes.begin(), bytes.begin() + bytes.size() * 3 / 4});
    std::vector<uint8_t> damaged = bytes;
    std::fill_n(damaged.begin() + bytes.size() / 2 + 1, 24, 0xFF);
    WriteWholeFile(dir.File("damaged.morv3d"), damaged);
    std::string strNamed = Text(bytes);
    strNamed[strNamed.find("base") + 1] = '\xE4';
    WriteWholeFile(dir.File("named.morv3d"), {strNamed.begin(), strNamed.end()});
}

// The placeholders and escapes of the case file replaced.
std::string Expand(const std::string& strText, const std::string& strDir) {
    const std::pair<std::string, std::string> replacements[] = {
        {"$SAMPLE", kSample}, {"$CONTAINER", MORV_SOURCE_DIR "/examples/sample.morv"},
        {"$DIR", strDir},     {"\\n", "\n"},
        {"\\t", "\t"},
    };
    std::string str = strText;
    for (const auto& [strFrom, strTo] : replacements) {
        for (size_t n = 0; (n = str.find(strFrom, n)) != std::string::npos; n += strTo.size()) {
            str.replace(n, strFrom.size(), strTo);
        }
    }
    return str;
}

// Runs the tool with the arguments of a "run" or "same" line, through env when strEnv is set.
CommandResult RunCli(const std::string& strArgs, const std::string& strEnv) {
    std::vector<std::string> args;
    if (!strEnv.empty()) {
        args = {strEnv, kCli};
    }
    std::istringstream words(strArgs);
    for (std::string strWord; words >> strWord;) {
        args.push_back(strWord == "''" ? "" : strWord);
    }
    return RunCommand(strEnv.empty() ? kCli : "/usr/bin/env", args);
}

}  // namespace

TEST(CliCases, AsListed) {
    CTempDir dir;
    WriteScenes(dir);
    std::ifstream in(kData + "cases.txt");
    std::vector<std::string> lines;
    for (std::string strLine; std::getline(in, strLine);) {
        lines.push_back(strLine);
    }
    std::string strCase;
    std::string strEnv;
    CommandResult result;
    int nCases = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty() || lines[i][0] == '#') {
            continue;
        }
        const size_t nSpace = lines[i].find(' ');
        const std::string strKey = lines[i].substr(0, nSpace);
        const std::string strValue =
            nSpace == std::string::npos ? "" : Expand(lines[i].substr(nSpace + 1), dir.Path());
        const std::string strWhere = "cases.txt:" + std::to_string(i + 1) + " (" + strCase +
                                     ")\nstdout:\n" + result.strOut + "stderr:\n" + result.strErr;
        if (strKey == "==") {
            strCase = strValue;
            strEnv.clear();
            ++nCases;
        } else if (strKey == "env") {
            strEnv = strValue;
        } else if (strKey == "run") {
            result = RunCli(strValue, strEnv);
        } else if (strKey == "same") {
            const CommandResult other = RunCli(strValue, strEnv);
            EXPECT_EQ(other.nExitCode, result.nExitCode) << strWhere;
            EXPECT_EQ(other.strOut, result.strOut) << strWhere;
        } else if (strKey == "exit") {
            EXPECT_EQ(result.nExitCode, std::stoi(strValue)) << strWhere;
        } else if (strKey == "out=" || strKey == "err=") {
            EXPECT_EQ(strKey == "out=" ? result.strOut : result.strErr, strValue) << strWhere;
        } else if (strKey == "out~" || strKey == "err~") {
            const std::string& strStream = strKey == "out~" ? result.strOut : result.strErr;
            EXPECT_NE(strStream.find(strValue), std::string::npos) << strWhere;
        } else if (strKey == "out^") {
            EXPECT_EQ(result.strOut.rfind(strValue, 0), 0u) << strWhere;
        } else if (strKey == "out<") {
            std::string strExpected;
            for (; i + 1 < lines.size() && lines[i + 1].rfind('|', 0) == 0; ++i) {
                strExpected += lines[i + 1].substr(std::min<size_t>(2, lines[i + 1].size())) + "\n";
            }
            EXPECT_EQ(result.strOut, strExpected) << strWhere;
        } else if (strKey == "out@") {
            EXPECT_EQ(result.strOut, Text(ReadWholeFile(kData + strValue))) << strWhere;
        } else if (strKey == "tree") {
            std::istringstream words(strValue);
            uint32_t dwFlags = 0;
            std::string strImages;
            words >> std::hex >> dwFlags >> strImages;
            EXPECT_EQ(result.strOut, viewer_test::SceneTree(dwFlags, strImages == "images"))
                << strWhere;
        } else if (strKey == "exists" || strKey == "absent") {
            const bool bExists =
                std::filesystem::exists(strValue) && !ReadWholeFile(strValue).empty();
            EXPECT_EQ(bExists, strKey == "exists") << strWhere;
        } else if (strKey == "picture") {
            CImageRGBA image;
            std::string strError;
            const size_t nSize = strValue.rfind(' ');
            EXPECT_EQ(LoadImageFile(strValue.substr(0, nSize), image, strError), S_OK) << strError;
            EXPECT_EQ(std::to_string(image.nWidth) + "x" + std::to_string(image.nHeight),
                      strValue.substr(nSize + 1))
                << strWhere;
        } else {
            ADD_FAILURE() << "unknown line " << strWhere;
        }
    }
    EXPECT_GE(nCases, 45);  // the file was found and read to its end
}
