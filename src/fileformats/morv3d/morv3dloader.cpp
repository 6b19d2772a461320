#include "fileformats/morv3d/morv3dloader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "abstractdata/debugreport.h"
#include "abstractdata/heapprefault.h"
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

// Decodes one mesh chunk into a mesh whose geometry and maps exist, in the order of the
// payload: header, groups, faces, frames. Each step stops at its first failure, and what it
// read before stays in the geometry.
class CMeshReader {
public:
    CMeshReader(CPayloadReader& reader, CQVR3DMesh& mesh,
                const std::vector<CMorv3DLoader::tMaterialMaps>& materials,
                std::vector<uint8_t>& faceScratch, std::vector<uint8_t>& frameScratch)
        : m_reader(reader),
          m_mesh(mesh),
          m_geometry(*mesh.pGeometry),
          m_maps(*mesh.pMaps),
          m_materials(materials),
          m_faceScratch(faceScratch),
          m_frameScratch(frameScratch) {}

    HRESULT Read() {
        try {
            HRESULT hr = ReadHeader();
            if (SUCCEEDED(hr)) {
                hr = ReadGroups();
            }
            if (SUCCEEDED(hr)) {
                hr = ReadFaces();
            }
            if (SUCCEEDED(hr)) {
                hr = CheckGroupRanges();
            }
            if (SUCCEEDED(hr)) {
                hr = ReadFrames();
            }
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    // A single frame is no animation.
    void DropSingleKey() {
        if (m_geometry.morphKeys.size() == 1) {
            CQVR3DMeshData::FreeBuffer(m_geometry.morphKeys[0].pVertexData);
            m_geometry.morphKeys.clear();
        }
    }

    // Blended when every group's first map is: partly when some are.
    void SetBlendFlags() {
        uint32_t dwBlendFlags = QVR3DBLEND_ALL;
        for (const SceneVector<MapBinding>& bindings : m_maps.groupMaps) {
            if (!bindings.empty() && (bindings[0].dwEffect & MORV3D_MAPEFFECT_ALPHA)) {
                dwBlendFlags |= QVR3DBLEND_SOME;
            } else {
                dwBlendFlags &= ~QVR3DBLEND_ALL;
            }
        }
        m_geometry.dwBlendFlags = dwBlendFlags;
    }

private:
    HRESULT ReadHeader() {
        HRESULT hr = m_reader.ReadRecord(m_header);
        if (FAILED(hr)) {
            return hr;
        }
        if (m_header.dwHeaderSize != MeshHeader::kSize || m_header.dwGroupCount < 1 ||
            m_header.dwFaceCount < 1 || m_header.dwVertexCount < 3 || m_header.dwWord20 < 1) {
            return MORV_E_BADFORMAT;
        }
        // The counts must fit the payload: groups, faces, and at least the first frame (its
        // header size, the rest of a short header, its vertices, the byte after it).
        const uint64_t qwNeeded =
            static_cast<uint64_t>(m_header.dwGroupCount) * FileGroup::kSize +
            static_cast<uint64_t>(m_header.dwFaceCount) * FileFace::kSize + 4 +
            (MORV3D_FRAME_HEADER_SHORT - 4) +
            static_cast<uint64_t>(m_header.dwVertexCount) * FileVertex::kSize + 1;
        if (qwNeeded > m_reader.Remaining()) {
            return MORV_E_BADFORMAT;
        }
        m_mesh.vLocalSphereCenter = m_header.vCenter;
        m_mesh.fLocalSphereRadius = m_header.fRadius;
        m_geometry.dwKeyVertexFormat = m_header.dwComponentFlags;
        m_geometry.bPrivateIndices = false;
        return S_OK;
    }

    // Face groups and their map bindings.
    HRESULT ReadGroups() {
        // Both lists or neither: every group has its bindings.
        SceneVector<MeshGroup> groups(m_header.dwGroupCount);
        SceneVector<SceneVector<MapBinding>> groupMaps(m_header.dwGroupCount);
        m_geometry.groups.swap(groups);
        m_maps.groupMaps.swap(groupMaps);
        for (uint32_t g = 0; g < m_header.dwGroupCount; ++g) {
            FileGroup fileGroup;
            const HRESULT hr = m_reader.ReadRecord(fileGroup);
            if (FAILED(hr)) {
                return hr;
            }
            // A group names faces of this mesh and a material of the list.
            if (static_cast<uint64_t>(fileGroup.dwFirstFace) + fileGroup.dwFaceCount >
                    m_header.dwFaceCount ||
                fileGroup.dwMaterial >= m_materials.size()) {
                return MORV_E_BADFORMAT;
            }
            MeshGroup& group = m_geometry.groups[g];
            group.dwFirstIndex = fileGroup.dwFirstFace * 3;
            group.dwIndexCount = fileGroup.dwFaceCount * 3;
            group.dwBaseVertex = fileGroup.dwBaseVertex;
            group.dwReserved = fileGroup.dwReserved;
            const CMorv3DLoader::tMaterialMaps& material = m_materials[fileGroup.dwMaterial];
            SceneVector<MapBinding>& bindings = m_maps.groupMaps[g];
            bindings.resize(material.size());
            if (material.empty()) {
                DebugReport(kReportUnit, __LINE__, ReportKind::Warning, "%s",
                            "Error: Untextured meshes are not supported.\n");
                return E_UNEXPECTED;
            }
            for (size_t j = 0; j < material.size(); ++j) {
                bindings[j].dwEffect = material[j].morv3DMaterialMap.dwEffect;
                bindings[j].dwTexture = material[j].dwTextureHandle;
            }
            group.dwMaterial = fileGroup.dwMaterial;
        }
        return S_OK;
    }

    // Faces: the low 16 bits of each vertex index, three per face.
    HRESULT ReadFaces() {
        const uint32_t dwIndexCount = m_header.dwFaceCount * 3;  // fits: faces fit the payload
        const size_t nFaceBytes = static_cast<size_t>(m_header.dwFaceCount) * FileFace::kSize;
        uint8_t* pFaces = Scratch(m_faceScratch, nFaceBytes);
        HRESULT hr = m_reader.Read(pFaces, static_cast<uint32_t>(nFaceBytes));
        if (FAILED(hr)) {
            return hr;
        }
        uint16_t* pIndices = CQVR3DMeshData::AllocateIndices(dwIndexCount);
        if (pIndices == nullptr) {
            return E_OUTOFMEMORY;
        }
        for (uint32_t f = 0; f < m_header.dwFaceCount; ++f) {
            FileFace face;
            face.Decode(pFaces + static_cast<size_t>(f) * FileFace::kSize);
            for (uint32_t k = 0; k < 3; ++k) {
                pIndices[3 * f + k] = static_cast<uint16_t>(face.adwIndex[k]);
            }
        }
        return m_geometry.AttachIndexBuffer(pIndices, dwIndexCount);
    }

    // Every index of a group, plus its base vertex, must name a vertex.
    HRESULT CheckGroupRanges() const {
        for (const MeshGroup& group : m_geometry.groups) {
            if (!GroupIndicesInRange(group, m_geometry.IndexBuffer(), m_geometry.dwIndexCount,
                                     m_header.dwVertexCount)) {
                return MORV_E_BADFORMAT;
            }
        }
        return S_OK;
    }

    // Frames: the first gives the base vertices, two or more a morph animation. The first
    // frame's key is packed only once a second frame follows: a single frame is no key.
    HRESULT ReadFrames() {
        uint8_t* pFirstFrame = Scratch(
            m_frameScratch, static_cast<size_t>(m_header.dwVertexCount) * FileVertex::kSize);
        MorphKey firstKey;
        for (uint32_t f = 0;; ++f) {
            MorphKey key;
            HRESULT hr = ReadFrameHeader(key);
            if (FAILED(hr)) {
                return hr;
            }
            if (f == 0) {
                hr = ReadFirstFrame(pFirstFrame);
                firstKey = key;
            } else {
                hr = ReadLaterFrame(key);
            }
            if (FAILED(hr)) {
                return hr;
            }
            uint8_t bMore = 0;
            hr = m_reader.Read(&bMore, 1);
            if (bMore == 0 || FAILED(hr)) {
                return hr;
            }
            if (f == 0) {
                // A second frame follows: the first one becomes a key after all.
                hr = AppendFirstFrameKey(pFirstFrame, firstKey);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
    }

    HRESULT ReadFrameHeader(MorphKey& key) {
        uint8_t bytes[FrameHeader::kSize] = {};
        HRESULT hr = m_reader.Read(bytes, 4);
        if (FAILED(hr)) {
            return hr;
        }
        const uint32_t dwHeaderSize = LoadU32(bytes);
        if (!FrameHeader::IsValidSize(dwHeaderSize)) {
            DebugReport(kReportUnit, __LINE__, ReportKind::Warning, "%s",
                        "Error: Invalid file format.");
            return E_FAIL;
        }
        hr = m_reader.Read(bytes + 4, dwHeaderSize - 4);
        if (FAILED(hr)) {
            return hr;
        }
        FrameHeader header;
        header.Decode(bytes);
        key.dwTime = header.dwTime;
        key.bBlend = header.bBlend != 0;
        key.dwBlendDuration = header.dwBlendDuration;
        return S_OK;
    }

    // Whole file vertices: the base vertices (kept in pFirstFrame in case a key is made).
    HRESULT ReadFirstFrame(uint8_t* pFirstFrame) {
        const HRESULT hr = m_reader.Read(
            pFirstFrame, static_cast<uint32_t>(m_header.dwVertexCount * FileVertex::kSize));
        if (FAILED(hr)) {
            return hr;
        }
        m_geometry.pVertices = CQVR3DMeshData::AllocateVertices(m_header.dwVertexCount);
        if (m_geometry.pVertices == nullptr) {
            return E_OUTOFMEMORY;
        }
        for (uint32_t i = 0; i < m_header.dwVertexCount; ++i) {
            FileVertex from;
            from.Decode(pFirstFrame + static_cast<size_t>(i) * FileVertex::kSize);
            Vertex& vertex = m_geometry.pVertices[i];
            vertex.vPosition = from.vPosition;
            vertex.vNormal = from.vNormal;
            vertex.fU = from.fU;
            vertex.fV = from.fV;
        }
        m_geometry.dwVertexCount = m_header.dwVertexCount;
        return S_OK;
    }

    // Later frames are read straight into their key, already packed; a frame not read whole
    // is no key.
    HRESULT ReadLaterFrame(MorphKey& key) {
        const uint64_t qwPacked = static_cast<uint64_t>(m_header.dwVertexCount) *
                                  VertexComponentSize(m_header.dwComponentFlags);
        if (qwPacked > m_reader.Remaining()) {
            return E_FAIL;  // the frame runs past the payload: a short read
        }
        key.pVertexData =
            CQVR3DMeshData::AllocateKeyData(m_header.dwVertexCount, m_header.dwComponentFlags);
        if (key.pVertexData == nullptr) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = m_reader.Read(key.pVertexData, static_cast<uint32_t>(qwPacked));
        if (SUCCEEDED(hr)) {
            hr = AppendKey(m_geometry, key);
        }
        if (FAILED(hr)) {
            CQVR3DMeshData::FreeBuffer(key.pVertexData);
        }
        return hr;
    }

    HRESULT AppendFirstFrameKey(const uint8_t* pFirstFrame, MorphKey& firstKey) {
        firstKey.pVertexData =
            CQVR3DMeshData::AllocateKeyData(m_header.dwVertexCount, m_header.dwComponentFlags);
        if (firstKey.pVertexData == nullptr) {
            return E_OUTOFMEMORY;
        }
        PackFileVertices(pFirstFrame, m_header.dwVertexCount, m_header.dwComponentFlags,
                         firstKey.pVertexData);
        const HRESULT hr = AppendKey(m_geometry, firstKey);
        if (FAILED(hr)) {
            CQVR3DMeshData::FreeBuffer(firstKey.pVertexData);
        }
        return hr;
    }

    CPayloadReader& m_reader;
    CQVR3DMesh& m_mesh;
    CQVR3DMeshData& m_geometry;
    CQVR3DMeshMaps& m_maps;
    const std::vector<CMorv3DLoader::tMaterialMaps>& m_materials;
    std::vector<uint8_t>& m_faceScratch;
    std::vector<uint8_t>& m_frameScratch;
    MeshHeader m_header;
};

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
    CPayloadReader reader(m_file, pChunk, m_dwFileSize);
    CMeshReader mesh(reader, *pMesh, materials, m_faceScratch, m_frameScratch);
    HRESULT hr = mesh.Read();
    mesh.DropSingleKey();
    if (SUCCEEDED(hr)) {
        mesh.SetBlendFlags();
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
    // Attached also when it failed: what was read stays.
    const HRESULT hrAttach = Attach(pNode, pMesh);
    return FAILED(hr) ? hr : hrAttach;
}

HRESULT CMorv3DSceneLoader::Attach(CQVR3DNode* pParent, CQVR3DObject* pChild) {
    const HRESULT hr = pParent->AddChild(pChild);
    if (pChild->GetParent() != pParent) {
        delete pChild;  // the list had no room: what was read goes with the failure
    }
    return hr;
}

HRESULT CMorv3DSceneLoader::ReadNode(CMorvChunk* pChunk, CQVR3DNode* pNode) {
    // One frame per object chunk being read, with the node it becomes.
    using tNodeFrame = tWalkFrame<CMorvChunk, tReadNodeState>;
    std::vector<tNodeFrame> frames;
    bool bWalked = false;
    CHeapPrefault prefault;
    const HRESULT hrOwn = ReadNodeOwn(pChunk, pNode);
    const HRESULT hr = WalkTree(
        frames, tNodeFrame{pChunk, {}, hrOwn, {pNode}},
        [&](tNodeFrame& top, CMorvChunk* pChild, tNodeFrame& child) {
            prefault.Advance();  // a scene is many small blocks: their pages in bulk
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
                done.hr = done.state.pNode->ChildOrderResult();
            }
            REPORTED(done.hr);
            if (pParent != nullptr) {
                const HRESULT hrAttach = Attach(pParent->state.pNode, done.state.pNode);
                if (SUCCEEDED(done.hr) && FAILED(hrAttach)) {
                    done.hr = hrAttach;  // passed on to the parent
                }
            }
            bWalked = pParent == nullptr;
        });
    if (!bWalked) {
        return REPORTED(hr);  // no room for the walk at all
    }
    return hr;
}
