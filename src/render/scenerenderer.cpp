#include "render/scenerenderer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "engine/3dobjects/axes.h"
#include "fileformats/morv3d/morv3dformat.h"
#include "render/glfault.h"
#include "render/shaders.h"

namespace {

constexpr int kInstanceFloats = 17;  // four matrix rows and the highlight flag
constexpr size_t kMaxNormalLines = 1u << 20;

GLMatrix Multiply(const GLMatrix& a, const GLMatrix& b) {
    GLMatrix r{};
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            double d = 0;
            for (int k = 0; k < 4; ++k) {
                d += static_cast<double>(a[k * 4 + row]) * b[c * 4 + k];
            }
            r[c * 4 + row] = static_cast<float>(d);
        }
    }
    return r;
}

// A row-vector Matrix4 stored row by row is the column-major matrix for column vectors.
GLMatrix ToGL(const Matrix4& m) {
    GLMatrix r;
    std::memcpy(r.data(), &m.m[0][0], sizeof(r));
    return r;
}

GLuint Compile(GLenum type, const char* pszSource, std::string& strError) {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &pszSource, nullptr);
    glCompileShader(shader);
    GLint nOk = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &nOk);
    if (!nOk) {
        char acLog[1024] = {};
        glGetShaderInfoLog(shader, sizeof(acLog), nullptr, acLog);
        strError = std::string("shader compilation failed: ") + acLog;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// The test faults: a vertex shader that does not compile; a fragment shader that calls a
// function nobody defines, which compiles but does not link.
constexpr const char* kBrokenVertexShader = "#version 330 core\nvoid main() { nothing = 1; }\n";
constexpr const char* kUnlinkableFragmentShader =
    "#version 330 core\nout vec4 c;\nvec4 Undefined();\nvoid main() { c = Undefined(); }\n";

GLuint Link(const char* pszVertex, const char* pszFragment, std::string& strError) {
    pszVertex = GlFaultAt("compile") ? kBrokenVertexShader : pszVertex;
    pszFragment = GlFaultAt("link") ? kUnlinkableFragmentShader : pszFragment;
    const GLuint vertex = Compile(GL_VERTEX_SHADER, pszVertex, strError);
    const GLuint fragment = vertex ? Compile(GL_FRAGMENT_SHADER, pszFragment, strError) : 0;
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint nOk = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &nOk);
    if (!nOk) {
        char acLog[1024] = {};
        glGetProgramInfoLog(program, sizeof(acLog), nullptr, acLog);
        strError = std::string("shader linking failed: ") + acLog;
        glDeleteProgram(program);
        program = 0;
    }
    return program;
}

// A checker in a colour of its own for every material, so that missing textures still tell
// the materials apart.
CImageRGBA Checker(uint32_t dwMaterial) {
    const float fHue = std::fmod(static_cast<float>(dwMaterial) * 0.618034f, 1.0f) * 6.0f;
    const float x = 1.0f - std::fabs(std::fmod(fHue, 2.0f) - 1.0f);
    float rgb[3] = {};
    const int nSector = static_cast<int>(fHue) % 6;
    const int aMajor[6] = {0, 1, 1, 2, 2, 0};
    const int aMinor[6] = {1, 0, 2, 1, 0, 2};
    rgb[aMajor[nSector]] = 1.0f;
    rgb[aMinor[nSector]] = x;
    CImageRGBA image;
    image.nWidth = image.nHeight = 8;
    image.pixels.resize(8 * 8 * 4);
    for (int y = 0; y < 8; ++y) {
        for (int x2 = 0; x2 < 8; ++x2) {
            const float fShade = ((x2 / 2 + y / 2) % 2) ? 0.9f : 0.45f;
            uint8_t* p = &image.pixels[(y * 8 + x2) * 4];
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<uint8_t>(std::lround((0.25f + 0.75f * rgb[c]) * fShade * 255));
            }
            p[3] = 255;
        }
    }
    return image;
}

GLuint UploadTexture(const CImageRGBA& image) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.nWidth, image.nHeight, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, image.pixels.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    return texture;
}

struct tLineVertex {
    float afPosition[3];
    float afColor[3];
};

}  // namespace

struct CSceneRenderer::tImpl {
    // Vertices and indices on the GPU: one per shared geometry, one per morphing mesh.
    struct tGpuMesh {
        GLuint vao = 0;
        GLuint vbo = 0;
        GLuint ibo = 0;
        CQVR3DMeshData* pGeometry = nullptr;
        const CQVR3DMesh* pOwner = nullptr;  // a morphing mesh's own buffer
        const CQVR3DMesh* pFirst = nullptr;  // the mesh it was made for: its maps are used
        uint32_t dwUploadedTime = 0;
        bool bUploaded = false;
        std::vector<bool> groupDrawable;  // indices and base vertex stay inside the buffers
    };

    // Many instances of a small geometry are drawn from one buffer of vertices transformed on
    // the processor: a software rasteriser pays per instance, and so does a draw call.
    struct tMerged {
        GLuint vao = 0;
        GLuint vbo = 0;
        GLuint ibo = 0;
        uint32_t dwInstances = 0;          // the index buffer is made for this many
        std::vector<uint32_t> groupFirst;  // first index of each group's run, in the buffer
        std::vector<float> vertices;
    };
    static constexpr uint32_t kMergeMaxVertices = 256;
    static constexpr uint32_t kMergeMinInstances = 8;
    static constexpr int kMergedFloats = 9;  // position, normal, texture coordinates, highlight

