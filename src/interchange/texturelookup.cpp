#include "interchange/texturelookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

const char* const kImageExtensions[] = {".png", ".jpg", ".jpeg", ".bmp", ".tga"};

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// The stored name as relative path parts: '\' and '/' both separate; empty, "." and ".." parts
// make no usable name (nothing may leave the folder).
bool SplitStoredName(const std::string& strStored, std::vector<std::string>& parts) {
    std::string strPart;
    for (size_t i = 0; i <= strStored.size(); ++i) {
        const char c = i < strStored.size() ? strStored[i] : '/';
        if (c == '\0') {
            return false;
        }
        if (c != '/' && c != '\\') {
            strPart += c;
            continue;
        }
        if (strPart.empty() || strPart == "." || strPart == "..") {
            return false;
        }
        parts.push_back(strPart);
        strPart.clear();
    }
    return !parts.empty();
}

std::string RealPath(const std::string& strPath) {
    std::unique_ptr<char, decltype(&std::free)> pReal(realpath(strPath.c_str(), nullptr),
                                                      &std::free);
    return pReal ? std::string(pReal.get()) : std::string();
}

// A regular file within the cap whose real path lies below strRealDir.
bool Acceptable(const std::string& strRealDir, const std::string& strPath) {
    const std::string strReal = RealPath(strPath);
    if (strReal.size() <= strRealDir.size() + 1 ||
        strReal.compare(0, strRealDir.size(), strRealDir) != 0 ||
        (strRealDir != "/" && strReal[strRealDir.size()] != '/')) {
        return false;
    }
    struct stat st;
    return stat(strReal.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<uint64_t>(st.st_size) <= kMaxTextureFileSize;
}

// The entry of strDir whose name equals strName without regard to case; the exact spelling
// first, so that of two such entries the exact one wins.
bool FindEntryIgnoringCase(const std::string& strDir, const std::string& strName,
                           std::string& strEntry) {
    struct stat st;
    if (lstat((strDir + "/" + strName).c_str(), &st) == 0) {
        strEntry = strName;
        return true;
    }
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr) {
        return false;
    }
    bool bFound = false;
    while (const dirent* pEntry = readdir(pDir)) {
        if (EqualIgnoringCase(pEntry->d_name, strName)) {
            strEntry = pEntry->d_name;
            bFound = true;
            break;
        }
    }
    closedir(pDir);
    return bFound;
}

bool ResolveIgnoringCase(const std::string& strDir, const std::vector<std::string>& parts,
                         std::string& strPath) {
    std::string strCurrent = strDir;
    for (const std::string& strPart : parts) {
        std::string strEntry;
        if (!FindEntryIgnoringCase(strCurrent, strPart, strEntry)) {
            return false;
        }
        strCurrent += "/" + strEntry;
    }
    strPath = strCurrent;
    return true;
}

std::string JoinParts(const std::string& strDir, const std::vector<std::string>& parts) {
    std::string strPath = strDir;
    for (const std::string& strPart : parts) {
        strPath += "/" + strPart;
    }
    return strPath;
}

bool TryAlternativeExtensions(const std::string& strRealDir, const std::string& strDir,
                              std::vector<std::string> parts, std::string& strPath) {
    std::string& strLast = parts.back();
    const size_t nDot = strLast.rfind('.');
    const std::string strStem = nDot == std::string::npos ? strLast : strLast.substr(0, nDot);
    if (strStem.empty()) {
        return false;
    }
    for (const char* pszExtension : kImageExtensions) {
        strLast = strStem + pszExtension;
        if (ResolveIgnoringCase(strDir, parts, strPath) && Acceptable(strRealDir, strPath)) {
            return true;
        }
    }
    return false;
}

HRESULT Find(const std::string& strSceneDir, const std::string& strStored, TextureFile& found) {
    found = TextureFile{};
    std::vector<std::string> parts;
    if (!SplitStoredName(strStored, parts)) {
        return S_FALSE;
    }
    const std::string strDir = strSceneDir.empty() ? std::string(".") : strSceneDir;
    const std::string strRealDir = RealPath(strDir);
    if (strRealDir.empty()) {
        return S_FALSE;
    }
    std::string strPath = JoinParts(strDir, parts);
    if (Acceptable(strRealDir, strPath)) {
        found = {ETextureMatch::Exact, strPath};
        return S_OK;
    }
    if (ResolveIgnoringCase(strDir, parts, strPath) && Acceptable(strRealDir, strPath)) {
        found = {ETextureMatch::IgnoringCase, strPath};
        return S_OK;
    }
    const std::vector<std::string> last{parts.back()};
    if (parts.size() > 1 && ResolveIgnoringCase(strDir, last, strPath) &&
        Acceptable(strRealDir, strPath)) {
        found = {ETextureMatch::WithoutFolder, strPath};
        return S_OK;
    }
    if (TryAlternativeExtensions(strRealDir, strDir, parts, strPath) ||
        (parts.size() > 1 && TryAlternativeExtensions(strRealDir, strDir, last, strPath))) {
        found = {ETextureMatch::OtherExtension, strPath};
        return S_OK;
    }
    return S_FALSE;
}

}  // namespace

HRESULT FindTextureFile(const std::string& strSceneDir, const std::string& strStored,
                        TextureFile& found) {
    try {
        return Find(strSceneDir, strStored, found);
    } catch (const std::bad_alloc&) {
        found = TextureFile{};
        return E_OUTOFMEMORY;
    }
}

HRESULT ReadTextureFile(const std::string& strPath, std::vector<uint8_t>& bytes) {
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return E_FAIL;
    }
    HRESULT hr = S_OK;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxTextureFileSize) {
        hr = E_FAIL;
    }
    try {
        if (SUCCEEDED(hr)) {
            bytes.resize(static_cast<size_t>(st.st_size));
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    size_t nDone = 0;
    while (SUCCEEDED(hr) && nDone < bytes.size()) {
        const ssize_t nRead = read(fd, bytes.data() + nDone, bytes.size() - nDone);
        if (nRead < 0 && errno == EINTR) {
            continue;
        }
        if (nRead <= 0) {
            hr = E_FAIL;  // an error, or the file shrank while it was read
            break;
        }
        nDone += static_cast<size_t>(nRead);
    }
    close(fd);
    if (FAILED(hr)) {
        bytes.clear();
    }
    return hr;
}
