#include "abstractdata/tstring.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "abstractdata/debugreport.h"
#include "abstractdata/streams/tsstream.h"
#include "abstractdata/stringtable.h"

static constexpr char kReportUnit[] = "abstractdata/tstring";

namespace {

// A length read from a file is not trusted to size memory: the text is read in pieces of at
// most this size, so a length far beyond the data fails at the end of the data.
constexpr uint32_t kReadPiece = 64 * 1024;

// The prefix and text of one counted string from read(pBuffer, count) -> HRESULT.
template <typename ReadFn>
HRESULT ReadCounted(tstring& str, ReadFn read) {
    uint8_t bFirst = 0;
    HRESULT hr = read(&bFirst, 1);
    if (FAILED(hr)) {
        return hr;
    }
    uint32_t dwLength = bFirst;
    if (bFirst == 0xFF) {
        uint8_t word[2];
        hr = read(word, 2);
        if (FAILED(hr)) {
            return hr;
        }
        const uint16_t wLength = static_cast<uint16_t>(word[0] | word[1] << 8);
        if (wLength == 0xFFFE) {
            return E_FAIL;  // never written: 65534 already takes the long form
        }
        dwLength = wLength;
        if (wLength == 0xFFFF) {
            uint8_t dword[4];
            hr = read(dword, 4);
            if (FAILED(hr)) {
                return hr;
            }
            dwLength = static_cast<uint32_t>(dword[0]) | static_cast<uint32_t>(dword[1]) << 8 |
                       static_cast<uint32_t>(dword[2]) << 16 |
                       static_cast<uint32_t>(dword[3]) << 24;
        }
    }
    // Length + 1 (the terminator) does not fit 32 bits: no writer produces it.
    if (dwLength == 0xFFFFFFFFu) {
        return E_FAIL;
    }

    tstring strText;
    try {
        uint32_t dwDone = 0;
        while (dwDone < dwLength) {
            const uint32_t dwPiece = std::min(kReadPiece, dwLength - dwDone);
            strText.resize(static_cast<size_t>(dwDone) + dwPiece);
            hr = read(strText.data() + dwDone, dwPiece);
            if (FAILED(hr)) {
                return hr;
            }
            dwDone += dwPiece;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const size_t nZero = strText.find('\0');
    if (nZero != tstring::npos) {
        strText.resize(nZero);
    }
    str.swap(strText);
    return S_OK;
}

// The prefix and text of one counted string through write(pData, count) -> HRESULT; stops at
// the first failed write.
template <typename WriteFn>
HRESULT WriteCounted(const tstring& str, WriteFn write) {
    if (str.size() >= 0xFFFFFFFFu) {
        return E_INVALIDARG;  // has no counted form a reader accepts
    }
    const uint32_t dwLength = static_cast<uint32_t>(str.size());
    uint8_t prefix[7];
    HRESULT hr = S_OK;
    if (dwLength < 255) {
        prefix[0] = static_cast<uint8_t>(dwLength);
        hr = write(prefix, 1);
    } else {
        prefix[0] = 0xFF;
        hr = write(prefix, 1);
        const uint16_t wLength = dwLength < 65534 ? static_cast<uint16_t>(dwLength) : 0xFFFF;
        prefix[1] = static_cast<uint8_t>(wLength);
        prefix[2] = static_cast<uint8_t>(wLength >> 8);
        if (SUCCEEDED(hr)) {
            hr = write(prefix + 1, 2);
        }
        if (SUCCEEDED(hr) && wLength == 0xFFFF) {
            for (int i = 0; i < 4; ++i) {
                prefix[3 + i] = static_cast<uint8_t>(dwLength >> (8 * i));
            }
            hr = write(prefix + 3, 4);
        }
    }
    if (SUCCEEDED(hr) && dwLength > 0) {
        hr = write(str.data(), dwLength);
    }
    return hr;
}

template <typename MapFn>
HRESULT MapBytes(tstring& str, MapFn map) {
    try {
        // Handed back as zero-terminated text, like every string of this unit.
        tstring strMapped(str.c_str());
        for (char& c : strMapped) {
            c = map(c);
        }
        str.swap(strMapped);
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}

}  // namespace

HRESULT ReadTString(tstring& str, FILE* pFile) {
    if (pFile == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    return REPORTED(ReadCounted(str, [pFile](void* pBuffer, uint32_t dwCount) {
        return std::fread(pBuffer, 1, dwCount, pFile) == dwCount ? S_OK : E_FAIL;
    }));
}

HRESULT ReadTString(tstring& str, std::istream& in) {
    return REPORTED(ReadCounted(str, [&in](void* pBuffer, uint32_t dwCount) {
        try {
            in.read(static_cast<char*>(pBuffer), static_cast<std::streamsize>(dwCount));
            return in.fail() ? E_FAIL : S_OK;
        } catch (...) {
            return E_FAIL;  // a stream whose exception mask is set
        }
    }));
}

HRESULT ReadTString(tstring& str, CInStream* pStream) {
    if (pStream == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    return REPORTED(ReadCounted(str, [pStream](void* pBuffer, uint32_t dwCount) {
        return pStream->Read(pBuffer, dwCount);
    }));
}

HRESULT WriteTString(const tstring& str, FILE* pFile) {
    if (pFile == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    return REPORTED(WriteCounted(str, [pFile](const void* pData, uint32_t dwCount) {
        return std::fwrite(pData, dwCount, 1, pFile) == 1 ? S_OK : E_FAIL;
    }));
}

HRESULT WriteTString(const tstring& str, std::ostream& out) {
    return REPORTED(WriteCounted(str, [&out](const void* pData, uint32_t dwCount) {
        try {
            out.write(static_cast<const char*>(pData), static_cast<std::streamsize>(dwCount));
            return out.fail() ? E_FAIL : S_OK;
        } catch (...) {
            return E_FAIL;
        }
    }));
}

HRESULT WriteTString(const tstring& str, COutStream* pStream) {
    if (pStream == nullptr) {
        return REPORTED(E_INVALIDARG);
    }
    return REPORTED(WriteCounted(str, [pStream](const void* pData, uint32_t dwCount) {
        return pStream->Write(pData, dwCount);
    }));
}

HRESULT LoadTString(tstring& str, uint32_t dwId) {
    int nSize = 16;
    HRESULT hr = S_OK;
    std::unique_ptr<char[]> pBuffer;
    for (;;) {
        pBuffer.reset(new (std::nothrow) char[static_cast<size_t>(nSize)]);
        if (!pBuffer) {
            return REPORTED(E_OUTOFMEMORY);
        }
        pBuffer[0] = '\0';
        uint32_t dwLastError = 0;
        const int nLength = LoadStringResource(dwId, pBuffer.get(), nSize, &dwLastError);
        if (nLength == 0) {
            hr = HRESULT_FROM_WIN32(dwLastError);
        }
        // A text that fills the buffer may have been cut: try again with twice the room.
        if (FAILED(hr) || nLength < nSize - 1 || nSize > INT_MAX / 2) {
            break;
        }
        nSize *= 2;
    }
    try {
        str.assign(pBuffer.get());
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    return REPORTED(hr);
}

HRESULT TStringToLower(tstring& str) {
    return MapBytes(str,
                    [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
}

HRESULT TStringToUpper(tstring& str) {
    return MapBytes(str,
                    [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
}

HRESULT GuidToTString(tstring& str, const GUID& guid) {
    char szText[39];
    std::snprintf(szText, sizeof(szText), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    try {
        str.assign(szText, 38);
    } catch (const std::bad_alloc&) {
        return REPORTED(E_OUTOFMEMORY);
    }
    return S_OK;
}