    GLuint meshProgram = 0;
    GLint uViewAxes = -1, uProjection = -1, uFlat = -1, uColor = -1, uTexture = -1;
    GLuint lineProgram = 0;
    GLint uLineTransform = -1;
    GLuint instanceVbo = 0;
    GLuint lineVao = 0, lineVbo = 0;
    GLuint whiteTexture = 0;

    const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials = nullptr;
    CQVR3DObject* pRoot = nullptr;
    std::string strSceneDir;

    std::vector<tGpuMesh> gpuMeshes;
    std::unordered_map<const void*, uint32_t> gpuOf;  // geometry or morphing mesh -> entry
    // Geometries of the same content (a file repeats a part once per node) share an entry,
    // so that their meshes are drawn together.
    std::unordered_multimap<uint64_t, uint32_t> gpuOfContent;
    std::vector<std::pair<const CQVR3DMesh*, uint32_t>> itemGpuCache;  // last frame's answers
    std::map<std::pair<uint32_t, uint32_t>, GLuint> textures;          // (material, map)

    // Per frame.
    std::vector<uint32_t> itemGpu;     // gpu mesh of each item
    std::vector<uint32_t> batchStart;  // first instance of each gpu mesh's batch
    std::vector<uint32_t> batchCount;
    std::vector<uint32_t> itemInstance;  // instance slot of each item
    std::vector<float> instances;
    std::vector<tLineVertex> lines;
    std::vector<tMerged> merged;  // per GPU mesh; vao 0 where it is drawn instanced

    ~tImpl() {
        FreeScene();
        FreePrograms();
    }

    // Without a program nothing was ever made, and no context need be current.
    void FreeScene() {
        for (tGpuMesh& gpu : gpuMeshes) {
            glDeleteVertexArrays(1, &gpu.vao);
            glDeleteBuffers(1, &gpu.vbo);
            glDeleteBuffers(1, &gpu.ibo);
        }
        gpuMeshes.clear();
        for (tMerged& m : merged) {
            glDeleteVertexArrays(1, &m.vao);
            glDeleteBuffers(1, &m.vbo);
            glDeleteBuffers(1, &m.ibo);
        }
        merged.clear();
        gpuOf.clear();
        gpuOfContent.clear();
        itemGpuCache.clear();
        for (auto& entry : textures) {
            glDeleteTextures(1, &entry.second);
        }
        textures.clear();
    }

    void FreePrograms() {
        if (meshProgram == 0 && lineProgram == 0) {
            return;
        }
        glDeleteProgram(meshProgram);
        glDeleteProgram(lineProgram);
        glDeleteBuffers(1, &instanceVbo);
        glDeleteVertexArrays(1, &lineVao);
        glDeleteBuffers(1, &lineVbo);
        glDeleteTextures(1, &whiteTexture);
        meshProgram = lineProgram = instanceVbo = lineVao = lineVbo = whiteTexture = 0;
    }

    static bool MorphsOwnVertices(const CQVR3DMesh* pMesh) {
        return pMesh->pGeometry->morphKeys.size() >= 2 && pMesh->pVertices != nullptr &&
               pMesh->pVertices != pMesh->pGeometry->pVertices;
    }

