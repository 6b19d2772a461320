// Pictures in memory: decoding of picture files (BMP, TGA, PNG, JPG, GIF, PSD) with every guard
// the codec (stb_image 2.27) lacks, and PNG encoding. The one way in to the codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

constexpr uint64_t kMaxPictureFileBytes = 64ull << 20;
constexpr int kMaxPictureSide = 16384;
// Decoded bytes allowed per byte of file. The formats' own compression stays well below it
// (deflate about 1,000:1, run lengths about 500:1); a GIF screen or PNG header of a few bytes that
// claims 15,000 x 12,000 pixels does not, and would cost gigabytes before it fails.
constexpr uint64_t kMaxPictureExpansion = 4096;
constexpr uint64_t kMinPictureDecodeBytes = 16ull << 20;

struct CImageRGBA {
    int nWidth = 0;
    int nHeight = 0;
    std::vector<uint8_t> pixels;  // rows top first, four bytes a pixel
};

// Decodes a picture file held in memory. Larger than kMaxPictureFileBytes or kMaxPictureSide,
// claiming more pixels than its size can hold, or undecodable: a failure and a message saying
// why.
HRESULT DecodePicture(const uint8_t* pData, size_t nSize, CImageRGBA& image, std::string& strError);
// PNG bytes of an image. E_INVALIDARG for an image whose pixels do not match its size.
HRESULT EncodePng(const CImageRGBA& image, std::vector<uint8_t>& png);
// Writes a PNG file. E_FAIL when the file cannot be written.
HRESULT WritePng(const std::string& strPath, const CImageRGBA& image);
