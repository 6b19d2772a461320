// Shared by the renderer's tests: one headless context per test program, scenes written for a
// test, and pictures of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fileformats/loadedscene.h"
#include "fileformats/morv3d/morv3dwriter.h"
#include "render/headless.h"
#include "render/scenerenderer.h"

namespace render_test {

// Null (and the reason in strWhy) when this machine gives no OpenGL without a display.
CHeadlessContext* Context(std::string& strWhy);

#define REQUIRE_GL()                                          \
    do {                                                      \
        std::string strWhy;                                   \
        if (render_test::Context(strWhy) == nullptr) {        \
            GTEST_SKIP() << "no headless OpenGL: " << strWhy; \
        }                                                     \
    } while (0)

std::string SamplePath();

struct Picture {
    CImageRGBA image;
    std::vector<MissingTexture> missing;
};

// Loads strPath as the viewer does and draws it at dwTime, as `morv3d render` would.
Picture Render(const std::string& strPath, uint32_t dwTime, EViewPreset view,
               const RenderOptions& options, int nWidth = 200, int nHeight = 150);

}  // namespace render_test
