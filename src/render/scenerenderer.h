// Draws a loaded scene with OpenGL 3.3 core or OpenGL ES 3.0 into whatever framebuffer is bound:
// the desktop view's widget or an offscreen target. Needs a current context for every call;
// carries no GL types in its interface.
//
// A frame is the prepared items (framewalk.h), turned into a draw list (drawlist.h) and drawn
// pass by pass (drawpasses.h, overlays.h) from the geometry cache (geometrycache.h): meshes
// that share geometry and are not blended are drawn together, one instanced call per face
// group; blended face groups come after all opaque ones, in hierarchy order, without depth
// writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "abstractdata/filefolder.h"
#include "abstractdata/hresult.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "render/camera.h"
#include "render/framewalk.h"
#include "render/offscreen.h"
#include "render/texturefile.h"

struct RenderOptions {
    bool bWireframe = false;  // the triangles' edges only
    bool bEdges = false;      // the edges over the filled faces
    bool bSpheres = false;    // the engine's bounding spheres
    bool bNormals = false;
    bool bGrid = false;
    bool bAxes = false;
    uint32_t dwBackground = 0x3C4048;  // 0xRRGGBB
    // The faces reach the driver this many triangles at a time, each batch finished before the
    // next (0: all at once). A software rasteriser holds what it was given until it draws it:
    // one large picture drawn on the processor needs less memory so.
    uint32_t dwTriangleBudget = 0;
    // Meshes drawn in the highlight colour over their texture (empty: none).
    std::vector<const CQVR3DMesh*> highlighted;
};

// A texture a scene names that could not be used.
struct MissingTexture {
    uint32_t dwMaterial = 0;
    std::string strName;    // as stored
    std::string strReason;  // "not found" or why it was refused
};

class CSceneRenderer {
public:
    CSceneRenderer();
    ~CSceneRenderer();  // frees its GL objects: the context must still be current
    CSceneRenderer(const CSceneRenderer&) = delete;
    CSceneRenderer& operator=(const CSceneRenderer&) = delete;

    // Compiles the shaders. E_FAIL with a message when the context cannot run them.
    HRESULT Initialize(std::string& strError);

    // The scene to draw: its materials (each face group names one), its root and the folder
    // its textures are looked up in (null: none is found). Not owned; everything must stay
    // alive until the next SetScene or the renderer's end.
    void SetScene(const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials, CQVR3DObject* pRoot,
                  const CFileFolder* pFolder);

    // Brings every object to its requested time (the caller sets it on the root) and lists
    // the meshes with their world matrices; the following Draw uses this list. When neither
    // the scene nor the root's requested time changed since, the list stands without a walk.
    HRESULT Prepare();
    // The scene box in view space of the prepared frame (computed once per prepared list).
    SceneBox Bounds() const;
    const std::vector<DrawItem>& Items() const { return m_items; }

    // Brings the GPU's copy of the prepared frame up to date: buffers of geometry seen for the
    // first time, morphed vertices whose time changed, the instances' matrices. Draw does it.
    HRESULT Upload(const RenderOptions& options);
    // Draws the prepared frame into the bound framebuffer over the whole viewport.
    HRESULT Draw(const CCamera& camera, const RenderOptions& options);
    // Draws each mesh of the prepared frame in a flat colour: item i + 1 as 0xRRGGBB, the
    // background 0. For checking that picks and pictures agree.
    HRESULT DrawIds(const CCamera& camera);

    const std::vector<MissingTexture>& MissingTextures() const { return m_missing; }

private:
    struct tImpl;
    std::unique_ptr<tImpl> m_pImpl;
    std::vector<DrawItem> m_items;
    std::vector<MissingTexture> m_missing;
};
