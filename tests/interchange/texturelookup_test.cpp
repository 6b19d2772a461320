// Texture names as scene files store them, looked for in the scene's folder only.
#include "interchange/texturelookup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

// The rows of texture_lookup.tsv, in one scene folder.
TEST(TextureLookup, FindsOnlyRegularFilesInsideTheFolder) {
    CTempDir root;
    const std::string strScene = root.File("scene");
    std::filesystem::create_directories(strScene + "/Maps/Sub");
    std::filesystem::create_directories(strScene + "/dir.png");
    for (const char* pszFile : {"Maps/Sub/Rock.BMP", "wood.bmp", "Sky.JPG", "grass.png"}) {
        std::ofstream(strScene + "/" + pszFile) << "x";
    }
    std::ofstream(root.File("outside.png")) << "x";
    ASSERT_EQ(symlink("../outside.png", (strScene + "/link.png").c_str()), 0);
    ASSERT_EQ(symlink("wood.bmp", (strScene + "/alias.bmp").c_str()), 0);
    // Larger than the cap, without taking the space.
    ASSERT_EQ(truncate((std::ofstream(strScene + "/huge.png"), strScene + "/huge.png").c_str(),
                       static_cast<off_t>(kMaxTextureFileSize + 1)),
              0);

    const char* const kMatches[] = {"None", "Exact", "IgnoringCase", "WithoutFolder",
                                    "OtherExtension"};  // in the order of ETextureMatch
    for (const std::vector<std::string>& row : ReadTable("interchange/texture_lookup.tsv")) {
        SCOPED_TRACE(row[0] + ": " + row.at(1));
        TextureFile found;
        const HRESULT hr = FindTextureFile(strScene, row[1] == "(empty)" ? "" : row[1], found);
        EXPECT_EQ(kMatches[static_cast<int>(found.match)], row.at(2));
        EXPECT_EQ(hr, found.match == ETextureMatch::None ? S_FALSE : S_OK);
        EXPECT_EQ(found.strPath, row.at(3) == "-" ? std::string() : strScene + "/" + row[3]);
    }
}

TEST(TextureLookup, ReadsWithinTheCapOnly) {
    CTempDir dir;
    std::ofstream(dir.File("a.png")) << "abc";
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadTextureFile(dir.File("a.png"), bytes), S_OK);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(ReadTextureFile(dir.Path(), bytes), E_FAIL);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadTextureFile(dir.File("none.png"), bytes), E_FAIL);
}

}  // namespace