    static uint64_t Fnv(uint64_t h, const void* p, size_t n) {
        const uint8_t* pBytes = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; ++i) {
            h = (h ^ pBytes[i]) * 1099511628211ull;
        }
        return h;
    }

    // What a draw of the mesh reads: vertices, indices, groups and map bindings.
    static uint64_t ContentHash(const CQVR3DMesh* pMesh) {
        const CQVR3DMeshData& g = *pMesh->pGeometry;
        uint64_t h = 14695981039346656037ull;
        h = Fnv(h, &g.dwVertexCount, sizeof(g.dwVertexCount));
        h = Fnv(h, &g.dwIndexCount, sizeof(g.dwIndexCount));
        if (g.pVertices != nullptr) {
            h = Fnv(h, g.pVertices, static_cast<size_t>(g.dwVertexCount) * sizeof(Vertex));
        }
        if (g.IndexBuffer() != nullptr) {
            h = Fnv(h, g.IndexBuffer(), static_cast<size_t>(g.dwIndexCount) * sizeof(uint16_t));
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

    static bool SameContent(const CQVR3DMesh* a, const CQVR3DMesh* b) {
        const CQVR3DMeshData& ga = *a->pGeometry;
        const CQVR3DMeshData& gb = *b->pGeometry;
        const auto same = [](const void* p, const void* q, size_t n) {
            return n == 0 || (p != nullptr && q != nullptr && std::memcmp(p, q, n) == 0);
        };
        const bool bMapsEqual =
            (a->pMaps == nullptr) == (b->pMaps == nullptr) && (a->pMaps == nullptr || [&] {
                const auto& ma = a->pMaps->groupMaps;
                const auto& mb = b->pMaps->groupMaps;
                if (ma.size() != mb.size()) {
                    return false;
                }
                for (size_t i = 0; i < ma.size(); ++i) {
                    if (ma[i].size() != mb[i].size() ||
                        !same(ma[i].data(), mb[i].data(), ma[i].size() * sizeof(MapBinding))) {
                        return false;
                    }
                }
                return true;
            }());
        return ga.dwVertexCount == gb.dwVertexCount && ga.dwIndexCount == gb.dwIndexCount &&
               (ga.pVertices == nullptr) == (gb.pVertices == nullptr) &&
               (ga.IndexBuffer() == nullptr) == (gb.IndexBuffer() == nullptr) &&
               ga.groups.size() == gb.groups.size() &&
               same(ga.pVertices, gb.pVertices, ga.dwVertexCount * sizeof(Vertex)) &&
               same(ga.IndexBuffer(), gb.IndexBuffer(), ga.dwIndexCount * sizeof(uint16_t)) &&
               same(ga.groups.data(), gb.groups.data(), ga.groups.size() * sizeof(MeshGroup)) &&
               bMapsEqual;
    }

    uint32_t GpuFor(const CQVR3DMesh* pMesh) {
        const bool bOwn = MorphsOwnVertices(pMesh);
        const void* pKey = bOwn ? static_cast<const void*>(pMesh) : pMesh->pGeometry;
        const auto found = gpuOf.find(pKey);
        if (found != gpuOf.end()) {
            return found->second;
        }
        uint64_t qwContent = 0;
        if (!bOwn) {
            qwContent = ContentHash(pMesh);
            const auto range = gpuOfContent.equal_range(qwContent);
            for (auto it = range.first; it != range.second; ++it) {
                if (SameContent(pMesh, gpuMeshes[it->second].pFirst)) {
                    gpuOf.emplace(pKey, it->second);
                    return it->second;
                }
            }
        }
        CQVR3DMeshData& geometry = *pMesh->pGeometry;
        tGpuMesh gpu;
        gpu.pGeometry = &geometry;
        gpu.pOwner = bOwn ? pMesh : nullptr;
        gpu.pFirst = pMesh;
        glGenVertexArrays(1, &gpu.vao);
        glGenBuffers(1, &gpu.vbo);
        glGenBuffers(1, &gpu.ibo);
        glBindVertexArray(gpu.vao);
        glBindBuffer(GL_ARRAY_BUFFER, gpu.vbo);
        const Vertex* pVertices = bOwn ? pMesh->pVertices : geometry.pVertices;
        const size_t nVertexBytes =
            pVertices != nullptr ? static_cast<size_t>(geometry.dwVertexCount) * sizeof(Vertex) : 0;
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(nVertexBytes), pVertices,
                     bOwn ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
        gpu.bUploaded = true;
        gpu.dwUploadedTime = pMesh->dwAppliedTime;
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                              reinterpret_cast<void*>(offsetof(Vertex, vNormal)));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                              reinterpret_cast<void*>(offsetof(Vertex, fU)));
        glBindBuffer(GL_ARRAY_BUFFER, instanceVbo);
        for (int r = 0; r < 5; ++r) {
            glEnableVertexAttribArray(3 + r);
            glVertexAttribDivisor(3 + r, 1);
        }
        const uint16_t* pIndices = geometry.IndexBuffer();
        const size_t nIndexBytes =
            pIndices != nullptr ? static_cast<size_t>(geometry.dwIndexCount) * sizeof(uint16_t) : 0;
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu.ibo);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(nIndexBytes), pIndices,
                     GL_STATIC_DRAW);
        glBindVertexArray(0);
        // A group is drawn only when every index it reads names a vertex.
        gpu.groupDrawable.assign(geometry.groups.size(), false);
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
            gpu.groupDrawable[g] =
                static_cast<uint64_t>(group.dwBaseVertex) + dwLargest < geometry.dwVertexCount &&
                group.dwBaseVertex <= static_cast<uint32_t>(INT32_MAX);
        }
        gpuMeshes.push_back(std::move(gpu));
        const uint32_t dwIndex = static_cast<uint32_t>(gpuMeshes.size() - 1);
        gpuOf.emplace(pKey, dwIndex);
        if (!bOwn) {
            gpuOfContent.emplace(qwContent, dwIndex);
        }
        return dwIndex;
    }

    // The texture of map j of material m, made on first use; a checker when it is missing.
    GLuint Texture(uint32_t dwMaterial, uint32_t dwMap, std::vector<MissingTexture>& missing) {
        const auto key = std::make_pair(dwMaterial, dwMap);
        const auto found = textures.find(key);
        if (found != textures.end()) {
            return found->second;
        }
        const std::string& strName = (*pMaterials)[dwMaterial][dwMap].strTexture;
        std::string strReason = "not found";
        CImageRGBA image;
        const std::string strPath = FindTextureFile(strSceneDir, strName);
        HRESULT hr = E_FAIL;
        if (!strPath.empty()) {
            hr = LoadImageFile(strPath, image, strReason);
        }
        if (FAILED(hr)) {
            image = Checker(dwMaterial);
            missing.push_back({dwMaterial, strName, strReason});
        }
        const GLuint texture = UploadTexture(image);
        textures.emplace(key, texture);
        return texture;
    }

    // The material of a face group (the viewer document numbers the handles), or none.
    bool GroupMaterial(const CQVR3DMesh* pMesh, size_t g, uint32_t& dwMaterial) const {
        if (pMesh->pMaps == nullptr || g >= pMesh->pMaps->groupMaps.size() ||
            pMesh->pMaps->groupMaps[g].empty() || pMaterials == nullptr) {
            return false;
        }
        const uint32_t dwHandle = pMesh->pMaps->groupMaps[g][0].dwTexture;
        if (dwHandle == 0 || dwHandle > pMaterials->size()) {
            return false;
        }
        dwMaterial = dwHandle - 1;
        return true;
    }

    bool Mergeable(size_t b, uint32_t dwInstances) const {
        const tGpuMesh& gpu = gpuMeshes[b];
        return gpu.pOwner == nullptr && dwInstances >= kMergeMinInstances &&
               gpu.pGeometry->dwVertexCount <= kMergeMaxVertices &&
               static_cast<uint64_t>(gpu.pGeometry->dwVertexCount) * dwInstances < UINT32_MAX &&
               static_cast<uint64_t>(gpu.pGeometry->dwIndexCount) * dwInstances < UINT32_MAX / 4;
    }

    // The batch's vertices in scene space, from the instances' matrices; the index buffer
    // anew only when the number of instances changed.
    void UploadMerged(size_t b, uint32_t dwFirst, uint32_t dwInstances) {
        if (merged.size() < gpuMeshes.size()) {
            merged.resize(gpuMeshes.size());
        }
        tMerged& m = merged[b];
        const CQVR3DMeshData& geometry = *gpuMeshes[b].pGeometry;
        const uint32_t dwVertices = geometry.dwVertexCount;
        if (m.vao == 0) {
            glGenVertexArrays(1, &m.vao);
            glGenBuffers(1, &m.vbo);
            glGenBuffers(1, &m.ibo);
            glBindVertexArray(m.vao);
            glBindBuffer(GL_ARRAY_BUFFER, m.vbo);
            const GLsizei nStride = kMergedFloats * sizeof(float);
            const int aSizes[4] = {3, 3, 2, 1};
            const int aLocations[4] = {0, 1, 2, 7};
            size_t nOffset = 0;
            for (int a = 0; a < 4; ++a) {
                glEnableVertexAttribArray(aLocations[a]);
                glVertexAttribPointer(aLocations[a], aSizes[a], GL_FLOAT, GL_FALSE, nStride,
                                      reinterpret_cast<void*>(nOffset * sizeof(float)));
                nOffset += aSizes[a];
            }
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
                if (!gpuMeshes[b].groupDrawable[g]) {
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

    // One batch's face groups: the merged buffer where there is one, instances otherwise.
    // bOpaqueOnly skips groups whose first map blends; bind(g) binds a group's texture.
    template <typename Bind>
    void DrawBatch(size_t b, bool bOpaqueOnly, const CQVR3DMesh* pFirst, uint32_t dwFirst,
                   uint32_t dwInstances, Bind&& bind) {
        const tGpuMesh& gpu = gpuMeshes[b];
        const bool bMerged = b < merged.size() && merged[b].vao != 0 &&
                             merged[b].dwInstances == dwInstances && Mergeable(b, dwInstances);
        if (bMerged) {
            glBindVertexArray(merged[b].vao);
            // The instance rows are not arrays here: the identity as constant attributes.
            for (int r = 0; r < 4; ++r) {
                glVertexAttrib4f(3 + r, r == 0, r == 1, r == 2, r == 3);
            }
        } else {
            glBindVertexArray(gpu.vao);
            glBindBuffer(GL_ARRAY_BUFFER, instanceVbo);
            BindInstances(dwFirst);
        }
        for (size_t g = 0; g < gpu.groupDrawable.size(); ++g) {
            if (!gpu.groupDrawable[g] ||
                (bOpaqueOnly && pFirst != nullptr && pFirst->pMaps != nullptr &&
                 g < pFirst->pMaps->groupMaps.size() && !pFirst->pMaps->groupMaps[g].empty() &&
                 (pFirst->pMaps->groupMaps[g][0].dwEffect & MORV3D_MAPEFFECT_ALPHA))) {
                continue;
            }
            bind(g);
            if (bMerged) {
                const MeshGroup& group = gpu.pGeometry->groups[g];
                glDrawElements(
                    GL_TRIANGLES, static_cast<GLsizei>(group.dwIndexCount / 3 * 3 * dwInstances),
                    GL_UNSIGNED_INT,
                    reinterpret_cast<void*>(static_cast<size_t>(merged[b].groupFirst[g]) *
                                            sizeof(uint32_t)));
            } else {
                DrawGroup(gpu, g, static_cast<GLsizei>(dwInstances));
            }
        }
    }

    void BindInstances(uint32_t dwFirst) {
        const size_t nStride = kInstanceFloats * sizeof(float);
        for (int r = 0; r < 4; ++r) {
            glVertexAttribPointer(
                3 + r, 4, GL_FLOAT, GL_FALSE, nStride,
                reinterpret_cast<void*>(dwFirst * nStride + r * 4 * sizeof(float)));
        }
        glVertexAttribPointer(7, 1, GL_FLOAT, GL_FALSE, nStride,
                              reinterpret_cast<void*>(dwFirst * nStride + 16 * sizeof(float)));
    }

    void DrawGroup(const tGpuMesh& gpu, size_t g, GLsizei nInstances) {
        const MeshGroup& group = gpu.pGeometry->groups[g];
        glDrawElementsInstancedBaseVertex(
            GL_TRIANGLES, static_cast<GLsizei>(group.dwIndexCount / 3 * 3), GL_UNSIGNED_SHORT,
            reinterpret_cast<void*>(static_cast<size_t>(group.dwFirstIndex) * sizeof(uint16_t)),
            nInstances, static_cast<GLint>(group.dwBaseVertex));
    }

    void DrawLines(const GLMatrix& transform) {
        if (lines.empty()) {
            return;
        }
        glUseProgram(lineProgram);
        glUniformMatrix4fv(uLineTransform, 1, GL_FALSE, transform.data());
        glBindVertexArray(lineVao);
        glBindBuffer(GL_ARRAY_BUFFER, lineVbo);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(lines.size() * sizeof(tLineVertex)),
                     lines.data(), GL_STREAM_DRAW);
        glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(lines.size()));
        glBindVertexArray(0);
        lines.clear();
    }

    void Line(const Vector3& a, const Vector3& b, float r, float g, float bl) {
        lines.push_back({{a.x, a.y, a.z}, {r, g, bl}});
        lines.push_back({{b.x, b.y, b.z}, {r, g, bl}});
    }
};

