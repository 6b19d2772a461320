#include "engine/utils/picking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
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

std::vector<float> Axis(const PickHitList& hits, float Vector3::*pAxis) {
    std::vector<float> values;
    for (const PickHit& hit : hits) {
        values.push_back(hit.vPoint.*pAxis);
    }
    return values;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

TEST(IntersectTriangles, HitsInsideWholeTrianglesInTriangleOrder) {
    // A triangle at z = 0 (0-2) with a fourth corner (3) to make a square; copies of the triangle
    // at z = 2 and 1; a triangle in the plane y = 0.25 (10-12); points on the x axis (13, 14).
    CTriangles triangles({{0, 0, 0},
                          {1, 0, 0},
                          {0, 1, 0},
                          {1, 1, 0},
                          {0, 0, 2},
                          {1, 0, 2},
                          {0, 1, 2},
                          {0, 0, 1},
                          {1, 0, 1},
                          {0, 1, 1},
                          {0, 0.25f, 0},
                          {1, 0.25f, 0},
                          {0, 0.25f, 1},
                          {3, 0, 0},
                          {5, 0, 0}});
    const std::vector<uint16_t> square = {0, 1, 3, 0, 3, 2}, stack = {4, 5, 6, 0, 1, 2, 7, 8, 9};
    // In the plane of the ray, a repeated vertex, three points on a line, then one crossed.
    const std::vector<uint16_t> degenerate = {10, 11, 12, 13, 13, 14, 13, 14, 0, 0, 1, 2};
    const Vector3 vDown = {0, 0, -1}, vAbove = {0.25f, 0.25f, 1}, vHit = {0.25f, 0.25f, 0};
    const struct {
        std::vector<uint16_t> indices;
        uint32_t dwIndexCount;
        Vector3 vOrigin, vDirection;
        std::vector<Vector3> hits;
    } cases[] = {
        {{0, 1, 2}, 3, vAbove, vDown, {vHit}},  // from either side, and reversed winding
        {{0, 1, 2}, 3, vAbove, {0, 0, 1}, {vHit}},
        {{0, 1, 2}, 3, vAbove, {0, 0, -0.001f}, {vHit}},
        {{0, 2, 1}, 3, vAbove, vDown, {vHit}},
        {{0, 1, 2}, 3, {0.75f, 0.75f, 1}, vDown, {}},
        {square, 6, {0.5f, 0.5f, 2}, vDown, {}},  // edges and vertices are not inside
        {square, 6, {0.5f, 0, 2}, vDown, {}},
        {square, 6, {1, 1, 2}, vDown, {}},
        {square, 6, {0.5f, 0.25f, 2}, vDown, {{0.5f, 0.25f, 0}}},
        {stack, 9, {0.2f, 0.2f, 5}, vDown, {{0.2f, 0.2f, 2}, {0.2f, 0.2f, 0}, {0.2f, 0.2f, 1}}},
        {stack, 7, {0.2f, 0.2f, 5}, vDown, {{0.2f, 0.2f, 2}, {0.2f, 0.2f, 0}}},
        {stack, 2, {0.2f, 0.2f, 5}, vDown, {}},
        {degenerate, 12, {-1, 0.25f, 0.25f}, {1, 0, 0}, {}},  // parallel to the last one too
        {degenerate, 12, vAbove, vDown, {vHit}},
        {degenerate, 12, vAbove, {0, 0, 0}, {}},
        {degenerate, 12, vAbove, {kNaN, 0, -1}, {}},
        {degenerate, 12, vAbove, {0, 0, kNaN}, {}}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const PickHitList hits = triangles.Pick(c.indices, c.vOrigin, c.vDirection, c.dwIndexCount);
        ASSERT_EQ(hits.size(), c.hits.size()) << "case " << i;
        for (size_t h = 0; h < hits.size(); ++h) {
            EXPECT_TRUE(hits[h].vPoint == c.hits[h]) << "case " << i << " hit " << h;
            EXPECT_EQ(hits[h].nPickId, 42);
        }
    }
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
    const std::vector<std::string> expected = EngineDataLines("triangle_hits.txt");
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
            EXPECT_EQ(strActual, expected[r]) << "ray " << r << (bWide ? ", wide" : "");
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

TEST(SortHitsAlongRay, OrdersAlongTheDominantAxis) {
    auto hitsAt = [](std::vector<Vector3> points) {
        PickHitList hits;
        for (size_t i = 0; i < points.size(); ++i) {
            hits.push_back({points[i], static_cast<int32_t>(i)});
        }
        return hits;
    };
    PickHitList hits = hitsAt({{0, 0, 1}, {0, 0, 5}, {0, 0, 3}});
    SortHitsAlongRay(hits, {0, 0, -2});
    EXPECT_EQ(Axis(hits, &Vector3::z), (std::vector<float>{5, 3, 1}));
    EXPECT_EQ(hits[0].nPickId, 1);  // the whole record moves
    SortHitsAlongRay(hits, {0, 0, 2});
    EXPECT_EQ(Axis(hits, &Vector3::z), (std::vector<float>{1, 3, 5}));
    // (1, 1, 0): no strict maximum in x, so y, ascending; x would give the opposite order.
    hits = hitsAt({{1, 3, 0}, {2, 1, 0}, {3, 2, 0}});
    SortHitsAlongRay(hits, {1, 1, 0});
    EXPECT_EQ(Axis(hits, &Vector3::y), (std::vector<float>{1, 2, 3}));
    // A NaN coordinate is never exchanged, so it splits the list.
    hits = hitsAt({{0, 0, 2}, {0, 0, 1}, {0, 0, kNaN}, {0, 0, 5}, {0, 0, 4}});
    SortHitsAlongRay(hits, {0, 0, 1});
    EXPECT_EQ(hits[0].nPickId, 1);
    EXPECT_EQ(hits[2].nPickId, 2);
    EXPECT_EQ(hits[3].nPickId, 4);

    // Equal coordinates keep their order, over many hits.
    hits.clear();
    for (int i = 0; i < 3000; ++i) {
        hits.push_back({{static_cast<float>(i % 5), 0, 0}, i});
    }
    SortHitsAlongRay(hits, {-1, 0, 0});
    EXPECT_TRUE(std::is_sorted(hits.begin(), hits.end(), [](const PickHit& a, const PickHit& b) {
        return a.vPoint.x != b.vPoint.x ? a.vPoint.x > b.vPoint.x : a.nPickId < b.nPickId;
    }));
}
