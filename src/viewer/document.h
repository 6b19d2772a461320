// The viewer's one document: the loaded scene's materials and the root of its object
// hierarchy, filled by the loader's two passes. No window system here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "abstractdata/filefolder.h"
#include "abstractdata/hresult.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "viewer/playback.h"

class CMorv3dViewerDoc {
public:
    CMorv3dViewerDoc();
    virtual ~CMorv3dViewerDoc();
    CMorv3dViewerDoc(const CMorv3dViewerDoc&) = delete;
    CMorv3dViewerDoc& operator=(const CMorv3dViewerDoc&) = delete;

    // Empties the document.
    virtual bool OnNewDocument();
    // False (the document untouched) when the file cannot be opened for reading; otherwise
    // the previous scene is freed, both passes run and whatever they loaded is kept: true even
    // when a pass failed (see the results below).
    virtual bool OnOpenDocument(const std::string& strPath);
    // OnOpenDocument for a scene file only: a folder, a file that is no scene (shorter than a
    // container header, or a container of another kind) or one that cannot be opened is
    // refused like a file that cannot be opened (false, the document untouched, the reason in
    // GetOpenResult). A scene file loads as OnOpenDocument loads it, partly loaded ones too.
    bool OpenScene(const std::string& strPath);
    // The viewer never writes: nothing happens, true.
    virtual bool OnSaveDocument(const std::string& strPath);
    virtual void DeleteContents();

    // The results of the last OnOpenDocument: the open itself, then each pass (S_OK before any
    // open and after OnNewDocument). An open that fails keeps the pass results of the scene
    // that stays loaded.
    HRESULT GetOpenResult() const;
    HRESULT GetMaterialsResult() const;
    HRESULT GetObjectsResult() const;
    // True when the last open loaded both passes without failure.
    bool LoadedCompletely() const;

    // The folder of the file the scene was loaded from, where its textures are found; empty
    // for the untitled document.
    const std::string& SceneDir() const { return m_strSceneDir; }
    // That folder, as the texture rules read it; null for the untitled document.
    const CFileFolder* Folder() const { return m_pFolder.get(); }

    // The scene's time: the one clock the transport, the 3D view and the root follow.
    CPlaybackClock& Clock() { return m_clock; }
    const CPlaybackClock& Clock() const { return m_clock; }
    // Hands the clock's time to the root; false when the root had it already (nothing to walk).
    bool FollowClock();

    std::vector<CMorv3DLoader::tMaterialMaps> materials;
    CQVR3DObject* _pNode = nullptr;  // owned; the whole hierarchy goes with it

    // S_OK for a path that names a scene file, otherwise why not.
    static HRESULT CheckSceneFile(const std::string& strPath);

private:
    // What the application framework does before loading: fails (nothing touched) when the
    // path cannot be opened for reading, otherwise empties the document.
    bool BaseOpenDocument(const std::string& strPath);

    std::string m_strSceneDir;
    std::unique_ptr<CDiskFolder> m_pFolder;
    CPlaybackClock m_clock;
    HRESULT m_hrOpen = S_OK;
    HRESULT m_hrMaterials = S_OK;
    HRESULT m_hrObjects = S_OK;
};
