#include "render/scenerenderer.h"

#include <cstring>
#include <new>

#include "engine/3dobjects/axes.h"
#include "render/drawpasses.h"
#include "render/glapi.h"
#include "render/glfault.h"
#include "render/overlays.h"

namespace {

GLMatrix Multiply(const GLMatrix& a, const GLMatrix& b) {
    GLMatrix r{};
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            double d = 0;
            for (int k = 0; k < 4; ++k) {
                d += static_cast<double>(a[k * 4 + row]) * b[c * 4 + k];
            }
            r[c * 4 + row] = static_cast<float>(d);
        }
    }
    return r;
}

// A row-vector Matrix4 stored row by row is the column-major matrix for column vectors.
GLMatrix ToGL(const Matrix4& m) {
    GLMatrix r;
    std::memcpy(r.data(), &m.m[0][0], sizeof(r));
    return r;
}

constexpr float kEdgeOverFaces[3] = {0.05f, 0.05f, 0.05f};
constexpr float kEdgeAlone[3] = {0.85f, 0.85f, 0.85f};

}  // namespace

struct CSceneRenderer::tImpl {
    MeshProgram mesh;
    LineProgram line;
    CGeometryCache geometry;
    CTextureCache textures;
    COverlays overlays;

    const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials = nullptr;
    CQVR3DObject* pRoot = nullptr;
    const CFileFolder* pFolder = nullptr;

    // The prepared frame: the root's time it was walked at, its box once asked for.
    bool bPrepared = false;
    uint32_t dwPreparedTime = 0;
    bool bBoxKnown = false;
    SceneBox box;

    std::vector<uint32_t> itemEntry;
    DrawList list;

    ~tImpl() {
        // Without a program nothing was ever made, and no context need be current.
        if (mesh.program != 0) {
            FreeScene();
            geometry.Free(true);
            textures.Free(true);
            overlays.Free();
            glDeleteProgram(mesh.program);
            glDeleteProgram(line.program);
        }
    }

    void FreeScene() {
        geometry.Free();
        textures.Free();
    }

    PassContext Passes(std::vector<MissingTexture>& missing) {
        return {mesh, geometry, textures, pMaterials, pFolder, missing};
    }

    // Binds the mesh program with the camera's matrices.
    void UseMeshProgram(const CCamera& camera, int nFlat) {
        const GLMatrix viewAxes = Multiply(camera.ViewMatrix(), ToGL(WorldToViewAxes()));
        const GLMatrix projection = camera.ProjectionMatrix();
        glUseProgram(mesh.program);
        glUniformMatrix4fv(mesh.uViewAxes, 1, GL_FALSE, viewAxes.data());
        glUniformMatrix4fv(mesh.uProjection, 1, GL_FALSE, projection.data());
        glUniform1i(mesh.uTexture, 0);
        glUniform1i(mesh.uFlat, nFlat);
        glActiveTexture(GL_TEXTURE0);
    }

