#include "viewer/document.h"

#include <sys/stat.h>

#include <new>

#include "abstractdata/debugreport.h"
#include "abstractdata/streams/tsstream.h"
#include "fileformats/morv/morv.h"
#include "fileformats/morv3d/morv3dformat.h"

static constexpr char kReportUnit[] = "viewer/document";

CMorv3dViewerDoc::CMorv3dViewerDoc() = default;

CMorv3dViewerDoc::~CMorv3dViewerDoc() {
    delete _pNode;
    _pNode = nullptr;
}

bool CMorv3dViewerDoc::OnNewDocument() {
    DeleteContents();
    return true;
}

bool CMorv3dViewerDoc::BaseOpenDocument(const std::string& strPath) {
    CFileStream file;
    const HRESULT hr = file.Open(strPath.c_str(), 0);
    if (FAILED(hr)) {
        m_hrOpen = REPORTED(hr);
        return false;
    }
    file.Close();
    DeleteContents();
    return true;
}

bool CMorv3dViewerDoc::OnOpenDocument(const std::string& strPath) {
    if (!BaseOpenDocument(strPath)) {
        return false;
    }
    CMorv3DSceneLoader loader(nullptr);
    m_hrMaterials = loader.Load(strPath, MORV3D_LOAD_MATERIALS);
    try {
        materials = loader.materials;
    } catch (const std::bad_alloc&) {
        // A partial copy would be a list the file never had.
        materials.clear();
        if (SUCCEEDED(m_hrMaterials)) {
            m_hrMaterials = REPORTED(E_OUTOFMEMORY);
        }
    }
    m_hrObjects = loader.Load(strPath, MORV3D_LOAD_OBJECTS);
    _pNode = loader.DetachRoot();
    const size_t nSlash = strPath.rfind('/');
    try {
        m_strSceneDir = nSlash == std::string::npos ? std::string(".")
                        : nSlash == 0               ? std::string("/")
                                                    : strPath.substr(0, nSlash);
        m_pFolder = std::make_unique<CDiskFolder>(m_strSceneDir);
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);  // the textures are then looked for nowhere
    }
    return true;
}

HRESULT CMorv3dViewerDoc::CheckSceneFile(const std::string& strPath) {
    struct stat info {};
    if (::stat(strPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return HRESULT_FROM_WIN32(ERROR_DIRECTORY_NOT_SUPPORTED);
    }
    CMorvFile file;
    HRESULT hr = file.Open(strPath, false);
    if (SUCCEEDED(hr)) {
        hr = file.ReadHeader();
        // Too short for a header: no scene at all.
        hr = hr == E_FAIL ? MORV_E_NOTASCENE : hr;
    }
    GUID kind;
    if (SUCCEEDED(hr) && SUCCEEDED(file.GetFileKind(&kind)) && !(kind == MORV3D_FILE_KIND)) {
        hr = MORV_E_NOTASCENE;
    }
    return hr;
}

bool CMorv3dViewerDoc::OpenScene(const std::string& strPath) {
    const HRESULT hr = CheckSceneFile(strPath);
    if (FAILED(hr)) {
        m_hrOpen = hr;
        return false;
    }
    return OnOpenDocument(strPath);
}

bool CMorv3dViewerDoc::OnSaveDocument(const std::string& /*strPath*/) {
    return true;
}

void CMorv3dViewerDoc::DeleteContents() {
    materials.clear();
    materials.shrink_to_fit();
    delete _pNode;
    _pNode = nullptr;
    m_strSceneDir.clear();
    m_pFolder.reset();
    m_clock.Stop();
    m_clock.SetEndTime(0);
    m_hrOpen = S_OK;
    m_hrMaterials = S_OK;
    m_hrObjects = S_OK;
}

bool CMorv3dViewerDoc::FollowClock() {
    if (_pNode == nullptr || _pNode->dwRequestedTime == m_clock.Time()) {
        return false;
    }
    _pNode->SetTime(m_clock.Time());
    return true;
}

HRESULT CMorv3dViewerDoc::GetOpenResult() const {
    return m_hrOpen;
}

HRESULT CMorv3dViewerDoc::GetMaterialsResult() const {
    return m_hrMaterials;
}

HRESULT CMorv3dViewerDoc::GetObjectsResult() const {
    return m_hrObjects;
}

bool CMorv3dViewerDoc::LoadedCompletely() const {
    return SUCCEEDED(m_hrOpen) && SUCCEEDED(m_hrMaterials) && SUCCEEDED(m_hrObjects);
}
