// Texture files named by a scene: where the stored name leads, and the decoded picture. Names
// come from files and are distrusted: only regular files inside the scene's folder (or below
// it) are opened, with caps on their size and dimensions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

constexpr uint64_t kMaxTextureFileBytes = 64ull << 20;
constexpr int kMaxTextureSide = 16384;
// Decoded bytes allowed per byte of file. The formats' own compression stays well below it
// (deflate about 1,000:1, run lengths about 500:1); a GIF screen or PNG header of a few bytes that
// claims 15,000 x 12,000 pixels does not, and would cost gigabytes before it fails.
constexpr uint64_t kMaxTextureExpansion = 4096;
constexpr uint64_t kMinTextureDecodeBytes = 16ull << 20;

// The file a stored texture name stands for, tried in this order inside strSceneDir: the name
// as stored (backslashes read as folder separators), the same with every part matched without
// regard to case, the base name alone (any folder part dropped) exactly and then without
// regard to case, and last the base name with another common picture extension. Empty when
// nothing inside the folder matches; a match that leads out of the folder (through "..", an
// absolute name or a link) does not count.
std::string FindTextureFile(const std::string& strSceneDir, const std::string& strStoredName);

struct CImageRGBA {
    int nWidth = 0;
    int nHeight = 0;
    std::vector<uint8_t> pixels;  // rows top first, four bytes a pixel
};

// Reads and decodes a picture file (BMP, TGA, PNG, JPG, GIF, PSD). Only a regular file is
// read (never a device or a FIFO); larger than kMaxTextureFileBytes or kMaxTextureSide, claiming
// more pixels than its size can hold, or undecodable: a failure and a message saying why.
HRESULT LoadImageFile(const std::string& strPath, CImageRGBA& image, std::string& strError);
// Decodes a picture held in memory, with the same caps.
HRESULT DecodeImage(const uint8_t* pData, size_t nSize, CImageRGBA& image, std::string& strError);
// Writes a PNG. E_FAIL when the file cannot be written.
HRESULT WritePng(const std::string& strPath, const CImageRGBA& image);
