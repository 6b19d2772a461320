#include "abstractdata/streams/tsstream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "abstractdata/debugreport.h"

static constexpr char kReportUnit[] = "abstractdata/streams/tsstream";

namespace {

// Read-ahead window of read-only streams. Large enough that the container's many small reads
// cost a memcpy each instead of a system call.
constexpr uint32_t kReadAheadSize = 64 * 1024;

}  // namespace

CInStream::~CInStream() = default;
COutStream::~COutStream() = default;

HRESULT HResultFromErrno(int nErrno) {
    uint32_t dwError = ERROR_GEN_FAILURE;
    switch (nErrno) {
        case 0:
            return S_OK;
        case ENOENT:
            dwError = ERROR_FILE_NOT_FOUND;
            break;
        case ENOTDIR:
            dwError = ERROR_PATH_NOT_FOUND;
            break;
        case EMFILE:
        case ENFILE:
            dwError = ERROR_TOO_MANY_OPEN_FILES;
            break;
        case EACCES:
        case EPERM:
        case EISDIR:
            dwError = ERROR_ACCESS_DENIED;
            break;
        case EBADF:
            dwError = ERROR_INVALID_HANDLE;
            break;
        case ENOMEM:
            dwError = ERROR_NOT_ENOUGH_MEMORY;
            break;
        case EROFS:
            dwError = ERROR_WRITE_PROTECT;
            break;
        case EWOULDBLOCK:
            dwError = ERROR_SHARING_VIOLATION;
            break;
        case EEXIST:
            dwError = ERROR_FILE_EXISTS;
            break;
        case EINVAL:
            dwError = ERROR_INVALID_PARAMETER;
            break;
        case ENOSPC:
            dwError = ERROR_DISK_FULL;
            break;
        case ENAMETOOLONG:
            dwError = ERROR_FILENAME_EXCED_RANGE;
            break;
        case EFBIG:
            dwError = ERROR_FILE_TOO_LARGE;
            break;
        default:
            break;
    }
    return HRESULT_FROM_WIN32(dwError);
}

CFileStream::CFileStream() = default;

CFileStream::~CFileStream() {
    Close();
}

HRESULT CFileStream::Open(const char* pszPath, uint32_t dwMode) {
    Close();
    if (pszPath == nullptr) {
        return REPORTED(E_INVALIDARG);
    }

    const bool bWrite = (dwMode & FS_WRITE) != 0;
    const bool bCreate = (dwMode & FS_CREATE) != 0;
    int nFlags = O_CLOEXEC;
    if (bWrite) {
        nFlags |= (dwMode & FS_READ) ? O_RDWR : O_WRONLY;
    } else {
        // Truncating needs write access from the system even when the caller only reads.
        nFlags |= bCreate ? O_RDWR : O_RDONLY;
    }
    if (bCreate) {
        nFlags |= O_CREAT;  // truncated only once the lock is held
    }

    int fd = -1;
    do {
        fd = ::open(pszPath, nFlags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return REPORTED(HResultFromErrno(errno));
    }

    HRESULT hr = S_OK;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        hr = HResultFromErrno(errno);
    } else if (S_ISDIR(st.st_mode)) {
        hr = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    } else if (!bCreate && static_cast<uint64_t>(st.st_size) > FS_MAX_POSITION) {
        hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }

    if (SUCCEEDED(hr)) {
        int nLock = -1;
        do {
            nLock = ::flock(fd, (bWrite ? LOCK_EX : LOCK_SH) | LOCK_NB);
        } while (nLock != 0 && errno == EINTR);
        // Only a lock held by someone else refuses the file; file systems without locks don't.
        if (nLock != 0 && errno == EWOULDBLOCK) {
            hr = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
        }
    }
    if (SUCCEEDED(hr) && bCreate && ::ftruncate(fd, 0) != 0) {
        hr = HResultFromErrno(errno);
    }

    if (FAILED(hr)) {
        ::close(fd);
        return REPORTED(hr);
    }
    m_fd = fd;
    m_bReadAhead = !bWrite && !bCreate;
    m_qwPosition = 0;
    m_dwBufferLength = 0;
    return S_OK;
}

