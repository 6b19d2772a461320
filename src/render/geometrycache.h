// Vertices and indices on the GPU: one entry per shared geometry (geometries of the same
// content share one, so that their meshes are drawn together), one per morphing mesh. Many
// instances of a small geometry are merged into one buffer of vertices transformed on the
// processor: a software rasteriser pays per instance, and so does a draw call.
//
// Only calls OpenGL ES 3.0 has: no base vertex (a group's vertices are bound at its base
// instead), no client-side arrays.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "render/drawlist.h"
#include "render/glapi.h"

class CGeometryCache {
public:
    ~CGeometryCache() { Free(); }

    // Makes the instance buffer: the first call needs a current context.
    void Create();
    // Frees the scene's buffers; bAll the instance buffer too. Nothing is called on GL when
    // nothing was made.
    void Free(bool bAll = false);

    // The entry of each item's mesh, made and uploaded on first sight (kNoEntry: no geometry).
    // The items come in the same order frame after frame: last frame's answers come first.
    void EntriesFor(const std::vector<DrawItem>& items, std::vector<uint32_t>& itemEntry);
    const std::vector<GeometryEntry>& Entries() const { return m_entries; }

    // The frame's instances, morphing meshes whose time changed, and the merged buffers.
    void Upload(const DrawList& list);

    // At most dwTriangles triangles reach the driver before it is made to finish them (0: no
    // bound). A software rasteriser keeps every triangle it was given until it draws them.
    void SetTriangleBudget(uint32_t dwTriangles) { m_dwBudget = dwTriangles; }
    // Draws face group g of an entry for a run of instances (merged where it was uploaded so).
    void DrawTriangles(const DrawCall& call);
    // The group's triangle edges as lines, each edge once.
    void DrawEdges(const DrawCall& call);
    void Unbind() { glBindVertexArray(0); }

private:
    struct tBuffers {
        GLuint vao = 0;
        GLuint vbo = 0;
        GLuint ibo = 0;
        uint32_t dwUploadedTime = 0;
        uint32_t dwBoundBase = UINT32_MAX;  // attribute state of the vao
        uint32_t dwBoundInstance = UINT32_MAX;
        // The edges: made on first use, base vertices added, 32-bit.
        GLuint lineIbo = 0;
        std::vector<uint32_t> lineFirst;
        std::vector<uint32_t> lineCount;
    };
    struct tMerged {
        GLuint vao = 0;
        GLuint vbo = 0;
        GLuint ibo = 0;
        uint32_t dwInstances = 0;          // the index buffer is made for this many
        uint32_t dwFirst = 0;              // the instances it holds this frame
        std::vector<uint32_t> groupFirst;  // first index of each group's run, in the buffer
        std::vector<float> vertices;
        bool bCurrent = false;  // uploaded this frame
    };

    uint32_t Make(const CQVR3DMesh* pMesh);
    void Bind(uint32_t dwEntry, uint32_t dwBaseVertex, uint32_t dwFirstInstance);
    bool Mergeable(uint32_t dwEntry, uint32_t dwInstances) const;
    void UploadMerged(uint32_t dwEntry, uint32_t dwFirst, uint32_t dwInstances,
                      const std::vector<float>& instances);
    void MakeLines(uint32_t dwEntry);
    void DrawSlices(GLenum type, size_t nIndexSize, size_t nFirst, uint64_t qwIndices,
                    uint32_t dwInstances);

    GLuint m_instanceVbo = 0;
    uint32_t m_dwBudget = 0;
    uint64_t m_qwSinceFinish = 0;
    std::vector<GeometryEntry> m_entries;
    std::vector<tBuffers> m_buffers;
    std::vector<tMerged> m_merged;
    std::unordered_map<const void*, uint32_t> m_entryOf;  // geometry or morphing mesh
    std::unordered_multimap<uint64_t, uint32_t> m_entryOfContent;
    std::vector<std::pair<const CQVR3DMesh*, uint32_t>> m_lastFrame;
};
