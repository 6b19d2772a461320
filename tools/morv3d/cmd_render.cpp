// morv3d render FILE OUT.png and morv3d pick FILE --at X,Y: a picture of the scene drawn
// without a display, and what lies under one of its pixels. Both use the same camera.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "render/headless.h"
#include "render/scenerenderer.h"
#include "render/viewpick.h"
#include "viewer/document.h"

namespace {

struct PictureArgs {
    std::string strFile;
    std::string strOut;  // render only
    int nWidth = 800;
    int nHeight = 600;
    uint32_t dwTime = 0;
    EViewPreset view = EViewPreset::Iso;
    RenderOptions options;
    bool bAt = false;  // pick only
    int nX = 0;
    int nY = 0;
    bool bJson = false;
};

bool ParseNumber(const std::string& strText, long long llMin, long long llMax, long long& llValue) {
    if (strText.empty() || strText.size() > 18) {
        return false;
    }
    char* pEnd = nullptr;
    llValue = std::strtoll(strText.c_str(), &pEnd, 10);
    return *pEnd == '\0' && llValue >= llMin && llValue <= llMax;
}

bool ParsePair(const std::string& strText, char cSeparator, long long llMax, int& a, int& b) {
    const size_t nAt = strText.find(cSeparator);
    long long x = 0, y = 0;
    if (nAt == std::string::npos || !ParseNumber(strText.substr(0, nAt), 0, llMax, x) ||
        !ParseNumber(strText.substr(nAt + 1), 0, llMax, y)) {
        return false;
    }
    a = static_cast<int>(x);
    b = static_cast<int>(y);
    return true;
}

// 0 when the arguments are good, else the exit code of the usage error already printed.
int Parse(const std::vector<std::string>& args, bool bRender, PictureArgs& out) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        const auto value = [&](std::string& strValue) {
            if (i + 1 >= args.size()) {
                return false;
            }
            strValue = args[++i];
            return true;
        };
        std::string strValue;
        long long llValue = 0;
        if (strArg == "--size") {
            if (!value(strValue) || !ParsePair(strValue, 'x', 16384, out.nWidth, out.nHeight) ||
                out.nWidth < 1 || out.nHeight < 1) {
                return UsageError("--size takes WxH, each from 1 to 16384");
            }
        } else if (strArg == "--time") {
            if (!value(strValue) || !ParseNumber(strValue, 0, UINT32_MAX, llValue)) {
                return UsageError("--time takes a time from 0 to 4294967295");
            }
            out.dwTime = static_cast<uint32_t>(llValue);
        } else if (strArg == "--view") {
            const char* const apszViews[] = {"front", "top", "side", "iso"};
            const EViewPreset aViews[] = {EViewPreset::Front, EViewPreset::Top, EViewPreset::Side,
                                          EViewPreset::Iso};
            bool bKnown = false;
            if (value(strValue)) {
                for (int v = 0; v < 4; ++v) {
                    if (strValue == apszViews[v]) {
                        out.view = aViews[v];
                        bKnown = true;
                    }
                }
            }
            if (!bKnown) {
                return UsageError("--view takes front, top, side or iso");
            }
        } else if (bRender && strArg == "--background") {
            char* pEnd = nullptr;
            if (!value(strValue) || strValue.size() != 6 ||
                (out.options.dwBackground =
                     static_cast<uint32_t>(std::strtoul(strValue.c_str(), &pEnd, 16)),
                 *pEnd != '\0')) {
                return UsageError("--background takes RRGGBB in hexadecimal");
            }
        } else if (bRender && strArg == "--wireframe") {
            out.options.bWireframe = true;
        } else if (bRender && strArg == "--spheres") {
            out.options.bSpheres = true;
        } else if (bRender && strArg == "--normals") {
            out.options.bNormals = true;
        } else if (bRender && strArg == "--grid") {
            out.options.bGrid = true;
        } else if (bRender && strArg == "--axes") {
            out.options.bAxes = true;
        } else if (!bRender && strArg == "--at") {
            if (!value(strValue) || !ParsePair(strValue, ',', 16383, out.nX, out.nY)) {
                return UsageError("--at takes X,Y: a pixel of the picture");
            }
            out.bAt = true;
        } else if (!bRender && strArg == "--json") {
            out.bJson = true;
        } else if (strArg.rfind("--", 0) == 0) {
            return UsageError("unknown option '" + strArg + "'");
        } else {
            positional.push_back(strArg);
        }
    }
    const size_t nWanted = bRender ? 2 : 1;
    if (positional.size() != nWanted) {
        return UsageError(bRender ? "render takes FILE and OUT.png" : "pick takes one FILE");
    }
    out.strFile = positional[0];
    if (bRender) {
        out.strOut = positional[1];
    } else if (!out.bAt) {
        return UsageError("pick needs --at X,Y");
    } else if (out.nX >= out.nWidth || out.nY >= out.nHeight) {
        return UsageError("--at lies outside the picture of --size");
    }
    return 0;
}

