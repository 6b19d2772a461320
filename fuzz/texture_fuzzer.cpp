// Picture decoding (renderer, glTF export) on arbitrary bytes: a refusal or a picture of the size
// it says, never a crash or an allocation beyond the caps.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "abstractdata/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CImageRGBA image;
    std::string strError;
    if (SUCCEEDED(DecodePicture(pData, nSize, image, strError))) {
        if (image.nWidth < 1 || image.nHeight < 1 || image.nWidth > kMaxPictureSide ||
            image.nHeight > kMaxPictureSide ||
            image.pixels.size() != static_cast<size_t>(image.nWidth) * image.nHeight * 4) {
            std::abort();
        }
    } else if (strError.empty()) {
        std::abort();  // every refusal says why
    }
    return 0;
}
