#include "abstractdata/texturefind.h"

#include <new>
#include <vector>

#include "abstractdata/picture.h"

namespace {

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

// The stored name as relative path parts: '\' and '/' both separate; an empty part at the start
// (a rooted name) is dropped. false for a name no file can have.
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
        if (strPart.empty() && parts.empty() && i < strStored.size()) {
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

std::string Join(const std::string& strDir, const std::string& strName) {
    return strDir.empty() ? strName : strDir + "/" + strName;
}

class CFinder {
public:
    CFinder(const CFileFolder& folder, TextureFile& found) : m_folder(folder), m_found(found) {}

    // Whether the file is one to take; remembers why the first one that was there is not.
    bool Accept(const std::string& strPath) {
        uint64_t qwSize = 0;
        const EFolderEntry entry = m_folder.Stat(strPath, &qwSize);
        const char* pszPassed = nullptr;
        if (entry == EFolderEntry::File && qwSize <= kMaxPictureFileBytes) {
            return true;
        }
        if (entry == EFolderEntry::File) {
            pszPassed = "larger than 64 MiB";
        } else if (entry == EFolderEntry::Outside) {
            pszPassed = "leads out of the folder";
        } else if (entry != EFolderEntry::None) {
            pszPassed = "not a regular file";
        }
        if (pszPassed != nullptr && m_found.strPassed.empty()) {
            m_found.strPassed = pszPassed;
        }
        return false;
    }

    // The parts below the folder, each as spelled or else the first entry (in byte order) equal
    // to it without regard to case.
    bool ResolveIgnoringCase(const std::vector<std::string>& parts, std::string& strPath) {
        std::string strCurrent;
        for (const std::string& strPart : parts) {
            const std::string strExact = Join(strCurrent, strPart);
            if (m_folder.Stat(strExact, nullptr) != EFolderEntry::None) {
                strCurrent = strExact;
                continue;
            }
            if (!m_folder.List(strCurrent, m_names)) {
                return false;
            }
            const std::string* pBest = nullptr;
            for (const std::string& strName : m_names) {
                if (EqualIgnoringCase(strName, strPart) && (pBest == nullptr || strName < *pBest)) {
                    pBest = &strName;
                }
            }
            if (pBest == nullptr) {
                return false;
            }
            strCurrent = Join(strCurrent, *pBest);
        }
        strPath = strCurrent;
        return true;
    }

    bool TryIgnoringCase(const std::vector<std::string>& parts, ETextureMatch match) {
        std::string strPath;
        if (ResolveIgnoringCase(parts, strPath) && Accept(strPath)) {
            Found(match, strPath);
            return true;
        }
        return false;
    }

    bool TryOtherExtensions(std::vector<std::string> parts) {
        std::string& strLast = parts.back();
        const size_t nDot = strLast.rfind('.');
        const std::string strStem = nDot == std::string::npos ? strLast : strLast.substr(0, nDot);
        if (strStem.empty()) {
            return false;
        }
        for (const char* pszExtension : kTexturePictureExtensions) {
            strLast = strStem + pszExtension;
            if (TryIgnoringCase(parts, ETextureMatch::OtherExtension)) {
                return true;
            }
        }
        return false;
    }

    HRESULT Find(const std::string& strStored) {
        m_found = TextureFile{};
        std::vector<std::string> parts;
        if (!SplitStoredName(strStored, parts)) {
            return S_FALSE;
        }
        std::string strExact;
        for (const std::string& strPart : parts) {
            strExact = Join(strExact, strPart);
        }
        if (Accept(strExact)) {
            Found(ETextureMatch::Exact, strExact);
            return S_OK;
        }
        const std::vector<std::string> last{parts.back()};
        const bool bFolders = parts.size() > 1;
        if (TryIgnoringCase(parts, ETextureMatch::IgnoringCase) ||
            (bFolders && TryIgnoringCase(last, ETextureMatch::WithoutFolder)) ||
            TryOtherExtensions(parts) || (bFolders && TryOtherExtensions(last))) {
            return S_OK;
        }
        return S_FALSE;
    }

private:
    void Found(ETextureMatch match, const std::string& strPath) {
        m_found.match = match;
        m_found.strPath = strPath;
        m_found.strPassed.clear();
    }

    const CFileFolder& m_folder;
    TextureFile& m_found;
    std::vector<std::string> m_names;
};

}  // namespace

HRESULT FindTexture(const CFileFolder& folder, const std::string& strStored, TextureFile& found) {
    try {
        return CFinder(folder, found).Find(strStored);
    } catch (const std::bad_alloc&) {
        found = TextureFile{};
        return E_OUTOFMEMORY;
    }
}

HRESULT FindTextureFile(const std::string& strSceneDir, const std::string& strStored,
                        TextureFile& found) {
    try {
        const CDiskFolder folder(strSceneDir);
        const HRESULT hr = FindTexture(folder, strStored, found);
        if (found.match != ETextureMatch::None) {
            found.strPath = folder.FullPath(found.strPath);
        }
        return hr;
    } catch (const std::bad_alloc&) {
        found = TextureFile{};
        return E_OUTOFMEMORY;
    }
}
