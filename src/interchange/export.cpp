#include "interchange/export.h"

#include <new>

#include "interchange/assimpexport.h"
#include "interchange/exportfiles.h"
#include "interchange/exportmodel.h"
#include "interchange/gltfexport.h"

namespace {

std::string ExtensionOf(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    const size_t nDot = strPath.rfind('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
        return {};
    }
    std::string strExtension = strPath.substr(nDot + 1);
    for (char& c : strExtension) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return strExtension;
}

HRESULT Export(const std::vector<CMorv3DLoader::tMaterialMaps>& materials, CQVR3DObject* pRoot,
               const std::string& strSceneDir, const std::string& strOutPath,
               const ExportOptions& options, ExportReport& report) {
    const std::string strFormat = ExtensionOf(strOutPath);
    if (!IsExportPath(strOutPath)) {
        return E_INVALIDARG;
    }
    ExportModel scene;
    HRESULT hr = BuildExportModel(materials, pRoot, strSceneDir, options, scene, report);
    if (FAILED(hr)) {
        return hr;
    }
    CExportFiles files(strOutPath);
    if (strFormat == "glb" || strFormat == "gltf") {
        hr = WriteGltf(scene, strFormat == "glb", files, report);
    } else {
#ifdef MORV_GLTF_ONLY
        hr = E_INVALIDARG;  // the browser build has no Assimp
#else
        hr = WriteWithAssimp(scene, strFormat, files, report);
#endif
    }
    if (FAILED(hr)) {
        return hr;  // the files remove their temporaries
    }
    return files.Commit(report.written);
}

}  // namespace

const std::vector<std::string>& ExportExtensions() {
    static const std::vector<std::string> extensions = {"glb", "gltf", "obj", "fbx", "dae",
                                                        "stl", "ply",  "3mf", "x"};
    return extensions;
}

bool IsExportPath(const std::string& strOutPath) {
    const std::string strExtension = ExtensionOf(strOutPath);
    for (const std::string& str : ExportExtensions()) {
        if (str == strExtension) {
            return true;
        }
    }
    return false;
}

HRESULT ExportScene(const std::vector<CMorv3DLoader::tMaterialMaps>& materials, CQVR3DObject* pRoot,
                    const std::string& strSceneDir, const std::string& strOutPath,
                    const ExportOptions& options, ExportReport* pReport) {
    try {
        ExportReport report;
        const HRESULT hr = Export(materials, pRoot, strSceneDir, strOutPath, options, report);
        if (pReport != nullptr) {
            *pReport = std::move(report);
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;  // nothing a library throws leaves this layer
    }
}
