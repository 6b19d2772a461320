#include <gtest/gtest.h>

#include <cmath>

#include "engine/3dobjects/axes.h"
#include "render/camera.h"

TEST(Camera, FitShowsTheWholeBoxFromEveryPreset) {
    SceneBox box;
    box.Add({-4, 1, 2});
    box.Add({6, 3, 2.5f});
    box.Add({std::nanf(""), 1e9f, 0});  // ignored
    for (EViewPreset preset :
         {EViewPreset::Front, EViewPreset::Top, EViewPreset::Side, EViewPreset::Iso}) {
        for (const auto& [nWidth, nHeight] : {std::pair{800, 600}, std::pair{100, 400}}) {
            CCamera camera;
            camera.SetViewport(nWidth, nHeight);
            camera.SetPreset(preset);
            camera.Fit(box);
            for (int i = 0; i < 8; ++i) {
                const Vector3 corner{(i & 1) ? box.vMax.x : box.vMin.x,
                                     (i & 2) ? box.vMax.y : box.vMin.y,
                                     (i & 4) ? box.vMax.z : box.vMin.z};
                const Vector3 ndc = camera.ProjectView(corner);
                EXPECT_LE(std::fabs(ndc.x), 1.0f);
                EXPECT_LE(std::fabs(ndc.y), 1.0f);
                EXPECT_LE(std::fabs(ndc.z), 1.0f);
            }
        }
    }
}

TEST(Camera, PresetsLookFromTheirSidesAndRaysLeaveThroughTheirPixels) {
    SceneBox box;
    box.Add({-1, -1, -1});
    box.Add({1, 1, 1});
    CCamera camera;
    camera.SetViewport(201, 101);
    camera.Fit(box);
    const struct {
        EViewPreset preset;
        Vector3 vEye;  // direction from the target, view space
    } cases[] = {{EViewPreset::Front, {0, 0, 1}},
                 {EViewPreset::Side, {1, 0, 0}},
                 {EViewPreset::Top, {0, 1, 0}}};
    for (const auto& c : cases) {
        camera.SetPreset(c.preset);
        const Vector3 vEye = Normalize(Subtract(camera.Eye(), camera.vTarget));
        EXPECT_NEAR(Dot(vEye, c.vEye), 1.0f, 1e-3f);
        // The centre pixel's ray, in scene space, runs from the eye to the target.
        const PickRay ray = camera.RayThroughPixel(100, 50);
        const Vector3 vToTarget =
            Normalize(Subtract(TransformPoint(camera.vTarget, ViewToWorldAxes()), ray.vOrigin));
        EXPECT_NEAR(Dot(vToTarget, ray.vDirection), 1.0f, 1e-5f);
    }
    // Front: the scene's +Z (up) is the picture's up, its +X the picture's right.
    camera.SetPreset(EViewPreset::Front);
    const Vector3 vUp = camera.ProjectView(TransformPoint({0, 0, 1}, WorldToViewAxes()));
    const Vector3 vRight = camera.ProjectView(TransformPoint({1, 0, 0}, WorldToViewAxes()));
    EXPECT_GT(vUp.y, 0.1f);
    EXPECT_NEAR(vUp.x, 0.0f, 1e-5f);
    EXPECT_GT(vRight.x, 0.1f);
}

TEST(Camera, OrbitPanAndZoomStayUsable) {
    CCamera camera;
    camera.Fit(SceneBox{});
    const double dDistance = camera.dDistance;
    camera.Zoom(0.5);
    EXPECT_DOUBLE_EQ(camera.dDistance, dDistance * 0.5);
    camera.Zoom(0);
    camera.Zoom(std::nan(""));
    camera.Zoom(1e300);
    EXPECT_LE(camera.dDistance, camera.dRadius * 1e4);
    camera.Orbit(0, 10);  // past the pole: held short of it
    EXPECT_LT(camera.dPitch, 1.5708);
    const Vector3 vBefore = camera.vTarget;
    camera.Pan(0.5, 0);
    EXPECT_NE(camera.vTarget.x, vBefore.x);
    EXPECT_TRUE(std::isfinite(camera.ProjectionMatrix()[0]));
}
