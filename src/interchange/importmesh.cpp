// Meshes of an import: Assimp's triangles cut into face groups that 16-bit indices reach,
// skinned meshes bound rigidly to their bones, morph targets turned into frames.
#include <algorithm>
#include <cmath>

#include "engine/3dobjects/mesh.h"
#include "interchange/facing.h"
#include "interchange/importinternal.h"

namespace {

// Local indices of a face group are 16-bit; its base vertex shifts them.
constexpr uint32_t kMaxGroupVertices = 0x10000;
// Faces of one mesh: the loader counts three indices per face in 32 bits.
constexpr uint64_t kMaxMeshFaces = 0xFFFFFFFFull / 3;

float Finite(float f, uint64_t& qwBad) {
    if (std::isfinite(f)) {
        return f;
    }
    ++qwBad;
    return 0.0f;
}

Vector3 FiniteVector(const aiVector3D& v, uint64_t& qwBad) {
    return {Finite(static_cast<float>(v.x), qwBad), Finite(static_cast<float>(v.y), qwBad),
            Finite(static_cast<float>(v.z), qwBad)};
}

// The normals of a bound part pass through the inverse transpose of the bone's offset.
aiMatrix3x3 NormalMatrix(const aiMatrix4x4* pBind) {
    if (pBind == nullptr) {
        return aiMatrix3x3();
    }
    aiMatrix3x3 m(*pBind);
    return m.Inverse().Transpose();
}

Morv3DFileVertex MakeVertex(const aiMesh& mesh, uint32_t dwSource, const aiMatrix4x4* pBind,
                            const aiMatrix3x3& normals, uint64_t& qwBad) {
    Morv3DFileVertex v;
    aiVector3D position = mesh.mVertices[dwSource];
    aiVector3D normal = mesh.mNormals != nullptr ? mesh.mNormals[dwSource] : aiVector3D();
    if (pBind != nullptr) {
        position = *pBind * position;
        normal = (normals * normal).NormalizeSafe();
    }
    v.vPosition = FiniteVector(position, qwBad);
    v.vNormal = FiniteVector(normal, qwBad);
    if (mesh.mTextureCoords[0] != nullptr) {
        // Assimp's v runs up from the image's bottom, the scene's down from its top.
        const aiVector3D& uv = mesh.mTextureCoords[0][dwSource];
        v.fU = Finite(static_cast<float>(uv.x), qwBad);
        v.fV = Finite(static_cast<float>(1.0 - uv.y), qwBad);
    }
    return v;
}

// The sphere around the box of every position of every frame.
void SetSphere(Morv3DMeshDesc& mesh) {
    Vector3 vMin{INFINITY, INFINITY, INFINITY}, vMax{-INFINITY, -INFINITY, -INFINITY};
    for (const Morv3DFrameDesc& frame : mesh.frames) {
        for (const Morv3DFileVertex& v : frame.vertices) {
            vMin = {std::min(vMin.x, v.vPosition.x), std::min(vMin.y, v.vPosition.y),
                    std::min(vMin.z, v.vPosition.z)};
            vMax = {std::max(vMax.x, v.vPosition.x), std::max(vMax.y, v.vPosition.y),
                    std::max(vMax.z, v.vPosition.z)};
        }
    }
    if (!(vMin.x <= vMax.x)) {
        return;
    }
    mesh.vCenter = Scale(0.5f, Add(vMin, vMax));
    double dRadius = 0.0;
    for (const Morv3DFrameDesc& frame : mesh.frames) {
        for (const Morv3DFileVertex& v : frame.vertices) {
            dRadius =
                std::max(dRadius, static_cast<double>(Length(Subtract(v.vPosition, mesh.vCenter))));
        }
    }
    // Rounded up, so that no vertex lies outside in 32-bit arithmetic.
    mesh.fRadius = std::nextafter(static_cast<float>(dRadius), INFINITY);
}

// Triangles whose normals point to their back are turned round (facing.h), judged on the first
// frame: a file with either winding gives a scene whose triangles face where their normals do.
void FaceTheNormals(Morv3DMeshDesc& mesh) {
    const std::vector<Morv3DFileVertex>& vertices = mesh.frames[0].vertices;
    for (const FileGroup& group : mesh.groups) {
        for (uint32_t f = 0; f < group.dwFaceCount; ++f) {
            uint32_t* pIndex = mesh.faces[group.dwFirstFace + f].adwIndex;
            const uint64_t qwA = uint64_t{group.dwBaseVertex} + pIndex[0];
            const uint64_t qwB = uint64_t{group.dwBaseVertex} + pIndex[1];
            const uint64_t qwC = uint64_t{group.dwBaseVertex} + pIndex[2];
            if (std::max({qwA, qwB, qwC}) >= vertices.size()) {
                continue;
            }
            const Morv3DFileVertex& a = vertices[qwA];
            const Morv3DFileVertex& b = vertices[qwB];
            const Morv3DFileVertex& c = vertices[qwC];
            if (WindsAgainstNormals(a.vPosition, b.vPosition, c.vPosition, a.vNormal, b.vNormal,
                                    c.vNormal)) {
                std::swap(pIndex[1], pIndex[2]);
            }
        }
    }
}

// Groups and faces of the parts; the vertex count they need.
HRESULT AddGroups(ImportContext& ctx, const std::vector<ImportMeshPart>& parts,
                  Morv3DMeshDesc& mesh, uint32_t& dwVertices) {
    uint64_t qwVertices = 0, qwFaces = 0;
    for (const ImportMeshPart& part : parts) {
        qwVertices += part.VertexCount();
        qwFaces += part.indices.size() / 3;
    }
    if (qwFaces > kMaxMeshFaces || qwVertices > 0xFFFFFFFFull) {
        return ImportFail(ctx, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                          "a mesh has more faces or vertices than a scene file holds");
    }
    mesh.groups.reserve(parts.size());
    mesh.faces.reserve(static_cast<size_t>(qwFaces));
    uint32_t dwBase = 0;
    for (const ImportMeshPart& part : parts) {
        FileGroup group;
        group.dwFirstFace = static_cast<uint32_t>(mesh.faces.size());
        group.dwFaceCount = static_cast<uint32_t>(part.indices.size() / 3);
        group.dwBaseVertex = dwBase;
        group.dwMaterial = part.dwMaterial;
        mesh.groups.push_back(group);
        for (size_t i = 0; i + 2 < part.indices.size(); i += 3) {
            mesh.faces.push_back({{part.indices[i], part.indices[i + 1], part.indices[i + 2]}});
        }
        dwBase += part.VertexCount();
    }
    dwVertices = dwBase;
    return S_OK;
}

HRESULT ClaimFrameVertices(ImportContext& ctx, uint64_t qwVertices) {
    ctx.qwFrameVertices += qwVertices;
    if (ctx.qwFrameVertices > kImportMaxFrameVertices) {
        return ImportFail(ctx, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                          "the meshes and their frames hold more than " +
                              std::to_string(kImportMaxFrameVertices) + " vertices");
    }
    return S_OK;
}

// The triangles of a mesh, as face indices.
std::vector<uint32_t> Triangles(const aiMesh& mesh) {
    std::vector<uint32_t> faces;
    faces.reserve(mesh.mNumFaces);
    for (uint32_t f = 0; f < mesh.mNumFaces; ++f) {
        if (mesh.mFaces[f].mNumIndices == 3 && mesh.mFaces[f].mIndices != nullptr) {
            faces.push_back(f);
        }
    }
    return faces;
}

bool ValidTriangle(const aiMesh& mesh, uint32_t dwFace) {
    const aiFace& face = mesh.mFaces[dwFace];
    return face.mNumIndices == 3 && face.mIndices != nullptr &&
           face.mIndices[0] < mesh.mNumVertices && face.mIndices[1] < mesh.mNumVertices &&
           face.mIndices[2] < mesh.mNumVertices;
}

}  // namespace

