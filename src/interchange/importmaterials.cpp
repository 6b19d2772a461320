// Materials of an import: one map per material, whose texture is a file beside the scene:
// the model's own texture file, an embedded image written out, or for a material without a
// texture a one-pixel image of its colour (a face group's material must have a map).
#include <assimp/GltfMaterial.h>
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <new>

#include "abstractdata/codepage.h"
#include "abstractdata/picture.h"
#include "interchange/importinternal.h"

namespace {

// Texture files larger than this are not copied; an image written out holds at most this.
constexpr uint64_t kMaxTextureBytes = 64ull << 20;

std::string BaseName(const std::string& strPath) {
    const size_t nSlash = strPath.find_last_of("/\\");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string Lower(std::string str) {
    for (char& c : str) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return str;
}

// "%20" and the like, as glTF URIs write them.
std::string PercentDecoded(const std::string& str) {
    std::string strOut;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == '%' && i + 2 < str.size() &&
            std::isxdigit(static_cast<unsigned char>(str[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(str[i + 2]))) {
            strOut += static_cast<char>(std::stoi(str.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            strOut += str[i];
        }
    }
    return strOut;
}

// The real path of strPath when it is a regular file of bounded size inside strDir.
bool InsideFolder(const std::string& strDir, const std::string& strPath, std::string& strReal) {
    char szReal[PATH_MAX];
    if (::realpath(strPath.c_str(), szReal) == nullptr) {
        return false;
    }
    if (std::strncmp(szReal, strDir.c_str(), strDir.size()) != 0 ||
        (strDir != "/" && szReal[strDir.size()] != '/')) {
        return false;
    }
    struct stat st;
    if (::stat(szReal, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxTextureBytes) {
        return false;
    }
    strReal = szReal;
    return true;
}

// A texture a model names, looked up only in the model's folder and below: as written, then
// by its file name alone, then by that name in any letter case.
bool FindTextureFile(const std::string& strDir, std::string strName, std::string& strReal) {
    std::replace(strName.begin(), strName.end(), '\\', '/');
    if (strName.rfind("file://", 0) == 0) {
        strName.erase(0, 7);
    }
    const std::string strBase = BaseName(strName);
    if (strDir.empty() || strBase.empty()) {
        return false;
    }
    for (const std::string& strTry : {strName, PercentDecoded(strName)}) {
        if (!strTry.empty() && strTry[0] != '/' &&
            InsideFolder(strDir, strDir + "/" + strTry, strReal)) {
            return true;
        }
    }
    for (const std::string& strTry : {strBase, PercentDecoded(strBase)}) {
        if (InsideFolder(strDir, strDir + "/" + strTry, strReal)) {
            return true;
        }
    }
    DIR* pDir = ::opendir(strDir.c_str());
    if (pDir == nullptr) {
        return false;
    }
    const std::string strWanted = Lower(strBase);
    bool bFound = false;
    while (const dirent* pEntry = ::readdir(pDir)) {
        if (Lower(pEntry->d_name) == strWanted &&
            InsideFolder(strDir, strDir + "/" + pEntry->d_name, strReal)) {
            bFound = true;
            break;
        }
    }
    ::closedir(pDir);
    return bFound;
}

// Texture names for the maps: one per distinct source, distinct regardless of letter case.
class CTextureNames {
public:
    // The name of the texture with this key; bMade is true when it is new.
    std::string Claim(const std::string& strKey, const std::string& strWanted, bool& bMade) {
        const auto it = m_byKey.find(strKey);
        if (it != m_byKey.end()) {
            bMade = false;
            return it->second;
        }
        bMade = true;
        std::string strName = Sanitised(strWanted);
        const size_t nDot = strName.rfind('.');
        const std::string strStem =
            nDot == std::string::npos || nDot == 0 ? strName : strName.substr(0, nDot);
        const std::string strExt =
            nDot == std::string::npos || nDot == 0 ? "" : strName.substr(nDot);
        for (uint32_t n = 1; m_used.count(Lower(strName)) != 0; ++n) {
            strName = strStem + "_" + std::to_string(n) + strExt;
        }
        m_used.insert({Lower(strName), true});
        m_byKey.emplace(strKey, strName);
        return strName;
    }

private:
    static std::string Sanitised(const std::string& strWanted) {
        std::string strName = Utf8ToWindows1252(BaseName(strWanted));
        for (char& c : strName) {
            if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\' || c == ':') {
                c = '_';
            }
        }
        if (strName.empty() || strName == "." || strName == "..") {
            strName = "texture";
        }
        return strName;
    }

    std::map<std::string, std::string> m_byKey;
    std::map<std::string, bool> m_used;
};

// The extension of a compressed embedded image: Assimp's hint, or what its first bytes say.
std::string ImageExtension(const aiTexture& texture) {
    std::string strHint;
    for (size_t i = 0; i < sizeof(texture.achFormatHint) && texture.achFormatHint[i] != '\0'; ++i) {
        const char c = texture.achFormatHint[i];
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            strHint.clear();
            break;
        }
        strHint += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (!strHint.empty()) {
        return strHint;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(texture.pcData);
    const size_t n = texture.mWidth;
    if (n >= 4 && p[0] == 0x89 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G') {
        return "png";
    }
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) {
        return "jpg";
    }
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') {
        return "bmp";
    }
    return "tga";
}

// The bytes of an embedded image as a file: compressed images as they are, texel arrays as
// PNG. False when it is malformed or too large.
bool EmbeddedFile(const aiTexture& texture, std::vector<uint8_t>& bytes, std::string& strExt) {
    if (texture.pcData == nullptr || texture.mWidth == 0) {
        return false;
    }
    if (texture.mHeight == 0) {
        if (texture.mWidth > kMaxTextureBytes) {
            return false;
        }
        const auto* p = reinterpret_cast<const uint8_t*>(texture.pcData);
        bytes.assign(p, p + texture.mWidth);
        strExt = ImageExtension(texture);
        return true;
    }
    const uint64_t qwTexels = static_cast<uint64_t>(texture.mWidth) * texture.mHeight;
    if (qwTexels * 4 > kMaxTextureBytes || texture.mWidth > INT32_MAX / 4 ||
        texture.mHeight > INT32_MAX) {
        return false;
    }
    CImageRGBA image;
    image.nWidth = static_cast<int>(texture.mWidth);
    image.nHeight = static_cast<int>(texture.mHeight);
    image.pixels.resize(static_cast<size_t>(qwTexels) * 4);
    for (uint64_t i = 0; i < qwTexels; ++i) {
        const aiTexel& t = texture.pcData[i];
        image.pixels[i * 4 + 0] = t.r;
        image.pixels[i * 4 + 1] = t.g;
        image.pixels[i * 4 + 2] = t.b;
        image.pixels[i * 4 + 3] = t.a;
    }
    strExt = "png";
    if (FAILED(EncodePng(image, bytes))) {
        throw std::bad_alloc();  // only memory can fail it
    }
    return true;
}

uint8_t Channel(float f) {
    if (!std::isfinite(f)) {
        return 255;
    }
    return static_cast<uint8_t>(std::lround(std::clamp(f, 0.0f, 1.0f) * 255.0f));
}

float Opacity(const aiMaterial& material) {
    float fOpacity = 1.0f;
    if (material.Get(AI_MATKEY_OPACITY, fOpacity) != AI_SUCCESS || !std::isfinite(fOpacity)) {
        return 1.0f;
    }
    return std::clamp(fOpacity, 0.0f, 1.0f);
}

uint32_t Effect(const aiMaterial& material) {
    int nBlend = aiBlendMode_Default;
    if (material.Get(AI_MATKEY_BLEND_FUNC, nBlend) == AI_SUCCESS &&
        nBlend == aiBlendMode_Additive) {
        return MORV3D_MAPEFFECT_ALPHAADD;
    }
    aiString alphaMode;
    if (material.Get(AI_MATKEY_GLTF_ALPHAMODE, alphaMode) == AI_SUCCESS &&
        std::strcmp(alphaMode.C_Str(), "BLEND") == 0) {
        return MORV3D_MAPEFFECT_ALPHA;
    }
    return Opacity(material) < 1.0f ? MORV3D_MAPEFFECT_ALPHA : 0;
}

class CMaterialImport {
public:
    explicit CMaterialImport(ImportContext& ctx) : m_ctx(ctx) {}

    std::string TextureOf(const aiMaterial& material) {
        aiString path;
        if (material.GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS ||
            material.GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS) {
            const std::string strPath = path.C_Str();
            const aiTexture* pEmbedded = nullptr;
            const int nEmbedded = EmbeddedIndex(strPath, pEmbedded);
            if (pEmbedded != nullptr) {
                std::string strName = Embedded(*pEmbedded, nEmbedded);
                return strName.empty() ? Swatch(material) : strName;
            }
            // Assimp's stand-in names ("$texture_dummy.bmp") name no file.
            if (!strPath.empty() && strPath[0] != '*' && strPath[0] != '$') {
                return External(strPath);
            }
        }
        return Swatch(material);
    }

    void NoteMissing() {
        if (m_qwMissing > 0) {
            m_ctx.Note(std::to_string(m_qwMissing) + " textures not found in the model's folder (" +
                       m_strMissing + "): the maps keep their names");
        }
        if (m_qwBadEmbedded > 0) {
            m_ctx.Note(std::to_string(m_qwBadEmbedded) +
                       " embedded images are malformed or too large: colour swatches instead");
        }
    }

private:
    // "*N" or the name of an embedded image.
    int EmbeddedIndex(const std::string& strPath, const aiTexture*& pTexture) const {
        const aiScene& scene = *m_ctx.pScene;
        pTexture = nullptr;
        if (scene.mTextures == nullptr) {
            return -1;
        }
        if (!strPath.empty() && strPath[0] == '*') {
            if (strPath.size() < 2 || strPath.size() > 10 ||
                strPath.find_first_not_of("0123456789", 1) != std::string::npos) {
                return -1;
            }
            const unsigned long nIndex = std::stoul(strPath.substr(1));
            if (nIndex < scene.mNumTextures && scene.mTextures[nIndex] != nullptr) {
                pTexture = scene.mTextures[nIndex];
                return static_cast<int>(nIndex);
            }
            return -1;
        }
        const std::string strBase = BaseName(strPath);
        for (unsigned i = 0; i < scene.mNumTextures; ++i) {
            if (scene.mTextures[i] != nullptr && !strBase.empty() &&
                BaseName(scene.mTextures[i]->mFilename.C_Str()) == strBase) {
                pTexture = scene.mTextures[i];
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    std::string Embedded(const aiTexture& texture, int nIndex) {
        const std::string strKey = "*" + std::to_string(nIndex);
        const auto it = m_embedded.find(strKey);
        if (it != m_embedded.end()) {
            return it->second;
        }
        ImportedTexture image;
        std::string strExt;
        if (!EmbeddedFile(texture, image.bytes, strExt)) {
            ++m_qwBadEmbedded;
            m_embedded.emplace(strKey, std::string());
            return std::string();
        }
        std::string strWanted = BaseName(texture.mFilename.C_Str());
        const size_t nDot = strWanted.rfind('.');
        if (nDot == std::string::npos || nDot == 0) {
            strWanted = m_ctx.options.strTextureStem + "_texture" + std::to_string(nIndex);
        } else {
            strWanted.erase(nDot);
        }
        bool bMade = false;
        image.strName = m_names.Claim(strKey, strWanted + "." + strExt, bMade);
        m_embedded.emplace(strKey, image.strName);
        m_ctx.pOut->textures.push_back(image);
        return image.strName;
    }

    std::string External(const std::string& strPath) {
        std::string strReal;
        bool bMade = false;
        if (!FindTextureFile(m_ctx.strModelDir, strPath, strReal)) {
            const std::string strName =
                m_names.Claim("?" + Lower(BaseName(strPath)), strPath, bMade);
            if (bMade) {
                ++m_qwMissing;
                m_strMissing += (m_strMissing.empty() ? "" : ", ") + BaseName(strPath);
            }
            return strName;
        }
        const std::string strName = m_names.Claim(strReal, BaseName(strReal), bMade);
        if (bMade) {
            ImportedTexture texture;
            texture.strName = strName;
            texture.strSourcePath = strReal;
            m_ctx.pOut->textures.push_back(std::move(texture));
        }
        return strName;
    }

    std::string Swatch(const aiMaterial& material) {
        aiColor4D colour(1.0f, 1.0f, 1.0f, 1.0f);
        if (material.Get(AI_MATKEY_COLOR_DIFFUSE, colour) != AI_SUCCESS) {
            material.Get(AI_MATKEY_BASE_COLOR, colour);
        }
        CImageRGBA pixel;
        pixel.nWidth = 1;
        pixel.nHeight = 1;
        pixel.pixels = {Channel(colour.r), Channel(colour.g), Channel(colour.b),
                        Channel(Opacity(material))};
        const std::vector<uint8_t>& rgba = pixel.pixels;
        char szHex[16];
        std::snprintf(szHex, sizeof(szHex), "%02x%02x%02x%02x", rgba[0], rgba[1], rgba[2], rgba[3]);
        const std::string strKey = std::string("#") + szHex;
        bool bMade = false;
        const std::string strName =
            m_names.Claim(strKey, m_ctx.options.strTextureStem + "_color_" + szHex + ".png", bMade);
        if (bMade) {
            ImportedTexture texture;
            texture.strName = strName;
            if (FAILED(EncodePng(pixel, texture.bytes))) {
                throw std::bad_alloc();
            }
            m_ctx.pOut->textures.push_back(std::move(texture));
        }
        return strName;
    }

    ImportContext& m_ctx;
    CTextureNames m_names;
    std::map<std::string, std::string> m_embedded;  // "" for an image that cannot be used
    uint64_t m_qwMissing = 0;
    uint64_t m_qwBadEmbedded = 0;
    std::string m_strMissing;
};

}  // namespace

HRESULT ImportMaterials(ImportContext& ctx) {
    const aiScene& scene = *ctx.pScene;
    CMaterialImport import(ctx);
    std::vector<Morv3DMaterialDesc>& materials = ctx.pOut->scene.materials;
    const unsigned nMaterials = scene.mMaterials != nullptr ? scene.mNumMaterials : 0;
    materials.resize(std::max(1u, nMaterials));
    // Only materials a mesh shows get a map, and so a texture file.
    std::vector<bool> used(materials.size(), false);
    for (unsigned m = 0; m < scene.mNumMeshes && scene.mMeshes != nullptr; ++m) {
        if (scene.mMeshes[m] != nullptr) {
            used[scene.mMeshes[m]->mMaterialIndex < used.size() ? scene.mMeshes[m]->mMaterialIndex
                                                                : 0] = true;
        }
    }
    for (unsigned i = 0; i < materials.size(); ++i) {
        if (!used[i]) {
            continue;
        }
        const aiMaterial* pMaterial = i < nMaterials ? scene.mMaterials[i] : nullptr;
        const aiMaterial fallback;
        const aiMaterial& material = pMaterial != nullptr ? *pMaterial : fallback;
        Morv3DMapDesc map;
        map.record.dwEffect = Effect(material);
        map.strTexture = import.TextureOf(material);
        materials[i].maps.push_back(std::move(map));
    }
    import.NoteMissing();
    return S_OK;
}
