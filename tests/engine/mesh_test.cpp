#include "engine/3dobjects/mesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "abstractdata/debugreport.h"

namespace {

using Shape = std::vector<Vertex>;

// Vertex i of shape s: distinct values in every float.
Shape MakeShape(float s, size_t nCount) {
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

// Packs a shape into a key record in the given component format, as the loader does.
uint8_t* PackKey(const Shape& shape, uint32_t dwFormat) {
    const uint32_t dwStride = VertexComponentSize(dwFormat);
    uint8_t* pData = CQVR3DMeshData::AllocateKeyData(static_cast<uint32_t>(shape.size()), dwFormat);
    for (size_t i = 0; i < shape.size(); ++i) {
        uint8_t* pRecord = pData + i * dwStride;
        const uint8_t* pVertex = reinterpret_cast<const uint8_t*>(&shape[i]);
        struct {
            uint32_t dwBit;
            size_t nVertexOffset;
            size_t nSize;
        } const components[] = {{VERTEX_POSITION, 0, 12},
                                {VERTEX_NORMAL, 12, 12},
                                {VERTEX_EXTRA1, 0, 4},
                                {VERTEX_EXTRA2, 0, 4},
                                {VERTEX_TEXCOORD, 24, 8}};
        for (const auto& c : components) {
            if ((dwFormat & c.dwBit) != 0) {
                uint8_t* pAt = pRecord + VertexComponentSize(dwFormat & (c.dwBit - 1));
                if (c.dwBit == VERTEX_EXTRA1 || c.dwBit == VERTEX_EXTRA2) {
                    std::memset(pAt, 0xEE, c.nSize);
                } else {
                    std::memcpy(pAt, pVertex + c.nVertexOffset, c.nSize);
                }
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

// A mesh with its own geometry and maps (one binding per group); base vertices are shape 9.
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
    geometry.groups = groups;
    uint16_t* pIndices = CQVR3DMeshData::AllocateIndices(static_cast<uint32_t>(indices.size()));
    std::copy(indices.begin(), indices.end(), pIndices);
    EXPECT_EQ(geometry.AttachIndexBuffer(pIndices, static_cast<uint32_t>(indices.size())), S_OK);
    geometry.bPrivateIndices = bPrivateIndices;
    geometry.dwKeyVertexFormat = dwFormat;
    for (size_t k = 0; k < keys.size(); ++k) {
        geometry.morphKeys.push_back(
            {keys[k].dwTime, keys[k].bBlend, keys[k].dwDuration,
             PackKey(MakeShape(static_cast<float>(k), base.size()), dwFormat)});
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
    Shape expected = a;
    for (size_t i = 0; i < a.size(); ++i) {
        float fA[8], fB[8], fOut[8];
        std::memcpy(fA, &a[i], sizeof(fA));
        std::memcpy(fB, &b[i], sizeof(fB));
        for (int j = 0; j < 8; ++j) {
            fOut[j] = static_cast<float>((1.0 - w) * fB[j] + static_cast<double>(w) * fA[j]);
        }
        std::memcpy(&expected[i], fOut, sizeof(fOut));
    }
    return expected;
}

void ExpectShape(CQVR3DMesh& mesh, const Shape& expected) {
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(0, std::memcmp(&mesh.pVertices[i], &expected[i], sizeof(Vertex)))
            << "vertex " << i;
    }
}

void ShowAt(CQVR3DMesh& mesh, uint32_t dwTime) {
    mesh.SetTime(dwTime);
    EXPECT_EQ(mesh.UpdateHook1(), S_OK);
    EXPECT_EQ(mesh.dwAppliedTime, dwTime);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

TEST(VertexComponentSize, SumsThePresentComponents) {
    EXPECT_EQ(VertexComponentSize(0), 0u);
    EXPECT_EQ(VertexComponentSize(0x1F), 40u);
    EXPECT_EQ(VertexComponentSize(0x13), 32u);
    EXPECT_EQ(VertexComponentSize(0x11), 20u);
    EXPECT_EQ(VertexComponentSize(0xFFFFFFE0u), 0u);
}

TEST(Mesh, WithoutKeysSharesTheGeometry) {
    auto pMesh = MakeMesh(MakeShape(9, 3), {0, 1, 2}, {{0, 3, 0, 0}});
    pMesh->pGeometry->dwBlendFlags = 3;
    EXPECT_EQ(pMesh->pVertices, pMesh->pGeometry->pVertices);
    EXPECT_EQ(pMesh->groupIndexPointers[0], pMesh->pGeometry->IndexBuffer());
    EXPECT_EQ(pMesh->GetObjectType(), QVR3DOBJ_MESH);
    EXPECT_EQ(pMesh->GetName(), nullptr);
    EXPECT_EQ(pMesh->GetChildCount(), 0u);
    EXPECT_EQ(pMesh->GetBlendFlags(), 3u);
    EXPECT_EQ(pMesh->GetAnimationTime(), 0u);
    ShowAt(*pMesh, 70);
    ExpectShape(*pMesh, MakeShape(9, 3));
}

TEST(Mesh, KeysWithoutBlendShowTheKeyAtOrBeforeTheTime) {
    auto pMesh = MakeAnimated({{0}, {100}, {200}});
    EXPECT_NE(pMesh->pVertices, pMesh->pGeometry->pVertices);
    ExpectShape(*pMesh, MakeShape(9, 3));  // base vertices until the first morph
    EXPECT_EQ(pMesh->GetAnimationTime(), 200u);
    const std::pair<uint32_t, float> cases[] = {{50, 0},  {0, 0},   {100, 1}, {150, 1},
                                                {200, 2}, {250, 2}, {1, 0},   {199, 1}};
    for (auto [dwTime, fKey] : cases) {
        ShowAt(*pMesh, dwTime);
        ExpectShape(*pMesh, MakeShape(fKey, 3));
    }
}

TEST(Mesh, InterpolationSearchFindsTheKeyOnUnevenAndLongTimelines) {
    // Clustered keys up to near 2^32, where the interpolation estimates are far off: the search
    // must still land on the last key at or before t.
    const std::vector<uint32_t> times = {
        5, 6, 7, 1000, 1001, 500000000, 500000001, 3000000000, 4000000000, 4000000001, 4294967290};
    std::vector<KeySpec> keys;
    for (uint32_t t : times) {
        keys.push_back({t});
    }
    auto pMesh = MakeAnimated(keys);
    for (size_t k = 0; k + 1 < times.size(); ++k) {
        for (uint32_t dwTime : {times[k], times[k] + 1, times[k + 1] - 1}) {
            if (dwTime >= times[k + 1]) {
                continue;
            }
            ShowAt(*pMesh, dwTime);
            ExpectShape(*pMesh, MakeShape(static_cast<float>(k), 3));
        }
    }
}

TEST(Mesh, BlendWindowMovesFromTheEarlierShapeToTheLater) {
    auto pMesh = MakeAnimated({{0}, {100, true, 40}});
    const Shape a = MakeShape(0, 3), b = MakeShape(1, 3);
    auto blended = [&](float w) { return Blended(a, b, w); };
    ShowAt(*pMesh, 60);  // the window is open on both ends
    ExpectShape(*pMesh, a);
    ShowAt(*pMesh, 80);
    ExpectShape(*pMesh, blended(0.5f));
    EXPECT_EQ(pMesh->pVertices[1].vPosition.x, 51.0f);
    ShowAt(*pMesh, 99);
    ExpectShape(*pMesh, blended(0.025f));
    ShowAt(*pMesh, 100);
    ExpectShape(*pMesh, b);

    // A duration longer than the key's time blends from the start of the interval.
    auto pLong = MakeAnimated({{0}, {30, true, 40}});
    ShowAt(*pLong, 10);
    ExpectShape(*pLong, blended(0.5f));
    // A zero duration never blends.
    auto pZero = MakeAnimated({{0}, {30, true, 0}});
    ShowAt(*pZero, 29);
    ExpectShape(*pZero, a);
}

TEST(Mesh, KeyFormatsPlaceComponentsAtTheirPackedOffsets) {
    // Enough vertices to span several of the blocks that other layouts are blended in.
    constexpr size_t kCount = 300;
    const Shape base = MakeShape(9, kCount), a = MakeShape(0, kCount), b = MakeShape(1, kCount);
    auto withBaseNormals = [&](Shape shape) {
        for (size_t i = 0; i < shape.size(); ++i) {
            shape[i].vNormal = base[i].vNormal;
        }
        return shape;
    };
    // Position and texture coordinates only: 20-byte records, u and v at 12; normals stay.
    auto pMesh = MakeAnimated({{0}, {100, true, 40}}, VERTEX_POSITION | VERTEX_TEXCOORD, kCount);
    ShowAt(*pMesh, 100);
    ExpectShape(*pMesh, withBaseNormals(b));
    ShowAt(*pMesh, 99);
    ExpectShape(*pMesh, withBaseNormals(Blended(a, b, 0.025f)));

    // Every component with both extras: 40-byte records; the extras are skipped.
    auto pFull = MakeAnimated({{0}, {100, true, 40}}, 0x1F, kCount);
    ShowAt(*pFull, 100);
    ExpectShape(*pFull, b);
    ShowAt(*pFull, 70);
    ExpectShape(*pFull, Blended(a, b, 0.75f));
    // Only the extras: nothing to morph.
    auto pExtras = MakeAnimated({{0}, {100, true, 40}}, VERTEX_EXTRA1 | VERTEX_EXTRA2, kCount);
    ShowAt(*pExtras, 90);
    ExpectShape(*pExtras, base);
}

TEST(Mesh, BrokenInstanceNeverMorphsSharedOrMissingBuffers) {
    // A mesh left by a failed load: keys, but the instance still shows the shared vertices.
    auto pMesh = MakeAnimated({{0}, {100}});
    delete[] pMesh->pVertices;
    pMesh->pVertices = pMesh->pGeometry->pVertices;
    ShowAt(*pMesh, 100);
    ExpectShape(*pMesh, MakeShape(9, 3));
    pMesh->pVertices = nullptr;
    ShowAt(*pMesh, 0);
    // A key without vertex data leaves the vertices as they are.
    auto pNoData = MakeAnimated({{0}, {100}});
    delete[] pNoData->pGeometry->morphKeys[1].pVertexData;
    pNoData->pGeometry->morphKeys[1].pVertexData = nullptr;
    ShowAt(*pNoData, 100);
    ExpectShape(*pNoData, MakeShape(9, 3));
}

TEST(Mesh, ClonesShareGeometryAndMorphIndependently) {
    auto pSource = MakeMesh(MakeShape(9, 3), {0, 1, 2, 2, 1, 0}, {{0, 3, 0, 0}, {3, 3, 0, 0}},
                            {{0}, {100}, {200}}, 0x13, true);
    pSource->vLocalSphereCenter = {1, 2, 3};
    pSource->vParentSphereCenter = {4, 5, 6};
    pSource->fParentSphereRadius = 7;
    pSource->nPickId = 11;
    pSource->SetInheritTime(false);
    ShowAt(*pSource, 200);

    CQVR3DObject* pObject = nullptr;
    ASSERT_EQ(pSource->Clone(&pObject), S_OK);
    std::unique_ptr<CQVR3DMesh> pClone(static_cast<CQVR3DMesh*>(pObject));
    EXPECT_EQ(pClone->pGeometry, pSource->pGeometry);
    EXPECT_EQ(pClone->pMaps, pSource->pMaps);
    EXPECT_EQ(pClone->pGeometry->dwRefCount, 2u);
    EXPECT_EQ(pClone->pMaps->dwRefCount, 2u);
    EXPECT_TRUE(pClone->vLocalSphereCenter == (Vector3{1, 2, 3}));
    EXPECT_EQ(pClone->fLocalSphereRadius, 1000.0f);
    EXPECT_TRUE(pClone->vParentSphereCenter == (Vector3{4, 5, 6}));
    EXPECT_EQ(pClone->fParentSphereRadius, 7.0f);
    EXPECT_EQ(pClone->nPickId, 11);
    EXPECT_EQ(pClone->dwAppliedTime, 0u);
    EXPECT_TRUE(pClone->bInheritTime);
    EXPECT_EQ(pClone->pParent, nullptr);

    // Own buffers: base vertices (not the source's morphed ones) and a copy of the indices.
    EXPECT_NE(pClone->pVertices, pSource->pVertices);
    ExpectShape(*pClone, MakeShape(9, 3));
    ASSERT_EQ(pClone->groupIndexPointers.size(), 2u);
    EXPECT_NE(pClone->groupIndexPointers[0], pSource->pGeometry->IndexBuffer());
    EXPECT_EQ(pClone->groupIndexPointers[1], pClone->groupIndexPointers[0] + 3);
    EXPECT_EQ(pClone->groupIndexPointers[1][0], 2u);

    ShowAt(*pClone, 100);
    ExpectShape(*pClone, MakeShape(1, 3));
    ExpectShape(*pSource, MakeShape(2, 3));

    // The source goes first; the clone keeps everything until it goes too.
    pSource.reset();
    EXPECT_EQ(pClone->pGeometry->dwRefCount, 1u);
    EXPECT_EQ(pClone->pMaps->dwRefCount, 1u);
    EXPECT_EQ(pClone->pMaps->groupMaps[1][0].dwTexture, 7u);
    ShowAt(*pClone, 200);
    ExpectShape(*pClone, MakeShape(2, 3));
}

TEST(Mesh, CloneFailureReleasesWhatItTook) {
    auto pSource = MakeMesh(MakeShape(9, 3), {0, 1, 2}, {{0, 3, 0, 0}}, {{0}, {100}}, 0x13, true);
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
    // An empty mesh clones to an empty mesh.
    CQVR3DMesh empty;
    CQVR3DObject* pObject = nullptr;
    ASSERT_EQ(empty.Clone(&pObject), S_OK);
    delete pObject;
}

TEST(Mesh, PickTestsEachGroupFromItsBaseVertex) {
    // Two groups over one index buffer; group 1 counts its indices from vertex 3.
    auto pMesh =
        MakeMesh(Positions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}}),
                 {0, 1, 2, 0, 1, 2}, {{0, 3, 0, 0}, {3, 3, 3, 0}});
    pMesh->nPickId = 5;
    PickHitList hits;
    EXPECT_EQ(pMesh->Pick({{0.25f, 0.25f, 3}, {0, 0, -1}}, hits), S_FALSE);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_TRUE(hits[0].vPoint == (Vector3{0.25f, 0.25f, 0}));
    EXPECT_TRUE(hits[1].vPoint == (Vector3{0.25f, 0.25f, 1}));
    EXPECT_EQ(hits[1].nPickId, 5);

    // A ray that misses the local sphere adds nothing, even across a triangle.
    pMesh->vLocalSphereCenter = {10, 0, 0};
    pMesh->fLocalSphereRadius = 1;
    hits.clear();
    EXPECT_EQ(pMesh->Pick({{0.25f, 0.25f, 3}, {0, 0, -1}}, hits), S_OK);
    EXPECT_TRUE(hits.empty());
}

TEST(Mesh, PickUsesTheMorphedVertices) {
    auto pMesh = MakeMesh(MakeShape(9, 3), {0, 1, 2}, {{0, 3, 0, 0}}, {{0}, {100}});
    // Key 1 is a triangle at x, y 100..101 that exists only after the morph to 100.
    const Shape moved = Positions({{100, 100, 0}, {101, 100, 0}, {100, 101, 0}});
    std::memcpy(pMesh->pGeometry->morphKeys[1].pVertexData, moved.data(), 3 * sizeof(Vertex));
    pMesh->SetTime(100);
    PickHitList hits;
    EXPECT_EQ(pMesh->Pick({{100.25f, 100.25f, 5}, {0, 0, -1}}, hits), S_FALSE);
    EXPECT_EQ(pMesh->dwAppliedTime, 100u);
    EXPECT_EQ(hits.size(), 1u);
}

TEST(Mesh, PickOnEmptyOrDegenerateInputFindsNothing) {
    PickHitList hits;
    CQVR3DMesh empty;  // no geometry at all
    EXPECT_EQ(empty.Pick({{0, 0, 1}, {0, 0, -1}}, hits), S_OK);
    auto pNoGroups = MakeMesh({}, {}, {});
    EXPECT_EQ(pNoGroups->Pick({{0, 0, 1}, {0, 0, -1}}, hits), S_OK);
    auto pMesh = MakeMesh(Positions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}}),
                          {0, 1, 2, 0, 1, 3, 0, 1}, {{0, 3, 0, 0}, {3, 5, 0, 0}});
    for (Vector3 vDirection : {Vector3{0, 0, 0}, Vector3{kNaN, 0, -1}}) {
        EXPECT_EQ(pMesh->Pick({{0.25f, 0.25f, 1}, vDirection}, hits), S_OK);
    }
    // Group 1 holds a degenerate triangle (three points on the x axis) and two spare indices.
    EXPECT_EQ(pMesh->Pick({{0.25f, 0, 1}, {0, 0, -1}}, hits), S_FALSE);
    EXPECT_TRUE(hits.empty());
}

