#include "abstractdata/filefolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

#include "abstractdata/picture.h"

namespace {

std::string RealPath(const std::string& strPath) {
    std::unique_ptr<char, decltype(&std::free)> pReal(realpath(strPath.c_str(), nullptr),
                                                      &std::free);
    return pReal ? std::string(pReal.get()) : std::string();
}

bool IsInside(const std::string& strRealDir, const std::string& strReal) {
    return strReal.size() > strRealDir.size() &&
           strReal.compare(0, strRealDir.size(), strRealDir) == 0 &&
           (strRealDir.back() == '/' || strReal[strRealDir.size()] == '/');
}

void SetWhy(std::string* pstrWhy, const char* pszWhy) {
    if (pstrWhy != nullptr) {
        *pstrWhy = pszWhy;
    }
}

std::string Slashed(std::string strPath) {
    for (char& c : strPath) {
        c = c == '\\' ? '/' : c;
    }
    return strPath;
}

}  // namespace

HRESULT ReadRegularFile(const std::string& strPath, std::vector<uint8_t>& bytes,
                        std::string* pstrWhy) {
    bytes.clear();
    // Non-blocking, so that a FIFO cannot hold the open; only a regular file is read.
    const int fd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetWhy(pstrWhy, "cannot be opened");
        return E_FAIL;
    }
    HRESULT hr = S_OK;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        SetWhy(pstrWhy, "not a regular file");
        hr = E_FAIL;
    } else if (static_cast<uint64_t>(info.st_size) > kMaxPictureFileBytes) {
        SetWhy(pstrWhy, "larger than 64 MiB");
        hr = E_FAIL;
    } else {
        try {
            bytes.resize(static_cast<size_t>(info.st_size));
        } catch (const std::bad_alloc&) {
            SetWhy(pstrWhy, "out of memory");
            hr = E_OUTOFMEMORY;
        }
    }
    size_t nDone = 0;
    while (SUCCEEDED(hr) && nDone < bytes.size()) {
        const ssize_t nRead = read(fd, bytes.data() + nDone, bytes.size() - nDone);
        if (nRead < 0 && errno == EINTR) {
            continue;
        }
        if (nRead <= 0) {
            SetWhy(pstrWhy, "changed while read");  // an error, or the file shrank
            hr = E_FAIL;
        } else {
            nDone += static_cast<size_t>(nRead);
        }
    }
    close(fd);
    if (FAILED(hr)) {
        bytes.clear();
    }
    return hr;
}

CDiskFolder::CDiskFolder(std::string strDir)
    : m_strDir(strDir.empty() ? std::string(".") : std::move(strDir)),
      m_strRealDir(RealPath(m_strDir)) {}

std::string CDiskFolder::FullPath(const std::string& strPath) const {
    return strPath.empty() ? m_strDir : m_strDir + "/" + strPath;
}

bool CDiskFolder::List(const std::string& strDir, std::vector<std::string>& names) const {
    names.clear();
    if (m_strRealDir.empty()) {
        return false;
    }
    struct tCloser {
        void operator()(DIR* p) const { closedir(p); }
    };
    std::unique_ptr<DIR, tCloser> pDir(opendir(FullPath(strDir).c_str()));
    if (!pDir) {
        return false;
    }
    while (const dirent* pEntry = readdir(pDir.get())) {
        const std::string strName = pEntry->d_name;
        if (strName != "." && strName != "..") {
            names.push_back(strName);
        }
    }
    return true;
}

EFolderEntry CDiskFolder::Stat(const std::string& strPath, uint64_t* pqwSize) const {
    if (m_strRealDir.empty()) {
        return EFolderEntry::None;
    }
    const std::string strReal = RealPath(FullPath(strPath));
    if (strReal.empty()) {
        return EFolderEntry::None;
    }
    if (!strPath.empty() && !IsInside(m_strRealDir, strReal)) {
        return EFolderEntry::Outside;
    }
    struct stat info {};
    if (stat(strReal.c_str(), &info) != 0) {
        return EFolderEntry::None;
    }
    if (S_ISDIR(info.st_mode)) {
        return EFolderEntry::Folder;
    }
    if (!S_ISREG(info.st_mode)) {
        return EFolderEntry::Other;
    }
    if (pqwSize != nullptr) {
        *pqwSize = static_cast<uint64_t>(info.st_size);
    }
    return EFolderEntry::File;
}

HRESULT CDiskFolder::Read(const std::string& strPath, std::vector<uint8_t>& bytes,
                          std::string* pstrWhy) const {
    // Checked again: the folder may have changed since the file was found.
    if (Stat(strPath, nullptr) == EFolderEntry::Outside) {
        bytes.clear();
        SetWhy(pstrWhy, "leads out of the folder");
        return E_FAIL;
    }
    return ReadRegularFile(FullPath(strPath), bytes, pstrWhy);
}

void CMemoryFolder::Add(const std::string& strPath, std::vector<uint8_t> bytes) {
    m_files[Slashed(strPath)] = std::move(bytes);
}

std::string CMemoryFolder::FullPath(const std::string& strPath) const {
    return strPath;
}

bool CMemoryFolder::List(const std::string& strDir, std::vector<std::string>& names) const {
    names.clear();
    const std::string strPrefix = strDir.empty() ? std::string() : strDir + "/";
    bool bFound = strDir.empty();
    for (auto it = m_files.lower_bound(strPrefix);
         it != m_files.end() && it->first.compare(0, strPrefix.size(), strPrefix) == 0; ++it) {
        bFound = true;
        const std::string strName = it->first.substr(
            strPrefix.size(), it->first.find('/', strPrefix.size()) - strPrefix.size());
        if (names.empty() || names.back() != strName) {
            names.push_back(strName);
        }
    }
    return bFound;
}

EFolderEntry CMemoryFolder::Stat(const std::string& strPath, uint64_t* pqwSize) const {
    const auto found = m_files.find(strPath);
    if (found != m_files.end()) {
        if (pqwSize != nullptr) {
            *pqwSize = found->second.size();
        }
        return EFolderEntry::File;
    }
    const std::string strPrefix = strPath + "/";
    const auto next = m_files.lower_bound(strPrefix);
    return strPath.empty() || (next != m_files.end() &&
                               next->first.compare(0, strPrefix.size(), strPrefix) == 0)
               ? EFolderEntry::Folder
               : EFolderEntry::None;
}

HRESULT CMemoryFolder::Read(const std::string& strPath, std::vector<uint8_t>& bytes,
                            std::string* pstrWhy) const {
    bytes.clear();
    const auto found = m_files.find(strPath);
    if (found == m_files.end()) {
        SetWhy(pstrWhy, "cannot be opened");
        return E_FAIL;
    }
    if (found->second.size() > kMaxPictureFileBytes) {
        SetWhy(pstrWhy, "larger than 64 MiB");
        return E_FAIL;
    }
    try {
        bytes = found->second;
    } catch (const std::bad_alloc&) {
        SetWhy(pstrWhy, "out of memory");
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
