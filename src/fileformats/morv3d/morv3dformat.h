// The records of a .morv3d scene file: a morv container of the scene kind whose chunks hold
// the material table, the nodes with their tracks, and the meshes. Shared by the loader and the
// writer; every record is decoded from and encoded to little-endian bytes explicitly.
#pragma once

#include <cstdint>

#include "abstractdata/bytes.h"
#include "abstractdata/guid.h"
#include "engine/3dobjects/transform.h"
#include "engine/3dobjects/vecmath.h"

// {0AB3F934-9362-11D1-9A2B-080000300512}
constexpr GUID MORV3D_FILE_KIND = {
    0x0AB3F934, 0x9362, 0x11D1, {0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12}};

// Chunk type ids.
constexpr uint32_t MORV3D_CHUNK_OBJECT = 0x10000;     // a node: NodeHeader, optional name
constexpr uint32_t MORV3D_CHUNK_TRACKS = 0x10001;     // the node's position and rotation keys
constexpr uint32_t MORV3D_CHUNK_MESH = 0x10002;       // one mesh
constexpr uint32_t MORV3D_CHUNK_MATERIALS = 0x10003;  // the material table, under the root

// Mode bits of CMorv3DLoader::Load.
constexpr uint32_t MORV3D_LOAD_MATERIALS = 1;
constexpr uint32_t MORV3D_LOAD_OBJECTS = 2;

// Effect word of a material map.
constexpr uint32_t MORV3D_MAPEFFECT_ALPHA = 0x01;
constexpr uint32_t MORV3D_MAPEFFECT_ALPHAADD = 0x03;

// NodeHeader flags.
constexpr uint32_t NODE_HAS_NAME = 0x01;
constexpr uint32_t NODE_HAS_MATRIX = 0x02;
constexpr uint32_t NODE_HAS_BOUNDS = 0x08;
// With NODE_HAS_BOUNDS, any of these takes the parent-space sphere as well.
constexpr uint32_t NODE_PARENT_BOUNDS_BITS = 0x02 | 0x04 | 0x10;

constexpr uint32_t MORV3D_POSITION_KEY_SIZE = 40;
constexpr uint32_t MORV3D_ROTATION_KEY_SIZE = 84;

inline Vector3 LoadVector3(const uint8_t* p) {
    return {LoadF32(p), LoadF32(p + 4), LoadF32(p + 8)};
}

inline void StoreVector3(uint8_t* p, const Vector3& v) {
    StoreF32(p, v.x);
    StoreF32(p + 4, v.y);
    StoreF32(p + 8, v.z);
}

// Payload of an object chunk, followed by the name at offset 104 when NODE_HAS_NAME.
struct NodeHeader {
    static constexpr uint32_t kSize = 104;
    uint32_t dwUnused = 0;
    uint32_t dwFlags = 0;
    Matrix4 matrix;
    Vector3 vLocalCenter;
    float fLocalRadius = 0.0f;
    Vector3 vParentCenter;
    float fParentRadius = 0.0f;

    void Decode(const uint8_t* p) {
        dwUnused = LoadU32(p);
        dwFlags = LoadU32(p + 4);
        for (int i = 0; i < 16; ++i) {
            matrix.m[i / 4][i % 4] = LoadF32(p + 8 + 4 * i);
        }
        vLocalCenter = LoadVector3(p + 72);
        fLocalRadius = LoadF32(p + 84);
        vParentCenter = LoadVector3(p + 88);
        fParentRadius = LoadF32(p + 100);
    }
    void Encode(uint8_t* p) const {
        StoreU32(p, dwUnused);
        StoreU32(p + 4, dwFlags);
        for (int i = 0; i < 16; ++i) {
            StoreF32(p + 8 + 4 * i, matrix.m[i / 4][i % 4]);
        }
        StoreVector3(p + 72, vLocalCenter);
        StoreF32(p + 84, fLocalRadius);
        StoreVector3(p + 88, vParentCenter);
        StoreF32(p + 100, fParentRadius);
    }
};

// Start of a track chunk: the position keys follow, then the rotation keys.
struct TrackHeader {
    static constexpr uint32_t kSize = 32;
    uint32_t adwUnused[3] = {};
    uint32_t dwPositionCount = 0;
    uint32_t dwPositionSize = MORV3D_POSITION_KEY_SIZE;
    uint32_t dwUnused2 = 0;
    uint32_t dwRotationCount = 0;
    uint32_t dwRotationSize = MORV3D_ROTATION_KEY_SIZE;

    void Decode(const uint8_t* p) {
        for (int i = 0; i < 3; ++i) {
            adwUnused[i] = LoadU32(p + 4 * i);
        }
        dwPositionCount = LoadU32(p + 12);
        dwPositionSize = LoadU32(p + 16);
        dwUnused2 = LoadU32(p + 20);
        dwRotationCount = LoadU32(p + 24);
        dwRotationSize = LoadU32(p + 28);
    }
    void Encode(uint8_t* p) const {
        for (int i = 0; i < 3; ++i) {
            StoreU32(p + 4 * i, adwUnused[i]);
        }
        StoreU32(p + 12, dwPositionCount);
        StoreU32(p + 16, dwPositionSize);
        StoreU32(p + 20, dwUnused2);
        StoreU32(p + 24, dwRotationCount);
        StoreU32(p + 28, dwRotationSize);
    }
};