TEST(Mesh, PickRefusesGroupsOutsideTheBuffers) {
    const Shape square = Positions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
    const PickRay ray{{0.25f, 0.25f, 1}, {0, 0, -1}};
    struct Case {
        std::vector<uint16_t> indices;
        MeshGroup group;
    } const cases[] = {
        {{0, 1, 2, 0, 1, 4}, {3, 3, 0, 0}},           // an index beyond the vertices
        {{0, 1, 2, 0, 1, 2}, {3, 3, 2, 0}},           // the base vertex pushes index 2 beyond
        {{0, 1, 2, 0, 1, 2}, {3, 3, 0xFFFFFFFF, 0}},  // a base vertex near 2^32
        {{0, 1, 2, 0, 1, 2}, {3, 6, 0, 0}},           // more indices than the buffer holds
        {{0, 1, 2, 0, 1, 2}, {0xFFFFFFFE, 3, 0, 0}},  // a first index near 2^32
    };
    for (const Case& c : cases) {
        auto pMesh = MakeMesh(square, c.indices, {{0, 3, 0, 0}, c.group});
        CReportCapture capture;
        PickHitList hits;
        EXPECT_EQ(pMesh->Pick(ray, hits), E_UNEXPECTED);
        EXPECT_EQ(hits.size(), 1u);  // group 0 was fine
        ASSERT_EQ(capture.Entries().size(), 1u);
        EXPECT_EQ(capture.Entries()[0].strMessage, "Error: ASSERT_HRESULT(0x8000FFFF)\n");
    }
}
