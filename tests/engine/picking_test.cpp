#include "engine/utils/picking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

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
                     uint32_t dwIndexCount = ~0u) {
        TrianglePickQuery query;
        query.pIndices = indices.data();
        query.dwIndexCount =
            dwIndexCount == ~0u ? static_cast<uint32_t>(indices.size()) : dwIndexCount;
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

// The triangle test written out operation by operation, for comparison with the batched one.
PickHitList ReferenceHits(const std::vector<Vector3>& v, const std::vector<uint16_t>& indices,
                          const Vector3& vOrigin, const Vector3& vDirection) {
    PickHitList hits;
    for (size_t t = 0; t + 2 < indices.size(); t += 3) {
        const Vector3 v0 = v[indices[t]], v1 = v[indices[t + 1]], v2 = v[indices[t + 2]];
        const Vector3 e1 = Subtract(v1, v0), e2 = Subtract(v2, v1), n = Cross(e1, e2);
        const float fDenominator = Dot(n, vDirection);
        if (fDenominator == 0.0f) {
            continue;
        }
        const float s =
            static_cast<float>(static_cast<double>(Dot(n, Subtract(v0, vOrigin))) / fDenominator);
        if (!std::isfinite(s)) {
            continue;
        }
        const Vector3 p = Add(Scale(s, vDirection), vOrigin);
        const Vector3 c0 = Cross(Subtract(p, v0), e1), c1 = Cross(Subtract(p, v1), e2),
                      c2 = Cross(Subtract(p, v2), Subtract(v0, v2));
        const float ax = std::fabs(c0.x), ay = std::fabs(c0.y), az = std::fabs(c0.z);
        float Vector3::*axis = ax < ay ? (ay >= az ? &Vector3::y : &Vector3::z)
                                       : (ax >= az ? &Vector3::x : &Vector3::z);
        if ((c0.*axis > 0 && c1.*axis > 0 && c2.*axis > 0) ||
            (c0.*axis < 0 && c1.*axis < 0 && c2.*axis < 0)) {
            hits.push_back({p, 42});
        }
    }
    return hits;
}

}  // namespace

