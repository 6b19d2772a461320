#include "fileformats/morv3d/morv3dwriter.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <unordered_set>

#include "abstractdata/bytes.h"
#include "abstractdata/debugreport.h"
#include "abstractdata/streams/tsstream.h"
#include "engine/3dobjects/mesh.h"
#include "engine/3dobjects/nodewalk.h"
#include "fileformats/morv/morv.h"

static constexpr char kReportUnit[] = "fileformats/morv3d/morv3dwriter";

// Walks over a node description's children follow its list.
template <>
struct tWalkChildren<const Morv3DNodeDesc> {
    using Cursor = size_t;
    static Cursor Begin(const Morv3DNodeDesc* /*pNode*/) { return 0; }
    static const Morv3DChildDesc* Next(const Morv3DNodeDesc* pNode, Cursor& nNext) {
        return nNext < pNode->children.size() ? &pNode->children[nNext++] : nullptr;
    }
};

namespace {

constexpr uint64_t kMaxU32 = 0xFFFFFFFFu;

// One chunk's payload, built whole in memory and handed to the container in one write (each
// container write costs a seek and a position query). Counted strings go through the
// COutStream face, so their form is the string unit's.
class CPayload final : public COutStream {
public:
    HRESULT Write(const void* pData, uint32_t dwCount) override {
        const auto* pBytes = static_cast<const uint8_t*>(pData);
        m_bytes.insert(m_bytes.end(), pBytes, pBytes + dwCount);
        return S_OK;
    }
    // Room for n more bytes at the end; the pointer is valid until the next append.
    uint8_t* Append(size_t n) {
        const size_t nAt = m_bytes.size();
        m_bytes.resize(nAt + n);
        return m_bytes.data() + nAt;
    }
    void U8(uint8_t b) { m_bytes.push_back(b); }
    void U32(uint32_t dw) { StoreU32(Append(4), dw); }
    void Reset(size_t nReserve) {
        m_bytes.clear();
        m_bytes.reserve(nReserve);
    }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

class CSceneWriter {
public:
    explicit CSceneWriter(CMorvFile& file) : m_file(file) {}

    HRESULT WriteMaterials(const std::vector<Morv3DMaterialDesc>& materials);
    HRESULT WriteHierarchy(const Morv3DNodeDesc& root);

private:
    // Creates a chunk, counting its directory entry against the 32-bit file size.
    HRESULT NewChunk(CMorvChunk** ppChunk, uint32_t dwType, CMorvChunk* pParent);
    // Hands the built payload to the container.
    HRESULT Flush(CMorvChunk* pChunk);
    HRESULT WriteNode(const Morv3DNodeDesc& node, CMorvChunk* pParent, CMorvChunk** ppChunk);
    HRESULT WriteTracks(const Morv3DNodeDesc& node, CMorvChunk* pNodeChunk);
    HRESULT WriteMesh(const Morv3DMeshDesc& mesh, CMorvChunk* pParent);

