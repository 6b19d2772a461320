#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "engine/3dobjects/objects.h"
#include "support/table.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void ExpectNear(const Matrix4& actual, const Matrix4& expected, float fTolerance = 1e-6f) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], fTolerance) << "at " << r << "," << c;
        }
    }
}

void ExpectNear(const Vector3& actual, const Vector3& expected) {
    EXPECT_LT(Length(Subtract(actual, expected)), 1e-6f)
        << actual.x << " " << actual.y << " " << actual.z;
}

Matrix4 RotationZ(float fAngle) {
    Matrix4 m = Matrix4::Identity();
    m.m[0][0] = m.m[1][1] = std::cos(fAngle);
    m.m[0][1] = std::sin(fAngle);
    m.m[1][0] = -std::sin(fAngle);
    return m;
}

PositionKey PositionAt(uint32_t dwTime, Vector3 vPosition) {
    PositionKey key;
    key.dwTime = dwTime;
    key.vPosition = key.vControlIn = key.vControlOut = vPosition;
    return key;
}

// A key that turns an identity block by fAngle about z.
RotationKey RotationAt(uint32_t dwTime, float fAngle) {
    RotationKey key;
    key.dwTime = dwTime;
    key.vAxis = {0, 0, 1};
    key.fAngle = fAngle;
    key.afBlock[0][0] = key.afBlock[1][1] = key.afBlock[2][2] = 1.0f;
    return key;
}

}  // namespace

TEST(MatrixHelpers, AxisAngleFollowsTheRightHandRule) {
    Matrix4 m;
    AxisAngleMatrix({0, 0, 1}, kPi / 2, m);
    ExpectNear(TransformPoint({1, 0, 0}, m), {0, 1, 0});
    // On the x axis (any length) the second helper vector is taken; still a rotation about x.
    AxisAngleMatrix({-2, 0, 0}, kPi / 2, m);
    ExpectNear(TransformPoint({0, 1, 0}, m), {0, 0, -1});
    // A third of a turn about the diagonal cycles the axes.
    AxisAngleMatrix({1, 1, 1}, 2 * kPi / 3, m);
    ExpectNear(TransformPoint({0, 0, 1}, m), {1, 0, 0});

    // A key without a usable axis turns nothing instead of making the matrix NaN.
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    for (const Vector3& vAxis : {Vector3{0, 0, 0}, Vector3{1e-30f, 0, 0}, Vector3{fNaN, 1, 0}}) {
        AxisAngleMatrix(vAxis, 1.0f, m);
        ExpectNear(m, Matrix4::Identity(), 0.0f);
    }
}

TEST(MatrixHelpers, AdjugateAndInverseAffine) {
    // Upper triangular with determinant 120: M x adj(M) = 120 I.
    Matrix4 m = Matrix4::Identity();
    m.m[0][0] = 2, m.m[1][1] = 3, m.m[2][2] = 4, m.m[3][3] = 5;
    m.m[0][1] = 7, m.m[0][3] = -1, m.m[1][2] = 0.5f, m.m[2][3] = 3;
    Matrix4 adjugate;
    Adjugate4(adjugate, m);
    Matrix4 product;
    MultiplyMatrix4(product, m, adjugate);
    Matrix4 scaled;
    scaled.m[0][0] = scaled.m[1][1] = scaled.m[2][2] = scaled.m[3][3] = 120.0f;
    ExpectNear(product, scaled, 1e-4f);

    AxisAngleMatrix({1, 2, 3}, 0.7f, m);
    m.m[0][0] *= 2, m.m[0][1] *= 2, m.m[0][2] *= 2;
    m.m[3][0] = 4, m.m[3][1] = -5, m.m[3][2] = 6;
    MultiplyMatrix4(product, m, InverseAffine(m));
    ExpectNear(product, Matrix4::Identity(), 1e-5f);

    // A singular matrix gives non-finite elements, never a plausible inverse.
    Matrix4 flat = Matrix4::Identity();
    flat.m[2][2] = 0;
    EXPECT_FALSE(std::isfinite(InverseAffine(flat).m[0][0]));
}

