#include "engine/3dobjects/mesh.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "testobjects.h"

namespace {

using Shape = std::vector<Vertex>;

// Shape s: distinct values in every float of every vertex. Shape 9 is the base.
Shape MakeShape(float s, size_t nCount = 3) {
    Shape shape(nCount);
    for (size_t i = 0; i < nCount; ++i) {
        const float f = s * 100.0f + static_cast<float>(i);
        shape[i] = {{f, f + 0.25f, f + 0.5f}, {-f, -f - 0.25f, -f - 0.5f}, f * 2, f * 3};
    }
    return shape;
}

Shape Positions(const std::vector<Vector3>& positions) {
    Shape shape(positions.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        shape[i].vPosition = positions[i];
    }
    return shape;
}

// Packs a shape into key records of the given format, as the loader does; extras are filler.
uint8_t* PackKey(const Shape& shape, uint32_t dwFormat) {
    uint8_t* pOut = CQVR3DMeshData::AllocateKeyData(static_cast<uint32_t>(shape.size()), dwFormat);
    uint8_t* pData = pOut;
    const std::pair<uint32_t, int> parts[] = {{VERTEX_POSITION, 0},
                                              {VERTEX_NORMAL, 12},
                                              {VERTEX_EXTRA1, -1},
                                              {VERTEX_EXTRA2, -1},
                                              {VERTEX_TEXCOORD, 24}};
    for (const Vertex& v : shape) {
        for (auto [dwBit, nFrom] : parts) {
            if ((dwFormat & dwBit) != 0) {
                const size_t nSize = VertexComponentSize(dwBit);
                nFrom < 0 ? std::memset(pOut, 0xEE, nSize)
                          : std::memcpy(pOut, reinterpret_cast<const uint8_t*>(&v) + nFrom, nSize);
                pOut += nSize;
            }
        }
    }
    return pData;
}

struct KeySpec {
    uint32_t dwTime;
    bool bBlend = false;
    uint32_t dwDuration = 0;
};

// A mesh with its own geometry and maps; key k holds shape k.
std::unique_ptr<CQVR3DMesh> MakeMesh(const Shape& base, const std::vector<uint16_t>& indices,
                                     const std::vector<MeshGroup>& groups,
                                     const std::vector<KeySpec>& keys = {},
                                     uint32_t dwFormat = 0x13, bool bPrivateIndices = false) {
    auto pMesh = std::make_unique<CQVR3DMesh>();
    pMesh->pGeometry = new CQVR3DMeshData;
    pMesh->pMaps = new CQVR3DMeshMaps;
    CQVR3DMeshData& geometry = *pMesh->pGeometry;
    geometry.pVertices = CQVR3DMeshData::AllocateVertices(static_cast<uint32_t>(base.size()));
    std::copy(base.begin(), base.end(), geometry.pVertices);
    geometry.dwVertexCount = static_cast<uint32_t>(base.size());
    geometry.groups.assign(groups.begin(), groups.end());
    uint16_t* pIndices = CQVR3DMeshData::AllocateIndices(static_cast<uint32_t>(indices.size()));
    std::copy(indices.begin(), indices.end(), pIndices);
    EXPECT_EQ(geometry.AttachIndexBuffer(pIndices, static_cast<uint32_t>(indices.size())), S_OK);
    geometry.bPrivateIndices = bPrivateIndices;
    geometry.dwKeyVertexFormat = dwFormat;
    for (size_t k = 0; k < keys.size(); ++k) {
        const Shape shape = MakeShape(static_cast<float>(k), base.size());
        geometry.morphKeys.push_back(
            {keys[k].dwTime, keys[k].bBlend, keys[k].dwDuration, PackKey(shape, dwFormat)});
    }
    pMesh->pMaps->groupMaps.assign(groups.size(), {MapBinding{1, 7}});
    pMesh->fLocalSphereRadius = 1000.0f;
    EXPECT_EQ(pMesh->InitInstanceBuffers(), S_OK);
    return pMesh;
}

std::unique_ptr<CQVR3DMesh> MakeAnimated(const std::vector<KeySpec>& keys, uint32_t dwFormat = 0x13,
                                         size_t nVertices = 3) {
    return MakeMesh(MakeShape(9, nVertices), {0, 1, 2}, {{0, 3, 0, 0}}, keys, dwFormat);
}

// (1 - w) b + w a for every float, as the blend forms it.
Shape Blended(const Shape& a, const Shape& b, float w) {
    Shape out = a;
    const float* pA = &a[0].vPosition.x;
    const float* pB = &b[0].vPosition.x;
    for (size_t j = 0; j < a.size() * sizeof(Vertex) / sizeof(float); ++j) {
        (&out[0].vPosition.x)[j] = static_cast<float>((1.0 - w) * pB[j] + double{w} * pA[j]);
    }
    return out;
}

// Shows the mesh at the time through the lazy path and compares every vertex byte for byte.
void ExpectShapeAt(CQVR3DMesh& mesh, uint32_t dwTime, const Shape& expected) {
    mesh.SetTime(dwTime);
    EXPECT_EQ(mesh.UpdateHook1(), S_OK);
    EXPECT_TRUE(expected.empty() ||
                std::memcmp(mesh.pVertices, expected.data(), expected.size() * sizeof(Vertex)) == 0)
        << "t " << dwTime;
}

}  // namespace

