#include "render/texturefile.h"

#include <vector>

#include "abstractdata/texturefind.h"

HRESULT LoadImageFile(const std::string& strPath, CImageRGBA& image, std::string& strError) {
    std::vector<uint8_t> bytes;
    const HRESULT hr = ReadRegularFile(strPath, bytes, &strError);
    return SUCCEEDED(hr) ? DecodePicture(bytes.data(), bytes.size(), image, strError) : hr;
}

HRESULT LoadTexture(const CFileFolder& folder, const std::string& strStored, CImageRGBA& image,
                    std::string& strReason) {
    TextureFile found;
    HRESULT hr = FindTexture(folder, strStored, found);
    if (hr == S_FALSE) {
        strReason = found.strPassed.empty() ? "not found" : found.strPassed;
        return E_FAIL;
    }
    std::vector<uint8_t> bytes;
    if (SUCCEEDED(hr)) {
        hr = folder.Read(found.strPath, bytes, &strReason);
    }
    return SUCCEEDED(hr) ? DecodePicture(bytes.data(), bytes.size(), image, strReason) : hr;
}
