#include "render/geometrycache.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t kMergeMaxVertices = 256;
constexpr uint32_t kMergeMinInstances = 8;
constexpr int kMergedFloats = 9;  // position, normal, texture coordinates, highlight

bool MorphsOwnVertices(const CQVR3DMesh* pMesh) {
    return pMesh->pGeometry->morphKeys.size() >= 2 && pMesh->pVertices != nullptr &&
           pMesh->pVertices != pMesh->pGeometry->pVertices;
}

uint64_t Fnv(uint64_t h, const void* p, size_t n) {
    const uint8_t* pBytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) {
        h = (h ^ pBytes[i]) * 1099511628211ull;
    }
    return h;
}

// Up to 64 records spread over an array.
uint64_t FnvSampled(uint64_t h, const void* p, size_t nCount, size_t nSize) {
    const size_t nStep = std::max<size_t>(1, nCount / 64);
    for (size_t i = 0; i < nCount; i += nStep) {
        h = Fnv(h, static_cast<const uint8_t*>(p) + i * nSize, nSize);
    }
    return h;
}

// What a draw of the mesh reads: vertices, indices, groups and map bindings. The arrays are
// sampled (hashing every byte cost more than the rest of the upload): meshes whose samples
// agree are compared whole.
uint64_t ContentHash(const CQVR3DMesh* pMesh) {
    const CQVR3DMeshData& g = *pMesh->pGeometry;
    uint64_t h = 14695981039346656037ull;
    h = Fnv(h, &g.dwVertexCount, sizeof(g.dwVertexCount));
    h = Fnv(h, &g.dwIndexCount, sizeof(g.dwIndexCount));
    if (g.pVertices != nullptr) {
        h = FnvSampled(h, g.pVertices, g.dwVertexCount, sizeof(Vertex));
    }
    if (g.IndexBuffer() != nullptr) {
        h = FnvSampled(h, g.IndexBuffer(), g.dwIndexCount, sizeof(uint16_t));
    }
    h = Fnv(h, g.groups.data(), g.groups.size() * sizeof(MeshGroup));
    if (pMesh->pMaps != nullptr) {
        for (const SceneVector<MapBinding>& maps : pMesh->pMaps->groupMaps) {
            h = Fnv(h, maps.data(), maps.size() * sizeof(MapBinding));
            h = Fnv(h, "|", 1);
        }
    }
    return h;
}

bool SameBytes(const void* p, const void* q, size_t n) {
    return n == 0 || (p != nullptr && q != nullptr && std::memcmp(p, q, n) == 0);
}

bool SameMaps(const CQVR3DMesh* a, const CQVR3DMesh* b) {
    if ((a->pMaps == nullptr) != (b->pMaps == nullptr)) {
        return false;
    }
    if (a->pMaps == nullptr) {
        return true;
    }
    const auto& ma = a->pMaps->groupMaps;
    const auto& mb = b->pMaps->groupMaps;
    if (ma.size() != mb.size()) {
        return false;
    }
    for (size_t i = 0; i < ma.size(); ++i) {
        if (ma[i].size() != mb[i].size() ||
            !SameBytes(ma[i].data(), mb[i].data(), ma[i].size() * sizeof(MapBinding))) {
            return false;
        }
    }
    return true;
}

bool SameContent(const CQVR3DMesh* a, const CQVR3DMesh* b) {
    const CQVR3DMeshData& ga = *a->pGeometry;
    const CQVR3DMeshData& gb = *b->pGeometry;
    return ga.dwVertexCount == gb.dwVertexCount && ga.dwIndexCount == gb.dwIndexCount &&
           (ga.pVertices == nullptr) == (gb.pVertices == nullptr) &&
           (ga.IndexBuffer() == nullptr) == (gb.IndexBuffer() == nullptr) &&
           ga.groups.size() == gb.groups.size() &&
           SameBytes(ga.pVertices, gb.pVertices, ga.dwVertexCount * sizeof(Vertex)) &&
           SameBytes(ga.IndexBuffer(), gb.IndexBuffer(), ga.dwIndexCount * sizeof(uint16_t)) &&
           SameBytes(ga.groups.data(), gb.groups.data(), ga.groups.size() * sizeof(MeshGroup)) &&
           SameMaps(a, b);
}

