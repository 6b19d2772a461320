// The page's view of a document: open a staged file, its structure tree under the seven
// filters, properties, search, statistics, the scene time, and the 3D view in the page's WebGL2
// canvas with picking and pictures. Each call forwards to the viewer and render layers; texts
// come back as UTF-8.
#include <emscripten/bind.h>
#include <emscripten/html5.h>
#include <emscripten/val.h>

#include <GLES3/gl3.h>

#include <sys/stat.h>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "abstractdata/codepage.h"
#include "abstractdata/hresult.h"
#include "abstractdata/picture.h"
#include "abstractdata/texturefind.h"
#include "interchange/export.h"
#include "render/camera.h"
#include "render/framewalk.h"
#include "render/offscreen.h"
#include "render/scenerenderer.h"
#include "render/viewpick.h"
#include "viewer/document.h"
#include "viewer/playback.h"
#include "viewer/properties.h"
#include "viewer/search.h"
#include "viewer/selection.h"
#include "viewer/statistics.h"
#include "viewer/structuretree.h"

namespace {

using emscripten::val;

// A copy of a vector as a JavaScript typed array of the same element type.
template <class T>
val TypedArrayCopy(const std::vector<T>& values) {
    const val view(emscripten::typed_memory_view(values.size(), values.data()));
    return view.call<val>("slice");
}

class CWebDocument {
public:
    // Emscripten starts with a umask of 777, which leaves every file it makes unreadable (an
    // export's temporary file is given the umask's mode): the usual 022 instead.
    CWebDocument() { umask(022); }

    // The path of a scene staged in the in-memory file system; false when it cannot be read
    // (OpenResult says why). A refused open keeps the previous scene, as on the desktop.
    bool Open(const std::string& strPath) {
        // The renderer lets go of the scene before the document frees it.
        SetRendererScene(false);
        const bool bOpened = m_doc.OpenScene(strPath);
        if (bOpened) {
            m_strPath = strPath;
            BuildTree(m_dwFlags);
            m_doc.Clock().SetEndTime(m_tree.dwAnimationTime);
            m_doc.FollowClock();
            m_options.highlighted.clear();
            m_bFitted = false;
        }
        SetRendererScene(true);
        return bOpened;
    }

    uint32_t OpenResult() const { return static_cast<uint32_t>(m_doc.GetOpenResult()); }
    // The first failed pass's result, S_OK when both loaded.
    uint32_t LoadResult() const {
        const HRESULT hr = FAILED(m_doc.GetMaterialsResult()) ? m_doc.GetMaterialsResult()
                                                              : m_doc.GetObjectsResult();
        return static_cast<uint32_t>(hr);
    }
    bool LoadedCompletely() const { return m_doc.LoadedCompletely(); }

    // The tree under new filters; its result (E_OUTOFMEMORY leaves a tree cut short).
    uint32_t BuildTree(uint32_t dwFlags) {
        m_dwFlags = dwFlags;
        m_matches.clear();
        HRESULT hr = ::BuildStructureTree(&m_tree, m_doc, dwFlags);
        const HRESULT hrIndex = m_entries.Build(m_tree);
        return static_cast<uint32_t>(FAILED(hr) ? hr : hrIndex);
    }
    std::string TreeText(bool bImages) const { return FormatStructureTree(m_tree, bImages); }

    uint32_t EntryCount() const { return static_cast<uint32_t>(m_tree.entries.size()); }
    // Per entry, for the page's list: depth, image and whether it starts expanded.
    val Depths() const {
        return EntryField([](const StructureTreeEntry& e) { return e.dwDepth; });
    }
    val Images() const {
        return EntryField(
            [](const StructureTreeEntry& e) { return static_cast<uint32_t>(e.nImage); });
    }
    val Expanded() const {
        return EntryField([](const StructureTreeEntry& e) { return e.bExpanded ? 1u : 0u; });
    }
    std::string Label(uint32_t nEntry) const {
        return nEntry < m_tree.entries.size() ? Windows1252ToUtf8(m_tree.entries[nEntry].strLabel)
                                              : std::string();
    }

    // Texture files are looked for among the dropped files as the desktop looks beside a scene.
    std::string Properties(uint32_t nEntry) const {
        std::string strText;
        if (nEntry < m_tree.entries.size()) {
            const std::string& strDir = m_doc.SceneDir();
            EntryProperties(
                m_tree, nEntry, m_doc,
                [&strDir](const std::string& strName) {
                    TextureFile found;
                    FindTextureFile(strDir, strName, found);
                    return found.strPath;
                },
                &strText);
        }
        return strText;
    }

