#include "rendertest.h"

#include <cstdlib>

namespace render_test {

CHeadlessContext* Context(std::string& strWhy) {
    static std::string strError;
    static std::unique_ptr<CHeadlessContext> pContext = [] {
        auto p = std::make_unique<CHeadlessContext>();
        const bool bEs = std::getenv("MORV_TEST_GLES") != nullptr;
        if (FAILED(p->Create(
                strError, bEs ? CHeadlessContext::Api::OpenGLES : CHeadlessContext::Api::OpenGL))) {
            p.reset();
        }
        return p;
    }();
    strWhy = strError;
    return pContext.get();
}

std::string SamplePath() {
    return std::string(MORV_SOURCE_DIR) + "/examples/sample.morv3d";
}

Picture Render(const std::string& strPath, uint32_t dwTime, EViewPreset view,
               const RenderOptions& options, int nWidth, int nHeight) {
    Picture picture;
    LoadedScene scene(strPath);
    EXPECT_NE(scene.pRoot, nullptr) << strPath;
    CSceneRenderer renderer;
    COffscreenTarget target;
    std::string strError;
    EXPECT_EQ(renderer.Initialize(strError), S_OK) << strError;
    EXPECT_EQ(target.Create(nWidth, nHeight, strError), S_OK) << strError;
    const CDiskFolder folder(strPath.substr(0, strPath.rfind('/') + 1));
    renderer.SetScene(&scene.materials, scene.pRoot, &folder);
    if (scene.pRoot != nullptr) {
        scene.pRoot->SetTime(dwTime);
    }
    EXPECT_EQ(renderer.Prepare(), S_OK);
    EXPECT_EQ(renderer.Draw(CameraForPicture(renderer.Items(), nWidth, nHeight, view), options),
              S_OK);
    EXPECT_EQ(target.Read(picture.image), S_OK);
    picture.missing = renderer.MissingTextures();
    return picture;
}

}  // namespace render_test