void ImportSplitParts(const aiMesh& mesh, const std::vector<uint32_t>& faces,
                      const aiMatrix4x4* pBind, uint32_t dwMaterial,
                      std::vector<ImportMeshPart>& parts) {
    const std::vector<uint32_t> all = faces.empty() ? Triangles(mesh) : std::vector<uint32_t>();
    const std::vector<uint32_t>& chosen = faces.empty() ? all : faces;
    auto newPart = [&]() -> ImportMeshPart& {
        parts.emplace_back();
        parts.back().pMesh = &mesh;
        parts.back().pBind = pBind;
        parts.back().dwMaterial = dwMaterial;
        return parts.back();
    };
    // The whole mesh in one group when its vertices fit: no renumbering.
    if (faces.empty() && mesh.mNumVertices <= kMaxGroupVertices) {
        ImportMeshPart& part = newPart();
        part.indices.reserve(chosen.size() * 3);
        for (const uint32_t f : chosen) {
            if (ValidTriangle(mesh, f)) {
                part.indices.insert(part.indices.end(), mesh.mFaces[f].mIndices,
                                    mesh.mFaces[f].mIndices + 3);
            }
        }
        if (part.indices.empty()) {
            parts.pop_back();
        }
        return;
    }
    // Otherwise the vertices each group uses, numbered anew, a group closed when the next
    // triangle would take it past 16-bit indices.
    std::vector<uint32_t> local(mesh.mNumVertices, UINT32_MAX);
    ImportMeshPart* pPart = nullptr;
    for (const uint32_t f : chosen) {
        if (!ValidTriangle(mesh, f)) {
            continue;
        }
        const unsigned* pIndices = mesh.mFaces[f].mIndices;
        if (pPart == nullptr || pPart->sourceVertices.size() + 3 > kMaxGroupVertices) {
            if (pPart != nullptr) {
                for (const uint32_t v : pPart->sourceVertices) {
                    local[v] = UINT32_MAX;
                }
            }
            pPart = &newPart();
        }
        for (int k = 0; k < 3; ++k) {
            uint32_t& dwLocal = local[pIndices[k]];
            if (dwLocal == UINT32_MAX) {
                dwLocal = static_cast<uint32_t>(pPart->sourceVertices.size());
                pPart->sourceVertices.push_back(pIndices[k]);
            }
            pPart->indices.push_back(dwLocal);
        }
    }
}

