#include "fileformats/morv3d/morv3dloader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/nodewalk.h"

static constexpr char kReportUnit[] = "fileformats/morv3d/morv3dloader";

// Walks over a chunk's children follow the container's list.
template <>
struct tWalkChildren<CMorvChunk> {
    using Cursor = CMorvChunk::ChildIterator;
    static Cursor Begin(CMorvChunk* pChunk) { return pChunk->Children().begin(); }
    static CMorvChunk* Next(CMorvChunk* /*pChunk*/, Cursor& it) {
        return it == Cursor() ? nullptr : *it++;
    }
};

namespace {

// A lent stream that refuses to read past the end of a payload, counting what it reads.
class CBoundedInStream : public CInStream {
public:
    CBoundedInStream(CInStream* pInner, uint64_t qwRemaining)
        : m_pInner(pInner), m_qwRemaining(qwRemaining) {}

    HRESULT Read(void* pBuffer, uint32_t dwCount) override {
        if (dwCount > m_qwRemaining) {
            return E_FAIL;  // as a short read at the end of the data
        }
        const HRESULT hr = m_pInner->Read(pBuffer, dwCount);
        if (SUCCEEDED(hr)) {
            m_qwRemaining -= dwCount;
            m_qwRead += dwCount;
        }
        return hr;
    }
    uint64_t BytesRead() const { return m_qwRead; }

private:
    CInStream* m_pInner;
    uint64_t m_qwRemaining;
    uint64_t m_qwRead = 0;
};

// Reads one chunk's payload front to back and never past its end: the size the directory
// states, cut to what the file really holds. Records of a damaged chunk so fail with E_FAIL
// where they leave their payload, instead of reading the next chunk's bytes, and counts taken
// from a payload can be checked against what it can hold before anything is allocated.
class CPayloadReader {
public:
    CPayloadReader(CMorvFile& file, CMorvChunk* pChunk, uint32_t dwFileSize)
        : m_file(file), m_pChunk(pChunk) {
        if (pChunk->dwOffset != MORV_NO_PAYLOAD) {
            const uint64_t qwStart = file.GetDataStart() + pChunk->dwOffset;
            const uint64_t qwInFile = dwFileSize > qwStart ? dwFileSize - qwStart : 0;
            m_qwLimit = std::min<uint64_t>(pChunk->dwSize, qwInFile);
        }
    }

    // The first read starts at the payload's beginning, every later one where the last ended.
    HRESULT Read(void* pBuffer, uint32_t dwSize) {
        if (dwSize > Remaining()) {
            return E_FAIL;
        }
        const HRESULT hr = m_qwConsumed == 0 && !m_bStarted
                               ? m_file.ReadChunk(pBuffer, dwSize, 0, m_pChunk)
                               : m_file.ReadNext(pBuffer, dwSize, m_pChunk);
        m_bStarted = true;
        if (SUCCEEDED(hr)) {
            m_qwConsumed += dwSize;
        }
        return hr;
    }

    // A counted string where the last read ended.
    HRESULT ReadString(tstring& str) {
        CInStream* pStream = nullptr;
        m_file.GetReadStream(&pStream, m_pChunk);
        CBoundedInStream bounded(pStream, Remaining());
        const HRESULT hr = ReadTString(str, &bounded);
        const HRESULT hrEnd = m_file.EndReadStream(pStream, m_pChunk);
        m_qwConsumed += bounded.BytesRead();
        return FAILED(hr) ? hr : hrEnd;
    }

    // A counted string at a payload offset.
    HRESULT ReadStringAt(uint32_t dwOffset, tstring& str) {
        if (dwOffset > m_qwLimit) {
            return E_FAIL;
        }
        CInStream* pStream = nullptr;
        HRESULT hr = m_file.BeginReadStream(&pStream, dwOffset, m_pChunk);
        if (SUCCEEDED(hr)) {
            CBoundedInStream bounded(pStream, m_qwLimit - dwOffset);
            hr = ReadTString(str, &bounded);
        }
        if (pStream != nullptr) {
            const HRESULT hrEnd = m_file.EndReadStream(pStream, m_pChunk);
            hr = FAILED(hr) ? hr : hrEnd;
        }
        return hr;
    }