inline void DecodePositionKey(const uint8_t* p, PositionKey& key) {
    key.dwTime = LoadU32(p);
    key.vPosition = LoadVector3(p + 4);
    key.vControlIn = LoadVector3(p + 16);
    key.vControlOut = LoadVector3(p + 28);
}

inline void EncodePositionKey(const PositionKey& key, uint8_t* p) {
    StoreU32(p, key.dwTime);
    StoreVector3(p + 4, key.vPosition);
    StoreVector3(p + 16, key.vControlIn);
    StoreVector3(p + 28, key.vControlOut);
}

inline void DecodeRotationKey(const uint8_t* p, RotationKey& key) {
    key.dwTime = LoadU32(p);
    key.vAxis = LoadVector3(p + 4);
    key.fAngle = LoadF32(p + 16);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            key.afBlock[r][c] = LoadF32(p + 20 + 16 * r + 4 * c);
        }
    }
    for (int i = 0; i < 16; ++i) {
        key.abUnused[i] = p[68 + i];
    }
}

inline void EncodeRotationKey(const RotationKey& key, uint8_t* p) {
    StoreU32(p, key.dwTime);
    StoreVector3(p + 4, key.vAxis);
    StoreF32(p + 16, key.fAngle);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            StoreF32(p + 20 + 16 * r + 4 * c, key.afBlock[r][c]);
        }
    }
    for (int i = 0; i < 16; ++i) {
        p[68 + i] = key.abUnused[i];
    }
}

// The material table header and each material's header: two words kept, then a count.
struct CountHeader {
    static constexpr uint32_t kSize = 12;
    uint32_t adwKept[2] = {};
    uint32_t dwCount = 0;

    void Decode(const uint8_t* p) {
        adwKept[0] = LoadU32(p);
        adwKept[1] = LoadU32(p + 4);
        dwCount = LoadU32(p + 8);
    }
    void Encode(uint8_t* p) const {
        StoreU32(p, adwKept[0]);
        StoreU32(p + 4, adwKept[1]);
        StoreU32(p + 8, dwCount);
    }
};

// One map of a material as it stands in the file and in memory; its texture name follows it
// as a counted string.
struct tMorv3DMaterialMap {
    static constexpr uint32_t kSize = 12;
    uint32_t dwKept1 = 0;
    uint32_t dwKept2 = 0;
    uint32_t dwEffect = 0;

    void Decode(const uint8_t* p) {
        dwKept1 = LoadU32(p);
        dwKept2 = LoadU32(p + 4);
        dwEffect = LoadU32(p + 8);
    }
    void Encode(uint8_t* p) const {
        StoreU32(p, dwKept1);
        StoreU32(p + 4, dwKept2);
        StoreU32(p + 8, dwEffect);
    }
};

// Start of a mesh chunk; FileGroup records, FileFace records and the frames follow.
struct MeshHeader {
    static constexpr uint32_t kSize = 40;
    uint32_t dwHeaderSize = kSize;
    uint32_t dwComponentFlags = 0;
    uint32_t dwGroupCount = 0;
    uint32_t dwFaceCount = 0;
    uint32_t dwVertexCount = 0;
    uint32_t dwWord20 = 1;  // not interpreted beyond its minimum of 1
    Vector3 vCenter;
    float fRadius = 0.0f;

    void Decode(const uint8_t* p) {
        dwHeaderSize = LoadU32(p);
        dwComponentFlags = LoadU32(p + 4);
        dwGroupCount = LoadU32(p + 8);
        dwFaceCount = LoadU32(p + 12);
        dwVertexCount = LoadU32(p + 16);
        dwWord20 = LoadU32(p + 20);
        vCenter = LoadVector3(p + 24);
        fRadius = LoadF32(p + 36);
    }
    void Encode(uint8_t* p) const {
        StoreU32(p, dwHeaderSize);
        StoreU32(p + 4, dwComponentFlags);
        StoreU32(p + 8, dwGroupCount);
        StoreU32(p + 12, dwFaceCount);
        StoreU32(p + 16, dwVertexCount);
        StoreU32(p + 20, dwWord20);
        StoreVector3(p + 24, vCenter);
        StoreF32(p + 36, fRadius);
    }
};

struct FileGroup {
    static constexpr uint32_t kSize = 28;
    uint32_t adwUnused[2] = {};
    uint32_t dwFirstFace = 0;
    uint32_t dwFaceCount = 0;
    uint32_t dwBaseVertex = 0;
    uint32_t dwReserved = 0;  // kept as the group's fourth field
    uint32_t dwMaterial = 0;  // position in the material list

