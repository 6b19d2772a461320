#include "rendertest.h"

#include <cmath>
#include <limits>

namespace render_test {

CHeadlessContext* Context(std::string& strWhy) {
    static std::string strError;
    static std::unique_ptr<CHeadlessContext> pContext = [] {
        auto p = std::make_unique<CHeadlessContext>();
        if (FAILED(p->Create(strError))) {
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

std::shared_ptr<Morv3DMeshDesc> Quad(float fX, uint32_t dwMaterial, bool bNanCorner) {
    auto pMesh = std::make_shared<Morv3DMeshDesc>();
    pMesh->dwComponentFlags = 0x13;
    Morv3DFrameDesc frame;
    const float afCorner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& corner : afCorner) {
        Morv3DFileVertex v;
        v.vPosition = {fX + corner[0], 0, corner[1]};
        v.vNormal = {0, -1, 0};
        v.fU = corner[0];
        v.fV = 1 - corner[1];
        frame.vertices.push_back(v);
    }
    if (bNanCorner) {
        frame.vertices[2].vPosition.x = std::numeric_limits<float>::quiet_NaN();
    }
    pMesh->frames.push_back(frame);
    pMesh->faces = {{{0, 1, 2}}, {{0, 2, 3}}};
    FileGroup group;
    group.dwFaceCount = 2;
    group.dwMaterial = dwMaterial;
    pMesh->groups.push_back(group);
    pMesh->vCenter = {fX + 0.5f, 0, 0.5f};
    pMesh->fRadius = 0.75f;
    return pMesh;
}

std::vector<Morv3DMaterialDesc> SolidMaterials(uint32_t dwCount) {
    std::vector<Morv3DMaterialDesc> materials(dwCount);
    for (uint32_t i = 0; i < dwCount; ++i) {
        materials[i].maps.push_back({{}, "tex" + std::to_string(i) + ".bmp"});
    }
    return materials;
}

Picture Render(const std::string& strPath, uint32_t dwTime, EViewPreset view,
               const RenderOptions& options, int nWidth, int nHeight) {
    Picture picture;
    CMorv3dViewerDoc doc;
    EXPECT_TRUE(doc.OnOpenDocument(strPath)) << strPath;
    CSceneRenderer renderer;
    COffscreenTarget target;
    std::string strError;
    EXPECT_EQ(renderer.Initialize(strError), S_OK) << strError;
    EXPECT_EQ(target.Create(nWidth, nHeight, strError), S_OK) << strError;
    const size_t nSlash = strPath.rfind('/');
    renderer.SetScene(&doc._Materials, doc._pNode, strPath.substr(0, nSlash + 1));
    if (doc._pNode != nullptr) {
        doc._pNode->SetTime(dwTime);
    }
    EXPECT_EQ(renderer.Prepare(), S_OK);
    EXPECT_EQ(renderer.Draw(CameraForPicture(renderer.Items(), nWidth, nHeight, view), options),
              S_OK);
    EXPECT_EQ(target.Read(picture.image), S_OK);
    picture.missing = renderer.MissingTextures();
    return picture;
}

}  // namespace render_test