// A group is drawn only when every index it reads names a vertex.
std::vector<bool> DrawableGroups(const CQVR3DMeshData& geometry, const Vertex* pVertices) {
    const uint16_t* pIndices = geometry.IndexBuffer();
    std::vector<bool> drawable(geometry.groups.size(), false);
    for (size_t g = 0; g < geometry.groups.size(); ++g) {
        const MeshGroup& group = geometry.groups[g];
        if (pIndices == nullptr || pVertices == nullptr ||
            static_cast<uint64_t>(group.dwFirstIndex) + group.dwIndexCount >
                geometry.dwIndexCount) {
            continue;
        }
        uint32_t dwLargest = 0;
        for (uint32_t i = 0; i < group.dwIndexCount; ++i) {
            dwLargest = std::max<uint32_t>(dwLargest, pIndices[group.dwFirstIndex + i]);
        }
        drawable[g] =
            static_cast<uint64_t>(group.dwBaseVertex) + dwLargest < geometry.dwVertexCount;
    }
    return drawable;
}

void* Offset(size_t n) {
    return reinterpret_cast<void*>(n);
}

// An attribute array: its location, float count and byte offset in a record of the buffer.
struct tAttribute {
    GLuint location;
    GLint nFloats;
    size_t nOffset;
};

// The three record layouts the mesh program reads: a mesh's own vertices, a merged batch's
// vertices in scene space with the highlight, and the instances' matrix rows with it.
constexpr tAttribute kVertexLayout[] = {{0, 3, offsetof(Vertex, vPosition)},
                                        {1, 3, offsetof(Vertex, vNormal)},
                                        {2, 2, offsetof(Vertex, fU)}};
constexpr tAttribute kMergedLayout[] = {
    {0, 3, 0}, {1, 3, 3 * sizeof(float)}, {2, 2, 6 * sizeof(float)}, {7, 1, 8 * sizeof(float)}};
constexpr tAttribute kInstanceLayout[] = {{3, 4, 0},
                                          {4, 4, 4 * sizeof(float)},
                                          {5, 4, 8 * sizeof(float)},
                                          {6, 4, 12 * sizeof(float)},
                                          {7, 1, 16 * sizeof(float)}};

// Points the layout's attributes of the bound vertex array at records of nStride bytes from
// byte nFirst of the buffer bound to GL_ARRAY_BUFFER.
template <size_t N>
void PointAttributes(const tAttribute (&layout)[N], size_t nStride, size_t nFirst) {
    for (const tAttribute& a : layout) {
        glVertexAttribPointer(a.location, a.nFloats, GL_FLOAT, GL_FALSE,
                              static_cast<GLsizei>(nStride), Offset(nFirst + a.nOffset));
    }
}

}  // namespace

void CGeometryCache::Create() {
    if (m_instanceVbo == 0) {
        glGenBuffers(1, &m_instanceVbo);
    }
}

void CGeometryCache::Free(bool bAll) {
    for (tBuffers& b : m_buffers) {
        glDeleteVertexArrays(1, &b.vao);
        glDeleteBuffers(1, &b.vbo);
        glDeleteBuffers(1, &b.ibo);
        if (b.lineIbo != 0) {
            glDeleteBuffers(1, &b.lineIbo);
        }
    }
    for (tMerged& m : m_merged) {
        if (m.vao != 0) {
            glDeleteVertexArrays(1, &m.vao);
            glDeleteBuffers(1, &m.vbo);
            glDeleteBuffers(1, &m.ibo);
        }
    }
    m_buffers.clear();
    m_merged.clear();
    m_entries.clear();
    m_entryOf.clear();
    m_entryOfContent.clear();
    m_lastFrame.clear();
    if (bAll && m_instanceVbo != 0) {
        glDeleteBuffers(1, &m_instanceVbo);
        m_instanceVbo = 0;
    }
}

