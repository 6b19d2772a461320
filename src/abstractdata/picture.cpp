#include "abstractdata/picture.h"

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

#include "abstractdata/picturealloc.h"
#include "abstractdata/picturecheck.h"
#include "abstractdata/pngfile.h"

namespace {

thread_local size_t t_nMaxBlock = SIZE_MAX;
thread_local bool t_bRefused = false;

bool BlockFits(size_t nBytes) {
    if (nBytes <= t_nMaxBlock) {
        return true;
    }
    t_bRefused = true;
    return false;
}

bool SizeFits(const CImageRGBA& image) {
    return image.nWidth > 0 && image.nHeight > 0 && image.nWidth <= INT_MAX / 4 &&
           image.pixels.size() == static_cast<size_t>(image.nWidth) * image.nHeight * 4;
}

HRESULT Decode(const uint8_t* pData, size_t nSize, CImageRGBA& image, std::string& strError) {
    if (nSize > kMaxPictureFileBytes || nSize > static_cast<size_t>(INT_MAX)) {
        strError = "larger than 64 MiB";
        return E_FAIL;
    }
    if (!JpegHuffmanTablesSound(pData, nSize)) {
        strError = "not a picture that can be read (a JPEG code table is too large or missing)";
        return E_FAIL;
    }
    if (!PngChunksFit(pData, nSize)) {
        strError = "not a picture that can be read (a PNG chunk runs past the end of the file)";
        return E_FAIL;
    }
    int nWidth = 0;
    int nHeight = 0;
    int nChannels = 0;
    const int nLength = static_cast<int>(nSize);
    if (!stbi_info_from_memory(pData, nLength, &nWidth, &nHeight, &nChannels)) {
        strError = std::string("not a picture that can be read (") + stbi_failure_reason() + ")";
        return E_FAIL;
    }
    if (nWidth <= 0 || nHeight <= 0 || nWidth > kMaxPictureSide || nHeight > kMaxPictureSide) {
        strError = "picture of " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                   " pixels refused (at most " + std::to_string(kMaxPictureSide) + " a side)";
        return E_FAIL;
    }
    const uint64_t nDecoded = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) * 4;
    if (nDecoded > std::max(kMinPictureDecodeBytes, kMaxPictureExpansion * nSize)) {
        strError = "picture of " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                   " pixels refused (more than a file of " + std::to_string(nSize) +
                   " bytes can hold)";
        return E_FAIL;
    }
    // A block may hold the pixels at 16 bits a channel, or the file itself, twice over.
    CPictureBlockCap cap(std::max(kMinPictureDecodeBytes, 2 * (2 * nDecoded + nSize)));
    std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> pPixels(
        stbi_load_from_memory(pData, nLength, &nWidth, &nHeight, &nChannels, 4), &stbi_image_free);
    if (!pPixels && cap.Refused()) {
        strError = "the picture cannot be decoded (its data unpacks to more than its size needs)";
        return E_FAIL;
    }
    if (!pPixels) {
        strError = std::string("the picture cannot be decoded (") + stbi_failure_reason() + ")";
        return E_FAIL;
    }
    image.nWidth = nWidth;
    image.nHeight = nHeight;
    image.pixels.assign(pPixels.get(), pPixels.get() + static_cast<size_t>(nWidth) * nHeight * 4);
    return S_OK;
}

}  // namespace

void* PictureAlloc(size_t nBytes) {
    return BlockFits(nBytes) ? std::malloc(nBytes) : nullptr;
}

void* PictureRealloc(void* p, size_t nBytes) {
    return BlockFits(nBytes) ? std::realloc(p, nBytes) : nullptr;
}

void PictureFree(void* p) {
    std::free(p);
}

CPictureBlockCap::CPictureBlockCap(size_t nMaxBlock) : m_nPrevious(t_nMaxBlock) {
    t_nMaxBlock = nMaxBlock;
    t_bRefused = false;
}

CPictureBlockCap::~CPictureBlockCap() {
    t_nMaxBlock = m_nPrevious;
}

bool CPictureBlockCap::Refused() const {
    return t_bRefused;
}

HRESULT DecodePicture(const uint8_t* pData, size_t nSize, CImageRGBA& image,
                      std::string& strError) {
    try {
        return Decode(pData, nSize, image, strError);
    } catch (const std::bad_alloc&) {
        strError = "out of memory";  // short enough to need no allocation
        return E_OUTOFMEMORY;
    }
}

HRESULT EncodePng(const CImageRGBA& image, std::vector<uint8_t>& png) {
    png.clear();
    if (!SizeFits(image)) {
        return E_INVALIDARG;
    }
    bool bOutOfMemory = false;
    struct tSink {
        std::vector<uint8_t>& png;
        bool& bOutOfMemory;
    } sink{png, bOutOfMemory};
    const int nOk = stbi_write_png_to_func(
        [](void* pContext, void* pData, int nSize) {
            auto* pSink = static_cast<tSink*>(pContext);
            const auto* p = static_cast<const uint8_t*>(pData);
            try {
                pSink->png.insert(pSink->png.end(), p, p + nSize);
            } catch (const std::bad_alloc&) {
                pSink->bOutOfMemory = true;
            }
        },
        &sink, image.nWidth, image.nHeight, 4, image.pixels.data(), image.nWidth * 4);
    if (bOutOfMemory) {
        png.clear();
        return E_OUTOFMEMORY;
    }
    return nOk != 0 && !png.empty() ? S_OK : E_OUTOFMEMORY;
}

HRESULT WritePng(const std::string& strPath, const CImageRGBA& image) {
    if (!SizeFits(image)) {
        return E_INVALIDARG;
    }
    return WritePngFile(strPath.c_str(), image.nWidth, image.nHeight, image.pixels.data()) ? S_OK
                                                                                           : E_FAIL;
}
