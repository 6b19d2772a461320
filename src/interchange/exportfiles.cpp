#include "interchange/exportfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "abstractdata/streams/tsstream.h"

HRESULT WriteAllToFd(int fd, const void* pData, size_t nSize) {
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    while (nSize > 0) {
        const ssize_t nWritten = write(fd, p, nSize);
        if (nWritten < 0 && errno == EINTR) {
            continue;
        }
        if (nWritten <= 0) {
            return HResultFromErrno(nWritten < 0 ? errno : ENOSPC);
        }
        p += nWritten;
        nSize -= static_cast<size_t>(nWritten);
    }
    return S_OK;
}

namespace {

bool Allowed(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

}  // namespace

CExportFiles::CExportFiles(const std::string& strOutPath) : m_strOutPath(strOutPath) {
    const size_t nSlash = strOutPath.rfind('/');
    m_strFolder = nSlash == std::string::npos ? std::string(".")
                  : nSlash == 0               ? std::string("/")
                                              : strOutPath.substr(0, nSlash);
    const std::string strName =
        nSlash == std::string::npos ? strOutPath : strOutPath.substr(nSlash + 1);
    const size_t nDot = strName.rfind('.');
    m_strStem = nDot == std::string::npos || nDot == 0 ? strName : strName.substr(0, nDot);
}

CExportFiles::~CExportFiles() {
    if (!m_bCommitted) {
        RemoveTemporaries();
    }
}

void CExportFiles::RemoveTemporaries() {
    for (const tFile& file : m_files) {
        unlink(file.strTemp.c_str());
    }
    m_files.clear();
}

std::string CExportFiles::NameBeside(const std::string& strWanted) {
    const size_t nCut = strWanted.find_last_of("/\\");
    std::string strPart = nCut == std::string::npos ? strWanted : strWanted.substr(nCut + 1);
    for (char& c : strPart) {
        c = Allowed(c) ? c : '_';
    }
    const std::string strBase = m_strStem + "_" + strPart;
    std::string strName = strBase;
    for (uint32_t n = 2; std::find(m_names.begin(), m_names.end(), strName) != m_names.end(); ++n) {
        const size_t nDot = strBase.rfind('.');
        strName = nDot == std::string::npos || nDot <= m_strStem.size()
                      ? strBase + "_" + std::to_string(n)
                      : strBase.substr(0, nDot) + "_" + std::to_string(n) + strBase.substr(nDot);
    }
    m_names.push_back(strName);
    return strName;
}

bool CExportFiles::ReserveCompanion(const std::string& strName) {
    if (strName.size() <= m_strStem.size() + 1 ||
        strName.compare(0, m_strStem.size(), m_strStem) != 0 || strName[m_strStem.size()] != '.' ||
        strName.find("..") != std::string::npos) {
        return false;
    }
    for (char c : strName) {
        if (!Allowed(c)) {
            return false;
        }
    }
    if (std::find(m_names.begin(), m_names.end(), strName) == m_names.end()) {
        m_names.push_back(strName);
    }
    return true;
}

HRESULT CExportFiles::Add(const std::string& strName, const void* pData, size_t nSize) {
    try {
        std::string strFinal;
        if (strName == m_strOutPath) {
            strFinal = m_strOutPath;
        } else if (std::find(m_names.begin(), m_names.end(), strName) != m_names.end()) {
            strFinal = m_strFolder + "/" + strName;
        } else {
            return E_INVALIDARG;
        }
        // Room in the list first: a file made is always a file listed, and removed.
        tFile file{strFinal + ".part-XXXXXX", strFinal};
        m_files.reserve(m_files.size() + 1);
        const int fd = mkstemp(file.strTemp.data());
        if (fd < 0) {
            return HResultFromErrno(errno);
        }
        const std::string& strTemp = m_files.emplace_back(std::move(file)).strTemp;
        HRESULT hr = WriteAllToFd(fd, pData, nSize);
        if (close(fd) != 0 && SUCCEEDED(hr)) {
            hr = HResultFromErrno(errno);
        }
        // mkstemp makes the file private; an export is an ordinary file of the user's.
        if (SUCCEEDED(hr)) {
            const mode_t mask = umask(0);
            umask(mask);
            chmod(strTemp.c_str(), 0666 & ~mask);
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CExportFiles::Reserve(std::string& strTempPath) {
    try {
        tFile file{m_strOutPath + ".part-XXXXXX", m_strOutPath};
        strTempPath.reserve(file.strTemp.size());
        m_files.reserve(m_files.size() + 1);
        const int fd = mkstemp(file.strTemp.data());
        if (fd < 0) {
            return HResultFromErrno(errno);
        }
        close(fd);
        const mode_t mask = umask(0);
        umask(mask);
        chmod(file.strTemp.c_str(), 0666 & ~mask);
        strTempPath = file.strTemp;
        m_files.push_back(std::move(file));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CExportFiles::Commit(std::vector<std::string>& written) {
    // The list of names first: renaming allocates nothing, so what it renamed can be undone.
    std::vector<std::string> names;
    try {
        for (const tFile& file : m_files) {
            names.push_back(file.strFinal);
        }
    } catch (const std::bad_alloc&) {
        RemoveTemporaries();
        return E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < m_files.size(); ++i) {
        if (rename(m_files[i].strTemp.c_str(), m_files[i].strFinal.c_str()) != 0) {
            const HRESULT hr = HResultFromErrno(errno);
            while (i-- > 0) {
                unlink(m_files[i].strFinal.c_str());
            }
            RemoveTemporaries();
            return hr;
        }
    }
    m_bCommitted = true;
    written = std::move(names);
    return S_OK;
}