HRESULT ImportBindSkin(ImportContext& ctx, const aiMesh& mesh, uint32_t dwMaterial,
                       std::unordered_map<const aiNode*, std::vector<ImportMeshPart>>& byBone,
                       std::vector<ImportMeshPart>& unbound) {
    // The bone weighing most on each vertex.
    const uint32_t dwVertices = mesh.mNumVertices;
    std::vector<int32_t> bone(dwVertices, -1);
    std::vector<float> weight(dwVertices, 0.0f);
    for (unsigned b = 0; b < mesh.mNumBones; ++b) {
        const aiBone* pBone = mesh.mBones[b];
        if (pBone == nullptr || pBone->mWeights == nullptr) {
            continue;
        }
        for (unsigned w = 0; w < pBone->mNumWeights; ++w) {
            const aiVertexWeight& vw = pBone->mWeights[w];
            if (vw.mVertexId >= dwVertices || !(vw.mWeight > 0.0f)) {
                continue;
            }
            if (vw.mWeight > weight[vw.mVertexId]) {
                weight[vw.mVertexId] = vw.mWeight;
                bone[vw.mVertexId] = static_cast<int32_t>(b);
            }
        }
    }
    // Each triangle goes with the bone whose vertices weigh most in it.
    std::vector<std::vector<uint32_t>> facesOfBone(mesh.mNumBones);
    std::vector<uint32_t> facesUnbound;
    for (const uint32_t f : Triangles(mesh)) {
        if (!ValidTriangle(mesh, f)) {
            continue;
        }
        const unsigned* pIndices = mesh.mFaces[f].mIndices;
        int32_t nBest = -1;
        float fBest = 0.0f;
        for (int k = 0; k < 3; ++k) {
            const int32_t nBone = bone[pIndices[k]];
            float fSum = 0.0f;
            for (int j = 0; j < 3; ++j) {
                if (bone[pIndices[j]] == nBone) {
                    fSum += weight[pIndices[j]];
                }
            }
            if (nBone >= 0 && fSum > fBest) {
                fBest = fSum;
                nBest = nBone;
            }
        }
        (nBest >= 0 ? facesOfBone[nBest] : facesUnbound).push_back(f);
    }
    uint64_t qwUnbound = facesUnbound.size();
    for (unsigned b = 0; b < mesh.mNumBones; ++b) {
        if (facesOfBone[b].empty()) {
            continue;
        }
        const aiBone& aBone = *mesh.mBones[b];
        const auto it = ctx.nodesByName.find(aBone.mName.C_Str());
        if (it == ctx.nodesByName.end()) {
            qwUnbound += facesOfBone[b].size();
            facesUnbound.insert(facesUnbound.end(), facesOfBone[b].begin(), facesOfBone[b].end());
            continue;
        }
        ImportSplitParts(mesh, facesOfBone[b], &aBone.mOffsetMatrix, dwMaterial,
                         byBone[it->second]);
    }
    if (!facesUnbound.empty()) {
        std::sort(facesUnbound.begin(), facesUnbound.end());
        ImportSplitParts(mesh, facesUnbound, nullptr, dwMaterial, unbound);
    }
    if (qwUnbound > 0) {
        ctx.Note(std::to_string(qwUnbound) + " triangles of skinned mesh '" + mesh.mName.C_Str() +
                 "' follow a bone that is no node: they stay with the mesh");
    }
    return S_OK;
}

