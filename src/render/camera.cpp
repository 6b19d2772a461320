#include "render/camera.h"

#include <algorithm>
#include <cmath>

#include "engine/3dobjects/axes.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPitchLimit = kPi / 2 - 1e-3;
constexpr double kLargest = 1e30;  // bounds beyond this are clamped: the maths stays finite

}  // namespace

void SceneBox::Add(const Vector3& v) {
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
        return;
    }
    const auto clamp = [](float f) {
        return static_cast<float>(std::clamp(static_cast<double>(f), -kLargest, kLargest));
    };
    const Vector3 c{clamp(v.x), clamp(v.y), clamp(v.z)};
    if (Empty()) {
        vMin = vMax = c;
        return;
    }
    vMin = {std::min(vMin.x, c.x), std::min(vMin.y, c.y), std::min(vMin.z, c.z)};
    vMax = {std::max(vMax.x, c.x), std::max(vMax.y, c.y), std::max(vMax.z, c.z)};
}

void CCamera::Fit(const SceneBox& box) {
    Vector3 vMin{-1, -1, -1};
    Vector3 vMax{1, 1, 1};
    if (!box.Empty()) {
        vMin = box.vMin;
        vMax = box.vMax;
    }
    const double dx = static_cast<double>(vMax.x) - vMin.x;
    const double dy = static_cast<double>(vMax.y) - vMin.y;
    const double dz = static_cast<double>(vMax.z) - vMin.z;
    vTarget = {static_cast<float>((static_cast<double>(vMin.x) + vMax.x) / 2),
               static_cast<float>((static_cast<double>(vMin.y) + vMax.y) / 2),
               static_cast<float>((static_cast<double>(vMin.z) + vMax.z) / 2)};
    dRadius = std::sqrt(dx * dx + dy * dy + dz * dz) / 2;
    if (!(dRadius > 1e-6)) {
        dRadius = 1.0;  // a point or a flat line: still something to look at
    }
    const double dAspect = static_cast<double>(nWidth) / std::max(nHeight, 1);
    const double dHalfFov = std::min(dFovY / 2, std::atan(std::tan(dFovY / 2) * dAspect));
    dDistance = dRadius / std::sin(dHalfFov) * 1.05;
}

void CCamera::SetPreset(EViewPreset preset) {
    switch (preset) {
        case EViewPreset::Front:
            dYaw = 0;
            dPitch = 0;
            break;
        case EViewPreset::Top:
            dYaw = 0;
            dPitch = kPitchLimit;
            break;
        case EViewPreset::Side:
            dYaw = kPi / 2;
            dPitch = 0;
            break;
        case EViewPreset::Iso:
            dYaw = kPi / 4;
            dPitch = std::atan(1 / std::sqrt(2.0));
            break;
    }
}

void CCamera::SetViewport(int nNewWidth, int nNewHeight) {
    nWidth = std::max(nNewWidth, 1);
    nHeight = std::max(nNewHeight, 1);
}

void CCamera::Orbit(double dDeltaYaw, double dDeltaPitch) {
    dYaw = std::remainder(dYaw + dDeltaYaw, 2 * kPi);
    dPitch = std::clamp(dPitch + dDeltaPitch, -kPitchLimit, kPitchLimit);
}

void CCamera::Pan(double dRight, double dUp) {
    double adForward[3], adRight[3], adUp[3];
    Basis(adForward, adRight, adUp);
    const double dHeight = 2 * dDistance * std::tan(dFovY / 2);
    double ad[3];
    for (int i = 0; i < 3; ++i) {
        ad[i] = (dRight * adRight[i] + dUp * adUp[i]) * dHeight;
    }
    vTarget = {static_cast<float>(vTarget.x + ad[0]), static_cast<float>(vTarget.y + ad[1]),
               static_cast<float>(vTarget.z + ad[2])};
}

void CCamera::Zoom(double dFactor) {
    if (std::isfinite(dFactor) && dFactor > 0) {
        dDistance = std::clamp(dDistance * dFactor, dRadius * 1e-4, dRadius * 1e4);
    }
}