void CGeometryCache::EntriesFor(const std::vector<DrawItem>& items,
                                std::vector<uint32_t>& itemEntry) {
    itemEntry.resize(items.size());
    m_lastFrame.resize(items.size(), {nullptr, 0});
    for (size_t i = 0; i < items.size(); ++i) {
        const CQVR3DMesh* pMesh = items[i].pMesh;
        if (pMesh->pGeometry == nullptr) {
            itemEntry[i] = kNoEntry;
        } else if (m_lastFrame[i].first == pMesh) {
            itemEntry[i] = m_lastFrame[i].second;
        } else {
            itemEntry[i] = Make(pMesh);
            m_lastFrame[i] = {pMesh, itemEntry[i]};
        }
    }
}

uint32_t CGeometryCache::Make(const CQVR3DMesh* pMesh) {
    const bool bOwn = MorphsOwnVertices(pMesh);
    const void* pKey = bOwn ? static_cast<const void*>(pMesh) : pMesh->pGeometry;
    const auto found = m_entryOf.find(pKey);
    if (found != m_entryOf.end()) {
        return found->second;
    }
    uint64_t qwContent = 0;
    if (!bOwn) {
        qwContent = ContentHash(pMesh);
        const auto range = m_entryOfContent.equal_range(qwContent);
        for (auto it = range.first; it != range.second; ++it) {
            if (SameContent(pMesh, m_entries[it->second].pFirst)) {
                m_entryOf.emplace(pKey, it->second);
                return it->second;
            }
        }
    }
    CQVR3DMeshData& geometry = *pMesh->pGeometry;
    const Vertex* pVertices = bOwn ? pMesh->pVertices : geometry.pVertices;
    GeometryEntry entry;
    entry.pGeometry = &geometry;
    entry.pOwner = bOwn ? pMesh : nullptr;
    entry.pFirst = pMesh;
    entry.groupDrawable = DrawableGroups(geometry, pVertices);

    tBuffers b;
    glGenVertexArrays(1, &b.vao);
    glGenBuffers(1, &b.vbo);
    glGenBuffers(1, &b.ibo);
    glBindVertexArray(b.vao);
    glBindBuffer(GL_ARRAY_BUFFER, b.vbo);
    const size_t nVertexBytes =
        pVertices != nullptr ? static_cast<size_t>(geometry.dwVertexCount) * sizeof(Vertex) : 0;
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(nVertexBytes), pVertices,
                 bOwn ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    b.dwUploadedTime = pMesh->dwAppliedTime;
    for (const tAttribute& a : kVertexLayout) {
        glEnableVertexAttribArray(a.location);
    }
    for (const tAttribute& a : kInstanceLayout) {
        glEnableVertexAttribArray(a.location);
        glVertexAttribDivisor(a.location, 1);
    }
    const uint16_t* pIndices = geometry.IndexBuffer();
    const size_t nIndexBytes =
        pIndices != nullptr ? static_cast<size_t>(geometry.dwIndexCount) * sizeof(uint16_t) : 0;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.ibo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(nIndexBytes), pIndices,
                 GL_STATIC_DRAW);
    glBindVertexArray(0);

    m_entries.push_back(std::move(entry));
    m_buffers.push_back(std::move(b));
    const uint32_t dwIndex = static_cast<uint32_t>(m_entries.size() - 1);
    m_entryOf.emplace(pKey, dwIndex);
    if (!bOwn) {
        m_entryOfContent.emplace(qwContent, dwIndex);
    }
    return dwIndex;
}

void CGeometryCache::Bind(uint32_t dwEntry, uint32_t dwBaseVertex, uint32_t dwFirstInstance) {
    tBuffers& b = m_buffers[dwEntry];
    glBindVertexArray(b.vao);
    if (b.dwBoundBase != dwBaseVertex) {
        glBindBuffer(GL_ARRAY_BUFFER, b.vbo);
        PointAttributes(kVertexLayout, sizeof(Vertex),
                        static_cast<size_t>(dwBaseVertex) * sizeof(Vertex));
        b.dwBoundBase = dwBaseVertex;
    }
    if (b.dwBoundInstance != dwFirstInstance) {
        const size_t nStride = kInstanceFloats * sizeof(float);
        glBindBuffer(GL_ARRAY_BUFFER, m_instanceVbo);
        PointAttributes(kInstanceLayout, nStride, static_cast<size_t>(dwFirstInstance) * nStride);
        b.dwBoundInstance = dwFirstInstance;
    }
}

