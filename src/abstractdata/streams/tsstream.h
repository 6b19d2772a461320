// Byte streams: the reading and writing interfaces and the file stream over a POSIX file.
#pragma once

#include <cstdint>
#include <memory>

#include "abstractdata/hresult.h"

class CInStream {
public:
    virtual ~CInStream();
    // Fills pBuffer with exactly dwCount bytes or fails.
    virtual HRESULT Read(void* pBuffer, uint32_t dwCount) = 0;
};

class COutStream {
public:
    virtual ~COutStream();
    // Writes exactly dwCount bytes or fails.
    virtual HRESULT Write(const void* pData, uint32_t dwCount) = 0;
};

// Open mode bits of CFileStream::Open.
constexpr uint32_t FS_CREATE = 1;  // create, or truncate an existing file; else it must exist
constexpr uint32_t FS_WRITE = 2;  // write access, not shared; else read access, shared with readers
constexpr uint32_t FS_READ = 4;   // adds read access to FS_WRITE

// Seek origins.
constexpr int32_t FILE_BEGIN = 0;
constexpr int32_t FILE_CURRENT = 1;
constexpr int32_t FILE_END = 2;

// Positions and sizes are 32-bit: a file or position beyond this is refused with
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE).
constexpr uint64_t FS_MAX_POSITION = 0xFFFFFFFFu;

// The code of an errno value: the matching Win32 code in the 0x8007xxxx form.
HRESULT HResultFromErrno(int nErrno);

class CFileStream final : public CInStream, public COutStream {
public:
    CFileStream();
    ~CFileStream() override;
    CFileStream(const CFileStream&) = delete;
    CFileStream& operator=(const CFileStream&) = delete;

    // Closes any open file, then opens pszPath as dwMode says. Read-only opens take a shared
    // lock, write opens an exclusive one; a lock held elsewhere is a sharing violation.
    HRESULT Open(const char* pszPath, uint32_t dwMode);
    HRESULT Close();  // always S_OK

    HRESULT Read(void* pBuffer, uint32_t dwCount) override;
    HRESULT Write(const void* pData, uint32_t dwCount) override;

    HRESULT Seek(int32_t nOrigin, int32_t nDistance);
    // Moves to an absolute position; the whole 32-bit range, which Seek's signed distance
    // cannot reach from the beginning in one step.
    HRESULT SetPosition(uint32_t dwPosition);
    HRESULT GetPosition(uint32_t* pdwPosition);
    HRESULT GetSize(uint32_t* pdwSize);
    bool IsClosed() const { return m_fd < 0; }

private:
    HRESULT ReadBuffered(uint8_t* pDest, uint32_t dwCount, uint32_t* pdwDone);
    HRESULT ReadDirect(uint8_t* pDest, uint32_t dwCount, uint64_t qwAt, uint32_t* pdwDone);
    HRESULT QuerySize(uint64_t* pqwSize);

    int m_fd = -1;
    bool m_bReadAhead = false;
    // The position is ours, not the descriptor's: reads and writes go through pread/pwrite.
    uint64_t m_qwPosition = 0;
    // Read-ahead window of read-only streams: bytes [m_qwBufferStart, + m_dwBufferLength).
    std::unique_ptr<uint8_t[]> m_pBuffer;
    uint64_t m_qwBufferStart = 0;
    uint32_t m_dwBufferLength = 0;
};