void CCamera::Basis(double adForward[3], double adRight[3], double adUp[3]) const {
    // Yaw 0, pitch 0: the eye on +Z looking along -Z, +X to the right.
    const double cy = std::cos(dYaw), sy = std::sin(dYaw);
    const double cp = std::cos(dPitch), sp = std::sin(dPitch);
    adForward[0] = -sy * cp;
    adForward[1] = -sp;
    adForward[2] = -cy * cp;
    adRight[0] = cy;
    adRight[1] = 0;
    adRight[2] = -sy;
    // up = right x forward
    adUp[0] = adRight[1] * adForward[2] - adRight[2] * adForward[1];
    adUp[1] = adRight[2] * adForward[0] - adRight[0] * adForward[2];
    adUp[2] = adRight[0] * adForward[1] - adRight[1] * adForward[0];
}

Vector3 CCamera::Eye() const {
    double adForward[3], adRight[3], adUp[3];
    Basis(adForward, adRight, adUp);
    return {static_cast<float>(vTarget.x - adForward[0] * dDistance),
            static_cast<float>(vTarget.y - adForward[1] * dDistance),
            static_cast<float>(vTarget.z - adForward[2] * dDistance)};
}

GLMatrix CCamera::ViewMatrix() const {
    double f[3], r[3], u[3];
    Basis(f, r, u);
    const Vector3 e = Eye();
    const double ae[3] = {e.x, e.y, e.z};
    const auto dot = [](const double* a, const double* b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    GLMatrix m{};
    for (int c = 0; c < 3; ++c) {
        m[c * 4 + 0] = static_cast<float>(r[c]);
        m[c * 4 + 1] = static_cast<float>(u[c]);
        m[c * 4 + 2] = static_cast<float>(-f[c]);
    }
    m[12] = static_cast<float>(-dot(r, ae));
    m[13] = static_cast<float>(-dot(u, ae));
    m[14] = static_cast<float>(dot(f, ae));
    m[15] = 1.0f;
    return m;
}

GLMatrix CCamera::ProjectionMatrix() const {
    // Near and far around the fitted scene, wherever the eye has moved to.
    const double dNear = std::max(dDistance - dRadius * 1.5, dRadius * 1e-3);
    const double dFar = dDistance + dRadius * 1.5;
    const double dAspect = static_cast<double>(nWidth) / nHeight;
    const double t = 1.0 / std::tan(dFovY / 2);
    GLMatrix m{};
    m[0] = static_cast<float>(t / dAspect);
    m[5] = static_cast<float>(t);
    m[10] = static_cast<float>((dFar + dNear) / (dNear - dFar));
    m[11] = -1.0f;
    m[14] = static_cast<float>(2 * dFar * dNear / (dNear - dFar));
    return m;
}

Vector3 CCamera::ProjectView(const Vector3& vView) const {
    const GLMatrix view = ViewMatrix();
    const GLMatrix projection = ProjectionMatrix();
    const double p[4] = {vView.x, vView.y, vView.z, 1};
    double eye[4];
    double clip[4];
    for (int r = 0; r < 4; ++r) {
        eye[r] = view[r] * p[0] + view[4 + r] * p[1] + view[8 + r] * p[2] + view[12 + r] * p[3];
    }
    for (int r = 0; r < 4; ++r) {
        clip[r] = projection[r] * eye[0] + projection[4 + r] * eye[1] + projection[8 + r] * eye[2] +
                  projection[12 + r] * eye[3];
    }
    return {static_cast<float>(clip[0] / clip[3]), static_cast<float>(clip[1] / clip[3]),
            static_cast<float>(clip[2] / clip[3])};
}

PickRay CCamera::RayThroughPixel(double dX, double dY) const {
    double f[3], r[3], u[3];
    Basis(f, r, u);
    const double dTan = std::tan(dFovY / 2);
    const double dAspect = static_cast<double>(nWidth) / nHeight;
    const double nx = (2 * (dX + 0.5) / nWidth - 1) * dTan * dAspect;
    const double ny = (1 - 2 * (dY + 0.5) / nHeight) * dTan;
    double ad[3];
    for (int i = 0; i < 3; ++i) {
        ad[i] = f[i] + nx * r[i] + ny * u[i];
    }
    const double dLength = std::sqrt(ad[0] * ad[0] + ad[1] * ad[1] + ad[2] * ad[2]);
    const Vector3 vDirection{static_cast<float>(ad[0] / dLength),
                             static_cast<float>(ad[1] / dLength),
                             static_cast<float>(ad[2] / dLength)};
    const Matrix4 toWorld = ViewToWorldAxes();
    return {::TransformPoint(Eye(), toWorld), TransformDirection(vDirection, toWorld)};
}
