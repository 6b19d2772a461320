#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "engine/3dobjects/objects.h"
#include "engine/3dobjects/transform.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void ExpectNear(const Vector3& actual, const Vector3& expected, float fTolerance = 1e-6f) {
    EXPECT_NEAR(actual.x, expected.x, fTolerance);
    EXPECT_NEAR(actual.y, expected.y, fTolerance);
    EXPECT_NEAR(actual.z, expected.z, fTolerance);
}

void ExpectNear(const Matrix4& actual, const Matrix4& expected, float fTolerance = 1e-6f) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], fTolerance) << "at " << r << "," << c;
        }
    }
}

Matrix4 RotationZ(float fAngle) {
    Matrix4 m = Matrix4::Identity();
    m.m[0][0] = std::cos(fAngle);
    m.m[0][1] = std::sin(fAngle);
    m.m[1][0] = -std::sin(fAngle);
    m.m[1][1] = std::cos(fAngle);
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
    for (int r = 0; r < 3; ++r) {
        key.afBlock[r][r] = 1.0f;
    }
    return key;
}

template <typename T>
void Put(unsigned char* pBytes, size_t nOffset, T value) {
    std::memcpy(pBytes + nOffset, &value, sizeof value);
}

}  // namespace

TEST(TransformKeys, RecordsHaveTheFileLayout) {
    unsigned char abPosition[40] = {};
    Put<uint32_t>(abPosition, 0, 0x01020304u);
    for (int i = 0; i < 9; ++i) {
        Put<float>(abPosition, 4 + 4 * i, static_cast<float>(i + 1));
    }
    PositionKey position;
    std::memcpy(&position, abPosition, sizeof position);
    EXPECT_EQ(position.dwTime, 0x01020304u);
    EXPECT_EQ(position.vPosition, (Vector3{1, 2, 3}));
    EXPECT_EQ(position.vControlIn, (Vector3{4, 5, 6}));
    EXPECT_EQ(position.vControlOut, (Vector3{7, 8, 9}));

    unsigned char abRotation[84] = {};
    Put<uint32_t>(abRotation, 0, 250u);
    Put<float>(abRotation, 4, 0.5f);
    Put<float>(abRotation, 12, -1.0f);
    Put<float>(abRotation, 16, 1.25f);
    Put<float>(abRotation, 20 + 16 * 2 + 4 * 1, 9.0f);  // block row 2, column 1
    abRotation[83] = 0xAB;
    RotationKey rotation;
    std::memcpy(&rotation, abRotation, sizeof rotation);
    EXPECT_EQ(rotation.dwTime, 250u);
    EXPECT_EQ(rotation.vAxis, (Vector3{0.5f, 0, -1.0f}));
    EXPECT_EQ(rotation.fAngle, 1.25f);
    EXPECT_EQ(rotation.afBlock[2][1], 9.0f);
    EXPECT_EQ(rotation.abUnused[15], 0xAB);
}

TEST(MatrixHelpers, ProductAndAdjugate) {
    Matrix4 a;
    Matrix4 b;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            a.m[r][c] = static_cast<float>(r * 4 + c + 1);
            b.m[r][c] = static_cast<float>((r + 2 * c) % 5) - 2.0f;
        }
    }
    Matrix4 product;
    MultiplyMatrix4(product, a, b);
    EXPECT_EQ(product.m[1][2], 5 * b.m[0][2] + 6 * b.m[1][2] + 7 * b.m[2][2] + 8 * b.m[3][2]);
    MultiplyMatrix4(a, a, b);  // the output may be an input
    ExpectNear(a, product, 0.0f);

    // Upper triangular: determinant 2 * 3 * 4 * 5, so M x adj(M) = 120 I.
    Matrix4 m = Matrix4::Identity();
    m.m[0][0] = 2;
    m.m[1][1] = 3;
    m.m[2][2] = 4;
    m.m[3][3] = 5;
    m.m[0][1] = 7;
    m.m[0][3] = -1;
    m.m[1][2] = 0.5f;
    m.m[2][3] = 3;
    Matrix4 adjugate;
    Adjugate4(adjugate, m);
    EXPECT_EQ(adjugate.m[0][0], 60.0f);
    MultiplyMatrix4(product, m, adjugate);
    Matrix4 scaled;
    for (int i = 0; i < 4; ++i) {
        scaled.m[i][i] = 120.0f;
    }
    ExpectNear(product, scaled, 1e-4f);
}