    void Decode(const uint8_t* p) {
        adwUnused[0] = LoadU32(p);
        adwUnused[1] = LoadU32(p + 4);
        dwFirstFace = LoadU32(p + 8);
        dwFaceCount = LoadU32(p + 12);
        dwBaseVertex = LoadU32(p + 16);
        dwReserved = LoadU32(p + 20);
        dwMaterial = LoadU32(p + 24);
    }
    void Encode(uint8_t* p) const {
        StoreU32(p, adwUnused[0]);
        StoreU32(p + 4, adwUnused[1]);
        StoreU32(p + 8, dwFirstFace);
        StoreU32(p + 12, dwFaceCount);
        StoreU32(p + 16, dwBaseVertex);
        StoreU32(p + 20, dwReserved);
        StoreU32(p + 24, dwMaterial);
    }
};

// A face: a word, three vertex indices (the loader keeps only their low 16 bits), a word.
struct FileFace {
    static constexpr uint32_t kSize = 20;
    uint32_t dwWord0 = 0;
    uint32_t adwIndex[3] = {};
    uint32_t dwWord16 = 0;

    void Decode(const uint8_t* p) {
        dwWord0 = LoadU32(p);
        for (int k = 0; k < 3; ++k) {
            adwIndex[k] = LoadU32(p + 4 + 4 * k);
        }
        dwWord16 = LoadU32(p + 16);
    }
    void Encode(uint8_t* p) const {
        StoreU32(p, dwWord0);
        for (int k = 0; k < 3; ++k) {
            StoreU32(p + 4 + 4 * k, adwIndex[k]);
        }
        StoreU32(p + 16, dwWord16);
    }
};

// Frame header: its size (12 or 16), the time, a blend byte and 3 bytes of padding, then the
// blend duration in the long form only (the short form stands for a duration of 10).
constexpr uint32_t MORV3D_FRAME_HEADER_SHORT = 12;
constexpr uint32_t MORV3D_FRAME_HEADER_LONG = 16;
constexpr uint32_t MORV3D_DEFAULT_BLEND_DURATION = 10;

struct FrameHeader {
    static constexpr uint32_t kSize = MORV3D_FRAME_HEADER_LONG;  // room for either form
    uint32_t dwHeaderSize = MORV3D_FRAME_HEADER_SHORT;
    uint32_t dwTime = 0;
    uint8_t bBlend = 0;
    uint8_t abPadding[3] = {};
    uint32_t dwBlendDuration = MORV3D_DEFAULT_BLEND_DURATION;

    static bool IsValidSize(uint32_t dwSize) {
        return dwSize == MORV3D_FRAME_HEADER_SHORT || dwSize == MORV3D_FRAME_HEADER_LONG;
    }
    // Bytes of a header whose size word is valid.
    void Decode(const uint8_t* p) {
        dwHeaderSize = LoadU32(p);
        dwTime = LoadU32(p + 4);
        bBlend = p[8];
        for (int i = 0; i < 3; ++i) {
            abPadding[i] = p[9 + i];
        }
        dwBlendDuration = dwHeaderSize == MORV3D_FRAME_HEADER_LONG ? LoadU32(p + 12)
                                                                   : MORV3D_DEFAULT_BLEND_DURATION;
    }
    // Writes dwHeaderSize bytes.
    void Encode(uint8_t* p) const {
        StoreU32(p, dwHeaderSize);
        StoreU32(p + 4, dwTime);
        p[8] = bBlend;
        for (int i = 0; i < 3; ++i) {
            p[9 + i] = abPadding[i];
        }
        if (dwHeaderSize == MORV3D_FRAME_HEADER_LONG) {
            StoreU32(p + 12, dwBlendDuration);
        }
    }
};

// A vertex of a mesh's first frame: position, normal, two four-byte components, u, v. Later
// frames hold only the components of the mesh's flags, packed (see PackFileVertices).
struct FileVertex {
    static constexpr uint32_t kSize = 40;
    Vector3 vPosition;
    Vector3 vNormal;
    uint32_t dwExtra1 = 0;
    uint32_t dwExtra2 = 0;
    float fU = 0.0f;
    float fV = 0.0f;

    void Decode(const uint8_t* p) {
        vPosition = LoadVector3(p);
        vNormal = LoadVector3(p + 12);
        dwExtra1 = LoadU32(p + 24);
        dwExtra2 = LoadU32(p + 28);
        fU = LoadF32(p + 32);
        fV = LoadF32(p + 36);
    }
    void Encode(uint8_t* p) const {
        StoreVector3(p, vPosition);
        StoreVector3(p + 12, vNormal);
        StoreU32(p + 24, dwExtra1);
        StoreU32(p + 28, dwExtra2);
        StoreF32(p + 32, fU);
        StoreF32(p + 36, fV);
    }
};

// Packs encoded file vertices into morph records that hold the components the flags name, in
// flag order, without gaps: VertexComponentSize(dwFlags) bytes each.
void PackFileVertices(const uint8_t* pFileVertices, uint32_t dwVertexCount, uint32_t dwFlags,
                      uint8_t* pPacked);
