#include "interchange/exportmodel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <new>

#include "abstractdata/codepage.h"
#include "engine/3dobjects/axes.h"
#include "engine/3dobjects/nodewalk.h"
#include "engine/3dobjects/transform.h"
#include "interchange/facing.h"

namespace {

// ---- small maths -------------------------------------------------------------------------

bool IsFinite(const Vector3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

double Length3(double x, double y, double z) {
    return std::sqrt(x * x + y * y + z * z);
}

// The 3 x 3 part of m applied to a row vector (the axis turn of the root's keys).
Vector3 Turn(const Vector3& v, const Matrix4& m) {
    return TransformDirection(v, m);
}

Quaternion QuaternionFromRotation(const double r[3][3]) {
    // r[i][j]: column-vector rotation; the branch on the largest diagonal keeps it stable.
    Quaternion q;
    const double dTrace = r[0][0] + r[1][1] + r[2][2];
    if (dTrace > 0.0) {
        const double s = 0.5 / std::sqrt(dTrace + 1.0);
        q.w = 0.25 / s;
        q.x = (r[2][1] - r[1][2]) * s;
        q.y = (r[0][2] - r[2][0]) * s;
        q.z = (r[1][0] - r[0][1]) * s;
    } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]);
        q.w = (r[2][1] - r[1][2]) / s;
        q.x = 0.25 * s;
        q.y = (r[0][1] + r[1][0]) / s;
        q.z = (r[0][2] + r[2][0]) / s;
    } else if (r[1][1] > r[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]);
        q.w = (r[0][2] - r[2][0]) / s;
        q.x = (r[0][1] + r[1][0]) / s;
        q.y = 0.25 * s;
        q.z = (r[1][2] + r[2][1]) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]);
        q.w = (r[1][0] - r[0][1]) / s;
        q.x = (r[0][2] + r[2][0]) / s;
        q.y = (r[1][2] + r[2][1]) / s;
        q.z = 0.25 * s;
    }
    const double dNorm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (dNorm > 0.0 && std::isfinite(dNorm)) {
        q = {q.x / dNorm, q.y / dNorm, q.z / dNorm, q.w / dNorm};
    } else {
        q = Quaternion{};
    }
    return q;
}