// tests/data/engine/morphs.txt: meshes shown at times in turn, every vertex compared byte for
// byte with the key or the blend of keys the time shows.
TEST(Mesh, MorphsShowTheKeyOrTheBlendOfTheTime) {
    std::unique_ptr<CQVR3DMesh> pMesh;
    std::string strMesh;
    Shape base;
    uint32_t dwFormat = 0;
    for (std::vector<std::string> f : ReadTable("engine/morphs.txt")) {
        f.resize(3);
        std::istringstream in(f[1]);
        std::string strWord;
        if (in >> strWord && strWord == "mesh") {
            size_t nCount = 0;
            in >> strWord >> nCount;
            dwFormat = std::stoul(strWord, nullptr, 0);
            std::vector<KeySpec> keys;
            while (in >> strWord) {
                KeySpec key{};
                key.bBlend =
                    std::sscanf(strWord.c_str(), "%u:%u", &key.dwTime, &key.dwDuration) == 2;
                keys.push_back(key);
            }
            strMesh = f[0] + " " + f[1];
            pMesh = MakeAnimated(keys, dwFormat, nCount);
            base = MakeShape(9, nCount);
            // Without keys the vertices are shared too; the indices always are.
            EXPECT_EQ(pMesh->pVertices == pMesh->pGeometry->pVertices, keys.empty()) << strMesh;
            EXPECT_EQ(pMesh->groupIndexPointers[0], pMesh->pGeometry->IndexBuffer()) << strMesh;
            EXPECT_EQ(pMesh->GetAnimationTime(), keys.empty() ? 0u : keys.back().dwTime) << strMesh;
            continue;
        }
        const std::vector<float> shown =
            f[2] == "base" ? std::vector<float>{} : Numbers<float>(f[2]);
        Shape expected = base;
        if (shown.size() == 1) {
            expected = MakeShape(shown[0], base.size());
        } else if (shown.size() == 3) {
            expected = Blended(MakeShape(shown[0], base.size()), MakeShape(shown[1], base.size()),
                               shown[2]);
        }
        for (size_t i = 0; i < expected.size();
             ++i) {  // what the format lacks stays as in the base
            Vertex& v = expected[i];
            v.vPosition = dwFormat & VERTEX_POSITION ? v.vPosition : base[i].vPosition;
            v.vNormal = dwFormat & VERTEX_NORMAL ? v.vNormal : base[i].vNormal;
            v.fU = dwFormat & VERTEX_TEXCOORD ? v.fU : base[i].fU;
            v.fV = dwFormat & VERTEX_TEXCOORD ? v.fV : base[i].fV;
        }
        SCOPED_TRACE(strMesh + " at " + f[0]);
        ExpectShapeAt(*pMesh, static_cast<uint32_t>(std::stoul(f[1])), expected);
    }
}

