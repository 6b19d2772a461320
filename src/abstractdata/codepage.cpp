#include "abstractdata/codepage.h"

#include <cstdint>

namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of the page is Latin-1.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

// The byte of a code point, '_' when the page lacks it.
char EncodeCodePoint(uint32_t dwCode) {
    if (dwCode >= 0xA0 && dwCode <= 0xFF) {
        return static_cast<char>(dwCode);
    }
    for (uint32_t k = 0; k < 32; ++k) {
        if (kHighControls[k] == dwCode) {
            return static_cast<char>(0x80 + k);
        }
    }
    return '_';
}

// The length of the well-formed UTF-8 sequence at p (n bytes left) and its code point; 0 when
// none starts there.
size_t DecodeSequence(const unsigned char* p, size_t n, uint32_t& dwCode) {
    const unsigned char b = p[0];
    size_t nLength = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (b > 0xF4 || nLength > n) {
        return 0;
    }
    dwCode = nLength == 4 ? (b & 0x07u) : nLength == 3 ? (b & 0x0Fu) : (b & 0x1Fu);
    for (size_t k = 1; k < nLength; ++k) {
        if ((p[k] & 0xC0) != 0x80) {
            return 0;
        }
        dwCode = (dwCode << 6) | (p[k] & 0x3Fu);
    }
    return nLength;
}

}  // namespace

std::string Windows1252ToUtf8(std::string_view strText) {
    std::string strUtf8;
    strUtf8.reserve(strText.size());
    for (const char ch : strText) {
        const uint8_t b = static_cast<uint8_t>(ch);
        if (b < 0x80) {
            strUtf8.push_back(ch);
            continue;
        }
        const uint32_t dwCode = (b < 0xA0) ? kHighControls[b - 0x80] : b;
        if (dwCode < 0x800) {
            strUtf8.push_back(static_cast<char>(0xC0 | (dwCode >> 6)));
        } else {
            strUtf8.push_back(static_cast<char>(0xE0 | (dwCode >> 12)));
            strUtf8.push_back(static_cast<char>(0x80 | ((dwCode >> 6) & 0x3F)));
        }
        strUtf8.push_back(static_cast<char>(0x80 | (dwCode & 0x3F)));
    }
    return strUtf8;
}

std::string Utf8ToWindows1252(std::string_view strUtf8) {
    std::string strOut;
    strOut.reserve(strUtf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(strUtf8.data());
    const size_t n = strUtf8.size();
    for (size_t i = 0; i < n;) {
        uint32_t dwCode = 0;
        const size_t nLength = p[i] < 0x80 ? 0 : DecodeSequence(p + i, n - i, dwCode);
        if (nLength == 0) {
            strOut += static_cast<char>(p[i]);
            ++i;
            continue;
        }
        strOut += EncodeCodePoint(dwCode);
        i += nLength;
    }
    return strOut;
}