HRESULT CFileStream::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_qwPosition = 0;
    m_dwBufferLength = 0;
    return S_OK;
}

HRESULT CFileStream::ReadDirect(uint8_t* pDest, uint32_t dwCount, uint64_t qwAt,
                                uint32_t* pdwDone) {
    uint32_t dwDone = 0;
    HRESULT hr = S_OK;
    while (dwDone < dwCount) {
        const ssize_t nGot =
            ::pread(m_fd, pDest + dwDone, dwCount - dwDone, static_cast<off_t>(qwAt + dwDone));
        if (nGot < 0) {
            if (errno == EINTR) {
                continue;
            }
            hr = HResultFromErrno(errno);
            break;
        }
        if (nGot == 0) {
            break;  // end of file
        }
        dwDone += static_cast<uint32_t>(nGot);
    }
    *pdwDone = dwDone;
    return hr;
}

HRESULT CFileStream::ReadBuffered(uint8_t* pDest, uint32_t dwCount, uint32_t* pdwDone) {
    uint32_t dwDone = 0;
    HRESULT hr = S_OK;
    while (dwDone < dwCount && SUCCEEDED(hr)) {
        const uint64_t qwBufferEnd = m_qwBufferStart + m_dwBufferLength;
        if (m_qwPosition >= m_qwBufferStart && m_qwPosition < qwBufferEnd) {
            const uint32_t dwTake = static_cast<uint32_t>(
                std::min<uint64_t>(qwBufferEnd - m_qwPosition, dwCount - dwDone));
            std::memcpy(pDest + dwDone, m_pBuffer.get() + (m_qwPosition - m_qwBufferStart), dwTake);
            dwDone += dwTake;
            m_qwPosition += dwTake;
            continue;
        }
        const uint32_t dwRemaining = dwCount - dwDone;
        if (dwRemaining >= kReadAheadSize) {
            uint32_t dwGot = 0;
            hr = ReadDirect(pDest + dwDone, dwRemaining, m_qwPosition, &dwGot);
            dwDone += dwGot;
            m_qwPosition += dwGot;
            break;
        }
        uint32_t dwGot = 0;
        m_dwBufferLength = 0;
        hr = ReadDirect(m_pBuffer.get(), kReadAheadSize, m_qwPosition, &dwGot);
        m_qwBufferStart = m_qwPosition;
        m_dwBufferLength = dwGot;
        if (dwGot == 0) {
            break;  // end of file
        }
    }
    *pdwDone = dwDone;
    return hr;
}

HRESULT CFileStream::Read(void* pBuffer, uint32_t dwCount) {
    if (m_fd < 0) {
        return REPORTED(E_UNEXPECTED);
    }
    if (dwCount == 0) {
        return S_OK;
    }
    // The common case of the container's many small reads: all of it is read ahead already.
    if (m_qwPosition >= m_qwBufferStart &&
        m_qwPosition + dwCount <= m_qwBufferStart + m_dwBufferLength) {
        std::memcpy(pBuffer, m_pBuffer.get() + (m_qwPosition - m_qwBufferStart), dwCount);
        m_qwPosition += dwCount;
        return S_OK;
    }
    // Never past the last 32-bit position: what lies beyond it is not part of the file.
    const uint64_t qwRoom = FS_MAX_POSITION - std::min(m_qwPosition, FS_MAX_POSITION);
    const uint32_t dwAllowed = static_cast<uint32_t>(std::min<uint64_t>(dwCount, qwRoom));
    auto* pDest = static_cast<uint8_t*>(pBuffer);
    uint32_t dwDone = 0;
    if (m_bReadAhead && !m_pBuffer) {
        m_pBuffer.reset(new (std::nothrow) uint8_t[kReadAheadSize]);
    }
    if (m_bReadAhead && m_pBuffer) {
        ReadBuffered(pDest, dwAllowed, &dwDone);
    } else {
        ReadDirect(pDest, dwAllowed, m_qwPosition, &dwDone);
        m_qwPosition += dwDone;
    }
    // A short transfer is E_FAIL whatever the system said, as for ReadFile.
    return dwDone == dwCount ? S_OK : REPORTED(E_FAIL);
}