TEST(Mesh, BrokenInstanceNeverMorphsSharedOrMissingBuffers) {
    // A mesh left by a failed load: keys, but the instance still shows the shared vertices.
    auto pMesh = MakeAnimated({{0}, {100}});
    CQVR3DMeshData::FreeBuffer(pMesh->pVertices);
    pMesh->pVertices = pMesh->pGeometry->pVertices;
    ExpectShapeAt(*pMesh, 100, MakeShape(9));
    pMesh->pVertices = nullptr;
    ExpectShapeAt(*pMesh, 0, {});
    // A key without vertex data leaves the vertices as they are.
    auto pNoData = MakeAnimated({{0}, {100}});
    CQVR3DMeshData::FreeBuffer(pNoData->pGeometry->morphKeys[1].pVertexData);
    pNoData->pGeometry->morphKeys[1].pVertexData = nullptr;
    ExpectShapeAt(*pNoData, 100, MakeShape(9));
}

TEST(Mesh, ClonesShareGeometryAndMorphIndependently) {
    auto pSource = MakeMesh(MakeShape(9), {0, 1, 2, 2, 1, 0}, {{0, 3, 0, 0}, {3, 3, 0, 0}},
                            {{0}, {100}, {200}}, 0x13, true);
    pSource->vParentSphereCenter = {4, 5, 6};
    pSource->nPickId = 11;
    pSource->pGeometry->dwBlendFlags = 1;
    pSource->SetInheritTime(false);
    ExpectShapeAt(*pSource, 200, MakeShape(2));

    CQVR3DObject* pObject = nullptr;
    ASSERT_EQ(pSource->Clone(&pObject), S_OK);
    ASSERT_EQ(pObject->GetObjectType(), QVR3DOBJ_MESH);
    std::unique_ptr<CQVR3DMesh> pClone(static_cast<CQVR3DMesh*>(pObject));
    EXPECT_EQ(pClone->pGeometry, pSource->pGeometry);
    EXPECT_EQ(pClone->GetBlendFlags(), 1u);  // those of the shared geometry
    EXPECT_EQ(pClone->pMaps->dwRefCount, 2u);
    EXPECT_EQ(pClone->pGeometry->dwRefCount, 2u);
    EXPECT_TRUE(pClone->vParentSphereCenter == (Vector3{4, 5, 6}));
    EXPECT_EQ(pClone->nPickId, 11);
    EXPECT_TRUE(pClone->bInheritTime);  // neither times nor the flag are copied

    // Own buffers: the base vertices (not the source's morphed ones) and a copy of the indices.
    EXPECT_NE(pClone->pVertices, pSource->pVertices);
    ExpectShapeAt(*pClone, 0, MakeShape(9));
    ASSERT_EQ(pClone->groupIndexPointers.size(), 2u);
    EXPECT_NE(pClone->groupIndexPointers[0], pSource->pGeometry->IndexBuffer());
    EXPECT_EQ(pClone->groupIndexPointers[1], pClone->groupIndexPointers[0] + 3);
    EXPECT_EQ(pClone->groupIndexPointers[1][0], 2u);
    ExpectShapeAt(*pClone, 100, MakeShape(1));
    ExpectShapeAt(*pSource, 200, MakeShape(2));

    // The source goes first; the clone keeps everything until it goes too.
    pSource.reset();
    EXPECT_EQ(pClone->pGeometry->dwRefCount, 1u);
    EXPECT_EQ(pClone->pMaps->dwRefCount, 1u);
    EXPECT_EQ(pClone->pMaps->groupMaps[1][0].dwTexture, 7u);
    ExpectShapeAt(*pClone, 200, MakeShape(2));
}