void CGeometryCache::Upload(const DrawList& list) {
    glBindBuffer(GL_ARRAY_BUFFER, m_instanceVbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.instances.size() * sizeof(float)),
                 list.instances.data(), GL_STREAM_DRAW);
    m_merged.resize(m_entries.size());
    for (uint32_t e = 0; e < m_entries.size(); ++e) {
        const uint32_t dwCount = list.batchCount[e];
        // A morphing mesh's buffer follows its applied time.
        const CQVR3DMesh* pOwner = m_entries[e].pOwner;
        tBuffers& b = m_buffers[e];
        if (dwCount != 0 && pOwner != nullptr && b.dwUploadedTime != pOwner->dwAppliedTime) {
            glBindBuffer(GL_ARRAY_BUFFER, b.vbo);
            glBufferSubData(GL_ARRAY_BUFFER, 0,
                            static_cast<GLsizeiptr>(m_entries[e].pGeometry->dwVertexCount) *
                                static_cast<GLsizeiptr>(sizeof(Vertex)),
                            pOwner->pVertices);
            b.dwUploadedTime = pOwner->dwAppliedTime;
        }
        m_merged[e].bCurrent = Mergeable(e, dwCount);
        if (m_merged[e].bCurrent) {
            UploadMerged(e, list.batchFirst[e], dwCount, list.instances);
        }
    }
}

bool CGeometryCache::Mergeable(uint32_t dwEntry, uint32_t dwInstances) const {
    const GeometryEntry& entry = m_entries[dwEntry];
    return entry.pOwner == nullptr && dwInstances >= kMergeMinInstances &&
           entry.pGeometry->dwVertexCount <= kMergeMaxVertices &&
           static_cast<uint64_t>(entry.pGeometry->dwVertexCount) * dwInstances < UINT32_MAX &&
           static_cast<uint64_t>(entry.pGeometry->dwIndexCount) * dwInstances < UINT32_MAX / 4;
}