    // The entries whose names hold strText (UTF-8), matched in the names' own code page as the
    // desktop's search does.
    val Find(const std::string& strText) {
        m_matches.clear();
        FindMatches(m_tree, Utf8ToWindows1252(strText), &m_matches);
        std::vector<uint32_t> matches(m_matches.begin(), m_matches.end());
        return TypedArrayCopy(matches);
    }
    int32_t NextMatch(int32_t nCurrent) const { return Step(::NextMatch, nCurrent); }
    int32_t PreviousMatch(int32_t nCurrent) const { return Step(::PreviousMatch, nCurrent); }
    // One flag per entry: a match or above one.
    val MatchVisibility() const {
        std::vector<uint8_t> visible;
        ::MatchVisibility(m_tree, m_matches, &visible);
        return TypedArrayCopy(visible);
    }

    val Statistics() const {
        SceneStatistics counts;
        const HRESULT hr = CountScene(m_doc, &counts);
        val result = val::object();
        result.set("result", static_cast<uint32_t>(hr));
        result.set("materials", static_cast<double>(counts.qwMaterials));
        result.set("maps", static_cast<double>(counts.qwMaps));
        result.set("nodes", static_cast<double>(counts.qwNodes));
        result.set("dummies", static_cast<double>(counts.qwDummies));
        result.set("meshes", static_cast<double>(counts.qwMeshes));
        result.set("triangles", static_cast<double>(counts.qwTriangles));
        result.set("vertices", static_cast<double>(counts.qwVertices));
        result.set("morphKeys", static_cast<double>(counts.qwMorphKeys));
        result.set("animationTime", counts.dwAnimationTime);
        return result;
    }

    uint32_t EndTime() const { return m_doc.Clock().EndTime(); }
    void SetTime(double dTime) {
        m_doc.Clock().SetTime(dTime);
        ApplyTime();
    }
    double Time() const { return m_doc.Clock().CurrentTime(); }

    // The transport bar: the clock's rules, the time applied to the scene after each change.
    bool TogglePlay() {
        m_doc.Clock().TogglePlay();
        return m_doc.Clock().IsPlaying();
    }
    bool IsPlaying() const { return m_doc.Clock().IsPlaying(); }
    void Stop() {
        Clocked([this] { m_doc.Clock().Stop(); });
    }
    void Advance(double dSeconds) {
        Clocked([&] { m_doc.Clock().Advance(dSeconds); });
    }
    void StepTime(int nUnits) {
        Clocked([&] { m_doc.Clock().Step(nUnits); });
    }
    void SetSpeed(double dSpeed) { m_doc.Clock().SetSpeed(dSpeed); }
    void SetLoop(bool bLoop) { m_doc.Clock().SetLoop(bLoop); }
    // To the next (bForward) or previous key of the entry's object; the time stays without one.
    void JumpToKey(int32_t nEntry, bool bForward) {
        const EntryInfo info =
            nEntry >= 0 ? DescribeEntry(m_tree, static_cast<size_t>(nEntry)) : EntryInfo();
        const std::vector<uint32_t> keys = KeyTimes(info.pObject);
        const double dTime = m_doc.Clock().CurrentTime();
        SetTime(bForward ? NextKeyTime(keys, dTime) : PreviousKeyTime(keys, dTime));
    }

    // The 3D view: a WebGL2 context on the canvas (a CSS selector) and the renderer in it.
    // Empty when it draws, otherwise why not.
    std::string InitView(const std::string& strCanvas) {
        EmscriptenWebGLContextAttributes attributes;
        emscripten_webgl_init_context_attributes(&attributes);
        attributes.majorVersion = 2;
        attributes.minorVersion = 0;
        attributes.depth = EM_TRUE;
        m_context = emscripten_webgl_create_context(strCanvas.c_str(), &attributes);
        if (m_context <= 0 ||
            emscripten_webgl_make_context_current(m_context) != EMSCRIPTEN_RESULT_SUCCESS) {
            return "WebGL2 is not available";
        }
        auto pRenderer = std::make_unique<CSceneRenderer>();
        std::string strError;
        if (FAILED(pRenderer->Initialize(strError))) {
            return strError;
        }
        m_pRenderer = std::move(pRenderer);
        SetRendererScene(true);
        return std::string();
    }

    // Draws the scene into the canvas of nWidth x nHeight pixels; the first frame of a scene
    // (or after Fit) places the camera as `morv3d render` does.
    uint32_t Draw(int nWidth, int nHeight) {
        if (!m_pRenderer) {
            return static_cast<uint32_t>(E_FAIL);
        }
        emscripten_webgl_make_context_current(m_context);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, nWidth, nHeight);
        return static_cast<uint32_t>(DrawFrame(nWidth, nHeight));
    }

