// Writing .morv3d scene files: the inverse of the scene loader. A scene is described in plain
// structures (materials, a tree of nodes and meshes with their tracks and frames) and written
// through CMorvFile. Used for test data, the committed samples and the benchmarks; the viewer
// never writes.
//
// The writer writes what the description says and checks only what it cannot represent (a
// frame header size other than 12 or 16, frames of different vertex counts, key sizes below the
// record size, sizes beyond 32 bits, a node that contains itself): it does not check material
// indices, face indices or minimum counts, so that tests can write such files too.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "abstractdata/hresult.h"
#include "abstractdata/tstring.h"
#include "engine/3dobjects/transform.h"
#include "engine/3dobjects/vecmath.h"
#include "fileformats/morv3d/morv3dformat.h"

// One map of a material: its record and its texture name.
struct Morv3DMapDesc {
    tMorv3DMaterialMap record;
    tstring strTexture;
};

struct Morv3DMaterialDesc {
    uint32_t adwKept[2] = {};  // the two words of the material header
    std::vector<Morv3DMapDesc> maps;
};

// The 40-byte vertex of a mesh's first frame.
using Morv3DFileVertex = FileVertex;

// One vertex frame. The first frame of a mesh is written as whole file vertices, every later
// one packed: only the components of the mesh's flags, in bit order, without gaps.
struct Morv3DFrameDesc {
    uint32_t dwTime = 0;
    bool bBlend = false;
    uint32_t dwBlendDuration = MORV3D_DEFAULT_BLEND_DURATION;  // written with 16-byte headers only
    uint32_t dwHeaderSize = MORV3D_FRAME_HEADER_SHORT;         // 12 or 16
    std::vector<Morv3DFileVertex> vertices;                    // as many in every frame
};

// A face: three vertex indices (the two words around them are written as 0).
struct Morv3DFaceDesc {
    uint32_t adwIndex[3] = {};
};

struct Morv3DMeshDesc {
    uint32_t dwComponentFlags = 0;  // components of the packed frames (position 0x01 ... 0x10)
    Vector3 vCenter;                // local bounding sphere
    float fRadius = 0.0f;
    uint32_t dwWord20 = 1;
    std::vector<FileGroup> groups;  // first face, face count, base vertex, reserved, material
    std::vector<Morv3DFaceDesc> faces;
    std::vector<Morv3DFrameDesc> frames;  // the vertex count is that of the first frame
};

struct Morv3DNodeDesc;

// A child of a node: exactly one of the two is set.
struct Morv3DChildDesc {
    std::shared_ptr<Morv3DNodeDesc> pNode;
    std::shared_ptr<Morv3DMeshDesc> pMesh;
};

struct Morv3DNodeDesc {
    Morv3DNodeDesc() = default;
    // Releases deep chains of children without recursing once per level.
    ~Morv3DNodeDesc();
    Morv3DNodeDesc(const Morv3DNodeDesc&) = default;
    Morv3DNodeDesc& operator=(const Morv3DNodeDesc&) = default;
    Morv3DNodeDesc(Morv3DNodeDesc&&) = default;
    Morv3DNodeDesc& operator=(Morv3DNodeDesc&&) = default;

    tstring strName;  // written when dwFlags has NODE_HAS_NAME
    // Written exactly as given; NODE_HAS_MATRIX (or 0x04, 0x10) with NODE_HAS_BOUNDS makes the
    // loader take the parent-space sphere as well.
    uint32_t dwFlags = NODE_HAS_NAME | NODE_HAS_MATRIX | NODE_HAS_BOUNDS;
    Matrix4 matrix = Matrix4::Identity();
    Vector3 vLocalCenter;
    float fLocalRadius = 0.0f;
    Vector3 vParentCenter;
    float fParentRadius = 0.0f;

    // The track chunk, when written, is the node's first child chunk.
    bool bWriteTracks = false;
    std::vector<PositionKey> positionKeys;
    std::vector<RotationKey> rotationKeys;
    // Stored key sizes; a larger size pads each key with zero bytes.
    uint32_t dwPositionKeySize = MORV3D_POSITION_KEY_SIZE;
    uint32_t dwRotationKeySize = MORV3D_ROTATION_KEY_SIZE;

    // In file order. A description may appear several times in a tree (it is written each
    // time), but never inside itself. Copies of a node share its children.
    std::vector<Morv3DChildDesc> children;

    // Appends a child and returns it; like the containers they fill, these throw
    // std::bad_alloc.
    std::shared_ptr<Morv3DNodeDesc> AddNode(const tstring& strChildName);
    std::shared_ptr<Morv3DMeshDesc> AddMesh();
};

struct Morv3DSceneDesc {
    std::vector<Morv3DMaterialDesc> materials;
    bool bWriteMaterials = true;
    bool bMaterialsAfterObjects = false;    // the table's chunk after the object chunk
    std::shared_ptr<Morv3DNodeDesc> pRoot;  // no object chunk without one
};

// Writes the scene to strPath (created or truncated). E_INVALIDARG for a description that cannot
// be written (see above); the container's failures otherwise. A file that could not be
// completed is removed.
HRESULT WriteMorv3DScene(const tstring& strPath, const Morv3DSceneDesc& scene);

// Fills the base blocks of a rotation track so that it turns continuously: key 1 takes key 0's
// block, every later key the block before it turned by the rotation of the key before it. Key 0's
// block is the start orientation and stays.
void ChainRotationBlocks(std::vector<RotationKey>& keys);