HRESULT ImportStaticMesh(ImportContext& ctx, const std::vector<ImportMeshPart>& parts,
                         Morv3DMeshDesc& mesh) {
    uint32_t dwVertices = 0;
    HRESULT hr = AddGroups(ctx, parts, mesh, dwVertices);
    if (SUCCEEDED(hr) && (dwVertices < 3 || mesh.faces.empty())) {
        return S_FALSE;  // nothing a scene file can hold: its triangles have no area
    }
    if (SUCCEEDED(hr)) {
        hr = ClaimFrameVertices(ctx, dwVertices);
    }
    if (FAILED(hr)) {
        return hr;
    }
    mesh.dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL | VERTEX_TEXCOORD;
    mesh.frames.resize(1);
    std::vector<Morv3DFileVertex>& vertices = mesh.frames[0].vertices;
    vertices.reserve(dwVertices);
    for (const ImportMeshPart& part : parts) {
        const aiMatrix3x3 normals = NormalMatrix(part.pBind);
        const uint32_t dwCount = part.VertexCount();
        for (uint32_t v = 0; v < dwCount; ++v) {
            vertices.push_back(MakeVertex(*part.pMesh, part.SourceVertex(v), part.pBind, normals,
                                          ctx.qwNonFinite));
        }
    }
    FaceTheNormals(mesh);
    SetSphere(mesh);
    return S_OK;
}