std::string SceneDir(const std::string& strFile) {
    const size_t nSlash = strFile.rfind('/');
    return nSlash == std::string::npos ? "." : strFile.substr(0, nSlash + 1);
}

// Loads as the viewer does; false (and the message printed) when the file cannot be opened.
bool Load(const std::string& strFile, CMorv3dViewerDoc& doc) {
    if (!doc.OnOpenDocument(strFile)) {
        PrintFailure(strFile, "cannot be opened", doc.GetOpenResult());
        return false;
    }
    PrintPassFailures(strFile, doc);
    return true;
}

std::string JsonString(const std::string& strText) {
    std::string strOut = "\"";
    for (unsigned char c : strText) {
        if (c == '"' || c == '\\') {
            strOut += '\\';
            strOut += static_cast<char>(c);
        } else if (c < 0x20) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", c);
            strOut += szEscape;
        } else {
            strOut += static_cast<char>(c);
        }
    }
    return strOut + "\"";
}

}  // namespace

int RunRender(const std::vector<std::string>& args) {
    PictureArgs a;
    if (const int nUsage = Parse(args, true, a)) {
        return nUsage;
    }
    CMorv3dViewerDoc doc;
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
    renderer.SetScene(&doc._Materials, doc._pNode, SceneDir(a.strFile));
    if (doc._pNode != nullptr) {
        doc._pNode->SetTime(a.dwTime);
    }
    CImageRGBA image;
    hr = renderer.Prepare();
    if (SUCCEEDED(hr)) {
        const CCamera camera = CameraForPicture(renderer.Items(), a.nWidth, a.nHeight, a.view);
        hr = renderer.Draw(camera, a.options);
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
                     a.strFile.c_str(), missing.strName.c_str(), missing.dwMaterial,
                     missing.strReason.c_str());
    }
    if (!doc.LoadedCompletely()) {
        std::fprintf(stderr, "morv3d: %s: drew the part of the scene that loaded\n",
                     a.strFile.c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

int RunPick(const std::vector<std::string>& args) {
    PictureArgs a;
    if (const int nUsage = Parse(args, false, a)) {
        return nUsage;
    }
    CMorv3dViewerDoc doc;
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
    if (a.bJson) {
        std::printf("[");
        for (size_t i = 0; i < hits.size(); ++i) {
            const ViewHit& hit = hits[i];
            std::printf(
                "%s\n  {\"path\": %s, \"kind\": \"mesh\", \"pickId\": %d, \"distance\": %.6g, "
                "\"point\": [%.6g, %.6g, %.6g]}",
                i ? "," : "", JsonString(ObjectPath(hit.pMesh)).c_str(), hit.nPickId,
                static_cast<double>(hit.fDistance), static_cast<double>(hit.vPoint.x),
                static_cast<double>(hit.vPoint.y), static_cast<double>(hit.vPoint.z));
        }
        std::printf("%s]\n", hits.empty() ? "" : "\n");
    } else {
        for (const ViewHit& hit : hits) {
            std::printf("%s\tmesh\tpick id %d\tdistance %.6g\n", ObjectPath(hit.pMesh).c_str(),
                        hit.nPickId, static_cast<double>(hit.fDistance));
        }
    }
    return FAILED(hr) || !doc.LoadedCompletely() ? kExitIncomplete : kExitOk;
}
