#include "abstractdata/picturecheck.h"

#include <algorithm>

namespace {

// A byte of the file; beyond its end the codec reads zeros.
uint8_t ByteAt(const uint8_t* pData, size_t nSize, size_t nAt) {
    return nAt < nSize ? pData[nAt] : 0;
}

// The tables of one DHT segment as the codec reads them: class and slot, 16 counts, the
// symbols; for as long as the segment's length says, even when the counts run past it. Marks
// in dwDefined (bit 4 x class + slot) each table it defines.
bool SegmentTablesFit(const uint8_t* pData, size_t nSize, size_t nAt, int64_t nLeft,
                      uint32_t& dwDefined) {
    while (nLeft > 0 && nAt < nSize) {
        const uint8_t bClassSlot = pData[nAt];
        uint32_t dwCodes = 0;
        for (size_t k = 1; k <= 16; ++k) {
            dwCodes += ByteAt(pData, nSize, nAt + k);
        }
        if (dwCodes > 256) {
            return false;
        }
        if ((bClassSlot >> 4) <= 1 && (bClassSlot & 15) <= 3) {
            dwDefined |= 1u << (4 * (bClassSlot >> 4) + (bClassSlot & 15));
        }
        nAt += 17 + dwCodes;
        nLeft -= 17 + static_cast<int64_t>(dwCodes);
    }
    return true;
}

// Whether every table a scan decodes with has been defined. The codec leaves its tables
// uninitialised, and decoding with one never defined indexes its symbols far out of bounds.
// Progressive scans use the DC table in a first DC scan, none when refining DC, and the AC
// table otherwise; baseline scans use both.
bool ScanTablesDefined(const uint8_t* pData, size_t nSize, size_t nAt, bool bProgressive,
                       uint32_t dwDefined) {
    const size_t nComponents = ByteAt(pData, nSize, nAt);
    const size_t nSpectral = nAt + 1 + 2 * nComponents;
    const uint8_t bStart = ByteAt(pData, nSize, nSpectral);
    const uint8_t bHigh = ByteAt(pData, nSize, nSpectral + 2) >> 4;
    const bool bDc = !bProgressive || (bStart == 0 && bHigh == 0);
    const bool bAc = !bProgressive || bStart != 0;
    for (size_t c = 0; c < nComponents && c < 4; ++c) {
        const uint8_t bTables = ByteAt(pData, nSize, nAt + 2 + 2 * c);
        const uint32_t dwDc = bTables >> 4;
        const uint32_t dwAc = bTables & 15;
        if ((bDc && dwDc <= 3 && !(dwDefined & (1u << dwDc))) ||
            (bAc && dwAc <= 3 && !(dwDefined & (1u << (4 + dwAc))))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool JpegHuffmanTablesSound(const uint8_t* pData, size_t nSize) {
    // The codec takes a file for a JPEG when it starts with 0xFF, any number of fill bytes 0xFF
    // and 0xD8.
    size_t i = 0;
    while (pData != nullptr && i < nSize && pData[i] == 0xFF) {
        ++i;
    }
    if (i == 0 || i == nSize || pData[i] != 0xD8) {
        return true;
    }
    ++i;
    uint32_t dwDefined = 0;
    bool bProgressive = false;
    // Markers are found as the codec finds them, also between the scans of a progressive file:
    // 0xFF and a byte other than 0x00 (stuffing), 0xFF (fill) or a restart.
    while (i + 1 < nSize) {
        const uint8_t bMarker = pData[i + 1];
        if (pData[i] != 0xFF || bMarker == 0x00 || bMarker == 0xFF ||
            (bMarker >= 0xD0 && bMarker <= 0xD9) || bMarker == 0x01) {
            ++i;
            continue;
        }
        const size_t nLength =
            (static_cast<size_t>(ByteAt(pData, nSize, i + 2)) << 8) | ByteAt(pData, nSize, i + 3);
        if (bMarker == 0xC4 &&
            !SegmentTablesFit(pData, nSize, i + 4, static_cast<int64_t>(nLength) - 2, dwDefined)) {
            return false;
        }
        if (bMarker >= 0xC0 && bMarker <= 0xC2) {
            bProgressive = bMarker == 0xC2;
        }
        if (bMarker == 0xDA && !ScanTablesDefined(pData, nSize, i + 4, bProgressive, dwDefined)) {
            return false;
        }
        i += 2 + nLength;
    }
    return true;
}

bool PngChunksFit(const uint8_t* pData, size_t nSize) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (pData == nullptr || nSize < 8 || !std::equal(kSignature, kSignature + 8, pData)) {
        return true;
    }
    auto u32 = [pData](size_t nAt) {
        return (uint32_t{pData[nAt]} << 24) | (uint32_t{pData[nAt + 1]} << 16) |
               (uint32_t{pData[nAt + 2]} << 8) | pData[nAt + 3];
    };
    // Chunks follow one another as the codec reads them: length, type, data, check sum. It
    // stops at IEND without reading that chunk's check sum.
    for (size_t nAt = 8; nSize - nAt >= 8;) {
        const uint32_t dwLength = u32(nAt);
        if (u32(nAt + 4) == 0x49454E44u) {  // "IEND"
            return true;
        }
        const size_t nLeft = nSize - nAt - 8;
        if (dwLength > nLeft) {
            return false;
        }
        nAt += 8 + static_cast<size_t>(dwLength) + std::min<size_t>(4, nLeft - dwLength);
    }
    return true;
}
