#include "engine/3dobjects/transform.h"

#include <cmath>

namespace {

// Determinant of the 3x3 minor of m without row nSkipRow and column nSkipCol.
double MinorDeterminant(const Matrix4& m, int nSkipRow, int nSkipCol) {
    int anRows[3];
    int anCols[3];
    for (int i = 0, r = 0, c = 0; i < 4; ++i) {
        if (i != nSkipRow) {
            anRows[r++] = i;
        }
        if (i != nSkipCol) {
            anCols[c++] = i;
        }
    }
    auto at = [&](int r, int c) -> double { return m.m[anRows[r]][anCols[c]]; };
    return at(0, 0) * at(1, 1) * at(2, 2) + at(0, 1) * at(1, 2) * at(2, 0) +
           at(0, 2) * at(1, 0) * at(2, 1) - at(0, 0) * at(1, 2) * at(2, 1) -
           at(0, 1) * at(1, 0) * at(2, 2) - at(0, 2) * at(1, 1) * at(2, 0);
}

// Index of the first key whose time is at or after dwTime; the track's size when there is none.
template <typename Key>
size_t FindKey(const SceneVector<Key>& keys, uint32_t dwTime) {
    size_t i = 0;
    while (i < keys.size() && keys[i].dwTime < dwTime) {
        ++i;
    }
    return i;
}

// The cubic Bernstein weights at the position of dwTime between two keys.
struct tBezierWeights {
    float b0, b1, b2, b3;
};

tBezierWeights WeightsBetween(uint32_t dwTimeA, uint32_t dwTimeB, uint32_t dwTime) {
    // FindKey guarantees dwTimeA < dwTime <= dwTimeB, so neither difference wraps and the
    // denominator is at least 1. It is taken unsigned: read as signed, keys more than 2^31
    // apart would give a negative s and fling the node far outside its path.
    const uint32_t dwNumerator = dwTime - dwTimeA;
    const uint32_t dwDenominator = dwTimeB - dwTimeA;
    const float s = static_cast<float>(static_cast<double>(dwNumerator) / dwDenominator);
    const float u = 1.0f - s;
    const double ds = s, du = u;
    return {static_cast<float>(du * du * du), static_cast<float>(3.0 * ds * du * du),
            static_cast<float>(3.0 * ds * ds * du), static_cast<float>(ds * ds * ds)};
}

}  // namespace

void MultiplyMatrix4(Matrix4& out, const Matrix4& a, const Matrix4& b) {
    out = MatrixProduct(a, b);
}

void Adjugate4(Matrix4& out, const Matrix4& m) {
    Matrix4 result;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const double dMinor = MinorDeterminant(m, c, r);
            result.m[r][c] = static_cast<float>(((r + c) % 2 == 0) ? dMinor : -dMinor);
        }
    }
    out = result;
}

void NormalizeRows3(Matrix4& m) {
    for (int r = 0; r < 3; ++r) {
        const double dSquare = static_cast<double>(m.m[r][0]) * m.m[r][0] +
                               static_cast<double>(m.m[r][1]) * m.m[r][1] +
                               static_cast<double>(m.m[r][2]) * m.m[r][2];
        const float f = static_cast<float>(1.0 / std::sqrt(dSquare));
        for (int c = 0; c < 3; ++c) {
            m.m[r][c] *= f;
        }
    }
}

void Rotate3x3Block(Matrix4& out, const float k[3][4], const Matrix4& m) {
    float afRows[3][4];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            double dSum = 0.0;
            for (int j = 0; j < 3; ++j) {
                dSum += static_cast<double>(k[r][j]) * m.m[j][c];
            }
            afRows[r][c] = static_cast<float>(dSum);
        }
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            out.m[r][c] = afRows[r][c];
        }
    }
}

