// Vectors and row-vector matrices of 32-bit floats. Intermediate products and sums are formed
// in double and each result component is stored as a 32-bit float.
#pragma once

#include <cmath>

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// m[r][c], row by row; a point p maps to p x M, the translation stands in row 3.
struct Matrix4 {
    float m[4][4] = {};

    static Matrix4 Identity() {
        Matrix4 r;
        r.m[0][0] = r.m[1][1] = r.m[2][2] = r.m[3][3] = 1.0f;
        return r;
    }
};

inline bool operator==(const Vector3& a, const Vector3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

inline Vector3 Subtract(const Vector3& a, const Vector3& b) {
    return {static_cast<float>(static_cast<double>(a.x) - b.x),
            static_cast<float>(static_cast<double>(a.y) - b.y),
            static_cast<float>(static_cast<double>(a.z) - b.z)};
}

inline Vector3 Add(const Vector3& a, const Vector3& b) {
    return {static_cast<float>(static_cast<double>(a.x) + b.x),
            static_cast<float>(static_cast<double>(a.y) + b.y),
            static_cast<float>(static_cast<double>(a.z) + b.z)};
}

inline Vector3 Scale(float s, const Vector3& a) {
    return {static_cast<float>(static_cast<double>(s) * a.x),
            static_cast<float>(static_cast<double>(s) * a.y),
            static_cast<float>(static_cast<double>(s) * a.z)};
}

inline float Dot(const Vector3& a, const Vector3& b) {
    return static_cast<float>(static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y +
                              static_cast<double>(a.z) * b.z);
}

inline Vector3 Cross(const Vector3& a, const Vector3& b) {
    return {static_cast<float>(static_cast<double>(a.y) * b.z - static_cast<double>(a.z) * b.y),
            static_cast<float>(static_cast<double>(a.z) * b.x - static_cast<double>(a.x) * b.z),
            static_cast<float>(static_cast<double>(a.x) * b.y - static_cast<double>(a.y) * b.x)};
}

inline float Length(const Vector3& a) {
    return static_cast<float>(std::sqrt(static_cast<double>(a.x) * a.x +
                                        static_cast<double>(a.y) * a.y +
                                        static_cast<double>(a.z) * a.z));
}

inline Vector3 Normalize(const Vector3& a) {
    const double dLength =
        std::sqrt(static_cast<double>(a.x) * a.x + static_cast<double>(a.y) * a.y +
                  static_cast<double>(a.z) * a.z);
    return {static_cast<float>(a.x / dLength), static_cast<float>(a.y / dLength),
            static_cast<float>(a.z / dLength)};
}

// p x M with the translation row, no division.
inline Vector3 TransformPoint(const Vector3& p, const Matrix4& M) {
    const double x = p.x, y = p.y, z = p.z;
    return {static_cast<float>(x * M.m[0][0] + y * M.m[1][0] + z * M.m[2][0] + M.m[3][0]),
            static_cast<float>(x * M.m[0][1] + y * M.m[1][1] + z * M.m[2][1] + M.m[3][1]),
            static_cast<float>(x * M.m[0][2] + y * M.m[1][2] + z * M.m[2][2] + M.m[3][2])};
}

// p x M without the translation row.
inline Vector3 TransformDirection(const Vector3& p, const Matrix4& M) {
    const double x = p.x, y = p.y, z = p.z;
    return {static_cast<float>(x * M.m[0][0] + y * M.m[1][0] + z * M.m[2][0]),
            static_cast<float>(x * M.m[0][1] + y * M.m[1][1] + z * M.m[2][1]),
            static_cast<float>(x * M.m[0][2] + y * M.m[1][2] + z * M.m[2][2])};
}

// (A x B)[r][c] = sum over k of A[r][k] * B[k][c].
inline Matrix4 MatrixProduct(const Matrix4& A, const Matrix4& B) {
    Matrix4 R;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            double dSum = 0.0;
            for (int k = 0; k < 4; ++k) {
                dSum += static_cast<double>(A.m[r][k]) * B.m[k][c];
            }
            R.m[r][c] = static_cast<float>(dSum);
        }
    }
    return R;
}