TEST(MatrixHelpers, NormalizeRowsAndRotateBlockLeaveTheRest) {
    Matrix4 m;
    const float afRow0[4] = {3, 4, 0, 7};
    std::memcpy(m.m[0], afRow0, sizeof afRow0);
    m.m[1][1] = -2;
    m.m[2][2] = 0.5f;
    m.m[3][0] = 11;
    NormalizeRows3(m);
    EXPECT_FLOAT_EQ(m.m[0][0], 0.6f);
    EXPECT_FLOAT_EQ(m.m[0][1], 0.8f);
    EXPECT_EQ(m.m[0][3], 7.0f);
    EXPECT_EQ(m.m[1][1], -1.0f);
    EXPECT_EQ(m.m[2][2], 1.0f);
    EXPECT_EQ(m.m[3][0], 11.0f);

    // k's fourth column is ignored; row 3 of the output stays.
    const float k[3][4] = {{0, 1, 0, 99}, {1, 0, 0, 99}, {0, 0, 2, 99}};
    Matrix4 rotation = RotationZ(kPi / 2);
    rotation.m[2][3] = 1.0f;
    Matrix4 out;
    out.m[3][1] = 42.0f;
    Rotate3x3Block(out, k, rotation);
    ExpectNear(Vector3{out.m[0][0], out.m[0][1], out.m[0][2]}, {-1, 0, 0});
    ExpectNear(Vector3{out.m[1][0], out.m[1][1], out.m[1][2]}, {0, 1, 0});
    EXPECT_EQ(out.m[2][3], 2.0f);
    EXPECT_EQ(out.m[3][1], 42.0f);
}

TEST(MatrixHelpers, AxisAngleFollowsTheRightHandRule) {
    Matrix4 m;
    AxisAngleMatrix({0, 0, 1}, kPi / 2, m);
    ExpectNear(TransformPoint({1, 0, 0}, m), {0, 1, 0});
    ExpectNear(m, RotationZ(kPi / 2));

    // On the x axis (any length) the second helper vector is taken; still a rotation about x.
    AxisAngleMatrix({2, 0, 0}, kPi / 2, m);
    ExpectNear(TransformPoint({0, 1, 0}, m), {0, 0, 1});
    ExpectNear(TransformPoint({3, 0, 0}, m), {3, 0, 0}, 1e-5f);
    AxisAngleMatrix({-1, 0, 0}, kPi / 2, m);
    ExpectNear(TransformPoint({0, 1, 0}, m), {0, 0, -1});

    // A third of a turn about the diagonal cycles the axes.
    AxisAngleMatrix({1, 1, 1}, 2 * kPi / 3, m);
    ExpectNear(TransformPoint({1, 0, 0}, m), {0, 1, 0});
    ExpectNear(TransformPoint({0, 0, 1}, m), {1, 0, 0});
    EXPECT_EQ(m.m[3][3], 1.0f);

    // A key without an axis turns nothing instead of making the matrix NaN.
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    for (const Vector3& vAxis : {Vector3{0, 0, 0}, Vector3{1e-30f, 0, 0}, Vector3{fNaN, 1, 0}}) {
        AxisAngleMatrix(vAxis, 1.0f, m);
        ExpectNear(m, Matrix4::Identity(), 0.0f);
    }
    CQVR3DTransform transform;
    RotationKey key;
    key.dwTime = 0;
    key.afBlock[0][0] = key.afBlock[1][1] = key.afBlock[2][2] = 2.0f;
    transform.RotationKeys() = {key, key};
    transform.Evaluate(1);
    EXPECT_EQ(transform.GetMatrix().m[1][1], 2.0f);
}

TEST(MatrixHelpers, InverseAffine) {
    Matrix4 m;
    AxisAngleMatrix({1, 2, 3}, 0.7f, m);
    for (int c = 0; c < 3; ++c) {
        m.m[0][c] *= 2.0f;
    }
    m.m[3][0] = 4;
    m.m[3][1] = -5;
    m.m[3][2] = 6;
    Matrix4 product;
    MultiplyMatrix4(product, m, InverseAffine(m));
    ExpectNear(product, Matrix4::Identity(), 1e-5f);
    const Vector3 vPoint = {1.5f, -2, 0.25f};
    ExpectNear(TransformPoint(TransformPoint(vPoint, m), InverseAffine(m)), vPoint, 1e-5f);

    // A singular matrix gives non-finite elements, never a plausible inverse.
    Matrix4 flat = Matrix4::Identity();
    flat.m[2][2] = 0;
    EXPECT_FALSE(std::isfinite(InverseAffine(flat).m[0][0]));
}

TEST(TransformEvaluate, BezierTranslation) {
    CQVR3DTransform transform;
    transform.PositionKeys() = {PositionAt(0, {0, 0, 0}), PositionAt(100, {10, 0, 0})};
    transform.PositionKeys()[0].vControlOut = {0, 0, 0};
    transform.PositionKeys()[1].vControlIn = {10, 0, 0};

    auto translationAt = [&](uint32_t dwTime) {
        transform.Evaluate(dwTime);
        const Matrix4& m = transform.GetMatrix();
        return Vector3{m.m[3][0], m.m[3][1], m.m[3][2]};
    };
    EXPECT_EQ(translationAt(50), (Vector3{5, 0, 0}));
    EXPECT_EQ(translationAt(25), (Vector3{1.5625f, 0, 0}));
    EXPECT_EQ(translationAt(0), (Vector3{0, 0, 0}));
    EXPECT_EQ(translationAt(100), (Vector3{10, 0, 0}));
    EXPECT_EQ(translationAt(4000000000u), (Vector3{10, 0, 0}));
    // Control points shape the curve: at s = 0.5 each weighs 3/8.
    transform.PositionKeys()[0].vControlOut = {0, 8, 0};
    transform.PositionKeys()[1].vControlIn = {10, 0, -8};
    EXPECT_EQ(translationAt(50), (Vector3{5, 3, -3}));
    // Only the translation is driven.
    EXPECT_EQ(transform.GetMatrix().m[0][0], 1.0f);
    EXPECT_EQ(transform.GetMatrix().m[3][3], 1.0f);
}

