// Streams over memory: for parsing payloads already read, for tests and for fuzzing.
#pragma once

#include <cstring>
#include <new>
#include <vector>

#include "abstractdata/streams/tsstream.h"

// Reads from a borrowed block; a read beyond its end takes what remains and fails with E_FAIL,
// as the file stream does.
class CMemoryInStream : public CInStream {
public:
    CMemoryInStream(const void* pData, size_t nSize)
        : m_pData(static_cast<const uint8_t*>(pData)), m_nSize(nSize) {}

    HRESULT Read(void* pBuffer, uint32_t dwCount) override {
        const size_t nTake = std::min<size_t>(dwCount, m_nSize - m_nPosition);
        if (nTake > 0) {
            std::memcpy(pBuffer, m_pData + m_nPosition, nTake);
        }
        m_nPosition += nTake;
        return nTake == dwCount ? S_OK : E_FAIL;
    }

    size_t Position() const { return m_nPosition; }
    size_t Remaining() const { return m_nSize - m_nPosition; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPosition = 0;
};

// Appends to a growing byte vector.
class CMemoryOutStream : public COutStream {
public:
    HRESULT Write(const void* pData, uint32_t dwCount) override {
        try {
            const auto* pBytes = static_cast<const uint8_t*>(pData);
            m_bytes.insert(m_bytes.end(), pBytes, pBytes + dwCount);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};
