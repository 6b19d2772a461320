// GUIDs in their in-memory layout: u32, u16, u16, then 8 bytes. In files the numbers are
// little-endian.
#pragma once

#include <cstdint>

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
};

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

// The 16 bytes as stored in a file.
inline GUID GuidFromBytes(const uint8_t* p) {
    GUID guid;
    guid.Data1 = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    guid.Data2 = static_cast<uint16_t>(p[4] | p[5] << 8);
    guid.Data3 = static_cast<uint16_t>(p[6] | p[7] << 8);
    for (int i = 0; i < 8; ++i) {
        guid.Data4[i] = p[8 + i];
    }
    return guid;
}

inline void GuidToBytes(const GUID& guid, uint8_t* p) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(guid.Data1 >> (8 * i));
    }
    p[4] = static_cast<uint8_t>(guid.Data2);
    p[5] = static_cast<uint8_t>(guid.Data2 >> 8);
    p[6] = static_cast<uint8_t>(guid.Data3);
    p[7] = static_cast<uint8_t>(guid.Data3 >> 8);
    for (int i = 0; i < 8; ++i) {
        p[8 + i] = guid.Data4[i];
    }
}
