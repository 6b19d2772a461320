#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "render/texturefile.h"
#include "support/bytebuilder.h"
#include "support/table.h"
#include "support/tempfile.h"

namespace {

const std::vector<uint8_t> kTinyBmp =
    ReadHexFile(MORV_SOURCE_DIR "/tests/data/render/red_pixel.bmp.hex");

}  // namespace

#define EXPECT_FAILED_WITH(call, text)                                 \
    do {                                                               \
        strError.clear();                                              \
        EXPECT_TRUE(FAILED(call)) << #call;                            \
        EXPECT_NE(strError.find(text), std::string::npos) << strError; \
    } while (0)

// The view finds what the export finds (abstractdata/texturefind.h): a stored maps/stone.gif
// saved since as maps/stone.png is drawn, not a checker; what is passed over says why.
TEST(TextureFile, TexturesComeThroughTheOneSetOfRules) {
    CTempDir dir;
    std::filesystem::create_directories(dir.File("maps"));
    WriteWholeFile(dir.File("maps/stone.png"), kTinyBmp);
    mkfifo(dir.File("pipe.bmp").c_str(), 0600);
    const CDiskFolder folder(dir.Path());
    CImageRGBA image;
    std::string strError;
    EXPECT_EQ(LoadTexture(folder, "maps\\stone.gif", image, strError), S_OK) << strError;
    EXPECT_EQ(image.nWidth, 1);
    CMemoryFolder memory;
    memory.Add("maps/stone.png", kTinyBmp);
    EXPECT_EQ(LoadTexture(memory, "MAPS/Stone.gif", image, strError), S_OK) << strError;
    EXPECT_FAILED_WITH(LoadTexture(folder, "pipe.bmp", image, strError), "not a regular file");
    EXPECT_FAILED_WITH(LoadTexture(folder, "none.bmp", image, strError), "not found");
}

TEST(TextureFile, RefusesWhatCouldHangOrExhaustMemory) {
    CTempDir dir;
    CImageRGBA image;
    std::string strError;
    WriteWholeFile(dir.File("red.bmp"), kTinyBmp);
    ASSERT_EQ(LoadImageFile(dir.File("red.bmp"), image, strError), S_OK) << strError;
    EXPECT_EQ(image.nWidth, 1);
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{255, 0, 0, 255}));

    // Dimensions beyond the cap are refused from the header alone.
    std::vector<uint8_t> huge = kTinyBmp;
    huge[18] = 0x20;  // width 0x4E20 = 20000
    huge[19] = 0x4E;
    WriteWholeFile(dir.File("huge.bmp"), huge);
    EXPECT_FAILED_WITH(LoadImageFile(dir.File("huge.bmp"), image, strError), "20000x1");

    // A FIFO with no writer, a device, a folder, a file beyond 64 MiB, garbage.
    mkfifo(dir.File("pipe").c_str(), 0600);
    EXPECT_FAILED_WITH(LoadImageFile(dir.File("pipe"), image, strError), "not a regular file");
    EXPECT_FAILED_WITH(LoadImageFile("/dev/zero", image, strError), "not a regular file");
    EXPECT_FAILED_WITH(LoadImageFile(dir.Path(), image, strError), "not a regular file");
    WriteWholeFile(dir.File("big.bmp"), kTinyBmp);
    ASSERT_EQ(truncate(dir.File("big.bmp").c_str(), (64 << 20) + 1), 0);
    EXPECT_FAILED_WITH(LoadImageFile(dir.File("big.bmp"), image, strError), "64 MiB");
    WriteWholeFile(dir.File("junk.bmp"), {1, 2, 3});
    EXPECT_FAILED_WITH(LoadImageFile(dir.File("junk.bmp"), image, strError), "not a picture");
}

// The checks made before the codec must let real pictures through: PNG (also without the end
// chunk's check sum, which the codec never reads), baseline JPEG (as the codec's own encoder writes
// it) and progressive JPEG (tables between the scans; a texture of Debian's Assimp test models).
TEST(TextureFile, DecodesRealPicturesAndRefusesChunksPastTheEnd) {
    CImageRGBA image{3, 2, std::vector<uint8_t>(3 * 2 * 4)};
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = static_cast<uint8_t>(i * 37);
    }
    std::vector<uint8_t> png;
    ASSERT_EQ(EncodePng(image, png), S_OK);
    png.erase(png.end() - 4, png.end());
    CImageRGBA decoded;
    std::string strError;
    ASSERT_EQ(DecodePicture(png.data(), png.size(), decoded, strError), S_OK) << strError;
    EXPECT_EQ(decoded.pixels, image.pixels);
    // The picture files `morv3d render` writes come from a faster copy of the encoder.
    CTempDir dir;
    ASSERT_EQ(WritePng(dir.File("out.png"), image), S_OK);
    png = ReadWholeFile(dir.File("out.png"));
    ASSERT_EQ(DecodePicture(png.data(), png.size(), decoded, strError), S_OK) << strError;
    EXPECT_EQ(decoded.pixels, image.pixels);
    for (const auto& [pszFile, pszError] :
         {std::pair{"png-chunk-longer-than-file", "PNG chunk"},
          std::pair{"png-inflates-past-its-size", "unpacks to more than its size needs"}}) {
        const std::vector<uint8_t> bomb = ReadWholeFile(
            std::string(MORV_SOURCE_DIR "/fuzz/regressions/texture_fuzzer/") + pszFile);
        EXPECT_FAILED_WITH(DecodePicture(bomb.data(), bomb.size(), decoded, strError), pszError);
    }

    const std::vector<uint8_t> jpeg =
        ReadHexFile(MORV_SOURCE_DIR "/tests/data/render/grey.jpg.hex");
    ASSERT_EQ(DecodePicture(jpeg.data(), jpeg.size(), image, strError), S_OK) << strError;
    EXPECT_EQ(image.nWidth * 100 + image.nHeight, 1608);
    const char* pszProgressive = "/usr/share/assimp/models/OBJ/engineflare1.jpg";
    if (std::filesystem::exists(pszProgressive)) {
        EXPECT_EQ(LoadImageFile(pszProgressive, image, strError), S_OK) << strError;
    }
}
