// The one set of rules that finds a stored texture name's picture, over a folder on disk and the
// same files in memory (tests/data/abstractdata/texture_rules.tsv).
#include "abstractdata/texturefind.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "abstractdata/picture.h"
#include "support/table.h"
#include "support/tempfile.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& str) {
    return {str.begin(), str.end()};
}

}  // namespace

TEST(TextureFind, OneTableOfRulesOnDiskAndInMemory) {
    CTempDir root;
    const std::string strScene = root.File("scene");
    std::filesystem::create_directories(strScene + "/maps/Sub");
    std::filesystem::create_directories(strScene + "/dir.png");
    CMemoryFolder memory;
    for (const char* pszFile : {"wood.bmp", "Sky.JPG", "grass.png", "Stone.BMP", "maps/stone.png",
                                "maps/Sub/Rock.BMP", "dir.png/keep.txt"}) {
        WriteWholeFile(strScene + "/" + pszFile, Bytes(pszFile));
        memory.Add(pszFile, Bytes(pszFile));
    }
    memory.Add("alias.bmp", Bytes("wood.bmp"));
    WriteWholeFile(root.File("outside.png"), Bytes("outside.png"));
    ASSERT_EQ(symlink("../outside.png", (strScene + "/link.png").c_str()), 0);
    ASSERT_EQ(symlink("wood.bmp", (strScene + "/alias.bmp").c_str()), 0);
    ASSERT_EQ(mkfifo((strScene + "/pipe.bmp").c_str(), 0600), 0);
    // Larger than the cap; on disk without taking the space.
    WriteWholeFile(strScene + "/huge.png", {});
    ASSERT_EQ(truncate((strScene + "/huge.png").c_str(), kMaxPictureFileBytes + 1), 0);
    memory.Add("huge.png", std::vector<uint8_t>(kMaxPictureFileBytes + 1));

    const CDiskFolder disk(strScene);
    const char* const kSteps[] = {"None", "Exact", "IgnoringCase", "WithoutFolder",
                                  "OtherExtension"};  // in the order of ETextureMatch
    const auto rows = ReadTable("abstractdata/texture_rules.tsv");
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 5u) << row[0];
        const std::string strStored = row[1] == "(empty)" ? "" : UnescapeBytes(row[1]);
        for (const CFileFolder* pFolder :
             {static_cast<const CFileFolder*>(&disk), static_cast<const CFileFolder*>(&memory)}) {
            SCOPED_TRACE(row[0] + (pFolder == &disk ? " on disk" : " in memory"));
            TextureFile found;
            const HRESULT hr = FindTexture(*pFolder, strStored, found);
            EXPECT_EQ(kSteps[static_cast<int>(found.match)], row[2]);
            EXPECT_EQ(hr, found.match == ETextureMatch::None ? S_FALSE : S_OK);
            EXPECT_EQ(found.strPath, row[3] == "-" ? "" : row[3]);
            if (pFolder == &disk) {
                EXPECT_EQ(found.strPassed, row[4] == "-" ? "" : row[4]);
            }
            // What is found is read, and is the file of that name.
            std::vector<uint8_t> bytes;
            std::string strWhy;
            if (found.match != ETextureMatch::None) {
                EXPECT_EQ(pFolder->Read(found.strPath, bytes, &strWhy), S_OK) << strWhy;
                EXPECT_EQ(bytes, Bytes(row[3] == "alias.bmp" ? "wood.bmp" : row[3]));
            }
        }
    }
    EXPECT_EQ(rows.size(), 29u);

    // On disk the path is the folder's joined with the one found.
    TextureFile found;
    EXPECT_EQ(FindTextureFile(strScene, "MAPS\\STONE.GIF", found), S_OK);
    EXPECT_EQ(found.strPath, strScene + "/maps/stone.png");
    // Reading refuses what finding passes over, should the folder change in between.
    std::vector<uint8_t> bytes;
    std::string strWhy;
    EXPECT_EQ(disk.Read("link.png", bytes, &strWhy), E_FAIL);
    EXPECT_EQ(strWhy, "leads out of the folder");
    EXPECT_EQ(disk.Read("pipe.bmp", bytes, &strWhy), E_FAIL);
    EXPECT_EQ(strWhy, "not a regular file");
    EXPECT_EQ(memory.Read("huge.png", bytes, &strWhy), E_FAIL);
    EXPECT_EQ(strWhy, "larger than 64 MiB");
    EXPECT_EQ(memory.Read("maps", bytes, &strWhy), E_FAIL);
    EXPECT_TRUE(bytes.empty());
}
