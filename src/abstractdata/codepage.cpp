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
