// Keyed tracks evaluated as a player does, apart from the engine: the export tests read the
// written glTF this way and the import tests Assimp's reading of the original, and both hold
// the engine's animation against it.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/3dobjects/vecmath.h"

enum class EInterpolation { Linear, Spherical, CubicSpline };

// Key times and n values per key (CubicSpline: in-tangent, value, out-tangent); rotations as
// x, y, z, w.
struct KeyTrack {
    std::vector<double> times;
    std::vector<float> values;
    EInterpolation interpolation = EInterpolation::Linear;
};

// The track at time t, as many values per key as `held`, which stands without keys. Keys hold
// before the first and after the last; Spherical turns along the shorter great circle.
inline std::vector<float> SampleTrack(const KeyTrack& c, double t, const std::vector<float>& held) {
    const size_t n = held.size();
    const bool bCubic = c.interpolation == EInterpolation::CubicSpline;
    auto value = [&](size_t k) {
        const size_t nAt = bCubic ? (3 * k + 1) * n : k * n;
        return std::vector<float>(c.values.begin() + nAt, c.values.begin() + nAt + n);
    };
    if (c.times.empty()) {
        return held;
    }
    if (t <= c.times.front()) {
        return value(0);
    }
    if (t >= c.times.back()) {
        return value(c.times.size() - 1);
    }
    size_t k = 0;
    while (c.times[k + 1] <= t) {
        ++k;
    }
    const double dt = c.times[k + 1] - c.times[k], s = (t - c.times[k]) / dt;
    std::vector<float> a = value(k), b = value(k + 1), r(n);
    if (bCubic) {
        for (size_t i = 0; i < n; ++i) {
            const double m0 = c.values[(3 * k + 2) * n + i] * dt;
            const double m1 = c.values[(3 * (k + 1)) * n + i] * dt;
            r[i] = static_cast<float>(
                (2 * s * s * s - 3 * s * s + 1) * a[i] + (s * s * s - 2 * s * s + s) * m0 +
                (-2 * s * s * s + 3 * s * s) * b[i] + (s * s * s - s * s) * m1);
        }
        return r;
    }
    double wa = 1 - s, wb = s;
    if (c.interpolation == EInterpolation::Spherical) {
        double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
        const double sign = dot < 0 ? -1.0 : 1.0;
        dot = std::min(1.0, std::fabs(dot));
        const double angle = std::acos(dot);
        if (angle >= 1e-9) {
            wa = std::sin((1 - s) * angle) / std::sin(angle);
            wb = std::sin(s * angle) / std::sin(angle);
        }
        wb *= sign;
    }
    double dLength = 0;
    for (size_t i = 0; i < n; ++i) {
        r[i] = static_cast<float>(wa * a[i] + wb * b[i]);
        dLength += r[i] * r[i];
    }
    // A turn between keys that are not of unit length is of unit length, as players make it.
    for (size_t i = 0; i < n && c.interpolation == EInterpolation::Spherical; ++i) {
        r[i] = static_cast<float>(r[i] / std::sqrt(dLength));
    }
    return r;
}

// Row-vector matrix of scale S, then rotation R (x, y, z, w), then translation T.
inline Matrix4 ComposeTRS(const std::vector<float>& T, const std::vector<float>& R,
                          const std::vector<float>& S) {
    const double x = R[0], y = R[1], z = R[2], w = R[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    Matrix4 m = Matrix4::Identity();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m.m[j][i] = static_cast<float>(r[i][j] * S[j]);  // row j: column j of R S
        }
        m.m[3][i] = T[i];
    }
    return m;
}
