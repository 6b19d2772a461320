#include "engine/utils/picking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testobjects.h"

namespace {

// Positions padded to 20 bytes, so that a test also catches a stride taken for granted.
struct PaddedVertex {
    Vector3 vPosition;
    float fPad[2] = {-7.0f, -7.0f};
};

class CTriangles {
public:
    explicit CTriangles(std::vector<Vector3> positions) {
        for (const Vector3& v : positions) {
            m_vertices.push_back({v});
        }
    }
    PickHitList Pick(const std::vector<uint16_t>& indices, Vector3 vOrigin, Vector3 vDirection,
                     uint32_t dwIndexCount) {
        TrianglePickQuery query;
        query.pIndices = indices.data();
        query.dwIndexCount = dwIndexCount;
        query.pVertices = reinterpret_cast<const uint8_t*>(m_vertices.data());
        query.dwStride = sizeof(PaddedVertex);
        query.vRayOrigin = vOrigin;
        query.vRayDirection = vDirection;
        query.nPickId = 42;
        PickHitList hits;
        EXPECT_EQ(IntersectTriangles(query, hits), S_FALSE);
        return hits;
    }

private:
    std::vector<PaddedVertex> m_vertices;
};

}  // namespace

// tests/data/engine/triangle_picks.txt: the vertices, and rays against lists of triangles.
TEST(IntersectTriangles, HitsInsideWholeTrianglesInTriangleOrder) {
    std::vector<Vector3> positions;
    size_t nCases = 0;
    for (std::vector<std::string> f : ReadTable("engine/triangle_picks.txt")) {
        f.resize(7);
        if (f[1] == "v") {
            positions.push_back(Vector(f[2]));
            continue;
        }
        ++nCases;
        const std::vector<float> expected = Numbers<float>(f[6]);
        const PickHitList hits = CTriangles(positions).Pick(
            Numbers<uint16_t>(f[2]), Vector(f[4]), Vector(f[5]), Numbers<uint32_t>(f[3])[0]);
        ASSERT_EQ(hits.size() * 3, expected.size()) << f[0];
        for (size_t h = 0; h < hits.size(); ++h) {
            const Vector3 vExpected = {expected[h * 3], expected[h * 3 + 1], expected[h * 3 + 2]};
            EXPECT_TRUE(hits[h].vPoint == vExpected) << f[0] << " hit " << h;
            EXPECT_EQ(hits[h].nPickId, 42);
        }
    }
    EXPECT_EQ(positions.size(), 15u);
    EXPECT_EQ(nCases, 17u);
    // No indices or no vertices: nothing to test.
    PickHitList hits;
    EXPECT_EQ(IntersectTriangles(TrianglePickQuery{}, hits), S_FALSE);
    EXPECT_TRUE(hits.empty());
}

// Scattered triangles and rays (grid points give many rays through edges and vertices), with
// the hits each ray gives stored as a count and a hash of their bytes: both builds of the test
// must give exactly these, in tests/data/engine/triangle_hits.txt.
TEST(IntersectTriangles, BothBuildsGiveTheStoredHitsBitForBit) {
    uint32_t dwSeed = 2024;
    const auto next = [&dwSeed] { return (dwSeed = dwSeed * 1103515245u + 12345u) >> 8; };
    const auto grid = [&] { return static_cast<float>(static_cast<int>(next() % 9) - 4) * 0.5f; };
    const auto real = [&] {
        return static_cast<float>(static_cast<int>(next() % 6001) - 3000) / 1000;
    };
    std::vector<Vector3> positions;
    for (int i = 0; i < 600; ++i) {
        positions.push_back(i % 2 == 0 ? Vector3{grid(), grid(), grid()}
                                       : Vector3{real(), real(), real()});
    }
    std::vector<uint16_t> indices(3 * 4001 + 2);  // a partial batch and a spare pair at the end
    for (uint16_t& i : indices) {
        i = static_cast<uint16_t>(next() % positions.size());
    }
    CTriangles triangles(positions);
    const auto expected = ReadTable("engine/triangle_hits.txt");
    ASSERT_EQ(expected.size(), 120u);
    size_t nHits = 0;
    for (size_t r = 0; r < expected.size(); ++r) {
        const Vector3 vOrigin = {grid(), grid(), grid()};
        Vector3 vDirection = {grid() * 2, grid() * 2, grid() * 2};
        if (r % 3 == 0) {
            vDirection = {real(), real(), real()};
        }
        for (bool bWide : {false, true}) {
            AllowWideTriangleTest(bWide);
            const PickHitList hits =
                triangles.Pick(indices, vOrigin, vDirection, static_cast<uint32_t>(indices.size()));
            uint64_t qwHash = 14695981039346656037u;  // FNV-1a over the hit records
            const uint8_t* pBytes = reinterpret_cast<const uint8_t*>(hits.data());
            for (size_t i = 0; i < hits.size() * sizeof(PickHit); ++i) {
                qwHash = (qwHash ^ pBytes[i]) * 1099511628211u;
            }
            const std::string strActual =
                std::to_string(hits.size()) + " " + std::to_string(qwHash);
            EXPECT_EQ(strActual, expected[r].at(1)) << expected[r][0] << (bWide ? ", wide" : "");
            nHits += hits.size();
            for (const PickHit& hit : hits) {  // every hit lies on the ray's line
                const Vector3 vFromOrigin = Subtract(hit.vPoint, vOrigin);
                const float s = Dot(vFromOrigin, vDirection) / Dot(vDirection, vDirection);
                ASSERT_LT(Length(Subtract(Add(vOrigin, Scale(s, vDirection)), hit.vPoint)), 1e-4f);
            }
        }
    }
    EXPECT_GT(nHits, 2000u);
}

// tests/data/engine/sorted_hits.tsv: hits sorted along a ray's direction.
TEST(SortHitsAlongRay, OrdersAlongTheDominantAxis) {
    const auto rows = ReadTable("engine/sorted_hits.tsv");
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& row : rows) {
        PickHitList hits;
        std::istringstream points(row.at(2));
        for (std::string strPoint; std::getline(points, strPoint, ',');) {
            hits.push_back({Vector(strPoint), static_cast<int32_t>(hits.size())});
        }
        SortHitsAlongRay(hits, Vector(row.at(1)));
        std::vector<int32_t> ids;
        for (const PickHit& hit : hits) {
            ids.push_back(hit.nPickId);
        }
        EXPECT_EQ(ids, Numbers<int32_t>(row.at(3))) << row[0];
    }

    // Equal coordinates keep their order, over many hits.
    PickHitList hits;
    for (int i = 0; i < 3000; ++i) {
        hits.push_back({{static_cast<float>(i % 5), 0, 0}, i});
    }
    SortHitsAlongRay(hits, {-1, 0, 0});
    EXPECT_TRUE(std::is_sorted(hits.begin(), hits.end(), [](const PickHit& a, const PickHit& b) {
        return a.vPoint.x != b.vPoint.x ? a.vPoint.x > b.vPoint.x : a.nPickId < b.nPickId;
    }));
}