HRESULT CFileStream::Write(const void* pData, uint32_t dwCount) {
    if (m_fd < 0) {
        return REPORTED(E_UNEXPECTED);
    }
    if (m_qwPosition + dwCount > FS_MAX_POSITION) {
        return REPORTED(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
    }
    const auto* pSource = static_cast<const uint8_t*>(pData);
    uint32_t dwDone = 0;
    while (dwDone < dwCount) {
        const ssize_t nPut = ::pwrite(m_fd, pSource + dwDone, dwCount - dwDone,
                                      static_cast<off_t>(m_qwPosition + dwDone));
        if (nPut < 0 && errno == EINTR) {
            continue;
        }
        if (nPut <= 0) {
            break;
        }
        dwDone += static_cast<uint32_t>(nPut);
    }
    m_qwPosition += dwDone;
    // Bytes we had read ahead may now be stale.
    m_dwBufferLength = 0;
    return dwDone == dwCount ? S_OK : REPORTED(E_FAIL);
}

HRESULT CFileStream::QuerySize(uint64_t* pqwSize) {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        return HResultFromErrno(errno);
    }
    *pqwSize = static_cast<uint64_t>(st.st_size);
    return S_OK;
}

HRESULT CFileStream::Seek(int32_t nOrigin, int32_t nDistance) {
    if (nOrigin != FILE_BEGIN && nOrigin != FILE_CURRENT && nOrigin != FILE_END) {
        return REPORTED(E_INVALIDARG);
    }
    if (m_fd < 0) {
        return REPORTED(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    }
    uint64_t qwBase = 0;
    if (nOrigin == FILE_CURRENT) {
        qwBase = m_qwPosition;
    } else if (nOrigin == FILE_END) {
        const HRESULT hr = QuerySize(&qwBase);
        if (FAILED(hr)) {
            return REPORTED(hr);
        }
    }
    // Both terms are far inside the 64-bit range: the base is at most a file size.
    const int64_t nTarget =
        static_cast<int64_t>(std::min<uint64_t>(qwBase, INT64_MAX / 2)) + nDistance;
    if (nTarget < 0) {
        return REPORTED(HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK));
    }
    if (static_cast<uint64_t>(nTarget) > FS_MAX_POSITION) {
        return REPORTED(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
    }
    m_qwPosition = static_cast<uint64_t>(nTarget);
    return S_OK;
}

HRESULT CFileStream::SetPosition(uint32_t dwPosition) {
    if (m_fd < 0) {
        return REPORTED(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    }
    m_qwPosition = dwPosition;
    return S_OK;
}

HRESULT CFileStream::GetPosition(uint32_t* pdwPosition) {
    if (m_fd < 0) {
        return REPORTED(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    }
    *pdwPosition = static_cast<uint32_t>(m_qwPosition);
    return S_OK;
}

HRESULT CFileStream::GetSize(uint32_t* pdwSize) {
    if (m_fd < 0) {
        *pdwSize = 0xFFFFFFFFu;
        return REPORTED(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    }
    uint64_t qwSize = 0;
    HRESULT hr = QuerySize(&qwSize);
    if (SUCCEEDED(hr) && qwSize > FS_MAX_POSITION) {
        hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    *pdwSize = SUCCEEDED(hr) ? static_cast<uint32_t>(qwSize) : 0xFFFFFFFFu;
    return REPORTED(hr);
}