void AxisAngleMatrix(const Vector3& vAxis, float fAngle, Matrix4& out) {
    Vector3 vSide = Cross(Vector3{1.0f, 0.0f, 0.0f}, vAxis);
    if (vSide.x == 0.0f && vSide.y == 0.0f && vSide.z == 0.0f) {
        // The axis lies on x: take the second helper vector.
        vSide = Cross(Vector3{0.0f, 0.0f, 1.0f}, vAxis);
    }
    const Vector3 vUp = Cross(vAxis, vSide);

    // Basis with the axis as its third row; orthonormal with determinant +1.
    Matrix4 basis = Matrix4::Identity();
    const Vector3 avRows[3] = {vSide, vUp, vAxis};
    for (int r = 0; r < 3; ++r) {
        basis.m[r][0] = avRows[r].x;
        basis.m[r][1] = avRows[r].y;
        basis.m[r][2] = avRows[r].z;
    }
    NormalizeRows3(basis);
    // A zero axis (a "no rotation" key), or one too short or not finite to span a basis, turns
    // nothing; followed through, it would fill the node's matrix, and everything below, with NaN.
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (!std::isfinite(basis.m[r][c])) {
                out = Matrix4::Identity();
                return;
            }
        }
    }

    const double dAngle = fAngle;
    const float fCos = static_cast<float>(std::cos(dAngle));
    const float fSin = static_cast<float>(std::sin(dAngle));
    Matrix4 rotZ = Matrix4::Identity();
    rotZ.m[0][0] = fCos;
    rotZ.m[0][1] = fSin;
    rotZ.m[1][0] = -fSin;
    rotZ.m[1][1] = fCos;

    Matrix4 turned;
    MultiplyMatrix4(turned, rotZ, basis);
    Matrix4 inverse;
    Adjugate4(inverse, basis);
    MultiplyMatrix4(out, inverse, turned);
}

Matrix4 InverseAffine(const Matrix4& m) {
    const double dDet = static_cast<double>(m.m[0][0]) * m.m[1][1] * m.m[2][2] +
                        static_cast<double>(m.m[0][1]) * m.m[1][2] * m.m[2][0] +
                        static_cast<double>(m.m[0][2]) * m.m[1][0] * m.m[2][1] -
                        static_cast<double>(m.m[0][0]) * m.m[1][2] * m.m[2][1] -
                        static_cast<double>(m.m[0][1]) * m.m[1][0] * m.m[2][2] -
                        static_cast<double>(m.m[0][2]) * m.m[1][1] * m.m[2][0];
    Matrix4 result;
    Adjugate4(result, m);
    // A singular matrix gives infinities and NaNs here, which make every later sphere test fail.
    const float s = static_cast<float>(1.0 / dDet);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            result.m[r][c] *= s;
        }
    }
    result.m[0][3] = 0.0f;
    return result;
}

void CQVR3DTransform::Evaluate(uint32_t dwTime) {
    if (!m_bEvaluated) {
        m_stored = m_matrix;
        m_bEvaluated = true;
    }
    EvaluateRotation(dwTime);
    EvaluatePosition(dwTime);
}

void CQVR3DTransform::EvaluateRotation(uint32_t dwTime) {
    const size_t nKeys = m_rotationKeys.size();
    if (nKeys < 2) {
        return;
    }
    const size_t i = FindKey(m_rotationKeys, dwTime);
    if (i == 0) {
        // At or before the first key: its block itself, not turned.
        const RotationKey& first = m_rotationKeys.front();
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                m_matrix.m[r][c] = first.afBlock[r][c];
            }
        }
        return;
    }
    const RotationKey& key = (i == nKeys) ? m_rotationKeys.back() : m_rotationKeys[i];
    float fEased = 1.0f;
    if (i < nKeys) {
        const tBezierWeights w = WeightsBetween(m_rotationKeys[i - 1].dwTime, key.dwTime, dwTime);
        fEased = static_cast<float>(static_cast<double>(w.b2) + w.b3);
    }
    Matrix4 rotation;
    AxisAngleMatrix(key.vAxis, static_cast<float>(-static_cast<double>(key.fAngle) * fEased),
                    rotation);
    Rotate3x3Block(m_matrix, key.afBlock, rotation);
}

void CQVR3DTransform::EvaluatePosition(uint32_t dwTime) {
    const size_t nKeys = m_positionKeys.size();
    if (nKeys < 2) {
        return;
    }
    const size_t i = FindKey(m_positionKeys, dwTime);
    Vector3 vTranslation;
    if (i == 0 || i == nKeys) {
        vTranslation =
            (i == 0) ? m_positionKeys.front().vPosition : m_positionKeys.back().vPosition;
    } else {
        const PositionKey& a = m_positionKeys[i - 1];
        const PositionKey& b = m_positionKeys[i];
        const tBezierWeights w = WeightsBetween(a.dwTime, b.dwTime, dwTime);
        auto blend = [&](float Vector3::*pComponent) {
            return static_cast<float>(static_cast<double>(w.b0) * (a.vPosition.*pComponent) +
                                      static_cast<double>(w.b1) * (a.vControlOut.*pComponent) +
                                      static_cast<double>(w.b2) * (b.vControlIn.*pComponent) +
                                      static_cast<double>(w.b3) * (b.vPosition.*pComponent));
        };
        vTranslation = {blend(&Vector3::x), blend(&Vector3::y), blend(&Vector3::z)};
    }
    m_matrix.m[3][0] = vTranslation.x;
    m_matrix.m[3][1] = vTranslation.y;
    m_matrix.m[3][2] = vTranslation.z;
}
