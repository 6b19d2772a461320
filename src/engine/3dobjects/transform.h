// The animated local transform of a node: its current matrix and the position and rotation key
// tracks that drive it, with the small matrix toolkit the evaluation uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "abstractdata/sceneblocks.h"
#include "engine/3dobjects/vecmath.h"

// One key of the position track; 40 bytes, the same in the file and in memory.
struct PositionKey {
    uint32_t dwTime = 0;
    Vector3 vPosition;
    Vector3 vControlIn;   // the Bezier point before this key
    Vector3 vControlOut;  // the Bezier point after this key
};

// One key of the rotation track; 84 bytes, the same in the file and in memory.
struct RotationKey {
    uint32_t dwTime = 0;
    Vector3 vAxis;             // need not be of unit length
    float fAngle = 0.0f;       // radians
    float afBlock[3][4] = {};  // base rotation, three rows; the fourth float of a row is unused
    uint8_t abUnused[16] = {};
};

static_assert(sizeof(Vector3) == 12);
static_assert(sizeof(PositionKey) == 40);
static_assert(offsetof(PositionKey, vPosition) == 4);
static_assert(offsetof(PositionKey, vControlIn) == 16);
static_assert(offsetof(PositionKey, vControlOut) == 28);
static_assert(sizeof(RotationKey) == 84);
static_assert(offsetof(RotationKey, vAxis) == 4);
static_assert(offsetof(RotationKey, fAngle) == 16);
static_assert(offsetof(RotationKey, afBlock) == 20);
static_assert(offsetof(RotationKey, abUnused) == 68);

using PositionTrack = SceneVector<PositionKey>;
using RotationTrack = SceneVector<RotationKey>;

class CQVR3DTransform {
public:
    CQVR3DTransform() = default;

    // Recomputes the parts of the matrix that a track with at least two keys drives.
    void Evaluate(uint32_t dwTime);

    const Matrix4& GetMatrix() const { return m_matrix; }
    void SetMatrix(const Matrix4& matrix) {
        m_matrix = matrix;
        m_bEvaluated = false;
    }
    // The matrix as last set, before any evaluation changed it: what the file stores, whatever
    // times the node was shown at since.
    const Matrix4& GetStoredMatrix() const { return m_bEvaluated ? m_stored : m_matrix; }

    // Keys in file order; the evaluation expects ascending times.
    PositionTrack& PositionKeys() { return m_positionKeys; }
    const PositionTrack& PositionKeys() const { return m_positionKeys; }
    RotationTrack& RotationKeys() { return m_rotationKeys; }
    const RotationTrack& RotationKeys() const { return m_rotationKeys; }

private:
    void EvaluateRotation(uint32_t dwTime);
    void EvaluatePosition(uint32_t dwTime);

    PositionTrack m_positionKeys;
    RotationTrack m_rotationKeys;
    Matrix4 m_matrix = Matrix4::Identity();
    Matrix4 m_stored = Matrix4::Identity();  // valid while m_bEvaluated
    bool m_bEvaluated = false;
};

// out = a x b. out may be a or b.
void MultiplyMatrix4(Matrix4& out, const Matrix4& a, const Matrix4& b);
// out = the adjugate of m (transposed cofactors, not divided by the determinant). out may be m.
void Adjugate4(Matrix4& out, const Matrix4& m);
// Scales x, y, z of rows 0 to 2 to unit length; the fourth column and row 3 stay.
void NormalizeRows3(Matrix4& m);
// Rows 0 to 2 of out = k x m over the first three columns of k; row 3 of out stays.
void Rotate3x3Block(Matrix4& out, const float k[3][4], const Matrix4& m);
// The rotation by fAngle about vAxis (right-hand rule, row vectors); the identity for an axis
// that spans no basis (zero, too short, not finite).
void AxisAngleMatrix(const Vector3& vAxis, float fAngle, Matrix4& out);
// The inverse of a matrix whose fourth column is (0, 0, 0, 1), through the adjugate.
Matrix4 InverseAffine(const Matrix4& m);