    // Depth test on, blending off, both sides drawn: files come with either winding.
    static void Clear(float fR, float fG, float fB, float fA) {
        glClearColor(fR, fG, fB, fA);
        glDepthMask(GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glDisable(GL_CULL_FACE);
        glDisable(GL_BLEND);
    }
};

CSceneRenderer::CSceneRenderer() : m_pImpl(std::make_unique<tImpl>()) {}

CSceneRenderer::~CSceneRenderer() = default;

HRESULT CSceneRenderer::Initialize(std::string& strError) {
    tImpl& d = *m_pImpl;
    if (d.mesh.program != 0) {
        return S_OK;
    }
    const int nNeeded = GlIsDesktop() ? 33 : 30;
    if (GlVersion() < nNeeded || GlFaultAt("version")) {
        strError = std::string(GlIsDesktop() ? "OpenGL 3.3" : "OpenGL ES 3.0") +
                   " is needed; the context offers " + std::to_string(GlVersion() / 10) + "." +
                   std::to_string(GlVersion() % 10);
        return E_FAIL;
    }
    if (!BuildPrograms(d.mesh, d.line, strError)) {
        return E_FAIL;
    }
    d.geometry.Create();
    d.overlays.Create();
    d.textures.MakeWhite();
    return S_OK;
}

void CSceneRenderer::SetScene(const std::vector<CMorv3DLoader::tMaterialMaps>* pMaterials,
                              CQVR3DObject* pRoot, const CFileFolder* pFolder) {
    tImpl& d = *m_pImpl;
    d.FreeScene();
    d.pMaterials = pMaterials;
    d.pRoot = pRoot;
    d.pFolder = pFolder;
    d.bPrepared = false;
    d.bBoxKnown = false;
    m_items.clear();
    m_missing.clear();
}

HRESULT CSceneRenderer::Prepare() {
    tImpl& d = *m_pImpl;
    const uint32_t dwTime = d.pRoot != nullptr ? d.pRoot->dwRequestedTime : 0;
    if (d.bPrepared && dwTime == d.dwPreparedTime) {
        return S_OK;
    }
    d.bBoxKnown = false;
    const HRESULT hr = CollectDrawItems(d.pRoot, m_items);
    d.bPrepared = SUCCEEDED(hr);
    d.dwPreparedTime = dwTime;
    return hr;
}

SceneBox CSceneRenderer::Bounds() const {
    tImpl& d = *m_pImpl;
    if (!d.bBoxKnown) {
        d.box = SceneBounds(m_items);
        d.bBoxKnown = true;
    }
    return d.box;
}

HRESULT CSceneRenderer::Upload(const RenderOptions& options) {
    tImpl& d = *m_pImpl;
    if (d.mesh.program == 0) {
        return E_UNEXPECTED;
    }
    // Errors left by others (the widget's toolkit) are not this frame's: read them away.
    for (int n = 0; n < 8 && glGetError() != GL_NO_ERROR; ++n) {
    }
    try {
        d.geometry.EntriesFor(m_items, d.itemEntry);
        const HRESULT hr =
            BuildDrawList(m_items, d.itemEntry, d.geometry.Entries(), d.pMaterials,
                          options.highlighted, options.bWireframe || options.bEdges, d.list);
        if (FAILED(hr)) {
            return hr;
        }
        d.geometry.Upload(d.list);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (GlFaultAt("upload")) {
        glBufferData(GL_ARRAY_BUFFER, -1, nullptr, GL_STREAM_DRAW);
    }
    // A buffer the driver could not make would draw nothing: the frame is not drawn.
    const GLenum error = glGetError();
    return error == GL_NO_ERROR ? S_OK : error == GL_OUT_OF_MEMORY ? E_OUTOFMEMORY : E_UNEXPECTED;
}

HRESULT CSceneRenderer::Draw(const CCamera& camera, const RenderOptions& options) {
    tImpl& d = *m_pImpl;
    const HRESULT hr = Upload(options);
    if (FAILED(hr)) {
        return hr;
    }
    try {
        tImpl::Clear(((options.dwBackground >> 16) & 0xFF) / 255.0f,
                     ((options.dwBackground >> 8) & 0xFF) / 255.0f,
                     (options.dwBackground & 0xFF) / 255.0f, 1.0f);
        d.UseMeshProgram(camera, 0);
        d.geometry.SetTriangleBudget(options.dwTriangleBudget);
        PassContext passes = d.Passes(m_missing);
        if (!options.bWireframe) {
            // Faces give way to their own edges drawn over them.
            if (options.bEdges) {
                glEnable(GL_POLYGON_OFFSET_FILL);
                glPolygonOffset(1.0f, 1.0f);
            }
            DrawOpaquePass(passes, d.list);
            DrawBlendedPass(passes, d.list);
            glDisable(GL_POLYGON_OFFSET_FILL);
        }
        if (options.bWireframe || options.bEdges) {
            DrawEdgePass(passes, d.list, options.bWireframe ? kEdgeAlone : kEdgeOverFaces);
        }
        const GLMatrix projection = camera.ProjectionMatrix();
        const GLMatrix sceneToClip =
            Multiply(projection, Multiply(camera.ViewMatrix(), ToGL(WorldToViewAxes())));
        const GLMatrix viewToClip = Multiply(projection, camera.ViewMatrix());
        d.overlays.Draw(d.line, m_items, camera, options, sceneToClip, viewToClip,
                        options.bGrid ? Bounds() : SceneBox{});
        glUseProgram(0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CSceneRenderer::DrawIds(const CCamera& camera) {
    tImpl& d = *m_pImpl;
    const HRESULT hr = Upload(RenderOptions{});
    if (FAILED(hr)) {
        return hr;
    }
    tImpl::Clear(0, 0, 0, 0);
    d.UseMeshProgram(camera, 1);
    d.geometry.SetTriangleBudget(0);
    // Every drawable group of each item on its own, in the item's colour.
    for (size_t i = 0; i < m_items.size(); ++i) {
        const uint32_t dwEntry = d.itemEntry[i];
        if (dwEntry == kNoEntry) {
            continue;
        }
        const uint32_t dwId = static_cast<uint32_t>(i + 1);
        glUniform4f(d.mesh.uColor, ((dwId >> 16) & 0xFF) / 255.0f, ((dwId >> 8) & 0xFF) / 255.0f,
                    (dwId & 0xFF) / 255.0f, 1.0f);
        const std::vector<bool>& drawable = d.geometry.Entries()[dwEntry].groupDrawable;
        for (size_t g = 0; g < drawable.size(); ++g) {
            if (drawable[g]) {
                DrawCall call;
                call.dwEntry = dwEntry;
                call.dwGroup = static_cast<uint32_t>(g);
                call.dwFirstInstance = d.list.itemInstance[i];
                call.dwInstances = 1;
                d.geometry.DrawTriangles(call);
            }
        }
    }
    d.geometry.Unbind();
    glUniform1i(d.mesh.uFlat, 0);
    glUseProgram(0);
    return S_OK;
}
