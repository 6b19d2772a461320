// morv3d render FILE OUT.png and morv3d pick FILE --at X,Y: a picture of the scene drawn
// without a display, and what lies under one of its pixels. Both use the same camera.
#include <malloc.h>
#include <strings.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "abstractdata/codepage.h"
#include "cli.h"
#include "render/headless.h"
#include "render/scenerenderer.h"
#include "render/viewpick.h"
#include "viewer/document.h"

namespace {

// The software rasteriser gets the faces this many triangles at a time (RenderOptions): what it
// holds binned stays small, and its freed memory is kept for the next batch rather than given
// back and faulted in again (measured with bench/render_vs_f3d.sh: 212 -> 157 MiB).
constexpr uint32_t kTriangleBudget = 50000;
constexpr int kKeepFreedBytes = 256 << 20;

struct PictureArgs {
    std::string strFile;
    std::string strOut;  // render only
    int nWidth = 800;
    int nHeight = 600;
    uint32_t dwTime = 0;
    EViewPreset view = EViewPreset::Iso;
    RenderOptions options;
    int nX = 0;  // pick only
    int nY = 0;
    bool bJson = false;
};

// "AxB": two whole numbers from nMin to nMax with cSeparator between them.
bool ParsePair(std::string_view strText, char cSeparator, int nMin, int nMax, int& a, int& b) {
    const size_t nAt = strText.find(cSeparator);
    return nAt != std::string_view::npos && ParseWhole(strText.substr(0, nAt), a) &&
           ParseWhole(strText.substr(nAt + 1), b) && a >= nMin && b >= nMin && a <= nMax &&
           b <= nMax;
}

bool ParseView(const std::string& strText, EViewPreset& view) {
    const std::map<std::string, EViewPreset> kViews = {{"front", EViewPreset::Front},
                                                       {"top", EViewPreset::Top},
                                                       {"side", EViewPreset::Side},
                                                       {"iso", EViewPreset::Iso}};
    const auto it = kViews.find(strText);
    view = it != kViews.end() ? it->second : view;
    return it != kViews.end();
}

// The picture both verbs share: its size, time and view.
void AddCameraOptions(CCli& cli, CLI::App* pVerb, const std::shared_ptr<PictureArgs>& a) {
    cli.AddValue(pVerb, "--size", "WxH", "the picture's size in pixels (default 800x600)",
                 "--size takes WxH, each from 1 to 16384", [a](const std::string& strValue) {
                     return ParsePair(strValue, 'x', 1, 16384, a->nWidth, a->nHeight);
                 });
    cli.AddValue(pVerb, "--time", "T", "the scene's time in key units (default 0)",
                 "--time takes a whole number of scene time units from 0 to 4294967295",
                 [a](const std::string& strValue) { return ParseWhole(strValue, a->dwTime); });
    cli.AddValue(pVerb, "--view", "front|top|side|iso", "where the camera looks from (default iso)",
                 "--view takes front, top, side or iso",
                 [a](const std::string& strValue) { return ParseView(strValue, a->view); });
}

// Loads as the viewer does; false (and the message printed) when the file cannot be opened.
bool Load(const std::string& strFile, CMorv3dViewerDoc& doc) {
    if (!doc.OpenScene(strFile)) {
        PrintFailure(strFile, "cannot be opened", doc.GetOpenResult());
        return false;
    }
    PrintPassFailures(strFile, doc);
    return true;
}

// The picture is always a PNG; another extension would name it wrongly.
bool IsPngPath(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    const std::string strName = strPath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    return strName.size() > 4 && strcasecmp(strName.c_str() + strName.size() - 4, ".png") == 0;
}

int RunRender(const PictureArgs& a) {
    if (!IsPngPath(a.strOut)) {
        return UsageError("render: OUT.png must end in .png (the picture is a PNG)");
    }
    CMorv3dViewerDoc& doc = DocumentOfThisRun();
    if (!Load(a.strFile, doc)) {
        return kExitIncomplete;
    }
    CHeadlessContext context;
    CSceneRenderer renderer;
    COffscreenTarget target;
    std::string strError;
    HRESULT hr = context.Create(strError);
    if (SUCCEEDED(hr)) {
        hr = renderer.Initialize(strError);
    }
    if (SUCCEEDED(hr)) {
        hr = target.Create(a.nWidth, a.nHeight, strError);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "morv3d: cannot render without OpenGL: %s\n", strError.c_str());
        return kExitIncomplete;
    }
    renderer.SetScene(&doc.materials, doc._pNode, doc.Folder());
    if (doc._pNode != nullptr) {
        doc._pNode->SetTime(a.dwTime);
    }
    CImageRGBA image;
    hr = renderer.Prepare();
    if (SUCCEEDED(hr)) {
        const CCamera camera = CameraForPicture(renderer.Items(), a.nWidth, a.nHeight, a.view);
        RenderOptions options = a.options;
        options.dwTriangleBudget = kTriangleBudget;
        mallopt(M_TRIM_THRESHOLD, kKeepFreedBytes);
        hr = renderer.Draw(camera, options);
    }
    if (SUCCEEDED(hr)) {
        hr = target.Read(image);
    }
    if (SUCCEEDED(hr)) {
        errno = 0;
        hr = WritePng(a.strOut, image);
        if (FAILED(hr)) {
            std::fprintf(stderr, "morv3d: %s: the picture cannot be written (%s)\n",
                         a.strOut.c_str(), errno != 0 ? std::strerror(errno) : "write failed");
            return kExitIncomplete;
        }
    }
    if (FAILED(hr)) {
        PrintFailure(a.strFile, "cannot be drawn", hr);
        return kExitIncomplete;
    }
    for (const MissingTexture& missing : renderer.MissingTextures()) {
        std::fprintf(stderr, "morv3d: %s: texture '%s' of material %u: %s (drawn as a checker)\n",
                     a.strFile.c_str(), Windows1252ToUtf8(missing.strName).c_str(),
                     missing.dwMaterial, missing.strReason.c_str());
    }
    if (!doc.LoadedCompletely()) {
        std::fprintf(stderr, "morv3d: %s: drew the part of the scene that loaded\n",
                     a.strFile.c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

int RunPick(const PictureArgs& a) {
    if (a.nX >= a.nWidth || a.nY >= a.nHeight) {
        return UsageError("--at lies outside the picture of --size");
    }
    CMorv3dViewerDoc& doc = DocumentOfThisRun();
    if (!Load(a.strFile, doc)) {
        return kExitIncomplete;
    }
    std::vector<ViewHit> hits;
    HRESULT hr = S_OK;
    if (doc._pNode != nullptr) {
        doc._pNode->SetTime(a.dwTime);
        std::vector<DrawItem> items;
        hr = CollectDrawItems(doc._pNode, items);
        if (SUCCEEDED(hr)) {
            const CCamera camera = CameraForPicture(items, a.nWidth, a.nHeight, a.view);
            hr = PickThroughPixel(doc._pNode, camera, a.nX, a.nY, hits);
        }
    }
    if (FAILED(hr)) {
        PrintFailure(a.strFile, "the pick failed", hr);
    }
    // Names are stored in the file's code page; what we print is UTF-8.
    std::string strJson;
    for (const ViewHit& hit : hits) {
        const std::string strPath = Windows1252ToUtf8(ObjectPath(hit.pMesh));
        if (a.bJson) {
            const nlohmann::ordered_json item = {
                {"path", strPath},
                {"kind", "mesh"},
                {"pickId", hit.nPickId},
                {"distance", hit.fDistance},
                {"point", {hit.vPoint.x, hit.vPoint.y, hit.vPoint.z}}};
            strJson += (strJson.empty() ? "\n  " : ",\n  ") + JsonLine(item);
        } else {
            std::printf("%s\tmesh\tpick id %d\tdistance %.6g\n", strPath.c_str(), hit.nPickId,
                        static_cast<double>(hit.fDistance));
        }
    }
    if (a.bJson) {
        std::printf("[%s%s]\n", strJson.c_str(), hits.empty() ? "" : "\n");
    }
    return FAILED(hr) || !doc.LoadedCompletely() ? kExitIncomplete : kExitOk;
}

}  // namespace

void AddPicture(CCli& cli) {
    auto r = std::make_shared<PictureArgs>();
    CLI::App* pRender = cli.AddVerb(
        "render",
        "draw the scene without a display and write a PNG; missing textures are drawn as "
        "checkers and listed",
        "render takes FILE and OUT.png", [r] { return RunRender(*r); });
    pRender->add_option("FILE", r->strFile);
    pRender->add_option("OUT.png", r->strOut);
    AddCameraOptions(cli, pRender, r);
    pRender->add_flag("--wireframe", r->options.bWireframe, "draw the triangles' edges only");
    pRender->add_flag("--edges", r->options.bEdges, "draw the triangles' edges over the faces");
    pRender->add_flag("--spheres", r->options.bSpheres, "draw the bounding spheres");
    pRender->add_flag("--normals", r->options.bNormals, "draw the vertex normals");
    pRender->add_flag("--grid", r->options.bGrid, "draw the ground grid");
    pRender->add_flag("--axes", r->options.bAxes, "draw the axes");
    cli.AddValue(pRender, "--background", "RRGGBB", "the background colour (default 3C4048)",
                 "--background takes RRGGBB in hexadecimal", [r](const std::string& strValue) {
                     return strValue.size() == 6 &&
                            ParseWhole(strValue, r->options.dwBackground, 16);
                 });

    auto p = std::make_shared<PictureArgs>();
    CLI::App* pPick = cli.AddVerb(
        "pick",
        "list what lies under pixel X,Y of the picture render would draw, nearest first: object "
        "path, kind, pick id, distance",
        "pick takes one FILE", [p] { return RunPick(*p); });
    pPick->add_option("FILE", p->strFile);
    cli.AddValue(pPick, "--at", "X,Y", "the pixel, counted from the top left",
                 "--at takes X,Y: a pixel of the picture",
                 [p](const std::string& strValue) {
                     return ParsePair(strValue, ',', 0, 16383, p->nX, p->nY);
                 })
        ->required();
    AddCameraOptions(cli, pPick, p);
    pPick->add_flag("--json", p->bJson, "print the hits as JSON");
}
