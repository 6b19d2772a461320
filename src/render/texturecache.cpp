#include "render/texturecache.h"

#include <algorithm>
#include <cmath>

#include "render/texturefile.h"

namespace {

// A checker in a colour of its own for every material, so that missing textures still tell
// the materials apart.
CImageRGBA Checker(uint32_t dwMaterial) {
    const float fHue = std::fmod(static_cast<float>(dwMaterial) * 0.618034f, 1.0f) * 6.0f;
    const float x = 1.0f - std::fabs(std::fmod(fHue, 2.0f) - 1.0f);
    float rgb[3] = {};
    const int nSector = static_cast<int>(fHue) % 6;
    const int aMajor[6] = {0, 1, 1, 2, 2, 0};
    const int aMinor[6] = {1, 0, 2, 1, 0, 2};
    rgb[aMajor[nSector]] = 1.0f;
    rgb[aMinor[nSector]] = x;
    CImageRGBA image;
    image.nWidth = image.nHeight = 8;
    image.pixels.resize(8 * 8 * 4);
    for (int y = 0; y < 8; ++y) {
        for (int x2 = 0; x2 < 8; ++x2) {
            const float fShade = ((x2 / 2 + y / 2) % 2) ? 0.9f : 0.45f;
            uint8_t* p = &image.pixels[(y * 8 + x2) * 4];
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<uint8_t>(std::lround((0.25f + 0.75f * rgb[c]) * fShade * 255));
            }
            p[3] = 255;
        }
    }
    return image;
}

// The next smaller level: each pixel the mean of the (up to) 2x2 pixels it covers.
CImageRGBA HalfSize(const CImageRGBA& image) {
    CImageRGBA half;
    half.nWidth = std::max(1, image.nWidth / 2);
    half.nHeight = std::max(1, image.nHeight / 2);
    half.pixels.resize(static_cast<size_t>(half.nWidth) * half.nHeight * 4);
    for (int y = 0; y < half.nHeight; ++y) {
        const int y0 = std::min(2 * y, image.nHeight - 1);
        const int y1 = std::min(2 * y + 1, image.nHeight - 1);
        for (int x = 0; x < half.nWidth; ++x) {
            const int x0 = std::min(2 * x, image.nWidth - 1);
            const int x1 = std::min(2 * x + 1, image.nWidth - 1);
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](int px, int py) {
                    return image.pixels[(static_cast<size_t>(py) * image.nWidth + px) * 4 + c];
                };
                half.pixels[(static_cast<size_t>(y) * half.nWidth + x) * 4 + c] =
                    static_cast<uint8_t>((at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) /
                                         4);
            }
        }
    }
    return half;
}

// The levels are made here rather than by glGenerateMipmap: a software rasteriser makes them
// with a blit shader that it first has to compile, which costs more than the picture's textures.
GLuint Upload(const CImageRGBA& image) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.nWidth, image.nHeight, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, image.pixels.data());
    CImageRGBA level;
    const CImageRGBA* pLevel = &image;
    for (GLint nLevel = 1; pLevel->nWidth > 1 || pLevel->nHeight > 1; ++nLevel) {
        level = HalfSize(*pLevel);
        pLevel = &level;
        glTexImage2D(GL_TEXTURE_2D, nLevel, GL_RGBA8, level.nWidth, level.nHeight, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, level.pixels.data());
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    return texture;
}

}  // namespace

GLuint CTextureCache::Get(uint32_t dwMaterial, uint32_t dwMap,
                          const std::vector<CMorv3DLoader::tMaterialMaps>& materials,
                          const CFileFolder* pFolder, std::vector<MissingTexture>& missing) {
    if (dwMaterial == kNoMaterial) {
        return m_white;
    }
    const auto key = std::make_pair(dwMaterial, dwMap);
    const auto found = m_textures.find(key);
    if (found != m_textures.end()) {
        return found->second;
    }
    const std::string& strName = materials[dwMaterial][dwMap].strTexture;
    std::string strReason = "not found";
    CImageRGBA image;
    const HRESULT hr =
        pFolder != nullptr ? LoadTexture(*pFolder, strName, image, strReason) : E_FAIL;
    if (FAILED(hr)) {
        image = Checker(dwMaterial);
        missing.push_back({dwMaterial, strName, strReason});
    }
    const GLuint texture = Upload(image);
    m_textures.emplace(key, texture);
    return texture;
}

void CTextureCache::MakeWhite() {
    CImageRGBA white;
    white.nWidth = white.nHeight = 1;
    white.pixels = {255, 255, 255, 255};
    m_white = Upload(white);
}

void CTextureCache::Free(bool bAll) {
    for (auto& entry : m_textures) {
        glDeleteTextures(1, &entry.second);
    }
    m_textures.clear();
    if (bAll && m_white != 0) {
        glDeleteTextures(1, &m_white);
        m_white = 0;
    }
}
