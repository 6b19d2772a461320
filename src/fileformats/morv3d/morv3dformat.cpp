#include "fileformats/morv3d/morv3dformat.h"

#include <cstring>

#include "engine/3dobjects/mesh.h"

void PackFileVertices(const uint8_t* pFileVertices, uint32_t dwVertexCount, uint32_t dwFlags,
                      uint8_t* pPacked) {
    // Where each component lies in a file vertex, in the bit order of the flags.
    constexpr uint32_t kFileOffsets[5] = {0, 12, 24, 28, 32};
    struct Copy {
        uint32_t dwFrom;
        uint32_t dwTo;
        uint32_t dwSize;
    };
    Copy copies[5];
    uint32_t dwCopies = 0;
    for (uint32_t c = 0; c < 5; ++c) {
        if (dwFlags & (1u << c)) {
            copies[dwCopies++] = {kFileOffsets[c], VertexComponentSize(dwFlags & ((1u << c) - 1)),
                                  kVertexComponentSizes[c]};
        }
    }
    const uint32_t dwStride = VertexComponentSize(dwFlags);
    for (uint32_t i = 0; i < dwVertexCount; ++i) {
        const uint8_t* pFrom = pFileVertices + static_cast<size_t>(i) * FileVertex::kSize;
        uint8_t* pTo = pPacked + static_cast<size_t>(i) * dwStride;
        for (uint32_t k = 0; k < dwCopies; ++k) {
            std::memcpy(pTo + copies[k].dwTo, pFrom + copies[k].dwFrom, copies[k].dwSize);
        }
    }
}