double Dot(const Quaternion& a, const Quaternion& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

Quaternion Slerp(const Quaternion& a, Quaternion b, double s) {
    double dCos = Dot(a, b);
    if (dCos < 0.0) {
        b = {-b.x, -b.y, -b.z, -b.w};
        dCos = -dCos;
    }
    double wa = 1.0 - s, wb = s;
    if (dCos < 0.9999999) {
        const double dAngle = std::acos(std::min(1.0, dCos));
        const double dSin = std::sin(dAngle);
        wa = std::sin((1.0 - s) * dAngle) / dSin;
        wb = std::sin(s * dAngle) / dSin;
    }
    Quaternion q{wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z,
                 wa * a.w + wb * b.w};
    const double dNorm = std::sqrt(Dot(q, q));
    return {q.x / dNorm, q.y / dNorm, q.z / dNorm, q.w / dNorm};
}

double AngleBetween(const Quaternion& a, const Quaternion& b) {
    return 2.0 * std::acos(std::min(1.0, std::fabs(Dot(a, b))));
}

// ---- gathering ---------------------------------------------------------------------------

struct Builder {
    const std::vector<CMorv3DLoader::tMaterialMaps>& materials;
    const std::string& strSceneDir;
    const ExportOptions& options;
    ExportModel& scene;
    ExportReport& report;
    std::map<const CQVR3DMeshData*, int> meshOfGeometry;

    void Note(const std::string& strNote) { report.notes.push_back(strNote); }
};

std::string NodeLabel(const ExportModel& scene, int nNode) {
    const std::string& strName = scene.nodes[static_cast<size_t>(nNode)].strName;
    return "'" + strName + "'";
}

// The material of a face group, or -1 when it is bound to none of the list.
int GroupMaterial(const Builder& b, const CQVR3DMesh& mesh, size_t nGroup) {
    if (mesh.pGeometry == nullptr || nGroup >= mesh.pGeometry->groups.size()) {
        return -1;
    }
    const uint32_t dwMaterial = mesh.pGeometry->groups[nGroup].dwMaterial;
    return dwMaterial < b.materials.size() ? static_cast<int>(dwMaterial) : -1;
}

void FixVertices(Builder& b, ExportMesh& out, const std::string& strWhere) {
    uint32_t dwBad = 0;
    for (Vertex& v : out.vertices) {
        if (!IsFinite(v.vPosition)) {
            v.vPosition = {};
            ++dwBad;
        }
        if (!std::isfinite(v.fU) || !std::isfinite(v.fV)) {
            v.fU = v.fV = 0.0f;
            ++dwBad;
        }
    }
    if (dwBad > 0) {
        b.Note(strWhere + ": " + std::to_string(dwBad) +
               " values that were no finite numbers written as 0");
    }
}

// Unit normals: stored ones normalised; zero or broken ones replaced by the area-weighted
// normal of the faces around the vertex (counter-clockwise faces, as the file's winding).
uint32_t FixNormals(std::vector<Vector3>& normals, const std::vector<Vector3>& positions,
                    const std::vector<ExportPrimitive>& primitives) {
    std::vector<bool> bBroken(normals.size(), false);
    bool bAny = false;
    for (size_t i = 0; i < normals.size(); ++i) {
        const Vector3& n = normals[i];
        const double dLength = IsFinite(n) ? Length3(n.x, n.y, n.z) : 0.0;
        if (dLength > 1e-12) {
            normals[i] = {static_cast<float>(n.x / dLength), static_cast<float>(n.y / dLength),
                          static_cast<float>(n.z / dLength)};
        } else {
            bBroken[i] = true;
            bAny = true;
        }
    }
    if (!bAny) {
        return 0;
    }
    std::vector<double> sums(normals.size() * 3, 0.0);
    for (const ExportPrimitive& primitive : primitives) {
        for (size_t f = 0; f + 2 < primitive.indices.size(); f += 3) {
            const uint32_t a = primitive.indices[f], c1 = primitive.indices[f + 1],
                           c2 = primitive.indices[f + 2];
            const Vector3 e1 = Subtract(positions[c1], positions[a]);
            const Vector3 e2 = Subtract(positions[c2], positions[a]);
            const double nx = static_cast<double>(e1.y) * e2.z - static_cast<double>(e1.z) * e2.y;
            const double ny = static_cast<double>(e1.z) * e2.x - static_cast<double>(e1.x) * e2.z;
            const double nz = static_cast<double>(e1.x) * e2.y - static_cast<double>(e1.y) * e2.x;
            for (uint32_t k : {a, c1, c2}) {
                sums[3 * k] += nx;
                sums[3 * k + 1] += ny;
                sums[3 * k + 2] += nz;
            }
        }
    }
    uint32_t dwFixed = 0;
    for (size_t i = 0; i < normals.size(); ++i) {
        if (!bBroken[i]) {
            continue;
        }
        const double dLength = Length3(sums[3 * i], sums[3 * i + 1], sums[3 * i + 2]);
        // A vertex of no face, or of degenerate faces only: the file's up.
        normals[i] = dLength > 0.0 && std::isfinite(dLength)
                         ? Vector3{static_cast<float>(sums[3 * i] / dLength),
                                   static_cast<float>(sums[3 * i + 1] / dLength),
                                   static_cast<float>(sums[3 * i + 2] / dLength)}
                         : Vector3{0.0f, 0.0f, 1.0f};
        ++dwFixed;
    }
    return dwFixed;
}

// Triangles whose normals point to their back are turned round (facing.h).
void FaceTheNormals(ExportMesh& out) {
    for (ExportPrimitive& primitive : out.primitives) {
        std::vector<uint32_t>& indices = primitive.indices;
        for (size_t f = 0; f + 2 < indices.size(); f += 3) {
            const Vertex& a = out.vertices[indices[f]];
            const Vertex& b = out.vertices[indices[f + 1]];
            const Vertex& c = out.vertices[indices[f + 2]];
            if (WindsAgainstNormals(a.vPosition, b.vPosition, c.vPosition, a.vNormal, b.vNormal,
                                    c.vNormal)) {
                std::swap(indices[f + 1], indices[f + 2]);
            }
        }
    }
}

// Checked face groups: ranges inside the index buffer, every index plus the base vertex
// naming a vertex. A group that breaks this is left out and reported.
void BuildPrimitives(Builder& b, const CQVR3DMesh& mesh, ExportMesh& out,
                     const std::string& strWhere) {
    const CQVR3DMeshData& geometry = *mesh.pGeometry;
    const uint16_t* pIndices = geometry.IndexBuffer();
    for (size_t g = 0; g < geometry.groups.size(); ++g) {
        const MeshGroup& group = geometry.groups[g];
        const uint64_t qwEnd = static_cast<uint64_t>(group.dwFirstIndex) + group.dwIndexCount;
        bool bUsable = pIndices != nullptr && qwEnd <= geometry.dwIndexCount;
        ExportPrimitive primitive;
        primitive.dwReserved = group.dwReserved;
        primitive.nMaterial = GroupMaterial(b, mesh, g);
        const uint32_t dwCount = group.dwIndexCount - group.dwIndexCount % 3;
        for (uint32_t i = 0; bUsable && i < dwCount; ++i) {
            const uint64_t qwVertex =
                static_cast<uint64_t>(pIndices[group.dwFirstIndex + i]) + group.dwBaseVertex;
            bUsable = qwVertex < geometry.dwVertexCount;
            primitive.indices.push_back(static_cast<uint32_t>(qwVertex));
        }
        if (!bUsable) {
            b.Note(strWhere + ": face group " + std::to_string(g) +
                   " names indices or vertices the mesh does not have; left out");
            continue;
        }
        if (primitive.indices.empty()) {
            continue;  // glTF has no empty primitives
        }
        out.primitives.push_back(std::move(primitive));
    }
}

struct KeyComponents {
    bool bHas = false;
    uint32_t dwOffset = 0;
};

KeyComponents Component(uint32_t dwFormat, uint32_t dwBit) {
    return {(dwFormat & dwBit) != 0, VertexComponentSize(dwFormat & (dwBit - 1))};
}

// The components a key holds, as the engine copies them into the vertices: position, normal,
// texture coordinates, each when present.
void AppendShown(const Vertex& v, const ExportMorph& morph, std::vector<float>& out) {
    if (morph.bPositions) {
        out.insert(out.end(), {v.vPosition.x, v.vPosition.y, v.vPosition.z});
    }
    if (morph.bNormals) {
        out.insert(out.end(), {v.vNormal.x, v.vNormal.y, v.vNormal.z});
    }
    if (morph.bTexcoords) {
        out.insert(out.end(), {v.fU, v.fV});
    }
}

// The weights the engine shows at time t: it shows key A (the last at or before t), or blends
// A into the next key B. The blend is read from the engine's morphed vertices (the projection
// onto B - A), so that its window rule is the engine's own.
void WeightsAt(CQVR3DMesh& mesh, const ExportMorph& morph,
               const std::vector<std::vector<float>>& shapes, uint32_t t,
               std::vector<float>& weights) {
    const std::vector<MorphKey>& keys = morph.keys;
    weights.assign(keys.size() - 1, 0.0f);
    size_t a = 0;
    while (a + 1 < keys.size() && keys[a + 1].dwTime <= t) {
        ++a;
    }
    const size_t b = std::min(a + 1, keys.size() - 1);
    if (a == b) {
        a = b - 1;
    }
    mesh.SetTime(t);
    mesh.UpdateTime();
    std::vector<float> shown;
    for (uint32_t v = 0; v < mesh.pGeometry->dwVertexCount; ++v) {
        AppendShown(mesh.pVertices[v], morph, shown);
    }
    double dNum = 0.0, dDen = 0.0;
    for (size_t i = 0; i < shown.size(); ++i) {
        const double dAB = static_cast<double>(shapes[a][i]) - shapes[b][i];
        dNum += (static_cast<double>(shown[i]) - shapes[b][i]) * dAB;
        dDen += dAB * dAB;
    }
    const double w = dDen > 0.0 ? std::clamp(dNum / dDen, 0.0, 1.0) : 1.0;
    if (a > 0) {
        weights[a - 1] += static_cast<float>(w);
    }
    weights[b - 1] += static_cast<float>(1.0 - w);
}

// Weight keys at every time where the engine's choice can change: a key's time, the first unit
// after it, the start of a blend window and the last unit before the next key. Between them the
// weights are constant or one linear blend.
void BuildWeightKeys(CQVR3DMesh& mesh, ExportMorph& morph,
                     const std::vector<std::vector<float>>& shapes) {
    const std::vector<MorphKey>& keys = morph.keys;
    std::vector<uint32_t> times{keys[0].dwTime};
    for (size_t i = 1; i < keys.size(); ++i) {
        const uint32_t s = keys[i - 1].dwTime, e = keys[i].dwTime;
        const uint32_t dwWindowStart = e - keys[i].dwBlendDuration;
        for (uint32_t t : {s + 1, dwWindowStart, e - 1, e}) {
            if ((t > s && t < e) || t == e) {
                times.push_back(t);
            }
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::vector<float> weights;
    for (uint32_t t : times) {
        WeightsAt(mesh, morph, shapes, t, weights);
        morph.weights.insert(morph.weights.end(), weights.begin(), weights.end());
    }
    morph.weightTimes = std::move(times);
    mesh.SetTime(0);
}

bool StrictlyAscending(const std::vector<uint32_t>& times) {
    for (size_t i = 1; i < times.size(); ++i) {
        if (times[i] <= times[i - 1]) {
            return false;
        }
    }
    return true;
}

void BuildMorph(Builder& b, CQVR3DMesh& mesh, ExportMesh& out, const std::string& strWhere) {
    const CQVR3DMeshData& geometry = *mesh.pGeometry;
    ExportMorph& morph = out.morph;
    const uint32_t dwFormat = geometry.dwKeyVertexFormat;
    const KeyComponents position = Component(dwFormat, VERTEX_POSITION);
    const KeyComponents normal = Component(dwFormat, VERTEX_NORMAL);
    const KeyComponents texcoord = Component(dwFormat, VERTEX_TEXCOORD);
    const uint32_t dwStride = VertexComponentSize(dwFormat);
    std::vector<uint32_t> times;
    for (const MorphKey& key : geometry.morphKeys) {
        if (key.pVertexData == nullptr) {
            b.Note(strWhere + ": a morph key without vertex data; morph animation left out");
            return;
        }
        times.push_back(key.dwTime);
    }
    if (!position.bHas && !normal.bHas && !texcoord.bHas) {
        b.Note(strWhere + ": morph keys hold no position, normal or texture coordinates");
        return;
    }
    if (!StrictlyAscending(times)) {
        b.Note(strWhere + ": morph key times not ascending; morph animation left out");
        return;
    }
    morph.keys.assign(geometry.morphKeys.begin(), geometry.morphKeys.end());
    for (MorphKey& key : morph.keys) {
        key.pVertexData = nullptr;  // not ours
    }
    morph.dwKeyFormat = dwFormat;
    morph.bPositions = position.bHas;
    morph.bNormals = normal.bHas;
    morph.bTexcoords = texcoord.bHas;

    const size_t nVertices = out.vertices.size();
    std::vector<Vector3> basePositions(nVertices), baseNormals(nVertices);
    for (size_t v = 0; v < nVertices; ++v) {
        basePositions[v] = out.vertices[v].vPosition;
        baseNormals[v] = out.vertices[v].vNormal;
    }
    auto read = [&](const uint8_t* pRecord, uint32_t dwOffset, float* pOut, int nCount) {
        for (int k = 0; k < nCount; ++k) {
            std::memcpy(&pOut[k], pRecord + dwOffset + 4 * k, 4);
            if (!std::isfinite(pOut[k])) {
                pOut[k] = 0.0f;
            }
        }
    };
    // Each key's shape as the engine shows it (raw values), for reading blends back.
    std::vector<std::vector<float>> shapes(geometry.morphKeys.size());
    for (size_t k = 0; k < geometry.morphKeys.size(); ++k) {
        const uint8_t* pData = geometry.morphKeys[k].pVertexData;
        for (size_t v = 0; v < nVertices; ++v) {
            Vertex raw = geometry.pVertices[v];
            const uint8_t* pRecord = pData + v * dwStride;
            if (position.bHas) {
                std::memcpy(&raw.vPosition, pRecord + position.dwOffset, 12);
            }
            if (normal.bHas) {
                std::memcpy(&raw.vNormal, pRecord + normal.dwOffset, 12);
            }
            if (texcoord.bHas) {
                std::memcpy(&raw.fU, pRecord + texcoord.dwOffset, 8);
            }
            AppendShown(raw, morph, shapes[k]);
        }
    }
    for (size_t k = 1; k < geometry.morphKeys.size(); ++k) {
        const uint8_t* pData = geometry.morphKeys[k].pVertexData;
        std::vector<Vector3> positions = basePositions;
        std::vector<Vector3> normals = baseNormals;
        std::vector<float> uvs(nVertices * 2);
        for (size_t v = 0; v < nVertices; ++v) {
            const uint8_t* pRecord = pData + v * dwStride;
            if (position.bHas) {
                read(pRecord, position.dwOffset, &positions[v].x, 3);
            }
            if (normal.bHas) {
                read(pRecord, normal.dwOffset, &normals[v].x, 3);
            }
            uvs[2 * v] = out.vertices[v].fU;
            uvs[2 * v + 1] = out.vertices[v].fV;
            if (texcoord.bHas) {
                read(pRecord, texcoord.dwOffset, &uvs[2 * v], 2);
            }
        }
        if (normal.bHas) {
            FixNormals(normals, positions, out.primitives);
        }
        std::vector<Vector3> positionDelta(nVertices), normalDelta(nVertices);
        std::vector<float> uvDelta(nVertices * 2);
        for (size_t v = 0; v < nVertices; ++v) {
            positionDelta[v] = Subtract(positions[v], basePositions[v]);
            normalDelta[v] = Subtract(normals[v], baseNormals[v]);
            uvDelta[2 * v] = uvs[2 * v] - out.vertices[v].fU;
            uvDelta[2 * v + 1] = uvs[2 * v + 1] - out.vertices[v].fV;
        }
        morph.positionDeltas.push_back(std::move(positionDelta));
        morph.normalDeltas.push_back(std::move(normalDelta));
        morph.texcoordDeltas.push_back(std::move(uvDelta));
    }
    BuildWeightKeys(mesh, morph, shapes);
    out.bMorph = true;
}

int AddMesh(Builder& b, CQVR3DMesh& mesh, const std::string& strWhere) {
    const CQVR3DMeshData* pGeometry = mesh.pGeometry;
    if (pGeometry == nullptr || pGeometry->pVertices == nullptr || pGeometry->dwVertexCount == 0 ||
        pGeometry->IndexBuffer() == nullptr) {
        b.Note(strWhere + ": a mesh that was not loaded completely; left out");
        return -1;
    }
    const auto found = b.meshOfGeometry.find(pGeometry);
    if (found != b.meshOfGeometry.end()) {
        return found->second;
    }
    ExportMesh out;
    out.pGeometry = pGeometry;
    out.vertices.assign(pGeometry->pVertices, pGeometry->pVertices + pGeometry->dwVertexCount);
    FixVertices(b, out, strWhere);
    BuildPrimitives(b, mesh, out, strWhere);
    if (out.primitives.empty()) {
        b.Note(strWhere + ": a mesh without usable faces; left out");
        return -1;
    }
    std::vector<Vector3> positions(out.vertices.size()), normals(out.vertices.size());
    for (size_t v = 0; v < out.vertices.size(); ++v) {
        positions[v] = out.vertices[v].vPosition;
        normals[v] = out.vertices[v].vNormal;
    }
    out.dwGeneratedNormals = FixNormals(normals, positions, out.primitives);
    for (size_t v = 0; v < out.vertices.size(); ++v) {
        out.vertices[v].vNormal = normals[v];
    }
    FaceTheNormals(out);
    if (out.dwGeneratedNormals > 0) {
        b.Note(strWhere + ": " + std::to_string(out.dwGeneratedNormals) +
               " zero normals replaced by face normals");
    }
    if (pGeometry->morphKeys.size() >= 2) {
        BuildMorph(b, mesh, out, strWhere);
    }
    const int nMesh = static_cast<int>(b.scene.meshes.size());
    b.scene.meshes.push_back(std::move(out));
    b.meshOfGeometry.emplace(pGeometry, nMesh);
    return nMesh;
}

// ---- node tracks -------------------------------------------------------------------------

Matrix4 LocalAt(CQVR3DNode* pNode, uint32_t t, bool bRoot) {
    // The node's own time only: its subtree is not touched while one track is sampled.
    pNode->CQVR3DObject::SetTime(t);
    const Matrix4 local = pNode->GetLocalMatrix();
    return bRoot ? MatrixProduct(local, WorldToViewAxes()) : local;
}

// Sample times of a rotation track: per segment enough that slerp between samples stays within
// the error bound of the eased rotation (its angle grows as 3s^2 - 2s^3, whose linear
// interpolation over a step h errs by at most 0.75 |angle| h^2), and the first unit after
// every key, where a track whose blocks do not chain jumps.
std::vector<uint32_t> RotationSampleTimes(const RotationTrack& keys, const ExportOptions& options,
                                          bool& bCapped) {
    // Steps in whole units (the engine's times), never longer than the bound allows.
    std::vector<uint32_t> steps(keys.size(), 1);
    uint64_t qwTotal = 1;
    const double dError = std::max(options.dMaxRotationError, 1e-12);
    for (size_t i = 1; i < keys.size(); ++i) {
        const uint32_t d = keys[i].dwTime - keys[i - 1].dwTime;
        const double dAngle = std::fabs(static_cast<double>(keys[i].fAngle));
        double dStep = 1.0;  // an angle that is no number: every unit
        if (std::isfinite(dAngle) && dAngle > 0.0) {
            // At most 1 rad a step as well, so that slerp never takes the other way round.
            const double dLongest = std::min(std::sqrt(dError / (0.75 * dAngle)), 1.0 / dAngle);
            dStep = std::max(1.0, std::floor(d * dLongest));
        } else if (dAngle == 0.0) {
            dStep = d;
        }
        steps[i] = static_cast<uint32_t>(std::min<double>(dStep, d));
        qwTotal += d / steps[i] + 2;
    }
    const uint64_t qwCap =
        std::max<uint64_t>(options.dwMaxSamplesPerTrack, 4 * static_cast<uint64_t>(keys.size()));
    bCapped = qwTotal > qwCap;
    std::vector<uint32_t> times{keys[0].dwTime};
    for (size_t i = 1; i < keys.size(); ++i) {
        const uint32_t a = keys[i - 1].dwTime, b = keys[i].dwTime;
        uint64_t qwStep = steps[i];
        if (bCapped) {
            qwStep = std::min<uint64_t>(b - a, (qwStep * qwTotal + qwCap - 1) / (qwCap / 2));
        }
        if (b - a > 1) {
            times.push_back(a + 1);
        }
        for (uint64_t t = a + qwStep; t < b; t += qwStep) {
            times.push_back(static_cast<uint32_t>(t));
        }
        times.push_back(b);
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

// Tracks whose times do not ascend are evaluated by the engine as they are: sampled evenly
// over the span of their key times.
std::vector<uint32_t> EvenSampleTimes(const std::vector<uint32_t>& keyTimes, uint32_t dwCap) {
    const uint32_t dwFirst = *std::min_element(keyTimes.begin(), keyTimes.end());
    const uint32_t dwLast = *std::max_element(keyTimes.begin(), keyTimes.end());
    const uint64_t qwSpan = static_cast<uint64_t>(dwLast) - dwFirst;
    const uint64_t n = std::max<uint64_t>(1, std::min<uint64_t>(qwSpan, std::max(dwCap, 2u)));
    std::vector<uint32_t> times;
    for (uint64_t k = 0; k <= n; ++k) {
        times.push_back(dwFirst + static_cast<uint32_t>(qwSpan * k / n));
    }
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

bool SameScale(const Vector3& a, const Vector3& b) {
    auto near = [](float x, float y) {
        return std::fabs(x - y) <= 1e-6f * std::max(1.0f, std::fabs(x));
    };
    return near(a.x, b.x) && near(a.y, b.y) && near(a.z, b.z);
}

void SampleRotation(Builder& b, CQVR3DNode* pNode, bool bRoot, ExportNode& node) {
    const RotationTrack& keys = pNode->transform.RotationKeys();
    ExportNodeAnimation& anim = node.animation;
    bool bCapped = false;
    anim.rotationTimes =
        StrictlyAscending(anim.rotationKeyTimes)
            ? RotationSampleTimes(keys, b.options, bCapped)
            : EvenSampleTimes(anim.rotationKeyTimes, b.options.dwMaxSamplesPerTrack);
    bool bShear = false;
    for (uint32_t t : anim.rotationTimes) {
        const TrsPose pose = DecomposeMatrix(LocalAt(pNode, t, bRoot));
        Quaternion q = pose.rotation;
        if (!anim.rotations.empty() && Dot(anim.rotations.back(), q) < 0.0) {
            q = {-q.x, -q.y, -q.z, -q.w};  // the short way round for slerp
        }
        anim.rotations.push_back(q);
        anim.scales.push_back(pose.vScale);
        bShear = bShear || !pose.bExact;
        anim.bScale = anim.bScale || !SameScale(pose.vScale, node.restPose.vScale);
    }
    anim.bRotation = true;
    // The error where it is largest for slerp of a smooth turn: between two samples.
    for (size_t i = 1; i < anim.rotationTimes.size(); ++i) {
        const uint32_t a = anim.rotationTimes[i - 1], c = anim.rotationTimes[i];
        if (c - a < 2) {
            continue;
        }
        const uint32_t m = a + (c - a) / 2;
        const Quaternion engine = DecomposeMatrix(LocalAt(pNode, m, bRoot)).rotation;
        const Quaternion between =
            Slerp(anim.rotations[i - 1], anim.rotations[i], static_cast<double>(m - a) / (c - a));
        anim.dMaxRotationError = std::max(anim.dMaxRotationError, AngleBetween(engine, between));
    }
    b.report.dMaxRotationError = std::max(b.report.dMaxRotationError, anim.dMaxRotationError);
    if (bCapped) {
        b.Note("node " + NodeLabel(b.scene, static_cast<int>(&node - b.scene.nodes.data())) +
               ": rotation samples capped; largest error " +
               std::to_string(anim.dMaxRotationError) + " rad");
    }
    if (bShear) {
        b.Note("node " + NodeLabel(b.scene, static_cast<int>(&node - b.scene.nodes.data())) +
               ": a sheared matrix cannot be animated as translation, rotation and scale; the "
               "nearest rotation is written");
    }
}

void ConvertTranslation(Builder& b, CQVR3DNode* pNode, bool bRoot, ExportNode& node) {
    const PositionTrack& keys = pNode->transform.PositionKeys();
    ExportNodeAnimation& anim = node.animation;
    anim.bTranslation = true;
    if (StrictlyAscending(anim.positionKeyTimes)) {
        // The track is a cubic Bezier in time: exactly a glTF cubic spline.
        const Matrix4 axes = bRoot ? WorldToViewAxes() : Matrix4::Identity();
        anim.bTranslationBezier = true;
        for (const PositionKey& key : keys) {
            anim.translationTimes.push_back(key.dwTime);
            anim.translations.push_back(Turn(key.vPosition, axes));
            anim.controlIn.push_back(Turn(key.vControlIn, axes));
            anim.controlOut.push_back(Turn(key.vControlOut, axes));
        }
        // Sixteen samples a segment for formats that join keys linearly.
        for (size_t i = 0; i < keys.size(); ++i) {
            const uint32_t a = keys[i].dwTime;
            anim.sampledTranslationTimes.push_back(a);
            if (i + 1 < keys.size()) {
                const uint64_t d = keys[i + 1].dwTime - a;
                const uint64_t n = std::min<uint64_t>(16, d);
                for (uint64_t k = 1; k < n; ++k) {
                    anim.sampledTranslationTimes.push_back(a + static_cast<uint32_t>(d * k / n));
                }
            }
        }
        for (uint32_t t : anim.sampledTranslationTimes) {
            const Matrix4 local = LocalAt(pNode, t, bRoot);
            anim.sampledTranslations.push_back({local.m[3][0], local.m[3][1], local.m[3][2]});
        }
        return;
    }
    b.Note("node " + NodeLabel(b.scene, static_cast<int>(&node - b.scene.nodes.data())) +
           ": position key times not ascending; the track is sampled");
    anim.translationTimes = EvenSampleTimes(anim.positionKeyTimes, b.options.dwMaxSamplesPerTrack);
    for (uint32_t t : anim.translationTimes) {
        const Matrix4 local = LocalAt(pNode, t, bRoot);
        anim.translations.push_back({local.m[3][0], local.m[3][1], local.m[3][2]});
    }
    anim.sampledTranslationTimes = anim.translationTimes;
    anim.sampledTranslations = anim.translations;
}

void ConvertTracks(Builder& b, CQVR3DNode* pNode, bool bRoot, ExportNode& node) {
    ExportNodeAnimation& anim = node.animation;
    for (const PositionKey& key : pNode->transform.PositionKeys()) {
        anim.positionKeyTimes.push_back(key.dwTime);
    }
    for (const RotationKey& key : pNode->transform.RotationKeys()) {
        anim.rotationKeyTimes.push_back(key.dwTime);
    }
    // A track of fewer than two keys drives nothing.
    if (anim.positionKeyTimes.size() >= 2) {
        ConvertTranslation(b, pNode, bRoot, node);
    }
    if (anim.rotationKeyTimes.size() >= 2) {
        SampleRotation(b, pNode, bRoot, node);
    }
    if (anim.bTranslation || anim.bRotation) {
        std::vector<uint32_t>& times = anim.poseTimes;
        times = anim.sampledTranslationTimes;
        times.insert(times.end(), anim.rotationTimes.begin(), anim.rotationTimes.end());
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
        for (uint32_t t : times) {
            anim.poses.push_back(DecomposeMatrix(LocalAt(pNode, t, bRoot)));
        }
    }
    pNode->CQVR3DObject::SetTime(0);
}

// ---- hierarchy ---------------------------------------------------------------------------

void AddObject(Builder& b, CQVR3DObject* pObject, int nParent, uint32_t dwMeshOrdinal) {
    ExportModel& scene = b.scene;
    const int nIndex = static_cast<int>(scene.nodes.size());
    scene.nodes.emplace_back();
    ExportNode& node = scene.nodes.back();
    node.nParent = nParent;
    const bool bRoot = nParent < 0;
    if (!bRoot) {
        scene.nodes[static_cast<size_t>(nParent)].children.push_back(nIndex);
    }
    const int32_t nType = pObject->GetObjectType();
    if (nType == QVR3DOBJ_MESH) {
        node.strName = "mesh" + std::to_string(dwMeshOrdinal);
        const std::string strWhere = bRoot ? std::string("the root mesh")
                                           : "mesh " + std::to_string(dwMeshOrdinal) + " of node " +
                                                 NodeLabel(scene, nParent);
        const int nMesh = AddMesh(b, *static_cast<CQVR3DMesh*>(pObject), strWhere);
        scene.nodes[static_cast<size_t>(nIndex)].nMesh = nMesh;
    } else {
        const char* pszName = pObject->GetName();
        node.strName = Windows1252ToUtf8(pszName != nullptr ? pszName : "");
    }
    ExportNode& added = scene.nodes[static_cast<size_t>(nIndex)];
    CQVR3DNode* pNode = nType == QVR3DOBJ_NODE ? dynamic_cast<CQVR3DNode*>(pObject) : nullptr;
    if (pNode != nullptr) {
        // Back to the state a load leaves (the stored matrix at time 0; playing evaluates the
        // tracks into it): the samples then follow from the file alone, and the same scene
        // exports the same bytes whatever was shown or exported before.
        pNode->SetLocalMatrix(pNode->transform.GetStoredMatrix());
        pNode->dwRequestedTime = 0;
        pNode->dwAppliedTime = 0;
    }
    const Matrix4 local =
        pNode != nullptr ? pNode->transform.GetStoredMatrix() : Matrix4::Identity();
    added.rest = bRoot ? MatrixProduct(local, WorldToViewAxes()) : local;
    added.restPose = DecomposeMatrix(added.rest);
    if (pNode != nullptr) {
        ConvertTracks(b, pNode, bRoot, added);
    }
}

HRESULT BuildHierarchy(Builder& b, CQVR3DObject* pRoot) {
    struct Pending {
        CQVR3DObject* pObject;
        int nParent;
        uint32_t dwMeshOrdinal;
    };
    std::vector<Pending> stack{{pRoot, -1, 0}};
    std::vector<Pending> children;
    while (!stack.empty()) {
        const Pending item = stack.back();
        stack.pop_back();
        const int nIndex = static_cast<int>(b.scene.nodes.size());
        AddObject(b, item.pObject, item.nParent, item.dwMeshOrdinal);
        children.clear();
        uint32_t dwMeshes = 0;
        const uint32_t dwCount = item.pObject->GetChildCount();
        for (uint32_t i = 0; i < dwCount; ++i) {
            CQVR3DObject* pChild = item.pObject->GetChild(i);
            if (pChild == nullptr) {
                continue;
            }
            const bool bMesh = pChild->GetObjectType() == QVR3DOBJ_MESH;
            children.push_back({pChild, nIndex, bMesh ? dwMeshes++ : 0});
        }
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return S_OK;
}

void BuildMaterials(Builder& b) {
    std::map<std::string, int> imageOfName;
    std::map<std::string, bool> reported;
    for (const CMorv3DLoader::tMaterialMaps& maps : b.materials) {
        ExportMaterial material;
        material.maps = maps;
        if (!maps.empty() && !maps[0].strTexture.empty()) {
            const std::string& strStored = maps[0].strTexture;
            const auto found = imageOfName.find(strStored);
            if (found != imageOfName.end()) {
                material.nImage = found->second;
            } else {
                ExportImage image;
                image.strStored = strStored;
                const HRESULT hr = FindTextureFile(b.strSceneDir, strStored, image.file);
                if (hr == E_OUTOFMEMORY) {
                    throw std::bad_alloc();
                }
                if (image.file.match != ETextureMatch::None) {
                    material.nImage = static_cast<int>(b.scene.images.size());
                    b.scene.images.push_back(image);
                } else if (!reported[strStored]) {
                    reported[strStored] = true;
                    b.report.missingTextures.push_back(Windows1252ToUtf8(strStored));
                }
                imageOfName.emplace(strStored, material.nImage);
            }
        }
        b.scene.materials.push_back(std::move(material));
    }
}

}  // namespace

TrsPose DecomposeMatrix(const Matrix4& m) {
    TrsPose pose;
    pose.vTranslation = {m.m[3][0], m.m[3][1], m.m[3][2]};
    double rows[3][3];
    double adScale[3];
    for (int r = 0; r < 3; ++r) {
        adScale[r] = Length3(m.m[r][0], m.m[r][1], m.m[r][2]);
        for (int c = 0; c < 3; ++c) {
            rows[r][c] = adScale[r] > 0.0 ? m.m[r][c] / adScale[r] : (r == c ? 1.0 : 0.0);
        }
    }
    const double dDet = rows[0][0] * (rows[1][1] * rows[2][2] - rows[1][2] * rows[2][1]) -
                        rows[0][1] * (rows[1][0] * rows[2][2] - rows[1][2] * rows[2][0]) +
                        rows[0][2] * (rows[1][0] * rows[2][1] - rows[1][1] * rows[2][0]);
    if (dDet < 0.0) {
        adScale[0] = -adScale[0];
        for (int c = 0; c < 3; ++c) {
            rows[0][c] = -rows[0][c];
        }
    }
    // Column-vector rotation: its column j is row j of the row-vector matrix.
    double r[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[i][j] = rows[j][i];
        }
    }
    pose.rotation = QuaternionFromRotation(r);
    pose.vScale = {static_cast<float>(adScale[0]), static_cast<float>(adScale[1]),
                   static_cast<float>(adScale[2])};
    // Rows that are not orthogonal, or a zero scale, are no rotation.
    double dWorst = 0.0;
    for (int a = 0; a < 3; ++a) {
        for (int c = a + 1; c < 3; ++c) {
            dWorst = std::max(dWorst, std::fabs(rows[a][0] * rows[c][0] + rows[a][1] * rows[c][1] +
                                                rows[a][2] * rows[c][2]));
        }
    }
    pose.bExact = dWorst < 1e-4 && adScale[0] != 0.0 && adScale[1] != 0.0 && adScale[2] != 0.0 &&
                  std::isfinite(dDet) && IsFinite(pose.vTranslation);
    return pose;
}

namespace {

// Time t on the whole tree; a walk that found no memory leaves part of it at another time, and
// the export must not go on from there.
HRESULT SetTreeTime(CQVR3DObject* pRoot, uint32_t t) {
    if (CQVR3DNode* pNode = AsPlainNode(pRoot)) {
        return pNode->SetTimeOfTree(t);
    }
    pRoot->SetTime(t);
    return S_OK;
}

}  // namespace

HRESULT BuildExportModel(const std::vector<CMorv3DLoader::tMaterialMaps>& materials,
                         CQVR3DObject* pRoot, const std::string& strSceneDir,
                         const ExportOptions& options, ExportModel& scene, ExportReport& report) {
    if (!(options.dTimeUnitsPerSecond > 0.0) || !std::isfinite(options.dTimeUnitsPerSecond)) {
        return E_INVALIDARG;
    }
    scene = ExportModel{};
    scene.dTimeUnitsPerSecond = options.dTimeUnitsPerSecond;
    Builder b{materials, strSceneDir, options, scene, report, {}};
    try {
        BuildMaterials(b);
        if (pRoot == nullptr) {
            return S_OK;
        }
        HRESULT hr = pRoot->GetAnimationTimeHierarchy(scene.dwAnimationEnd);
        if (SUCCEEDED(hr)) {
            hr = SetTreeTime(pRoot, 0);
        }
        if (SUCCEEDED(hr)) {
            hr = BuildHierarchy(b, pRoot);
        }
        // The model refers to the tree's meshes, read later at this time.
        const HRESULT hrReset = SetTreeTime(pRoot, 0);
        hr = FAILED(hr) ? hr : hrReset;
        if (FAILED(hr)) {
            scene = ExportModel{};
        }
        return hr;
    } catch (const std::bad_alloc&) {
        pRoot != nullptr ? pRoot->SetTime(0) : void();
        scene = ExportModel{};
        return E_OUTOFMEMORY;
    }
}