CSceneRenderer::CSceneRenderer() : m_pImpl(std::make_unique<tImpl>()) {}

CSceneRenderer::~CSceneRenderer() = default;

HRESULT CSceneRenderer::Initialize(std::string& strError) {
    tImpl& d = *m_pImpl;
    if (d.meshProgram != 0) {
        return S_OK;
    }
    if (epoxy_gl_version() < 33 || GlFaultAt("version")) {
        strError = "OpenGL 3.3 is needed; the context offers " +
                   std::to_string(epoxy_gl_version() / 10) + "." +
                   std::to_string(epoxy_gl_version() % 10);
        return E_FAIL;
    }
    d.meshProgram = Link(kMeshVertexShader, kMeshFragmentShader, strError);
    d.lineProgram = d.meshProgram ? Link(kLineVertexShader, kLineFragmentShader, strError) : 0;
    if (!d.lineProgram) {
        d.FreePrograms();
        return E_FAIL;
    }
    d.uViewAxes = glGetUniformLocation(d.meshProgram, "uViewAxes");
    d.uProjection = glGetUniformLocation(d.meshProgram, "uProjection");
    d.uFlat = glGetUniformLocation(d.meshProgram, "uFlat");
    d.uColor = glGetUniformLocation(d.meshProgram, "uColor");
    d.uTexture = glGetUniformLocation(d.meshProgram, "uTexture");
    d.uLineTransform = glGetUniformLocation(d.lineProgram, "uTransform");
    glGenBuffers(1, &d.instanceVbo);
    glGenVertexArrays(1, &d.lineVao);
    glGenBuffers(1, &d.lineVbo);
    glBindVertexArray(d.lineVao);
    glBindBuffer(GL_ARRAY_BUFFER, d.lineVbo);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(tLineVertex), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(tLineVertex),
                          reinterpret_cast<void*>(offsetof(tLineVertex, afColor)));
    glBindVertexArray(0);
    CImageRGBA white;
    white.nWidth = white.nHeight = 1;
    white.pixels = {255, 255, 255, 255};
    d.whiteTexture = UploadTexture(white);
    return S_OK;
}

