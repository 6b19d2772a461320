// The camera of pictures and pick rays, as plain data. It works in view space (right-handed,
// +Y up, see engine/3dobjects/axes.h); pick rays come out in scene (world) space.
#pragma once

#include <array>

#include "engine/3dobjects/vecmath.h"
#include "engine/utils/picking.h"

enum class EViewPreset { Front, Top, Side, Iso };

// An axis-aligned box in view space; empty until a point is added.
struct SceneBox {
    Vector3 vMin{1.0f, 1.0f, 1.0f};
    Vector3 vMax{-1.0f, -1.0f, -1.0f};
    bool Empty() const { return vMin.x > vMax.x; }
    // Points that are not finite are ignored.
    void Add(const Vector3& v);
};

// Column-major, as OpenGL takes it.
using GLMatrix = std::array<float, 16>;

class CCamera {
public:
    // Looks at the box from the preset's direction so that all of it shows. An empty box is
    // treated as the unit cube around the origin.
    void Fit(const SceneBox& box);
    void SetPreset(EViewPreset preset);
    void SetViewport(int nWidth, int nHeight);

    // Turns around the target: yaw about +Y, pitch towards the poles (kept short of them).
    void Orbit(double dYaw, double dPitch);
    // Moves target and eye in the view plane, in fractions of the visible height.
    void Pan(double dRight, double dUp);
    // Distance to the target times dFactor (below 1 comes closer).
    void Zoom(double dFactor);

    GLMatrix ViewMatrix() const;
    GLMatrix ProjectionMatrix() const;
    // Where a view-space point lands: normalised device coordinates (-1..1 inside the picture).
    Vector3 ProjectView(const Vector3& vView) const;
    // Eye position in view space.
    Vector3 Eye() const;
    // The ray from the eye through the centre of pixel (x, y), y counted from the top, in
    // scene space; the direction has unit length in view space.
    PickRay RayThroughPixel(double dX, double dY) const;

    double dYaw = 0.0;    // radians; 0 looks along -Z (the front)
    double dPitch = 0.0;  // radians; positive looks down
    double dDistance = 5.0;
    double dFovY = 0.6981317007977318;  // 40 degrees
    Vector3 vTarget;
    double dRadius = 1.0;  // of the scene the camera was fitted to: sets near and far
    int nWidth = 1;
    int nHeight = 1;

private:
    void Basis(double adForward[3], double adRight[3], double adUp[3]) const;
};
