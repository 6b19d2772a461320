#include "render/texturefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include "abstractdata/picturecheck.h"

namespace {

std::vector<std::string> SplitPath(const std::string& strName) {
    std::vector<std::string> parts;
    std::string strPart;
    for (char c : strName) {
        if (c == '/' || c == '\\') {
            if (!strPart.empty()) {
                parts.push_back(strPart);
            }
            strPart.clear();
        } else {
            strPart += c;
        }
    }
    if (!strPart.empty()) {
        parts.push_back(strPart);
    }
    return parts;
}

// Drive letters and dot parts lead nowhere inside the folder.
bool UsablePart(const std::string& strPart) {
    return strPart != "." && strPart != ".." && strPart.find(':') == std::string::npos;
}

std::string RealPath(const std::string& strPath) {
    std::unique_ptr<char, decltype(&free)> p(realpath(strPath.c_str(), nullptr), &free);
    return p ? std::string(p.get()) : std::string();
}

bool IsInside(const std::string& strRealDir, const std::string& strRealPath) {
    return strRealPath.size() > strRealDir.size() &&
           strRealPath.compare(0, strRealDir.size(), strRealDir) == 0 &&
           (strRealDir.back() == '/' || strRealPath[strRealDir.size()] == '/');
}

// The entry of strDir whose name equals strName without regard to case; empty when none.
std::string MatchNoCase(const std::string& strDir, const std::string& strName) {
    struct tCloser {
        void operator()(DIR* p) const { closedir(p); }
    };
    std::unique_ptr<DIR, tCloser> pDir(opendir(strDir.c_str()));
    if (!pDir) {
        return {};
    }
    while (const dirent* pEntry = readdir(pDir.get())) {
        if (strcasecmp(pEntry->d_name, strName.c_str()) == 0) {
            return pEntry->d_name;
        }
    }
    return {};
}

// strDir/parts..., each part matched exactly or without regard to case.
std::string Resolve(const std::string& strDir, const std::vector<std::string>& parts,
                    bool bIgnoreCase) {
    std::string strPath = strDir;
    for (const std::string& strPart : parts) {
        if (!UsablePart(strPart)) {
            return {};
        }
        std::string strName = strPart;
        if (bIgnoreCase) {
            strName = MatchNoCase(strPath, strPart);
            if (strName.empty()) {
                return {};
            }
        }
        strPath += "/" + strName;
    }
    return strPath;
}

}  // namespace

std::string FindTextureFile(const std::string& strSceneDir, const std::string& strStoredName) {
    const std::string strRealDir = RealPath(strSceneDir.empty() ? "." : strSceneDir);
    const std::vector<std::string> parts = SplitPath(strStoredName);
    if (strRealDir.empty() || parts.empty()) {
        return {};
    }
    const auto accept = [&](const std::string& strCandidate) -> std::string {
        if (strCandidate.empty()) {
            return {};
        }
        struct stat info {};
        const std::string strReal = RealPath(strCandidate);
        if (strReal.empty() || !IsInside(strRealDir, strReal) ||
            stat(strReal.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return {};
        }
        return strReal;
    };
    const std::vector<std::string> base{parts.back()};
    for (const auto& candidate : {std::make_pair(&parts, false), std::make_pair(&parts, true),
                                  std::make_pair(&base, false), std::make_pair(&base, true)}) {
        std::string strFound = accept(Resolve(strRealDir, *candidate.first, candidate.second));
        if (!strFound.empty()) {
            return strFound;
        }
    }
    // The same picture saved in another format.
    const std::string& strBase = parts.back();
    const size_t nDot = strBase.rfind('.');
    const std::string strStem = nDot == std::string::npos ? strBase : strBase.substr(0, nDot);
    static const std::array<const char*, 7> kExtensions = {".bmp",  ".tga", ".png", ".jpg",
                                                           ".jpeg", ".gif", ".psd"};
    for (const char* pszExtension : kExtensions) {
        std::string strFound = accept(Resolve(strRealDir, {strStem + pszExtension}, true));
        if (!strFound.empty()) {
            return strFound;
        }
    }
    return {};
}

HRESULT DecodeImage(const uint8_t* pData, size_t nSize, CImageRGBA& image, std::string& strError) {
    if (nSize > kMaxTextureFileBytes || nSize > static_cast<size_t>(INT_MAX)) {
        strError = "larger than 64 MiB";
        return E_FAIL;
    }
    if (!JpegHuffmanTablesFit(pData, nSize)) {
        strError = "not a picture that can be read (a JPEG code table holds too many codes)";
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
    if (nWidth <= 0 || nHeight <= 0 || nWidth > kMaxTextureSide || nHeight > kMaxTextureSide) {
        strError = "picture of " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                   " pixels refused (at most " + std::to_string(kMaxTextureSide) + " a side)";
        return E_FAIL;
    }
    const uint64_t nDecoded = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) * 4;
    if (nDecoded > std::max(kMinTextureDecodeBytes, kMaxTextureExpansion * nSize)) {
        strError = "picture of " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                   " pixels refused (more than a file of " + std::to_string(nSize) +
                   " bytes can hold)";
        return E_FAIL;
    }
    std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> pPixels(
        stbi_load_from_memory(pData, nLength, &nWidth, &nHeight, &nChannels, 4), &stbi_image_free);
    if (!pPixels) {
        strError = std::string("the picture cannot be decoded (") + stbi_failure_reason() + ")";
        return E_FAIL;
    }
    try {
        image.nWidth = nWidth;
        image.nHeight = nHeight;
        image.pixels.assign(pPixels.get(),
                            pPixels.get() + static_cast<size_t>(nWidth) * nHeight * 4);
    } catch (const std::bad_alloc&) {
        strError = "out of memory";
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT LoadImageFile(const std::string& strPath, CImageRGBA& image, std::string& strError) {
    // Non-blocking, so that a FIFO cannot hold the open; only a regular file is read.
    const int fd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        strError = "cannot be opened";
        return E_FAIL;
    }
    struct stat info {};
    HRESULT hr = S_OK;
    std::vector<uint8_t> bytes;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        strError = "not a regular file";
        hr = E_FAIL;
    } else if (static_cast<uint64_t>(info.st_size) > kMaxTextureFileBytes) {
        strError = "larger than 64 MiB";
        hr = E_FAIL;
    } else {
        try {
            bytes.resize(static_cast<size_t>(info.st_size));
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
            strError = "out of memory";
        }
        size_t nDone = 0;
        while (SUCCEEDED(hr) && nDone < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + nDone, bytes.size() - nDone);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;  // the file shrank: decode what is there
            }
            nDone += static_cast<size_t>(n);
        }
        bytes.resize(nDone);
    }
    close(fd);
    return SUCCEEDED(hr) ? DecodeImage(bytes.data(), bytes.size(), image, strError) : hr;
}

HRESULT WritePng(const std::string& strPath, const CImageRGBA& image) {
    if (image.nWidth <= 0 || image.nHeight <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.nWidth) * image.nHeight * 4) {
        return E_INVALIDARG;
    }
    return stbi_write_png(strPath.c_str(), image.nWidth, image.nHeight, 4, image.pixels.data(),
                          image.nWidth * 4)
               ? S_OK
               : E_FAIL;
}
