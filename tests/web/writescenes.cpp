// Writes the scenes the other tests build from their hex cases, and the damaged containers, as
// files into $MORV_WEB_SCENES, for the page's tests in a browser to open one by one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fileformats/scenebytes.h"
#include "fileformats/scenedesc.h"

namespace {

// A file name from a case title: letters and digits kept, runs of anything else one '-'.
std::string FileName(const std::string& strPrefix, const std::string& strTitle) {
    std::string strName = strPrefix + "-";
    for (const char c : strTitle.substr(0, strTitle.find('#'))) {
        const bool bWord =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (bWord) {
            strName.push_back(c);
        } else if (strName.back() != '-') {
            strName.push_back('-');
        }
    }
    while (strName.back() == '-') {
        strName.pop_back();
    }
    return strName + ".morv3d";
}

TEST(WebScenes, Write) {
    const char* pszDir = std::getenv("MORV_WEB_SCENES");
    if (pszDir == nullptr) {
        GTEST_SKIP() << "MORV_WEB_SCENES names no folder";
    }
    const std::string strDir = pszDir;
    // Scene cases: tests/data/scene/<file>; the viewer's and the command line's by "../".
    const std::pair<const char*, const char*> sceneFiles[] = {
        {"scene", "scenes.hex"},      {"loads", "loads.hex"},
        {"meshes", "meshes.hex"},     {"viewer", "../viewer/scenes.hex"},
        {"cli", "../cli/scenes.hex"},
    };
    for (const auto& [pszPrefix, pszFile] : sceneFiles) {
        for (const SceneCase& c : ReadSceneCases(pszFile)) {
            WriteContainer(strDir + "/" + FileName(pszPrefix, c.strTitle), c.chunks);
        }
    }
    const std::string strMalformed =
        std::string(MORV_SOURCE_DIR) + "/tests/data/container/malformed.hex";
    for (const HexSection& section : ReadHexSections(strMalformed)) {
        WriteWholeFile(strDir + "/" + FileName("malformed", section.strTitle), section.bytes);
    }
}

// 20,000 copies of a node with a quad, written to $MORV_WEB_LARGE_SCENE: loaded, they need more
// than the page's first 32 MiB of WebAssembly heap, so opening the scene makes the heap grow.
TEST(WebScenes, WriteLarge) {
    const char* pszPath = std::getenv("MORV_WEB_LARGE_SCENE");
    if (pszPath == nullptr) {
        GTEST_SKIP() << "MORV_WEB_LARGE_SCENE names no file";
    }
    Morv3DSceneDesc scene = ReadSceneDesc("web/large.txt", "large");
    const Morv3DChildDesc quad = scene.pRoot->children.at(0);
    scene.pRoot->children.assign(20000, quad);
    ASSERT_EQ(WriteMorv3DScene(pszPath, scene), S_OK);
}

}  // namespace