// The batch's vertices in scene space, from the instances' matrices; the index buffer anew
// only when the number of instances changed.
void CGeometryCache::UploadMerged(uint32_t dwEntry, uint32_t dwFirst, uint32_t dwInstances,
                                  const std::vector<float>& instances) {
    tMerged& m = m_merged[dwEntry];
    const GeometryEntry& entry = m_entries[dwEntry];
    const CQVR3DMeshData& geometry = *entry.pGeometry;
    const uint32_t dwVertices = geometry.dwVertexCount;
    if (m.vao == 0) {
        glGenVertexArrays(1, &m.vao);
        glGenBuffers(1, &m.vbo);
        glGenBuffers(1, &m.ibo);
        glBindVertexArray(m.vao);
        glBindBuffer(GL_ARRAY_BUFFER, m.vbo);
        for (const tAttribute& a : kMergedLayout) {
            glEnableVertexAttribArray(a.location);
        }
        PointAttributes(kMergedLayout, kMergedFloats * sizeof(float), 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m.ibo);
        glBindVertexArray(0);
    }
    if (m.dwInstances != dwInstances) {
        std::vector<uint32_t> indices;
        indices.reserve(static_cast<size_t>(geometry.dwIndexCount) * dwInstances);
        m.groupFirst.assign(geometry.groups.size(), 0);
        const uint16_t* pIndices = geometry.IndexBuffer();
        for (size_t g = 0; g < geometry.groups.size(); ++g) {
            m.groupFirst[g] = static_cast<uint32_t>(indices.size());
            if (!entry.groupDrawable[g]) {
                continue;
            }
            const MeshGroup& group = geometry.groups[g];
            const uint32_t dwCount = group.dwIndexCount / 3 * 3;
            for (uint32_t k = 0; k < dwInstances; ++k) {
                for (uint32_t i = 0; i < dwCount; ++i) {
                    indices.push_back(k * dwVertices + group.dwBaseVertex +
                                      pIndices[group.dwFirstIndex + i]);
                }
            }
        }
        glBindVertexArray(m.vao);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m.ibo);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                     static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)), indices.data(),
                     GL_STATIC_DRAW);
        glBindVertexArray(0);
        m.dwInstances = dwInstances;
    }
    m.dwFirst = dwFirst;
    m.vertices.resize(static_cast<size_t>(dwVertices) * dwInstances * kMergedFloats);
    float* pOut = m.vertices.data();
    for (uint32_t k = 0; k < dwInstances; ++k) {
        const float* w = &instances[static_cast<size_t>(dwFirst + k) * kInstanceFloats];
        // Normals go through the cofactors: the rows' cross products.
        const float c[3][3] = {
            {w[5] * w[10] - w[6] * w[9], w[6] * w[8] - w[4] * w[10], w[4] * w[9] - w[5] * w[8]},
            {w[9] * w[2] - w[10] * w[1], w[10] * w[0] - w[8] * w[2], w[8] * w[1] - w[9] * w[0]},
            {w[1] * w[6] - w[2] * w[5], w[2] * w[4] - w[0] * w[6], w[0] * w[5] - w[1] * w[4]}};
        for (uint32_t v = 0; v < dwVertices; ++v) {
            const Vertex& in = geometry.pVertices[v];
            const float x = in.vPosition.x, y = in.vPosition.y, z = in.vPosition.z;
            const float nx = in.vNormal.x, ny = in.vNormal.y, nz = in.vNormal.z;
            for (int a = 0; a < 3; ++a) {
                pOut[a] = x * w[a] + y * w[4 + a] + z * w[8 + a] + w[12 + a];
                pOut[3 + a] = nx * c[0][a] + ny * c[1][a] + nz * c[2][a];
            }
            pOut[6] = in.fU;
            pOut[7] = in.fV;
            pOut[8] = w[16];
            pOut += kMergedFloats;
        }
    }
    glBindBuffer(GL_ARRAY_BUFFER, m.vbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m.vertices.size() * sizeof(float)),
                 m.vertices.data(), GL_STREAM_DRAW);
}

void CGeometryCache::DrawTriangles(const DrawCall& call) {
    const MeshGroup& group = m_entries[call.dwEntry].pGeometry->groups[call.dwGroup];
    const GLsizei nCount = static_cast<GLsizei>(group.dwIndexCount / 3 * 3);
    const tMerged* pMerged = call.dwEntry < m_merged.size() ? &m_merged[call.dwEntry] : nullptr;
    if (pMerged != nullptr && pMerged->bCurrent && pMerged->dwFirst == call.dwFirstInstance &&
        pMerged->dwInstances == call.dwInstances) {
        glBindVertexArray(pMerged->vao);
        // The instance rows are no arrays here: the identity as constant attributes.
        for (int r = 0; r < 4; ++r) {
            glVertexAttrib4f(3 + r, r == 0, r == 1, r == 2, r == 3);
        }
        DrawSlices(GL_UNSIGNED_INT, sizeof(uint32_t), pMerged->groupFirst[call.dwGroup],
                   static_cast<uint64_t>(nCount) * call.dwInstances, 1);
        return;
    }
    if (call.dwInstances == 0) {
        return;
    }
    // Runs of instances within the budget, one instance at least.
    const uint32_t dwTriangles = static_cast<uint32_t>(nCount) / 3;
    const uint32_t dwRun = m_dwBudget == 0 || dwTriangles == 0
                               ? call.dwInstances
                               : std::clamp(m_dwBudget / dwTriangles, 1u, call.dwInstances);
    for (uint32_t f = 0; f < call.dwInstances; f += dwRun) {
        Bind(call.dwEntry, group.dwBaseVertex, call.dwFirstInstance + f);
        DrawSlices(GL_UNSIGNED_SHORT, sizeof(uint16_t), group.dwFirstIndex,
                   static_cast<uint64_t>(nCount), std::min(dwRun, call.dwInstances - f));
    }
}