    CMorvFile& m_file;
    CPayload m_payload;
    // Header, root entry and everything so far: the file must stay within 32-bit positions.
    uint64_t m_qwFileBytes = MORV_HEADER_SIZE + MORV_DIRENTRY_SIZE;
};

HRESULT CSceneWriter::NewChunk(CMorvChunk** ppChunk, uint32_t dwType, CMorvChunk* pParent) {
    m_qwFileBytes += MORV_DIRENTRY_SIZE;
    if (m_qwFileBytes > kMaxU32) {
        return E_INVALIDARG;
    }
    return m_file.CreateChunk(ppChunk, dwType, pParent);
}

HRESULT CSceneWriter::Flush(CMorvChunk* pChunk) {
    const std::vector<uint8_t>& bytes = m_payload.Bytes();
    m_qwFileBytes += bytes.size();
    if (bytes.size() > kMaxU32 || m_qwFileBytes > kMaxU32) {
        return E_INVALIDARG;
    }
    return m_file.WriteChunk(bytes.data(), static_cast<uint32_t>(bytes.size()), pChunk);
}

HRESULT CSceneWriter::WriteMaterials(const std::vector<Morv3DMaterialDesc>& materials) {
    CMorvChunk* pChunk = nullptr;
    HRESULT hr = NewChunk(&pChunk, MORV3D_CHUNK_MATERIALS, m_file.GetRootChunk());
    if (FAILED(hr)) {
        return hr;
    }
    // Records and names are built in memory first, so a table beyond 4 GiB cannot be asked for
    // (the names alone would exceed it); counts are checked as they are written.
    if (materials.size() > kMaxU32) {
        return E_INVALIDARG;
    }
    m_payload.Reset(CountHeader::kSize);
    CountHeader table;
    table.dwCount = static_cast<uint32_t>(materials.size());
    table.Encode(m_payload.Append(CountHeader::kSize));
    for (const Morv3DMaterialDesc& material : materials) {
        if (material.maps.size() > kMaxU32) {
            return E_INVALIDARG;
        }
        CountHeader header;
        header.adwKept[0] = material.adwKept[0];
        header.adwKept[1] = material.adwKept[1];
        header.dwCount = static_cast<uint32_t>(material.maps.size());
        header.Encode(m_payload.Append(CountHeader::kSize));
        for (const Morv3DMapDesc& map : material.maps) {
            map.record.Encode(m_payload.Append(tMorv3DMaterialMap::kSize));
            if (map.strTexture.size() > kMaxU32) {
                return E_INVALIDARG;
            }
            hr = WriteTString(map.strTexture, &m_payload);
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return Flush(pChunk);
}

HRESULT CSceneWriter::WriteNode(const Morv3DNodeDesc& node, CMorvChunk* pParent,
                                CMorvChunk** ppChunk) {
    HRESULT hr = NewChunk(ppChunk, MORV3D_CHUNK_OBJECT, pParent);
    if (FAILED(hr)) {
        return hr;
    }
    m_payload.Reset(NodeHeader::kSize + 8 + node.strName.size());
    NodeHeader header;
    header.dwFlags = node.dwFlags;
    header.matrix = node.matrix;
    header.vLocalCenter = node.vLocalCenter;
    header.fLocalRadius = node.fLocalRadius;
    header.vParentCenter = node.vParentCenter;
    header.fParentRadius = node.fParentRadius;
    header.Encode(m_payload.Append(NodeHeader::kSize));
    if (node.dwFlags & NODE_HAS_NAME) {
        if (node.strName.size() > kMaxU32) {
            return E_INVALIDARG;
        }
        hr = WriteTString(node.strName, &m_payload);
    }
    if (SUCCEEDED(hr)) {
        hr = Flush(*ppChunk);
    }
    if (SUCCEEDED(hr) && node.bWriteTracks) {
        hr = WriteTracks(node, *ppChunk);
    }
    return hr;
}

HRESULT CSceneWriter::WriteTracks(const Morv3DNodeDesc& node, CMorvChunk* pNodeChunk) {
    if (node.dwPositionKeySize < MORV3D_POSITION_KEY_SIZE ||
        node.dwRotationKeySize < MORV3D_ROTATION_KEY_SIZE) {
        return E_INVALIDARG;  // a key does not fit in less
    }
    const uint64_t qwSize =
        TrackHeader::kSize +
        static_cast<uint64_t>(node.positionKeys.size()) * node.dwPositionKeySize +
        static_cast<uint64_t>(node.rotationKeys.size()) * node.dwRotationKeySize;
    if (qwSize > kMaxU32 || m_qwFileBytes + qwSize > kMaxU32) {
        return E_INVALIDARG;
    }
    CMorvChunk* pChunk = nullptr;
    HRESULT hr = NewChunk(&pChunk, MORV3D_CHUNK_TRACKS, pNodeChunk);
    if (FAILED(hr)) {
        return hr;
    }
    m_payload.Reset(static_cast<size_t>(qwSize));
    TrackHeader header;
    header.dwPositionCount = static_cast<uint32_t>(node.positionKeys.size());
    header.dwPositionSize = node.dwPositionKeySize;
    header.dwRotationCount = static_cast<uint32_t>(node.rotationKeys.size());
    header.dwRotationSize = node.dwRotationKeySize;
    header.Encode(m_payload.Append(TrackHeader::kSize));
    // Append zero-fills, so the padding of larger stored sizes is zero.
    for (const PositionKey& key : node.positionKeys) {
        EncodePositionKey(key, m_payload.Append(node.dwPositionKeySize));
    }
    for (const RotationKey& key : node.rotationKeys) {
        EncodeRotationKey(key, m_payload.Append(node.dwRotationKeySize));
    }
    return Flush(pChunk);
}

HRESULT CSceneWriter::WriteMesh(const Morv3DMeshDesc& mesh, CMorvChunk* pParent) {
    const size_t nVertices = mesh.frames.empty() ? 0 : mesh.frames[0].vertices.size();
    const uint32_t dwStride = VertexComponentSize(mesh.dwComponentFlags);
    uint64_t qwSize = MeshHeader::kSize +
                      static_cast<uint64_t>(mesh.groups.size()) * FileGroup::kSize +
                      static_cast<uint64_t>(mesh.faces.size()) * FileFace::kSize;
    for (size_t f = 0; f < mesh.frames.size(); ++f) {
        const Morv3DFrameDesc& frame = mesh.frames[f];
        if (frame.vertices.size() != nVertices || !FrameHeader::IsValidSize(frame.dwHeaderSize)) {
            return E_INVALIDARG;
        }
        qwSize += frame.dwHeaderSize + 1 +
                  static_cast<uint64_t>(nVertices) * (f == 0 ? FileVertex::kSize : dwStride);
    }
    if (qwSize > kMaxU32 || m_qwFileBytes + qwSize > kMaxU32) {
        return E_INVALIDARG;
    }
    CMorvChunk* pChunk = nullptr;
    HRESULT hr = NewChunk(&pChunk, MORV3D_CHUNK_MESH, pParent);
    if (FAILED(hr)) {
        return hr;
    }
    m_payload.Reset(static_cast<size_t>(qwSize));
    MeshHeader header;
    header.dwComponentFlags = mesh.dwComponentFlags;
    header.dwGroupCount = static_cast<uint32_t>(mesh.groups.size());
    header.dwFaceCount = static_cast<uint32_t>(mesh.faces.size());
    header.dwVertexCount = static_cast<uint32_t>(nVertices);
    header.dwWord20 = mesh.dwWord20;
    header.vCenter = mesh.vCenter;
    header.fRadius = mesh.fRadius;
    header.Encode(m_payload.Append(MeshHeader::kSize));
    for (const FileGroup& group : mesh.groups) {
        group.Encode(m_payload.Append(FileGroup::kSize));
    }
    for (const Morv3DFaceDesc& face : mesh.faces) {
        FileFace record;
        std::copy(std::begin(face.adwIndex), std::end(face.adwIndex), record.adwIndex);
        record.Encode(m_payload.Append(FileFace::kSize));
    }
    for (size_t f = 0; f < mesh.frames.size(); ++f) {
        const Morv3DFrameDesc& frame = mesh.frames[f];
        FrameHeader frameHeader;
        frameHeader.dwHeaderSize = frame.dwHeaderSize;
        frameHeader.dwTime = frame.dwTime;
        frameHeader.bBlend = frame.bBlend ? 1 : 0;
        frameHeader.dwBlendDuration = frame.dwBlendDuration;
        frameHeader.Encode(m_payload.Append(frame.dwHeaderSize));
        // The first frame as whole file vertices, every later one packed from them.
        std::vector<uint8_t> full(f == 0 ? 0 : nVertices * FileVertex::kSize);
        uint8_t* pFull = f == 0 ? m_payload.Append(nVertices * FileVertex::kSize) : full.data();
        for (size_t i = 0; i < nVertices; ++i) {
            frame.vertices[i].Encode(pFull + i * FileVertex::kSize);
        }
        if (f != 0) {
            PackFileVertices(pFull, static_cast<uint32_t>(nVertices), mesh.dwComponentFlags,
                             m_payload.Append(nVertices * dwStride));
        }
        m_payload.U8(f + 1 < mesh.frames.size() ? 1 : 0);  // another frame follows
    }
    return Flush(pChunk);
}

HRESULT CSceneWriter::WriteHierarchy(const Morv3DNodeDesc& root) {
    // One frame per node description being written, with its chunk; pre-order.
    struct tWriteState {
        CMorvChunk* pChunk = nullptr;
    };
    using tWriteFrame = tWalkFrame<const Morv3DNodeDesc, tWriteState>;
    std::vector<tWriteFrame> frames;
    std::unordered_set<const Morv3DNodeDesc*> onPath;  // a node inside itself never ends

    CMorvChunk* pChunk = nullptr;
    HRESULT hr = WriteNode(root, m_file.GetRootChunk(), &pChunk);
    if (FAILED(hr)) {
        return hr;
    }
    onPath.insert(&root);
    return WalkTree(
        frames, tWriteFrame{&root, 0, S_OK, {pChunk}},
        [&](tWriteFrame& top, const Morv3DChildDesc* pChild, tWriteFrame& child) {
            if ((pChild->pNode != nullptr) == (pChild->pMesh != nullptr)) {
                top.hr = E_INVALIDARG;
            } else if (pChild->pMesh) {
                top.hr = WriteMesh(*pChild->pMesh, top.state.pChunk);
            } else if (onPath.count(pChild->pNode.get()) != 0) {
                top.hr = E_INVALIDARG;
            } else {
                top.hr = WriteNode(*pChild->pNode, top.state.pChunk, &child.state.pChunk);
                if (SUCCEEDED(top.hr)) {
                    onPath.insert(pChild->pNode.get());
                    child.pNode = pChild->pNode.get();
                    return EWalk::Descend;
                }
            }
            return EWalk::Skip;
        },
        [&](tWriteFrame& done, tWriteFrame* /*pParent*/) { onPath.erase(done.pNode); });
}

}  // namespace

Morv3DNodeDesc::~Morv3DNodeDesc() {
    // Children whose last owner is this tree are emptied one at a time from a work list, so
    // that each is released without descending into its own children.
    try {
        std::vector<std::shared_ptr<Morv3DNodeDesc>> pending;
        for (Morv3DChildDesc& child : children) {
            if (child.pNode) {
                pending.push_back(std::move(child.pNode));
            }
        }
        while (!pending.empty()) {
            std::shared_ptr<Morv3DNodeDesc> pNode = std::move(pending.back());
            pending.pop_back();
            if (pNode.use_count() == 1) {
                for (Morv3DChildDesc& child : pNode->children) {
                    if (child.pNode) {
                        pending.push_back(std::move(child.pNode));
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        // Whatever is left is released by the ordinary member destructors.
    }
}

std::shared_ptr<Morv3DNodeDesc> Morv3DNodeDesc::AddNode(const tstring& strChildName) {
    auto pNode = std::make_shared<Morv3DNodeDesc>();
    pNode->strName = strChildName;
    children.push_back({pNode, nullptr});
    return pNode;
}

std::shared_ptr<Morv3DMeshDesc> Morv3DNodeDesc::AddMesh() {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    children.push_back({nullptr, pMesh});
    return pMesh;
}

HRESULT WriteMorv3DScene(const tstring& strPath, const Morv3DSceneDesc& scene) {
    HRESULT hr = S_OK;
    bool bOpened = false;
    CMorvFile file;
    try {
        CSceneWriter writer(file);
        hr = file.Open(strPath, true);
        bOpened = SUCCEEDED(hr);
        if (SUCCEEDED(hr)) {
            hr = file.SetFileKind(MORV3D_FILE_KIND);
        }
        if (SUCCEEDED(hr)) {
            hr = file.BeginWrite();
        }
        if (SUCCEEDED(hr) && scene.bWriteMaterials && !scene.bMaterialsAfterObjects) {
            hr = writer.WriteMaterials(scene.materials);
        }
        if (SUCCEEDED(hr) && scene.pRoot) {
            hr = writer.WriteHierarchy(*scene.pRoot);
        }
        if (SUCCEEDED(hr) && scene.bWriteMaterials && scene.bMaterialsAfterObjects) {
            hr = writer.WriteMaterials(scene.materials);
        }
        if (SUCCEEDED(hr)) {
            hr = file.EndWrite();
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr) && bOpened) {
        // Not a scene: nothing half-written stays behind under the scene's name.
        file.Close();
        ::unlink(strPath.c_str());
    }
    return REPORTED(hr);
}

void ChainRotationBlocks(std::vector<RotationKey>& keys) {
    for (size_t i = 1; i < keys.size(); ++i) {
        const RotationKey& previous = keys[i - 1];
        float(&block)[3][4] = keys[i].afBlock;
        if (i == 1) {
            std::memcpy(block, previous.afBlock, sizeof(block));
            continue;
        }
        // What the evaluation shows at the previous key's time.
        Matrix4 turn;
        AxisAngleMatrix(previous.vAxis, -previous.fAngle, turn);
        Matrix4 turned = Matrix4::Identity();
        Rotate3x3Block(turned, previous.afBlock, turn);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                block[r][c] = turned.m[r][c];
            }
        }
    }
}