    // PNG bytes of the view as the canvas shows it, drawn offscreen as `morv3d render` draws.
    val Picture() {
        std::vector<uint8_t> png;
        if (m_pRenderer) {
            emscripten_webgl_make_context_current(m_context);
            COffscreenTarget target;
            CImageRGBA image;
            std::string strError;
            HRESULT hr = target.Create(m_camera.nWidth, m_camera.nHeight, strError);
            if (SUCCEEDED(hr)) {
                hr = DrawFrame(m_camera.nWidth, m_camera.nHeight);
            }
            if (SUCCEEDED(hr)) {
                hr = target.Read(image);
            }
            if (SUCCEEDED(hr)) {
                EncodePng(image, png);
            }
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
        }
        return TypedArrayCopy(png);
    }

    void SetView(int nPreset) {
        m_view = static_cast<EViewPreset>(nPreset);
        m_bFitted = false;
    }
    void Fit() { m_bFitted = false; }
    void Orbit(double dYaw, double dPitch) { m_camera.Orbit(dYaw, dPitch); }
    void Pan(double dRight, double dUp) { m_camera.Pan(dRight, dUp); }
    void Zoom(double dFactor) { m_camera.Zoom(dFactor); }
    void SetOverlays(bool bWireframe, bool bSpheres, bool bNormals, bool bGrid, bool bAxes) {
        m_options.bWireframe = bWireframe;
        m_options.bSpheres = bSpheres;
        m_options.bNormals = bNormals;
        m_options.bGrid = bGrid;
        m_options.bAxes = bAxes;
    }

    // What lies nearest under pixel (x, y) of the view: {path, entry} (the path as `morv3d
    // pick` prints it, the tree entry that shows it or -1), or null.
    val Pick(double dX, double dY) {
        std::vector<ViewHit> hits;
        if (m_doc._pNode == nullptr ||
            FAILED(PickThroughPixel(m_doc._pNode, m_camera, dX, dY, hits)) || hits.empty()) {
            return val::null();
        }
        val result = val::object();
        result.set("path", Windows1252ToUtf8(ObjectPath(hits.front().pMesh)));
        result.set("entry", EntryIndex(m_entries.EntryOf(hits.front().pMesh)));
        return result;
    }

    // The entry that shows the object at strPath (UTF-8, as ObjectPath names it), or -1.
    int32_t EntryOfPath(const std::string& strPath) const {
        CQVR3DObject* pFound = ObjectAtPath(m_doc._pNode, strPath);
        return pFound != nullptr ? EntryIndex(m_entries.EntryOf(pFound)) : -1;
    }

    // The meshes of the selected entry are drawn highlighted (-1: none).
    void Highlight(int32_t nEntry) {
        std::vector<CQVR3DMesh*> meshes;
        if (nEntry >= 0) {
            EntryMeshes(m_tree, static_cast<size_t>(nEntry), m_doc._pNode, &meshes);
        }
        m_options.highlighted.assign(meshes.begin(), meshes.end());
    }