// A single instance larger than the budget goes in slices of its triangles; the order of the
// triangles stays, and with it the picture.
void CGeometryCache::DrawSlices(GLenum type, size_t nIndexSize, size_t nFirst, uint64_t qwIndices,
                                uint32_t dwInstances) {
    const uint64_t qwSlice =
        m_dwBudget == 0 || dwInstances > 1 ? qwIndices : uint64_t{m_dwBudget} * 3;
    for (uint64_t o = 0; o < qwIndices; o += qwSlice) {
        const uint64_t qwCount = std::min(qwSlice, qwIndices - o);
        glDrawElementsInstanced(GL_TRIANGLES, static_cast<GLsizei>(qwCount), type,
                                Offset((nFirst + o) * nIndexSize),
                                static_cast<GLsizei>(dwInstances));
        if (m_dwBudget != 0) {
            m_qwSinceFinish += qwCount / 3 * dwInstances;
            if (m_qwSinceFinish >= m_dwBudget) {
                glFinish();
                m_qwSinceFinish = 0;
            }
        }
    }
}

// Each edge of the entry's drawable groups once, its base vertex added.
void CGeometryCache::MakeLines(uint32_t dwEntry) {
    tBuffers& b = m_buffers[dwEntry];
    const GeometryEntry& entry = m_entries[dwEntry];
    const CQVR3DMeshData& geometry = *entry.pGeometry;
    const uint16_t* pIndices = geometry.IndexBuffer();
    std::vector<uint32_t> lines;
    std::vector<uint64_t> edges;
    b.lineFirst.assign(geometry.groups.size(), 0);
    b.lineCount.assign(geometry.groups.size(), 0);
    for (size_t g = 0; g < geometry.groups.size(); ++g) {
        b.lineFirst[g] = static_cast<uint32_t>(lines.size());
        if (!entry.groupDrawable[g]) {
            continue;
        }
        const MeshGroup& group = geometry.groups[g];
        edges.clear();
        for (uint32_t t = 0; t + 3 <= group.dwIndexCount; t += 3) {
            for (int k = 0; k < 3; ++k) {
                const uint32_t a = group.dwBaseVertex + pIndices[group.dwFirstIndex + t + k];
                const uint32_t c =
                    group.dwBaseVertex + pIndices[group.dwFirstIndex + t + (k + 1) % 3];
                edges.push_back(uint64_t{std::min(a, c)} << 32 | std::max(a, c));
            }
        }
        std::sort(edges.begin(), edges.end());
        edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
        for (uint64_t qwEdge : edges) {
            lines.push_back(static_cast<uint32_t>(qwEdge >> 32));
            lines.push_back(static_cast<uint32_t>(qwEdge));
        }
        b.lineCount[g] = static_cast<uint32_t>(lines.size()) - b.lineFirst[g];
    }
    // Uploaded through the vao: WebGL binds an index buffer to no other target, ever.
    glGenBuffers(1, &b.lineIbo);
    glBindVertexArray(b.vao);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.lineIbo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(lines.size() * sizeof(uint32_t)),
                 lines.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.ibo);
}

void CGeometryCache::DrawEdges(const DrawCall& call) {
    tBuffers& b = m_buffers[call.dwEntry];
    if (b.lineIbo == 0) {
        MakeLines(call.dwEntry);
    }
    Bind(call.dwEntry, 0, call.dwFirstInstance);
    // The vao's element buffer is its triangles': lent to the lines for the call.
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.lineIbo);
    glDrawElementsInstanced(
        GL_LINES, static_cast<GLsizei>(b.lineCount[call.dwGroup]), GL_UNSIGNED_INT,
        Offset(static_cast<size_t>(b.lineFirst[call.dwGroup]) * sizeof(uint32_t)),
        static_cast<GLsizei>(call.dwInstances));
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.ibo);
}