void CSceneRenderer::SetScene(const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials,
                              CQVR3DObject* pRoot, const std::string& strSceneDir) {
    tImpl& d = *m_pImpl;
    d.FreeScene();
    d.pMaterials = pMaterials;
    d.pRoot = pRoot;
    d.strSceneDir = strSceneDir;
    m_items.clear();
    m_missing.clear();
}

HRESULT CSceneRenderer::Prepare() {
    return CollectDrawItems(m_pImpl->pRoot, m_items);
}

SceneBox CSceneRenderer::Bounds() const {
    return SceneBounds(m_items);
}

HRESULT CSceneRenderer::Upload(const RenderOptions& options) {
    tImpl& d = *m_pImpl;
    if (d.meshProgram == 0) {
        return E_UNEXPECTED;
    }
    // Errors left by others (the widget's toolkit) are not this frame's: read them away.
    for (int n = 0; n < 8 && glGetError() != GL_NO_ERROR; ++n) {
    }
    try {
        // Batches: the items of each GPU mesh side by side in the instance buffer. The items
        // come in the same order frame after frame: last frame's answers are checked first.
        const size_t nItems = m_items.size();
        d.itemGpu.resize(nItems);
        d.itemInstance.resize(nItems);
        d.itemGpuCache.resize(nItems, {nullptr, 0});
        for (size_t i = 0; i < nItems; ++i) {
            const CQVR3DMesh* pMesh = m_items[i].pMesh;
            if (pMesh->pGeometry == nullptr) {
                d.itemGpu[i] = UINT32_MAX;
            } else if (d.itemGpuCache[i].first == pMesh) {
                d.itemGpu[i] = d.itemGpuCache[i].second;
            } else {
                d.itemGpu[i] = d.GpuFor(pMesh);
                d.itemGpuCache[i] = {pMesh, d.itemGpu[i]};
            }
        }
        std::unordered_set<const CQVR3DMesh*> highlighted(options.highlighted.begin(),
                                                          options.highlighted.end());
        d.batchCount.assign(d.gpuMeshes.size(), 0);
        for (uint32_t dwGpu : d.itemGpu) {
            if (dwGpu != UINT32_MAX) {
                ++d.batchCount[dwGpu];
            }
        }
        d.batchStart.assign(d.gpuMeshes.size(), 0);
        uint32_t dwNext = 0;
        for (size_t b = 0; b < d.batchCount.size(); ++b) {
            d.batchStart[b] = dwNext;
            dwNext += d.batchCount[b];
        }
        d.instances.resize(static_cast<size_t>(dwNext) * kInstanceFloats);
        std::vector<uint32_t>& fill = d.batchCount;  // reused as the fill cursor
        std::fill(fill.begin(), fill.end(), 0);
        for (size_t i = 0; i < nItems; ++i) {
            const uint32_t dwGpu = d.itemGpu[i];
            if (dwGpu == UINT32_MAX) {
                continue;
            }
            const uint32_t dwSlot = d.batchStart[dwGpu] + fill[dwGpu]++;
            d.itemInstance[i] = dwSlot;
            float* p = &d.instances[static_cast<size_t>(dwSlot) * kInstanceFloats];
            std::memcpy(p, &m_items[i].world.m[0][0], 16 * sizeof(float));
            p[16] = highlighted.count(m_items[i].pMesh) != 0 ? 1.0f : 0.0f;
            // A morphing mesh's buffer follows its applied time.
            tImpl::tGpuMesh& gpu = d.gpuMeshes[dwGpu];
            if (gpu.pOwner != nullptr &&
                (!gpu.bUploaded || gpu.dwUploadedTime != gpu.pOwner->dwAppliedTime)) {
                glBindBuffer(GL_ARRAY_BUFFER, gpu.vbo);
                glBufferSubData(GL_ARRAY_BUFFER, 0,
                                static_cast<GLsizeiptr>(gpu.pGeometry->dwVertexCount) *
                                    static_cast<GLsizeiptr>(sizeof(Vertex)),
                                gpu.pOwner->pVertices);
                gpu.dwUploadedTime = gpu.pOwner->dwAppliedTime;
                gpu.bUploaded = true;
            }
        }
        glBindBuffer(GL_ARRAY_BUFFER, d.instanceVbo);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(d.instances.size() * sizeof(float)),
                     d.instances.data(), GL_STREAM_DRAW);
        for (size_t b = 0; b < d.gpuMeshes.size(); ++b) {
            if (d.Mergeable(b, fill[b])) {
                d.UploadMerged(b, d.batchStart[b], fill[b]);
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (GlFaultAt("upload")) {
        glBufferData(GL_ARRAY_BUFFER, -1, nullptr, GL_STREAM_DRAW);
    }
    // A buffer the driver could not make would draw nothing: the frame is not drawn.
    const GLenum error = glGetError();
    return error == GL_NO_ERROR ? S_OK : error == GL_OUT_OF_MEMORY ? E_OUTOFMEMORY : E_UNEXPECTED;
}

HRESULT CSceneRenderer::Draw(const CCamera& camera, const RenderOptions& options) {
    tImpl& d = *m_pImpl;
    const HRESULT hr = Upload(options);
    if (FAILED(hr)) {
        return hr;
    }
    try {
        const size_t nItems = m_items.size();
        const std::vector<uint32_t>& fill = d.batchCount;
        const float fR = ((options.dwBackground >> 16) & 0xFF) / 255.0f;
        const float fG = ((options.dwBackground >> 8) & 0xFF) / 255.0f;
        const float fB = (options.dwBackground & 0xFF) / 255.0f;
        glClearColor(fR, fG, fB, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glDisable(GL_CULL_FACE);  // files come with either winding
        glDisable(GL_BLEND);
        glDepthMask(GL_TRUE);

        const GLMatrix viewAxes = Multiply(camera.ViewMatrix(), ToGL(WorldToViewAxes()));
        const GLMatrix projection = camera.ProjectionMatrix();
        glUseProgram(d.meshProgram);
        glUniformMatrix4fv(d.uViewAxes, 1, GL_FALSE, viewAxes.data());
        glUniformMatrix4fv(d.uProjection, 1, GL_FALSE, projection.data());
        glUniform1i(d.uTexture, 0);
        glUniform1i(d.uFlat, 0);
        glActiveTexture(GL_TEXTURE0);

        const auto bindGroupTexture = [&](const CQVR3DMesh* pMesh, size_t g, uint32_t dwMap) {
            uint32_t dwMaterial = 0;
            const bool bKnown =
                d.GroupMaterial(pMesh, g, dwMaterial) && dwMap < (*d.pMaterials)[dwMaterial].size();
            glBindTexture(GL_TEXTURE_2D,
                          bKnown ? d.Texture(dwMaterial, dwMap, m_missing) : d.whiteTexture);
        };
        const auto groupEffect = [](const CQVR3DMesh* pMesh, size_t g, size_t j) -> uint32_t {
            if (pMesh->pMaps == nullptr || g >= pMesh->pMaps->groupMaps.size() ||
                j >= pMesh->pMaps->groupMaps[g].size()) {
                return 0;
            }
            return pMesh->pMaps->groupMaps[g][j].dwEffect;
        };

        // Opaque face groups, every mesh of a geometry in one call per group.
        std::vector<const CQVR3DMesh*> firstOf(d.gpuMeshes.size(), nullptr);
        for (size_t i = 0; i < nItems; ++i) {
            if (d.itemGpu[i] != UINT32_MAX && firstOf[d.itemGpu[i]] == nullptr) {
                firstOf[d.itemGpu[i]] = m_items[i].pMesh;
            }
        }
        for (size_t b = 0; b < d.gpuMeshes.size(); ++b) {
            if (fill[b] != 0) {
                d.DrawBatch(b, true, firstOf[b], d.batchStart[b], fill[b],
                            [&](size_t g) { bindGroupTexture(firstOf[b], g, 0); });
            }
        }

        // Blended groups and blended further maps, in hierarchy order, over the opaque ones.
        glEnable(GL_BLEND);
        glDepthMask(GL_FALSE);
        for (size_t i = 0; i < nItems; ++i) {
            if (d.itemGpu[i] == UINT32_MAX) {
                continue;
            }
            const CQVR3DMesh* pMesh = m_items[i].pMesh;
            const tImpl::tGpuMesh& gpu = d.gpuMeshes[d.itemGpu[i]];
            bool bBound = false;
            for (size_t g = 0; g < gpu.groupDrawable.size(); ++g) {
                const size_t nMaps = pMesh->pMaps != nullptr && g < pMesh->pMaps->groupMaps.size()
                                         ? pMesh->pMaps->groupMaps[g].size()
                                         : 0;
                for (size_t j = 0; j < nMaps && gpu.groupDrawable[g]; ++j) {
                    const uint32_t dwEffect = groupEffect(pMesh, g, j);
                    if (!(dwEffect & MORV3D_MAPEFFECT_ALPHA)) {
                        continue;
                    }
                    if (!bBound) {
                        glBindVertexArray(gpu.vao);
                        glBindBuffer(GL_ARRAY_BUFFER, d.instanceVbo);
                        d.BindInstances(d.itemInstance[i]);
                        bBound = true;
                    }
                    const bool bAdditive =
                        (dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD;
                    glBlendFunc(GL_SRC_ALPHA, bAdditive ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
                    bindGroupTexture(pMesh, g, static_cast<uint32_t>(j));
                    d.DrawGroup(gpu, g, 1);
                }
            }
        }
        glDisable(GL_BLEND);
        glDepthMask(GL_TRUE);

        if (options.bWireframe) {
            glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
            glEnable(GL_POLYGON_OFFSET_LINE);
            glPolygonOffset(-1.0f, -1.0f);
            glUniform1i(d.uFlat, 1);
            glUniform4f(d.uColor, 0.05f, 0.05f, 0.05f, 1.0f);
            for (size_t b = 0; b < d.gpuMeshes.size(); ++b) {
                if (fill[b] != 0) {
                    d.DrawBatch(b, false, nullptr, d.batchStart[b], fill[b], [](size_t) {});
                }
            }
            glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
            glDisable(GL_POLYGON_OFFSET_LINE);
            glUniform1i(d.uFlat, 0);
        }
        glBindVertexArray(0);

        // Overlays, as lines.
        const GLMatrix viewProjection = Multiply(projection, camera.ViewMatrix());
        const GLMatrix sceneToClip = Multiply(projection, viewAxes);
        const float fScale = static_cast<float>(camera.dRadius);
        if (options.bSpheres) {
            for (const DrawItem& item : m_items) {
                const CQVR3DMesh* pMesh = item.pMesh;
                const Vector3 c = ::TransformPoint(pMesh->vLocalSphereCenter, item.world);
                double dRowLength = 0;
                for (int r = 0; r < 3; ++r) {
                    dRowLength = std::max(
                        dRowLength,
                        static_cast<double>(
                            Length({item.world.m[r][0], item.world.m[r][1], item.world.m[r][2]})));
                }
                const float fRadius = static_cast<float>(pMesh->fLocalSphereRadius * dRowLength);
                constexpr int kSegments = 48;
                for (int axis = 0; axis < 3; ++axis) {
                    for (int s = 0; s < kSegments; ++s) {
                        const auto at = [&](int k) {
                            const double a = 2 * 3.14159265358979 * k / kSegments;
                            float v[3] = {c.x, c.y, c.z};
                            v[(axis + 1) % 3] += static_cast<float>(fRadius * std::cos(a));
                            v[(axis + 2) % 3] += static_cast<float>(fRadius * std::sin(a));
                            return Vector3{v[0], v[1], v[2]};
                        };
                        d.Line(at(s), at(s + 1), 0.95f, 0.85f, 0.2f);
                    }
                }
            }
            d.DrawLines(sceneToClip);
        }
        if (options.bNormals) {
            const float fLength = fScale * 0.03f;
            for (const DrawItem& item : m_items) {
                const CQVR3DMesh* pMesh = item.pMesh;
                if (pMesh->pVertices == nullptr || pMesh->pGeometry == nullptr) {
                    continue;
                }
                for (uint32_t v = 0;
                     v < pMesh->pGeometry->dwVertexCount && d.lines.size() < 2 * kMaxNormalLines;
                     ++v) {
                    const Vertex& vertex = pMesh->pVertices[v];
                    const Vector3 p = ::TransformPoint(vertex.vPosition, item.world);
                    const Vector3 n = TransformDirection(vertex.vNormal, item.world);
                    const float fN = Length(n);
                    if (!(fN > 0) || !std::isfinite(fN)) {
                        continue;
                    }
                    d.Line(p, Add(p, Scale(fLength / fN, n)), 0.3f, 0.8f, 1.0f);
                }
            }
            d.DrawLines(sceneToClip);
        }
        if (options.bGrid) {
            const SceneBox box = Bounds();
            const float fY = box.Empty() ? 0.0f : box.vMin.y;
            const float fStep =
                std::pow(10.0f, std::floor(std::log10(std::max(fScale, 1e-6f) / 2)));
            const float fCx = std::round(camera.vTarget.x / fStep) * fStep;
            const float fCz = std::round(camera.vTarget.z / fStep) * fStep;
            for (int k = -10; k <= 10; ++k) {
                const float fShade = k == 0 ? 0.75f : 0.5f;
                d.Line({fCx + k * fStep, fY, fCz - 10 * fStep},
                       {fCx + k * fStep, fY, fCz + 10 * fStep}, fShade, fShade, fShade);
                d.Line({fCx - 10 * fStep, fY, fCz + k * fStep},
                       {fCx + 10 * fStep, fY, fCz + k * fStep}, fShade, fShade, fShade);
            }
            d.DrawLines(viewProjection);
        }
        if (options.bAxes) {
            const float fLength = fScale * 0.5f;
            d.Line({0, 0, 0}, {fLength, 0, 0}, 1.0f, 0.2f, 0.2f);
            d.Line({0, 0, 0}, {0, fLength, 0}, 0.2f, 1.0f, 0.2f);
            d.Line({0, 0, 0}, {0, 0, fLength}, 0.3f, 0.4f, 1.0f);
            d.DrawLines(sceneToClip);
        }
        glUseProgram(0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CSceneRenderer::DrawIds(const CCamera& camera) {
    tImpl& d = *m_pImpl;
    if (d.meshProgram == 0) {
        return E_UNEXPECTED;
    }
    try {
        d.instances.resize(m_items.size() * kInstanceFloats);
        for (size_t i = 0; i < m_items.size(); ++i) {
            std::memcpy(&d.instances[i * kInstanceFloats], &m_items[i].world.m[0][0],
                        16 * sizeof(float));
            d.instances[i * kInstanceFloats + 16] = 0.0f;
        }
        glBindBuffer(GL_ARRAY_BUFFER, d.instanceVbo);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(d.instances.size() * sizeof(float)),
                     d.instances.data(), GL_STREAM_DRAW);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glDisable(GL_BLEND);
        glDisable(GL_CULL_FACE);
        glDepthMask(GL_TRUE);
        glUseProgram(d.meshProgram);
        const GLMatrix viewAxes = Multiply(camera.ViewMatrix(), ToGL(WorldToViewAxes()));
        const GLMatrix projection = camera.ProjectionMatrix();
        glUniformMatrix4fv(d.uViewAxes, 1, GL_FALSE, viewAxes.data());
        glUniformMatrix4fv(d.uProjection, 1, GL_FALSE, projection.data());
        glUniform1i(d.uFlat, 1);
        for (size_t i = 0; i < m_items.size(); ++i) {
            const CQVR3DMesh* pMesh = m_items[i].pMesh;
            if (pMesh->pGeometry == nullptr) {
                continue;
            }
            const tImpl::tGpuMesh& gpu = d.gpuMeshes[d.GpuFor(pMesh)];
            if (gpu.pOwner != nullptr) {
                glBindBuffer(GL_ARRAY_BUFFER, gpu.vbo);
                glBufferSubData(GL_ARRAY_BUFFER, 0,
                                static_cast<GLsizeiptr>(gpu.pGeometry->dwVertexCount) *
                                    static_cast<GLsizeiptr>(sizeof(Vertex)),
                                pMesh->pVertices);
            }
            const uint32_t dwId = static_cast<uint32_t>(i + 1);
            glUniform4f(d.uColor, ((dwId >> 16) & 0xFF) / 255.0f, ((dwId >> 8) & 0xFF) / 255.0f,
                        (dwId & 0xFF) / 255.0f, 1.0f);
            glBindVertexArray(gpu.vao);
            glBindBuffer(GL_ARRAY_BUFFER, d.instanceVbo);
            d.BindInstances(static_cast<uint32_t>(i));
            for (size_t g = 0; g < gpu.groupDrawable.size(); ++g) {
                if (gpu.groupDrawable[g]) {
                    d.DrawGroup(gpu, g, 1);
                }
            }
        }
        glBindVertexArray(0);
        glUniform1i(d.uFlat, 0);
        glUseProgram(0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

COffscreenTarget::~COffscreenTarget() {
    Free();
}

void COffscreenTarget::Free() {
    if (m_nFramebuffer != 0) {
        glDeleteFramebuffers(1, &m_nFramebuffer);
        glDeleteRenderbuffers(1, &m_nColor);
        glDeleteRenderbuffers(1, &m_nDepth);
    }
    m_nFramebuffer = m_nColor = m_nDepth = 0;
}

HRESULT COffscreenTarget::Create(int nWidth, int nHeight, std::string& strError) {
    Free();
    GLint nMax = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &nMax);
    if (nWidth < 1 || nHeight < 1 || nWidth > std::min(nMax, 16384) ||
        nHeight > std::min(nMax, 16384)) {
        strError = "picture size " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                   " out of range (1 to " + std::to_string(std::min(nMax, 16384)) + " a side)";
        return E_INVALIDARG;
    }
    glGenFramebuffers(1, &m_nFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_nFramebuffer);
    glGenRenderbuffers(1, &m_nColor);
    glBindRenderbuffer(GL_RENDERBUFFER, m_nColor);
    // The test fault gives the colour buffer no pixels, which leaves the framebuffer incomplete.
    const bool bFault = GlFaultAt("framebuffer");
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, bFault ? 0 : nWidth, bFault ? 0 : nHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_nColor);
    glGenRenderbuffers(1, &m_nDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_nDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, nWidth, nHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_nDepth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        strError = "the offscreen framebuffer is incomplete";
        Free();
        return E_FAIL;
    }
    glViewport(0, 0, nWidth, nHeight);
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    return S_OK;
}

HRESULT COffscreenTarget::Read(CImageRGBA& image) const {
    if (m_nFramebuffer == 0) {
        return E_UNEXPECTED;
    }
    try {
        const size_t nRow = static_cast<size_t>(m_nWidth) * 4;
        std::vector<uint8_t> flipped(nRow * m_nHeight);
        glBindFramebuffer(GL_FRAMEBUFFER, m_nFramebuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, m_nWidth, m_nHeight, GL_RGBA, GL_UNSIGNED_BYTE, flipped.data());
        image.nWidth = m_nWidth;
        image.nHeight = m_nHeight;
        image.pixels.resize(flipped.size());
        for (int y = 0; y < m_nHeight; ++y) {
            std::memcpy(&image.pixels[y * nRow], &flipped[(m_nHeight - 1 - y) * nRow], nRow);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