TEST(TransformEvaluate, BezierTranslation) {
    CQVR3DTransform transform;
    transform.PositionKeys() = {PositionAt(0, {0, 0, 0}), PositionAt(100, {10, 0, 0})};
    auto translationAt = [&](uint32_t dwTime) {
        transform.Evaluate(dwTime);
        const Matrix4& m = transform.GetMatrix();
        return Vector3{m.m[3][0], m.m[3][1], m.m[3][2]};
    };
    EXPECT_EQ(translationAt(25), (Vector3{1.5625f, 0, 0}));
    EXPECT_EQ(translationAt(0), (Vector3{0, 0, 0}));
    EXPECT_EQ(translationAt(4000000000u), (Vector3{10, 0, 0}));
    // Control points shape the curve: at s = 0.5 each weighs 3/8.
    transform.PositionKeys()[0].vControlOut = {0, 8, 0};
    transform.PositionKeys()[1].vControlIn = {10, 0, -8};
    EXPECT_EQ(translationAt(50), (Vector3{5, 3, -3}));
    EXPECT_EQ(transform.GetMatrix().m[0][0], 1.0f);

    // Read as signed, a gap of more than 2^31 would make s negative and the node shoot off.
    transform.PositionKeys() = {PositionAt(0, {0, 0, 0}), PositionAt(0xF0000000u, {10, 0, 0})};
    EXPECT_EQ(translationAt(0x78000000u), (Vector3{5, 0, 0}));
}

TEST(TransformEvaluate, EasedRotationAboutTheKeyAxis) {
    CQVR3DTransform transform;
    RotationKey first = RotationAt(100, 0.3f);
    const float afQuarter[3][4] = {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}};
    std::copy(&afQuarter[0][0], &afQuarter[0][0] + 12, &first.afBlock[0][0]);
    transform.RotationKeys() = {first, RotationAt(200, kPi / 2), RotationAt(300, kPi / 2)};
    Matrix4 start = Matrix4::Identity();
    start.m[0][3] = 0.25f;
    start.m[3][0] = 8.0f;
    transform.SetMatrix(start);

    // tests/data/engine/eased_rotations.tsv: the matrix at each time.
    const auto rows = ReadTable("engine/eased_rotations.tsv");
    ASSERT_EQ(rows.size(), 8u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        transform.Evaluate(std::stoul(row.at(1)));
        Matrix4 expected = RotationZ(kPi / 2 * std::stof(row.at(2)));
        expected.m[0][3] = std::stof(row.at(3));
        expected.m[3][0] = 8.0f;
        ExpectNear(transform.GetMatrix(), expected);
    }
}

TEST(TransformEvaluate, NodeEvaluatesLazilyAndKeepsWhatNoTrackDrives) {
    Matrix4 set = RotationZ(0.5f);
    set.m[3][1] = 7.0f;
    CQVR3DNode node;
    node.SetLocalMatrix(set);
    // One key per track drives nothing.
    node.transform.PositionKeys().push_back(PositionAt(10, {1, 2, 3}));
    node.transform.RotationKeys().push_back(RotationAt(10, 1.0f));
    for (uint32_t dwTime : {0u, 10u, 20u}) {
        node.SetTime(dwTime);
        ExpectNear(node.GetLocalMatrix(), set, 0.0f);
    }

    node.transform.PositionKeys() = {PositionAt(0, {0, 0, 0}), PositionAt(100, {10, 0, 0})};
    node.SetTime(100);
    EXPECT_EQ(node.transform.GetMatrix().m[3][0], 0.0f);  // not evaluated until read
    Vector3 vPoint = {0, 0, 0};
    node.TransformPoint(vPoint);
    EXPECT_EQ(vPoint, (Vector3{10, 0, 0}));
    EXPECT_EQ(node.dwAppliedTime, 100u);
    // A matrix set directly holds until the time changes.
    node.SetLocalMatrix(Matrix4::Identity());
    EXPECT_EQ(node.GetLocalMatrix().m[3][0], 0.0f);
    node.SetTime(50);
    Matrix4 m = Matrix4::Identity();
    m.m[0][0] = 2;
    node.TransformMatrix(m);  // the node's matrix on the left
    EXPECT_EQ(m.m[3][0], 10.0f);
    EXPECT_EQ(m.m[0][0], 2.0f);
}