    // One fixed-size record where the last read ended, decoded only when it was read whole.
    template <typename Record>
    HRESULT ReadRecord(Record& record) {
        uint8_t bytes[Record::kSize];
        const HRESULT hr = Read(bytes, Record::kSize);
        if (SUCCEEDED(hr)) {
            record.Decode(bytes);
        }
        return hr;
    }

    uint64_t Remaining() const { return m_qwLimit - m_qwConsumed; }

private:
    CMorvFile& m_file;
    CMorvChunk* m_pChunk;
    uint64_t m_qwLimit = 0;
    uint64_t m_qwConsumed = 0;
    bool m_bStarted = false;
};

// The loader's reusable buffer of at least nSize bytes: grown, never shrunk, so that a scene of
// many small meshes does not allocate (and clear) temporary buffers for each.
uint8_t* Scratch(std::vector<uint8_t>& buffer, size_t nSize) {
    if (buffer.size() < nSize) {
        buffer.resize(nSize);
    }
    return buffer.data();
}

// What a walk over object chunks keeps per chunk: the node it becomes.
struct tReadNodeState {
    CQVR3DNode* pNode = nullptr;
};

HRESULT AppendKey(CQVR3DMeshData& geometry, const MorphKey& key) {
    try {
        geometry.morphKeys.push_back(key);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CMorv3DLoader

CMorv3DLoader::CMorv3DLoader() = default;

CMorv3DLoader::~CMorv3DLoader() {
    m_file.Close();
}

HRESULT CMorv3DLoader::Load(const tstring& strPath, uint32_t dwMode) {
    HRESULT hr = S_OK;
    // The file is opened and checked once; later calls walk the tree read then.
    if (!m_file.IsOpen()) {
        hr = m_file.Open(strPath, false);
        if (SUCCEEDED(hr)) {
            hr = m_file.ReadHeader();
        }
        if (SUCCEEDED(hr)) {
            GUID kind;
            m_file.GetFileKind(&kind);
            if (!(kind == MORV3D_FILE_KIND)) {
                hr = E_UNEXPECTED;
            }
        }
        if (SUCCEEDED(hr)) {
            hr = m_file.ReadDirectory();
        }
        if (SUCCEEDED(hr)) {
            hr = m_file.GetFileSize(&m_dwFileSize);
        }
    }
    CMorvChunk* pRoot = m_file.GetRootChunk();
    if (SUCCEEDED(hr) && pRoot->dwTypeId != 0) {
        hr = E_UNEXPECTED;
    }
    if (SUCCEEDED(hr)) {
        // Every handled chunk's result replaces the one before: the last one counts.
        for (CMorvChunk* pChild : pRoot->Children()) {
            if (pChild->dwTypeId == MORV3D_CHUNK_OBJECT && (dwMode & MORV3D_LOAD_OBJECTS)) {
                hr = LoadObjectChunk(pChild);
            } else if (pChild->dwTypeId == MORV3D_CHUNK_MATERIALS &&
                       (dwMode & MORV3D_LOAD_MATERIALS)) {
                hr = LoadMaterialTable(pChild);
            }
        }
    }
    return REPORTED(hr);
}

HRESULT CMorv3DLoader::LoadMeshChunk(CMorvChunk* /*pChunk*/) {
    return S_OK;
}

HRESULT CMorv3DLoader::LoadObjectChunk(CMorvChunk* pChunk) {
    HRESULT hr = S_OK;
    for (CMorvChunk* pChild : pChunk->Children()) {
        if (FAILED(hr)) {
            break;
        }
        if (pChild->dwTypeId == MORV3D_CHUNK_OBJECT) {
            hr = LoadObjectChunk(pChild);  // nesting is bounded by the container
        } else if (pChild->dwTypeId == MORV3D_CHUNK_MESH) {
            hr = LoadMeshChunk(pChild);
        }
    }
    return REPORTED(hr);
}

HRESULT CMorv3DLoader::LoadMaterialTable(CMorvChunk* pChunk) {
    CPayloadReader reader(m_file, pChunk, m_dwFileSize);
    CountHeader table;
    HRESULT hr = reader.ReadRecord(table);
    // Every material takes at least its 12-byte header.
    if (SUCCEEDED(hr) &&
        static_cast<uint64_t>(table.dwCount) * CountHeader::kSize > reader.Remaining()) {
        hr = MORV_E_BADFORMAT;
    }
    try {
        if (SUCCEEDED(hr)) {
            materials.resize(table.dwCount);  // materials up to the count are kept
        }
        for (uint32_t i = 0; i < table.dwCount && SUCCEEDED(hr); ++i) {
            CountHeader material;
            hr = reader.ReadRecord(material);
            // Every map takes its 12-byte record and at least one byte of name.
            if (SUCCEEDED(hr) &&
                static_cast<uint64_t>(material.dwCount) * (tMorv3DMaterialMap::kSize + 1) >
                    reader.Remaining()) {
                hr = MORV_E_BADFORMAT;
            }
            if (SUCCEEDED(hr)) {
                materials[i].resize(material.dwCount);
            }
            for (uint32_t j = 0; j < material.dwCount && SUCCEEDED(hr); ++j) {
                tMaterialMap& map = materials[i][j];
                hr = reader.ReadRecord(map.morv3DMaterialMap);
                if (SUCCEEDED(hr)) {
                    tstring strTexture;
                    hr = reader.ReadString(strTexture);
                    if (SUCCEEDED(hr)) {
                        map.strTexture.swap(strTexture);
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    return REPORTED(hr);
}

HRESULT CMorv3DLoader::ReadMesh(CMorvChunk* pChunk, CQVR3DMesh* pMesh) {
    if (pMesh == nullptr || pMesh->pGeometry == nullptr || pMesh->pMaps == nullptr) {
        DEBUG_ASSERT(pMesh != nullptr && pMesh->pGeometry != nullptr && pMesh->pMaps != nullptr);
        return REPORTED(E_INVALIDARG);
    }
    CQVR3DMeshData& geometry = *pMesh->pGeometry;
    CQVR3DMeshMaps& maps = *pMesh->pMaps;
    CPayloadReader reader(m_file, pChunk, m_dwFileSize);

    MeshHeader header;
    HRESULT hr = reader.ReadRecord(header);
    if (SUCCEEDED(hr)) {
        if (header.dwHeaderSize != MeshHeader::kSize || header.dwGroupCount < 1 ||
            header.dwFaceCount < 1 || header.dwVertexCount < 3 || header.dwWord20 < 1) {
            hr = MORV_E_BADFORMAT;
        }
    }
    const uint32_t dwStride = VertexComponentSize(header.dwComponentFlags);
    // The counts must fit the payload: groups, faces, and at least the first frame (its
    // header size, the rest of a short header, its vertices, the byte after it).
    if (SUCCEEDED(hr)) {
        const uint64_t qwNeeded = static_cast<uint64_t>(header.dwGroupCount) * FileGroup::kSize +
                                  static_cast<uint64_t>(header.dwFaceCount) * FileFace::kSize + 4 +
                                  (MORV3D_FRAME_HEADER_SHORT - 4) +
                                  static_cast<uint64_t>(header.dwVertexCount) * FileVertex::kSize +
                                  1;
        if (qwNeeded > reader.Remaining()) {
            hr = MORV_E_BADFORMAT;
        }
    }

    try {
        if (SUCCEEDED(hr)) {
            pMesh->vLocalSphereCenter = header.vCenter;
            pMesh->fLocalSphereRadius = header.fRadius;
            geometry.dwKeyVertexFormat = header.dwComponentFlags;
            geometry.bPrivateIndices = false;
            geometry.groups.resize(header.dwGroupCount);
            maps.groupMaps.assign(header.dwGroupCount, {});
        }

        // Face groups and their map bindings.
        for (uint32_t g = 0; g < header.dwGroupCount && SUCCEEDED(hr); ++g) {
            FileGroup fileGroup;
            hr = reader.ReadRecord(fileGroup);
            if (FAILED(hr)) {
                break;
            }
            // A group names faces of this mesh and a material of the list.
            if (static_cast<uint64_t>(fileGroup.dwFirstFace) + fileGroup.dwFaceCount >
                    header.dwFaceCount ||
                fileGroup.dwMaterial >= materials.size()) {
                hr = MORV_E_BADFORMAT;
                break;
            }
            MeshGroup& group = geometry.groups[g];
            group.dwFirstIndex = fileGroup.dwFirstFace * 3;
            group.dwIndexCount = fileGroup.dwFaceCount * 3;
            group.dwBaseVertex = fileGroup.dwBaseVertex;
            group.dwReserved = fileGroup.dwReserved;
            const tMaterialMaps& material = materials[fileGroup.dwMaterial];
            std::vector<MapBinding>& bindings = maps.groupMaps[g];
            bindings.resize(material.size());
            if (material.empty()) {
                DebugReport(kReportUnit, __LINE__, ReportKind::Warning, "%s",
                            "Error: Untextured meshes are not supported.\n");
                hr = E_UNEXPECTED;
                break;
            }
            for (size_t j = 0; j < material.size(); ++j) {
                bindings[j].dwEffect = material[j].morv3DMaterialMap.dwEffect;
                bindings[j].dwTexture = material[j].dwTextureHandle;
            }
        }

        // Faces: the low 16 bits of each vertex index, three per face.
        const uint32_t dwIndexCount = header.dwFaceCount * 3;  // fits: faces fit the payload
        if (SUCCEEDED(hr)) {
            const size_t nFaceBytes = static_cast<size_t>(header.dwFaceCount) * FileFace::kSize;
            uint8_t* pFaces = Scratch(m_faceScratch, nFaceBytes);
            hr = reader.Read(pFaces, static_cast<uint32_t>(nFaceBytes));
            uint16_t* pIndices = nullptr;
            if (SUCCEEDED(hr)) {
                pIndices = CQVR3DMeshData::AllocateIndices(dwIndexCount);
                if (pIndices == nullptr) {
                    hr = E_OUTOFMEMORY;
                }
            }
            if (SUCCEEDED(hr)) {
                for (uint32_t f = 0; f < header.dwFaceCount; ++f) {
                    FileFace face;
                    face.Decode(pFaces + static_cast<size_t>(f) * FileFace::kSize);
                    for (uint32_t k = 0; k < 3; ++k) {
                        pIndices[3 * f + k] = static_cast<uint16_t>(face.adwIndex[k]);
                    }
                }
                hr = geometry.AttachIndexBuffer(pIndices, dwIndexCount);
            }
        }
        // Every index of a group, plus its base vertex, must name a vertex.
        for (uint32_t g = 0; g < header.dwGroupCount && SUCCEEDED(hr); ++g) {
            if (!GroupIndicesInRange(geometry.groups[g], geometry.IndexBuffer(),
                                     geometry.dwIndexCount, header.dwVertexCount)) {
                hr = MORV_E_BADFORMAT;
            }
        }

        // Frames: the first gives the base vertices, two or more a morph animation. The first
        // frame's key is packed only once a second frame follows: a single frame is no key.
        const uint64_t qwPacked = static_cast<uint64_t>(header.dwVertexCount) * dwStride;
        uint8_t* pFirstFrame = nullptr;
        if (SUCCEEDED(hr)) {
            pFirstFrame = Scratch(m_frameScratch,
                                  static_cast<size_t>(header.dwVertexCount) * FileVertex::kSize);
        }
        MorphKey firstKey;
        for (uint32_t f = 0; SUCCEEDED(hr); ++f) {
            uint8_t frameHeader[FrameHeader::kSize] = {};
            hr = reader.Read(frameHeader, 4);
            const uint32_t dwHeaderSize = LoadU32(frameHeader);
            if (SUCCEEDED(hr) && !FrameHeader::IsValidSize(dwHeaderSize)) {
                DebugReport(kReportUnit, __LINE__, ReportKind::Warning, "%s",
                            "Error: Invalid file format.");
                hr = E_FAIL;
            }
            if (SUCCEEDED(hr)) {
                hr = reader.Read(frameHeader + 4, dwHeaderSize - 4);
            }
            if (FAILED(hr)) {
                break;
            }
            FrameHeader frame;
            frame.Decode(frameHeader);
            MorphKey key;
            key.dwTime = frame.dwTime;
            key.bBlend = frame.bBlend != 0;
            key.dwBlendDuration = frame.dwBlendDuration;

            if (f == 0) {
                hr = reader.Read(pFirstFrame,
                                 static_cast<uint32_t>(header.dwVertexCount * FileVertex::kSize));
                if (SUCCEEDED(hr)) {
                    geometry.pVertices = CQVR3DMeshData::AllocateVertices(header.dwVertexCount);
                    if (geometry.pVertices == nullptr) {
                        hr = E_OUTOFMEMORY;
                    }
                }
                if (SUCCEEDED(hr)) {
                    for (uint32_t i = 0; i < header.dwVertexCount; ++i) {
                        FileVertex from;
                        from.Decode(pFirstFrame + static_cast<size_t>(i) * FileVertex::kSize);
                        Vertex& vertex = geometry.pVertices[i];
                        vertex.vPosition = from.vPosition;
                        vertex.vNormal = from.vNormal;
                        vertex.fU = from.fU;
                        vertex.fV = from.fV;
                    }
                    geometry.dwVertexCount = header.dwVertexCount;
                    firstKey = key;
                }
            } else {
                // Later frames are read straight into their key, already packed.
                if (qwPacked > reader.Remaining()) {
                    hr = E_FAIL;  // the frame runs past the payload: a short read
                }
                if (SUCCEEDED(hr)) {
                    key.pVertexData = CQVR3DMeshData::AllocateKeyData(header.dwVertexCount,
                                                                      header.dwComponentFlags);
                    if (key.pVertexData == nullptr) {
                        hr = E_OUTOFMEMORY;
                    }
                }
                if (SUCCEEDED(hr)) {
                    hr = reader.Read(key.pVertexData, static_cast<uint32_t>(qwPacked));
                }
                if (SUCCEEDED(hr)) {
                    hr = AppendKey(geometry, key);
                }
                if (FAILED(hr)) {
                    delete[] key.pVertexData;  // a frame not read whole is no key
                    break;
                }
            }
            if (FAILED(hr)) {
                break;
            }
            uint8_t bMore = 0;
            hr = reader.Read(&bMore, 1);
            if (bMore == 0) {
                break;
            }
            if (f == 0 && SUCCEEDED(hr)) {
                // A second frame follows: the first one becomes a key after all.
                firstKey.pVertexData =
                    CQVR3DMeshData::AllocateKeyData(header.dwVertexCount, header.dwComponentFlags);
                if (firstKey.pVertexData == nullptr) {
                    hr = E_OUTOFMEMORY;
                } else {
                    PackFileVertices(pFirstFrame, header.dwVertexCount, header.dwComponentFlags,
                                     firstKey.pVertexData);
                    hr = AppendKey(geometry, firstKey);
                    if (FAILED(hr)) {
                        delete[] firstKey.pVertexData;
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }

    // A single frame is no animation.
    if (geometry.morphKeys.size() == 1) {
        delete[] geometry.morphKeys[0].pVertexData;
        geometry.morphKeys.clear();
    }
    if (SUCCEEDED(hr)) {
        uint32_t dwBlendFlags = QVR3DBLEND_ALL;
        for (size_t g = 0; g < maps.groupMaps.size(); ++g) {
            const std::vector<MapBinding>& bindings = maps.groupMaps[g];
            if (!bindings.empty() && (bindings[0].dwEffect & MORV3D_MAPEFFECT_ALPHA)) {
                dwBlendFlags |= QVR3DBLEND_SOME;
            } else {
                dwBlendFlags &= ~QVR3DBLEND_ALL;
            }
        }
        geometry.dwBlendFlags = dwBlendFlags;
    }
    // The instance's own vertices (with morph keys) and its group index pointers; after a
    // failure whatever the geometry holds is shown.
    const HRESULT hrInstance = pMesh->InitInstanceBuffers();
    if (SUCCEEDED(hr)) {
        hr = hrInstance;
    }
    return REPORTED(hr);
}

// ---------------------------------------------------------------------------------------------
// Object factory

CQVR3DObject* CMorv3DDefaultObjectFactory::CreateObject() {
    return new (std::nothrow) CQVR3DObject;
}

CQVR3DNode* CMorv3DDefaultObjectFactory::CreateNode() {
    return new (std::nothrow) CQVR3DNode;
}

CQVR3DMesh* CMorv3DDefaultObjectFactory::CreateMesh() {
    return new (std::nothrow) CQVR3DMesh;
}

// ---------------------------------------------------------------------------------------------
// CMorv3DSceneLoader

CMorv3DSceneLoader::CMorv3DSceneLoader(CMorv3DObjectFactory* pFactory) : m_pFactory(pFactory) {
    if (m_pFactory == nullptr) {
        // Without memory for it every object chunk fails with E_OUTOFMEMORY.
        m_pOwnFactory.reset(new (std::nothrow) CMorv3DDefaultObjectFactory);
        m_pFactory = m_pOwnFactory.get();
    }
}

CMorv3DSceneLoader::~CMorv3DSceneLoader() {
    m_pOwnFactory.reset();
    m_pFactory = nullptr;
    delete m_pRoot;
    m_pRoot = nullptr;
}

CQVR3DNode* CMorv3DSceneLoader::DetachRoot() {
    CQVR3DNode* pRoot = m_pRoot;
    m_pRoot = nullptr;
    return pRoot;
}

HRESULT CMorv3DSceneLoader::LoadObjectChunk(CMorvChunk* pChunk) {
    if (m_pRoot != nullptr) {
        // One object chunk is expected under the root; a second one replaces the first
        // hierarchy, which is freed rather than lost.
        DebugReport(kReportUnit, __LINE__, ReportKind::Assertion, "%s", "");
        delete m_pRoot;
        m_pRoot = nullptr;
    }
    CQVR3DNode* pNode = m_pFactory != nullptr ? m_pFactory->CreateNode() : nullptr;
    HRESULT hr = pNode != nullptr ? S_OK : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        m_pRoot = pNode;
        // The scene's x and y axes are exchanged at the root.
        Matrix4 matrix = pNode->GetLocalMatrix();
        for (int c = 0; c < 3; ++c) {
            std::swap(matrix.m[0][c], matrix.m[1][c]);
        }
        pNode->SetLocalMatrix(matrix);
        hr = ReadNode(pChunk, pNode);
    }
    return REPORTED(hr);
}

HRESULT CMorv3DSceneLoader::ReadNodeOwn(CMorvChunk* pChunk, CQVR3DNode* pNode) {
    CPayloadReader reader(m_file, pChunk, m_dwFileSize);
    NodeHeader header;
    const HRESULT hr = reader.ReadRecord(header);
    if (FAILED(hr)) {
        return hr;
    }
    if (header.dwFlags & NODE_HAS_MATRIX) {
        pNode->SetLocalMatrix(header.matrix);
    }
    if (header.dwFlags & NODE_HAS_BOUNDS) {
        pNode->vLocalSphereCenter = header.vLocalCenter;
        pNode->fLocalSphereRadius = header.fLocalRadius;
        if (header.dwFlags & NODE_PARENT_BOUNDS_BITS) {
            pNode->vParentSphereCenter = header.vParentCenter;
            pNode->fParentSphereRadius = header.fParentRadius;
        }
    }
    if (header.dwFlags & NODE_HAS_NAME) {
        // A name that cannot be read is no failure of the node.
        reader.ReadStringAt(NodeHeader::kSize, pNode->strName);
    }
    return S_OK;
}

HRESULT CMorv3DSceneLoader::ReadTracks(CMorvChunk* pChunk, CQVR3DNode* pNode) {
    CPayloadReader reader(m_file, pChunk, m_dwFileSize);
    TrackHeader header;
    HRESULT hr = reader.ReadRecord(header);
    if (FAILED(hr)) {
        return hr;
    }
    PositionTrack& positions = pNode->transform.PositionKeys();
    RotationTrack& rotations = pNode->transform.RotationKeys();
    if (header.dwPositionSize < MORV3D_POSITION_KEY_SIZE ||
        header.dwRotationSize < MORV3D_ROTATION_KEY_SIZE) {
        hr = E_FAIL;
    } else if (static_cast<uint64_t>(header.dwPositionCount) * header.dwPositionSize +
                   static_cast<uint64_t>(header.dwRotationCount) * header.dwRotationSize >
               reader.Remaining()) {
        hr = MORV_E_BADFORMAT;
    }
    if (FAILED(hr)) {
        // A rejected track leaves the node without keys rather than with empty ones.
        positions.clear();
        rotations.clear();
        return hr;
    }
    try {
        // Keys step by their stored size; bytes beyond the known record are skipped.
        positions.resize(header.dwPositionCount);
        rotations.resize(header.dwRotationCount);
        const size_t nPositionBytes =
            static_cast<size_t>(header.dwPositionCount) * header.dwPositionSize;
        const size_t nRotationBytes =
            static_cast<size_t>(header.dwRotationCount) * header.dwRotationSize;
        uint8_t* pKeys = Scratch(m_frameScratch, std::max(nPositionBytes, nRotationBytes));
        hr = reader.Read(pKeys, static_cast<uint32_t>(nPositionBytes));
        for (uint32_t i = 0; i < header.dwPositionCount && SUCCEEDED(hr); ++i) {
            DecodePositionKey(pKeys + static_cast<size_t>(i) * header.dwPositionSize, positions[i]);
        }
        if (SUCCEEDED(hr)) {
            hr = reader.Read(pKeys, static_cast<uint32_t>(nRotationBytes));
        }
        for (uint32_t i = 0; i < header.dwRotationCount && SUCCEEDED(hr); ++i) {
            DecodeRotationKey(pKeys + static_cast<size_t>(i) * header.dwRotationSize, rotations[i]);
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    return hr;
}

HRESULT CMorv3DSceneLoader::ReadMeshChild(CMorvChunk* pChunk, CQVR3DNode* pNode) {
    CQVR3DMesh* pMesh = m_pFactory != nullptr ? m_pFactory->CreateMesh() : nullptr;
    CQVR3DMeshData* pGeometry = new (std::nothrow) CQVR3DMeshData;
    CQVR3DMeshMaps* pMaps = new (std::nothrow) CQVR3DMeshMaps;
    if (pMesh == nullptr || pGeometry == nullptr || pMaps == nullptr) {
        delete pMesh;
        delete pGeometry;
        delete pMaps;
        return E_OUTOFMEMORY;
    }
    pMesh->pGeometry = pGeometry;
    pMesh->pMaps = pMaps;
    const HRESULT hr = ReadMesh(pChunk, pMesh);
    pNode->AddChild(pMesh);  // attached also when it failed: what was read stays
    return hr;
}

HRESULT CMorv3DSceneLoader::ReadNode(CMorvChunk* pChunk, CQVR3DNode* pNode) {
    // One frame per object chunk being read, with the node it becomes.
    using tNodeFrame = tWalkFrame<CMorvChunk, tReadNodeState>;
    std::vector<tNodeFrame> frames;
    bool bWalked = false;
    const HRESULT hrOwn = ReadNodeOwn(pChunk, pNode);
    const HRESULT hr = WalkTree(
        frames, tNodeFrame{pChunk, {}, hrOwn, {pNode}},
        [&](tNodeFrame& top, CMorvChunk* pChild, tNodeFrame& child) {
            if (pChild->dwTypeId == MORV3D_CHUNK_TRACKS) {
                top.hr = ReadTracks(pChild, top.state.pNode);
            } else if (pChild->dwTypeId == MORV3D_CHUNK_MESH) {
                top.hr = ReadMeshChild(pChild, top.state.pNode);
            } else if (pChild->dwTypeId == MORV3D_CHUNK_OBJECT) {
                CQVR3DNode* pNew = m_pFactory != nullptr ? m_pFactory->CreateNode() : nullptr;
                if (pNew == nullptr) {
                    top.hr = E_OUTOFMEMORY;
                    return EWalk::Skip;
                }
                child.pNode = pChild;
                child.hr = ReadNodeOwn(pChild, pNew);
                child.state.pNode = pNew;
                return EWalk::Descend;
            }
            return EWalk::Skip;
        },
        [&](tNodeFrame& done, tNodeFrame* pParent) {
            // All children read, or a failure: the node is done and joins its parent, also
            // when it failed: what was read stays.
            if (SUCCEEDED(done.hr)) {
                done.state.pNode->ChildListChanged();
            }
            REPORTED(done.hr);
            if (pParent != nullptr) {
                pParent->state.pNode->AddChild(done.state.pNode);
            }
            bWalked = pParent == nullptr;
        });
    if (!bWalked) {
        return REPORTED(hr);  // no room for the walk at all
    }
    return hr;
}