HRESULT ImportMorphMesh(ImportContext& ctx, const aiMesh& mesh, uint32_t dwMaterial,
                        const aiMeshMorphAnim& channel, Morv3DMeshDesc& out) {
    std::vector<ImportMeshPart> parts;
    ImportSplitParts(mesh, {}, nullptr, dwMaterial, parts);
    // Targets that do not match the mesh vertex for vertex weigh nothing.
    std::vector<const aiAnimMesh*> targets(mesh.mNumAnimMeshes, nullptr);
    uint64_t qwUnusable = 0;
    for (unsigned t = 0; t < mesh.mNumAnimMeshes; ++t) {
        const aiAnimMesh* p = mesh.mAnimMeshes[t];
        if (p != nullptr && p->mVertices != nullptr && p->mNumVertices == mesh.mNumVertices) {
            targets[t] = p;
        } else {
            ++qwUnusable;
        }
    }
    if (qwUnusable > 0) {
        ctx.Note(std::to_string(qwUnusable) + " morph targets of mesh '" + mesh.mName.C_Str() +
                 "' do not match its vertices: left out");
    }
    std::vector<ImportMorphFrame> weights;
    uint32_t dwVertices = 0;
    HRESULT hr = ImportSampleMorph(ctx, channel, mesh.mNumAnimMeshes, weights);
    if (SUCCEEDED(hr)) {
        hr = AddGroups(ctx, parts, out, dwVertices);
    }
    if (SUCCEEDED(hr) && (dwVertices < 3 || out.faces.empty())) {
        return S_FALSE;
    }
    if (SUCCEEDED(hr)) {
        hr = ClaimFrameVertices(
            ctx, static_cast<uint64_t>(dwVertices) * std::max<size_t>(1, weights.size()));
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (weights.empty()) {
        weights.push_back({0, std::vector<double>(mesh.mNumAnimMeshes, 0.0)});
    }
    out.dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL;
    out.frames.resize(weights.size());
    const aiMatrix3x3 identity;
    for (size_t f = 0; f < weights.size(); ++f) {
        Morv3DFrameDesc& frame = out.frames[f];
        frame.dwTime = weights[f].dwTime;
        if (f > 0) {
            // Assimp blends the weights linearly between keys: so do the frames.
            frame.bBlend = true;
            frame.dwHeaderSize = MORV3D_FRAME_HEADER_LONG;
            frame.dwBlendDuration = weights[f].dwTime - weights[f - 1].dwTime;
        }
        frame.vertices.reserve(dwVertices);
        for (const ImportMeshPart& part : parts) {
            for (uint32_t v = 0; v < part.VertexCount(); ++v) {
                const uint32_t s = part.SourceVertex(v);
                Morv3DFileVertex vertex = MakeVertex(mesh, s, nullptr, identity, ctx.qwNonFinite);
                // base + sum of w (target - base), for positions and normals alike
                aiVector3D position = mesh.mVertices[s];
                aiVector3D normal = mesh.mNormals != nullptr ? mesh.mNormals[s] : aiVector3D();
                for (size_t t = 0; t < targets.size(); ++t) {
                    const double w = weights[f].weights[t];
                    if (targets[t] == nullptr || w == 0.0) {
                        continue;
                    }
                    position +=
                        (targets[t]->mVertices[s] - mesh.mVertices[s]) * static_cast<ai_real>(w);
                    if (targets[t]->mNormals != nullptr && mesh.mNormals != nullptr) {
                        normal +=
                            (targets[t]->mNormals[s] - mesh.mNormals[s]) * static_cast<ai_real>(w);
                    }
                }
                vertex.vPosition = FiniteVector(position, ctx.qwNonFinite);
                vertex.vNormal = FiniteVector(normal.NormalizeSafe(), ctx.qwNonFinite);
                frame.vertices.push_back(vertex);
            }
        }
    }
    FaceTheNormals(out);
    SetSphere(out);
    return S_OK;
}

bool ImportSkinIsRigid(const ImportContext& ctx, const aiMesh& mesh) {
    // The one bone of each vertex (-1: none moves it).
    std::vector<int32_t> bone(mesh.mNumVertices, -1);
    for (unsigned b = 0; b < mesh.mNumBones; ++b) {
        const aiBone* pBone = mesh.mBones[b];
        if (pBone == nullptr || pBone->mWeights == nullptr) {
            continue;
        }
        bool bMoves = false;
        for (unsigned w = 0; w < pBone->mNumWeights; ++w) {
            const aiVertexWeight& vw = pBone->mWeights[w];
            if (vw.mVertexId < mesh.mNumVertices && vw.mWeight > 1e-4f) {
                bMoves = true;
                if (bone[vw.mVertexId] >= 0) {
                    return false;
                }
                bone[vw.mVertexId] = static_cast<int32_t>(b);
            }
        }
        if (bMoves && ctx.nodesByName.count(pBone->mName.C_Str()) == 0) {
            return false;
        }
    }
    // A triangle between two bones would be torn.
    for (uint32_t f = 0; f < mesh.mNumFaces; ++f) {
        if (ValidTriangle(mesh, f)) {
            const unsigned* p = mesh.mFaces[f].mIndices;
            if (bone[p[0]] != bone[p[1]] || bone[p[0]] != bone[p[2]]) {
                return false;
            }
        }
    }
    return true;
}

HRESULT ImportBakeSkin(ImportContext& ctx, const aiNode& node, const aiMesh& mesh,
                       uint32_t dwMaterial, Morv3DMeshDesc& out) {
    std::vector<ImportMeshPart> parts;
    ImportSplitParts(mesh, {}, nullptr, dwMaterial, parts);
    uint32_t dwVertices = 0;
    HRESULT hr = AddGroups(ctx, parts, out, dwVertices);
    if (FAILED(hr)) {
        return hr;
    }
    if (dwVertices < 3 || out.faces.empty()) {
        out = Morv3DMeshDesc();  // no area: nothing to show, and no reason to fall back
        return S_OK;
    }
    // One frame at every key time of the skeleton (at rest without an animation).
    std::vector<uint32_t> times = ctx.trackTimes;
    if (times.empty()) {
        times.push_back(0);
    }
    const uint64_t qwFrameVertices = static_cast<uint64_t>(dwVertices) * times.size();
    if (ctx.qwFrameVertices + qwFrameVertices > kImportMaxFrameVertices) {
        out = Morv3DMeshDesc();
        return S_FALSE;
    }
    ctx.qwFrameVertices += qwFrameVertices;

    // The bones on each vertex, with their weights.
    struct tInfluence {
        const aiNode* pBone;
        const aiMatrix4x4* pOffset;
        float fWeight;
    };
    std::vector<std::vector<tInfluence>> influences(mesh.mNumVertices);
    for (unsigned b = 0; b < mesh.mNumBones; ++b) {
        const aiBone* pBone = mesh.mBones[b];
        const auto it =
            pBone != nullptr ? ctx.nodesByName.find(pBone->mName.C_Str()) : ctx.nodesByName.end();
        if (it == ctx.nodesByName.end() || pBone->mWeights == nullptr) {
            continue;
        }
        for (unsigned w = 0; w < pBone->mNumWeights; ++w) {
            const aiVertexWeight& vw = pBone->mWeights[w];
            if (vw.mVertexId < mesh.mNumVertices && vw.mWeight > 0.0f &&
                std::isfinite(vw.mWeight)) {
                influences[vw.mVertexId].push_back({it->second, &pBone->mOffsetMatrix, vw.mWeight});
            }
        }
    }

    out.dwComponentFlags = VERTEX_POSITION | VERTEX_NORMAL;
    out.frames.resize(times.size());
    std::unordered_map<const aiNode*, aiMatrix4x4> worlds;
    for (size_t f = 0; f < times.size(); ++f) {
        ImportWorldMatrices(ctx, ctx.time.Ticks(times[f]), worlds);
        aiMatrix4x4 toNode = worlds.at(&node);
        toNode.Inverse();
        Morv3DFrameDesc& frame = out.frames[f];
        frame.dwTime = times[f];
        if (f > 0) {
            frame.bBlend = true;
            frame.dwHeaderSize = MORV3D_FRAME_HEADER_LONG;
            frame.dwBlendDuration = times[f] - times[f - 1];
        }
        frame.vertices.reserve(dwVertices);
        for (const ImportMeshPart& part : parts) {
            for (uint32_t v = 0; v < part.VertexCount(); ++v) {
                const uint32_t s = part.SourceVertex(v);
                // The linear blend of the bones' world x offset matrices, into the node's space;
                // a vertex no bone moves stays where the mesh has it.
                aiMatrix4x4 placed = worlds.at(&node);
                float fTotal = 0.0f;
                float afBlend[16] = {};
                for (const tInfluence& influence : influences[s]) {
                    const aiMatrix4x4 skin = worlds.at(influence.pBone) * *influence.pOffset;
                    for (int k = 0; k < 16; ++k) {
                        afBlend[k] += influence.fWeight * (&skin.a1)[k];
                    }
                    fTotal += influence.fWeight;
                }
                if (fTotal > 0.0f) {
                    for (int k = 0; k < 16; ++k) {
                        (&placed.a1)[k] = afBlend[k] / fTotal;
                    }
                }
                const aiMatrix4x4 local = toNode * placed;
                Morv3DFileVertex vertex =
                    MakeVertex(mesh, s, &local, NormalMatrix(&local), ctx.qwNonFinite);
                frame.vertices.push_back(vertex);
            }
        }
    }
    FaceTheNormals(out);
    SetSphere(out);
    return S_OK;
}
