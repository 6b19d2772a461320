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
    } else if (static_cast<uint64_t>(info.st_size) > kMaxPictureFileBytes) {
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
    return SUCCEEDED(hr) ? DecodePicture(bytes.data(), bytes.size(), image, strError) : hr;
}
