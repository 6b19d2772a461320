// Texture names as scene files store them, looked for in the scene's folder only.
#include "interchange/texturelookup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/tempfile.h"

namespace {

struct LookupCase {
    const char* pszStored;
    ETextureMatch match;
    const char* pszFound;  // relative to the scene's folder; "" when none
};

class TextureLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(TextureLookup, FindsOnlyRegularFilesInsideTheFolder) {
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

    const LookupCase& c = GetParam();
    TextureFile found;
    const HRESULT hr = FindTextureFile(strScene, c.pszStored, found);
    EXPECT_EQ(found.match, c.match);
    EXPECT_EQ(hr, c.match == ETextureMatch::None ? S_FALSE : S_OK);
    EXPECT_EQ(found.strPath, *c.pszFound ? strScene + "/" + c.pszFound : std::string());
}

INSTANTIATE_TEST_SUITE_P(
    Names, TextureLookup,
    testing::Values(
        LookupCase{"wood.bmp", ETextureMatch::Exact, "wood.bmp"},
        LookupCase{"Maps\\Sub\\Rock.BMP", ETextureMatch::Exact, "Maps/Sub/Rock.BMP"},
        LookupCase{"maps\\sub\\rock.bmp", ETextureMatch::IgnoringCase, "Maps/Sub/Rock.BMP"},
        LookupCase{"WOOD.BMP", ETextureMatch::IgnoringCase, "wood.bmp"},
        LookupCase{"C:\\art\\textures\\wood.bmp", ETextureMatch::WithoutFolder, "wood.bmp"},
        LookupCase{"art\\textures\\wood.bmp", ETextureMatch::WithoutFolder, "wood.bmp"},
        LookupCase{"sky.bmp", ETextureMatch::OtherExtension, "Sky.JPG"},
        LookupCase{"textures\\grass.tga", ETextureMatch::OtherExtension, "grass.png"},
        LookupCase{"alias.bmp", ETextureMatch::Exact, "alias.bmp"},
        LookupCase{"../outside.png", ETextureMatch::None, ""},
        LookupCase{"link.png", ETextureMatch::None, ""},
        LookupCase{"dir.png", ETextureMatch::None, ""},
        LookupCase{"huge.png", ETextureMatch::None, ""}, LookupCase{"", ETextureMatch::None, ""},
        LookupCase{"Maps\\", ETextureMatch::None, ""}));

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