TEST(IntersectTriangles, LineCrossesTriangleFromEitherSide) {
    CTriangles triangles({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    for (float fDirZ : {-1.0f, 1.0f, -0.001f}) {
        const PickHitList hits = triangles.Pick({0, 1, 2}, {0.25f, 0.25f, 1}, {0, 0, fDirZ});
        ASSERT_EQ(hits.size(), 1u) << fDirZ;
        EXPECT_TRUE(hits[0].vPoint == (Vector3{0.25f, 0.25f, 0})) << fDirZ;
        EXPECT_EQ(hits[0].nPickId, 42);
    }
    // Reversed winding and a ray outside the triangle.
    EXPECT_EQ(triangles.Pick({0, 2, 1}, {0.25f, 0.25f, 1}, {0, 0, -1}).size(), 1u);
    EXPECT_TRUE(triangles.Pick({0, 1, 2}, {0.75f, 0.75f, 1}, {0, 0, -1}).empty());
}

TEST(IntersectTriangles, EdgesAndVerticesAreNotInside) {
    // A unit square split along its diagonal; both halves share the edge (0,0)-(1,1).
    CTriangles square({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    const std::vector<uint16_t> indices = {0, 1, 2, 0, 2, 3};
    EXPECT_TRUE(square.Pick(indices, {0.5f, 0.5f, 2}, {0, 0, -1}).empty());  // shared edge
    EXPECT_TRUE(square.Pick(indices, {0.5f, 0, 2}, {0, 0, -1}).empty());     // outer edge
    EXPECT_TRUE(square.Pick(indices, {1, 1, 2}, {0, 0, -1}).empty());        // vertex
    EXPECT_EQ(square.Pick(indices, {0.5f, 0.25f, 2}, {0, 0, -1}).size(), 1u);
}

TEST(IntersectTriangles, TrianglesInOrderAndOnlyWholeTriples) {
    // Three stacked triangles at z = 2, 0, 1; the hits come in triangle order, not by distance.
    std::vector<Vector3> positions;
    for (float z : {2.0f, 0.0f, 1.0f}) {
        positions.insert(positions.end(), {{0, 0, z}, {1, 0, z}, {0, 1, z}});
    }
    CTriangles stack(positions);
    const std::vector<uint16_t> indices = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    const Vector3 vOrigin{0.2f, 0.2f, 5}, vDown{0, 0, -1};
    EXPECT_EQ(Axis(stack.Pick(indices, vOrigin, vDown), &Vector3::z),
              (std::vector<float>{2, 0, 1}));
    EXPECT_EQ(Axis(stack.Pick(indices, vOrigin, vDown, 7), &Vector3::z),
              (std::vector<float>{2, 0}));
    EXPECT_TRUE(stack.Pick(indices, vOrigin, vDown, 2).empty());
}

TEST(IntersectTriangles, DegenerateCasesAreSkippedWithoutStoppingTheList) {
    // Triangle 0 lies in the plane y = 0.25 that holds the ray; 1 and 2 are degenerate (a
    // repeated vertex, three points on a line); 3 is crossed.
    CTriangles triangles({{0, 0.25f, 0},
                          {1, 0.25f, 0},
                          {0, 0.25f, 1},
                          {3, 0, 0},
                          {5, 0, 0},
                          {0, 0, 0},
                          {1, 0, 0},
                          {0, 1, 0}});
    const std::vector<uint16_t> indices = {0, 1, 2, 3, 3, 4, 3, 4, 5, 5, 6, 7};
    const PickHitList hits = triangles.Pick(indices, {-1, 0.25f, 0.25f}, {1, 0, 0});
    EXPECT_TRUE(hits.empty());  // parallel to the last triangle's plane too
    const PickHitList hitsDown = triangles.Pick(indices, {0.25f, 0.25f, 1}, {0, 0, -1});
    ASSERT_EQ(hitsDown.size(), 1u);
    EXPECT_TRUE(hitsDown[0].vPoint == (Vector3{0.25f, 0.25f, 0}));

    // A zero or not-a-number direction hits nothing.
    for (Vector3 vDirection : {Vector3{0, 0, 0}, Vector3{kNaN, 0, -1}, Vector3{0, 0, kNaN}}) {
        EXPECT_TRUE(triangles.Pick(indices, {0.25f, 0.25f, 1}, vDirection).empty());
    }
    // No indices or no vertices: nothing to test.
    TrianglePickQuery empty;
    PickHitList hits2;
    EXPECT_EQ(IntersectTriangles(empty, hits2), S_FALSE);
    EXPECT_TRUE(hits2.empty());
}

TEST(IntersectTriangles, MatchesTheOperationByOperationTestBitForBit) {
    // Grid points give many rays through edges and vertices; random ones the general case.
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> grid(-4, 4);
    std::uniform_real_distribution<float> real(-3.0f, 3.0f);
    std::vector<Vector3> positions;
    for (int i = 0; i < 600; ++i) {
        if (i % 2 == 0) {
            positions.push_back({grid(random) * 0.5f, grid(random) * 0.5f, grid(random) * 0.5f});
        } else {
            positions.push_back({real(random), real(random), real(random)});
        }
    }
    std::uniform_int_distribution<int> index(0, static_cast<int>(positions.size()) - 1);
    std::vector<uint16_t> indices(3 * 4001 + 2);  // a partial batch and a spare pair at the end
    for (uint16_t& i : indices) {
        i = static_cast<uint16_t>(index(random));
    }
    CTriangles triangles(positions);
    size_t nHits = 0;
    const std::unique_ptr<void, void (*)(void*)> restoreWide(
        &nHits, [](void*) { AllowWideTriangleTest(true); });
    for (int r = 0; r < 120; ++r) {
        AllowWideTriangleTest(r % 2 == 0);  // both builds of the test
        const Vector3 vOrigin = {grid(random) * 0.5f, grid(random) * 0.5f, grid(random) * 0.5f};
        Vector3 vDirection = {static_cast<float>(grid(random)), static_cast<float>(grid(random)),
                              static_cast<float>(grid(random))};
        if (r % 3 == 0) {
            vDirection = {real(random), real(random), real(random)};
        }
        const PickHitList expected = ReferenceHits(positions, indices, vOrigin, vDirection);
        const PickHitList hits = triangles.Pick(indices, vOrigin, vDirection);
        ASSERT_EQ(hits.size(), expected.size()) << "ray " << r;
        for (size_t i = 0; i < hits.size(); ++i) {
            ASSERT_EQ(0, std::memcmp(&hits[i], &expected[i], sizeof(PickHit))) << "ray " << r;
        }
        nHits += hits.size();
    }
    EXPECT_GT(nHits, 1000u);
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
