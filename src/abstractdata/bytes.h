// Little-endian numbers in byte buffers, as every file of this system stores them.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline float LoadF32(const uint8_t* p) {
    const uint32_t dwBits = LoadU32(p);
    float f;
    std::memcpy(&f, &dwBits, sizeof(f));
    return f;
}

inline void StoreU32(uint8_t* p, uint32_t dw) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(dw >> (8 * i));
    }
}

inline void StoreF32(uint8_t* p, float f) {
    uint32_t dwBits;
    std::memcpy(&dwBits, &f, sizeof(f));
    StoreU32(p, dwBits);
}