TEST(Mesh, CloneFailureReleasesWhatItTook) {
    auto pSource = MakeMesh(MakeShape(9), {0, 1, 2}, {{0, 3, 0, 0}}, {{0}, {100}}, 0x13, true);
    for (uint32_t dwFailAt : {1u, 2u}) {  // the vertex copy, then the index copy
        CReportCapture capture;
        CQVR3DObject* pClone = pSource.get();
        FailMeshAllocationAt(dwFailAt);
        EXPECT_EQ(pSource->Clone(&pClone), E_OUTOFMEMORY);
        FailMeshAllocationAt(0);
        EXPECT_EQ(pClone, nullptr);
        EXPECT_EQ(pSource->pGeometry->dwRefCount, 1u);
        EXPECT_EQ(pSource->pMaps->dwRefCount, 1u);
        ASSERT_EQ(capture.Entries().size(), 1u);
        EXPECT_EQ(capture.Entries()[0].strMessage, "Error: ASSERT_HRESULT(0x8007000E)\n");
    }
}

// tests/data/engine/mesh_picks.txt: rays against two groups over two triangles.
TEST(Mesh, PickTestsEachGroupInsideItsBuffersAndTheSphere) {
    const Shape corners =
        Positions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {2, 0, 0}});
    const std::map<std::string, HRESULT> results = {
        {"S_OK", S_OK}, {"S_FALSE", S_FALSE}, {"E_UNEXPECTED", E_UNEXPECTED}};
    const auto rows = ReadTable("engine/mesh_picks.txt");
    ASSERT_EQ(rows.size(), 11u);
    for (std::vector<std::string> f : rows) {
        f.resize(10);
        const std::vector<uint32_t> second = Numbers<uint32_t>(f[3]);
        ASSERT_EQ(second.size(), 4u) << f[0];
        auto pMesh = MakeMesh(corners, Numbers<uint16_t>(f[2]),
                              {{0, 3, 0, 0}, {second[0], second[1], second[2], second[3]}});
        pMesh->vLocalSphereCenter = Vector(f[6]);
        pMesh->fLocalSphereRadius = std::stof(f[7]);
        pMesh->nPickId = 5;
        const HRESULT hr = results.at(f[8]);
        CReportCapture capture;
        PickHitList hits;
        EXPECT_EQ(pMesh->Pick({Vector(f[4]), Vector(f[5])}, hits), hr) << f[0];
        std::vector<float> hitsZ;
        for (const PickHit& hit : hits) {
            hitsZ.push_back(hit.vPoint.z);
            EXPECT_EQ(hit.nPickId, 5);
        }
        EXPECT_EQ(hitsZ, Numbers<float>(f[9])) << f[0];
        EXPECT_EQ(capture.Entries().size(), FAILED(hr) ? 1u : 0u) << f[0];
    }

    // No geometry at all, or empty geometry.
    const PickRay down = {{0.25f, 0.25f, 3}, {0, 0, -1}};
    PickHitList hits;
    CQVR3DMesh empty;
    EXPECT_EQ(empty.Pick(down, hits), S_OK);
    CQVR3DObject* pEmptyClone = nullptr;
    ASSERT_EQ(empty.Clone(&pEmptyClone), S_OK);
    delete pEmptyClone;
    EXPECT_EQ(MakeMesh({}, {}, {})->Pick(down, hits), S_OK);
    EXPECT_TRUE(hits.empty());
}

TEST(Mesh, PickBringsTheMorphUpToDateFirst) {
    // Key 1 moves the triangle by (100, 100, 0).
    auto pMesh = MakeMesh(Positions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), {0, 1, 2}, {{0, 3, 0, 0}},
                          {{0}, {100}});
    const Shape moved = Positions({{100, 100, 0}, {101, 100, 0}, {100, 101, 0}});
    std::memcpy(pMesh->pGeometry->morphKeys[1].pVertexData, moved.data(), 3 * sizeof(Vertex));
    pMesh->SetTime(100);
    PickHitList hits;
    EXPECT_EQ(pMesh->Pick({{100.25f, 100.25f, 3}, {0, 0, -1}}, hits), S_FALSE);
    EXPECT_EQ(pMesh->dwAppliedTime, 100u);
    EXPECT_EQ(hits.size(), 1u);
}