    // The scene as .glb bytes, exactly as `morv3d export FILE OUT.glb` writes them; empty
    // when the export failed. Written through the in-memory file system and removed again.
    val ExportGlb() const {
        static constexpr char kOut[] = "/export.glb";
        std::vector<uint8_t> bytes;
        ExportReport report;
        // What is written depends on the objects' state, which playing changes: the scene is
        // loaded once more, as `morv3d export` loads it, and exported from that.
        CMorv3dViewerDoc fresh;
        if (fresh.OnOpenDocument(m_strPath) &&
            SUCCEEDED(ExportScene(fresh.materials, fresh._pNode, fresh.SceneDir(), kOut,
                                  ExportOptions(), &report))) {
            std::ifstream in(kOut, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        std::remove(kOut);
        return TypedArrayCopy(bytes);
    }

    // The textures of the scene that could not be used: [{material, name, reason}].
    val MissingTextures() const {
        val list = val::array();
        if (m_pRenderer) {
            for (const MissingTexture& missing : m_pRenderer->MissingTextures()) {
                val item = val::object();
                item.set("material", missing.dwMaterial);
                item.set("name", Windows1252ToUtf8(missing.strName));
                item.set("reason", missing.strReason);
                list.call<void>("push", item);
            }
        }
        return list;
    }

private:
    static int32_t EntryIndex(size_t nEntry) {
        return nEntry == kNoEntry ? -1 : static_cast<int32_t>(nEntry);
    }

    void SetRendererScene(bool bScene) {
        if (m_pRenderer) {
            emscripten_webgl_make_context_current(m_context);
            m_pRenderer->SetScene(bScene ? &m_doc.materials : nullptr,
                                  bScene ? m_doc._pNode : nullptr, m_doc.Folder());
        }
    }

    HRESULT DrawFrame(int nWidth, int nHeight) {
        HRESULT hr = m_pRenderer->Prepare();
        if (SUCCEEDED(hr)) {
            if (!m_bFitted) {
                m_camera = CameraForPicture(m_pRenderer->Items(), nWidth, nHeight, m_view);
                m_bFitted = true;
            }
            m_camera.SetViewport(nWidth, nHeight);
            hr = m_pRenderer->Draw(m_camera, m_options);
        }
        return hr;
    }

    template <class F>
    val EntryField(F field) const {
        std::vector<uint32_t> values;
        values.reserve(m_tree.entries.size());
        for (const StructureTreeEntry& entry : m_tree.entries) {
            values.push_back(field(entry));
        }
        return TypedArrayCopy(values);
    }

    template <class F>
    int32_t Step(F step, int32_t nCurrent) const {
        const size_t nFrom = nCurrent < 0 ? kNoEntry : static_cast<size_t>(nCurrent);
        const size_t nEntry = step(m_matches, nFrom);
        return nEntry == kNoEntry ? -1 : static_cast<int32_t>(nEntry);
    }

    template <class F>
    void Clocked(F change) {
        change();
        ApplyTime();
    }

    void ApplyTime() { m_doc.FollowClock(); }

    CMorv3dViewerDoc m_doc;
    StructureTree m_tree;
    uint32_t m_dwFlags = SHOW_ALL;
    std::vector<size_t> m_matches;
    CObjectEntryIndex m_entries;
    std::string m_strPath;  // of the scene shown

    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE m_context = 0;
    std::unique_ptr<CSceneRenderer> m_pRenderer;
    CCamera m_camera;
    EViewPreset m_view = EViewPreset::Iso;
    bool m_bFitted = false;
    RenderOptions m_options;
};

// The words for a result code, as the desktop shows them in either language.
std::string ResultWords(uint32_t dwResult, bool bGerman) {
    const HRESULT hr = static_cast<HRESULT>(dwResult);
    return bGerman ? HResultMessageGerman(hr) : HResultMessage(hr);
}

}  // namespace

EMSCRIPTEN_BINDINGS(morv3d) {
    emscripten::class_<CWebDocument>("Document")
        .constructor<>()
        .function("open", &CWebDocument::Open)
        .function("openResult", &CWebDocument::OpenResult)
        .function("loadResult", &CWebDocument::LoadResult)
        .function("loadedCompletely", &CWebDocument::LoadedCompletely)
        .function("buildTree", &CWebDocument::BuildTree)
        .function("treeText", &CWebDocument::TreeText)
        .function("entryCount", &CWebDocument::EntryCount)
        .function("depths", &CWebDocument::Depths)
        .function("images", &CWebDocument::Images)
        .function("expanded", &CWebDocument::Expanded)
        .function("label", &CWebDocument::Label)
        .function("properties", &CWebDocument::Properties)
        .function("find", &CWebDocument::Find)
        .function("nextMatch", &CWebDocument::NextMatch)
        .function("previousMatch", &CWebDocument::PreviousMatch)
        .function("matchVisibility", &CWebDocument::MatchVisibility)
        .function("statistics", &CWebDocument::Statistics)
        .function("endTime", &CWebDocument::EndTime)
        .function("setTime", &CWebDocument::SetTime)
        .function("time", &CWebDocument::Time)
        .function("togglePlay", &CWebDocument::TogglePlay)
        .function("isPlaying", &CWebDocument::IsPlaying)
        .function("stop", &CWebDocument::Stop)
        .function("advance", &CWebDocument::Advance)
        .function("step", &CWebDocument::StepTime)
        .function("setSpeed", &CWebDocument::SetSpeed)
        .function("setLoop", &CWebDocument::SetLoop)
        .function("jumpToKey", &CWebDocument::JumpToKey)
        .function("initView", &CWebDocument::InitView)
        .function("draw", &CWebDocument::Draw)
        .function("picture", &CWebDocument::Picture)
        .function("setView", &CWebDocument::SetView)
        .function("fit", &CWebDocument::Fit)
        .function("orbit", &CWebDocument::Orbit)
        .function("pan", &CWebDocument::Pan)
        .function("zoom", &CWebDocument::Zoom)
        .function("setOverlays", &CWebDocument::SetOverlays)
        .function("pick", &CWebDocument::Pick)
        .function("entryOfPath", &CWebDocument::EntryOfPath)
        .function("highlight", &CWebDocument::Highlight)
        .function("missingTextures", &CWebDocument::MissingTextures)
        .function("exportGlb", &CWebDocument::ExportGlb);
    emscripten::function("resultWords", &ResultWords);
}