TEST(TransformEvaluate, KeysFarApartStillInterpolate) {
    // Read as signed, a gap of more than 2^31 would make s negative and the node shoot off.
    CQVR3DTransform transform;
    transform.PositionKeys() = {PositionAt(0, {0, 0, 0}), PositionAt(0xF0000000u, {10, 0, 0})};
    transform.Evaluate(0x78000000u);
    EXPECT_EQ(transform.GetMatrix().m[3][0], 5.0f);
}

TEST(TransformEvaluate, FewerThanTwoKeysKeepTheMatrix) {
    Matrix4 set;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            set.m[r][c] = static_cast<float>(r - c) * 0.5f;
        }
    }
    CQVR3DNode node;
    node.SetLocalMatrix(set);
    node.transform.PositionKeys().push_back(PositionAt(10, {1, 2, 3}));
    node.transform.RotationKeys().push_back(RotationAt(10, 1.0f));
    for (uint32_t dwTime : {0u, 10u, 20u}) {
        node.SetTime(dwTime);
        ExpectNear(node.GetLocalMatrix(), set, 0.0f);
    }
}

TEST(TransformEvaluate, EasedRotationAboutTheKeyAxis) {
    CQVR3DTransform transform;
    RotationKey first = RotationAt(100, 0.3f);
    first.afBlock[0][0] = first.afBlock[1][1] = 0;
    first.afBlock[0][1] = 1;
    first.afBlock[1][0] = -1;  // a quarter turn, as the base of the first key
    transform.RotationKeys() = {first, RotationAt(200, kPi / 2), RotationAt(300, kPi / 2)};
    Matrix4 start = Matrix4::Identity();
    start.m[0][3] = 0.25f;
    start.m[3][0] = 8.0f;
    transform.SetMatrix(start);

    // At or before the first key: its block itself, not turned; the fourth column stays.
    for (uint32_t dwTime : {0u, 100u}) {
        transform.Evaluate(dwTime);
        Matrix4 expected = RotationZ(kPi / 2);
        expected.m[0][3] = 0.25f;
        expected.m[3][0] = 8.0f;
        ExpectNear(transform.GetMatrix(), expected);
    }

    // Between keys the later key's rotation, eased: s = 0.5 gives 0.5, s = 0.25 gives 0.15625.
    // The key turns by minus its angle.
    const struct {
        uint32_t dwTime;
        float fEased;
    } cases[] = {{150, 0.5f}, {125, 0.15625f}, {200, 1.0f}, {250, 0.5f}, {300, 1.0f}, {900, 1.0f}};
    for (const auto& c : cases) {
        transform.Evaluate(c.dwTime);
        Matrix4 expected = RotationZ(-kPi / 2 * c.fEased);
        expected.m[3][0] = 8.0f;  // m03 is 0 now: the rotation's fourth column is (0, 0, 0, 1)
        ExpectNear(transform.GetMatrix(), expected);
    }
}

TEST(TransformEvaluate, NodeEvaluatesLazilyAtTheRequestedTime) {
    CQVR3DNode node;
    node.transform.PositionKeys() = {PositionAt(0, {0, 0, 0}), PositionAt(100, {10, 0, 0})};
    node.SetTime(100);
    // Not evaluated until the state is read.
    EXPECT_EQ(node.transform.GetMatrix().m[3][0], 0.0f);
    EXPECT_EQ(node.GetLocalMatrix().m[3][0], 10.0f);
    EXPECT_EQ(node.dwAppliedTime, 100u);

    // Setting the matrix directly holds until the time changes.
    node.SetLocalMatrix(Matrix4::Identity());
    Vector3 vPoint = {1, 1, 1};
    node.TransformPoint(vPoint);
    EXPECT_EQ(vPoint, (Vector3{1, 1, 1}));
    node.SetTime(0);
    node.TransformPoint(vPoint);
    EXPECT_EQ(vPoint, (Vector3{1, 1, 1}));
    node.SetTime(50);
    node.TransformPoint(vPoint);
    EXPECT_EQ(vPoint, (Vector3{6, 1, 1}));

    // The node's matrix goes on the left of the given one.
    Matrix4 m = Matrix4::Identity();
    m.m[0][0] = 2;
    node.TransformMatrix(m);
    EXPECT_EQ(m.m[3][0], 10.0f);
    EXPECT_EQ(m.m[0][0], 2.0f);
}
