// Loading a .morv3d scene: the file check and the dispatch of the root's chunks
// (CMorv3DLoader), the material table, mesh chunks, and the node hierarchy built through an
// object factory (CMorv3DSceneLoader).
//
// Callers run two passes on one loader, so that every material exists before a mesh looks it
// up, whatever the order of the chunks:
//     CMorv3DSceneLoader loader(nullptr);
//     loader.Load(path, MORV3D_LOAD_MATERIALS);   // fills loader.materials
//     loader.Load(path, MORV3D_LOAD_OBJECTS);     // builds the hierarchy
//     CQVR3DNode* pRoot = loader.DetachRoot();
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "abstractdata/hresult.h"
#include "abstractdata/tstring.h"
#include "engine/3dobjects/mesh.h"
#include "engine/3dobjects/objects.h"
#include "fileformats/morv/morv.h"
#include "fileformats/morv3d/morv3dformat.h"

class CMorv3DLoader {
public:
    // One map of a material: its record, its texture name, and a handle for a renderer.
    struct tMaterialMap {
        tMorv3DMaterialMap morv3DMaterialMap;
        tstring strTexture;
        // A renderer's own handle, copied into the map bindings of each group that uses the
        // material; nothing here sets it. Groups name their material by dwMaterial instead.
        uint32_t dwTextureHandle = 0;
    };
    // One material: its maps in order; may be empty.
    using tMaterialMaps = std::vector<tMaterialMap>;

    CMorv3DLoader();
    virtual ~CMorv3DLoader();
    CMorv3DLoader(const CMorv3DLoader&) = delete;
    CMorv3DLoader& operator=(const CMorv3DLoader&) = delete;

    // Opens and checks the file on the first call; each call walks the root's chunks and hands
    // material tables (mode bit MORV3D_LOAD_MATERIALS) and object chunks
    // (MORV3D_LOAD_OBJECTS) to their handlers. The result is that of the last chunk handled.
    HRESULT Load(const tstring& strPath, uint32_t dwMode);

    // Handlers, in slot order.
    virtual HRESULT LoadMeshChunk(CMorvChunk* pChunk);
    virtual HRESULT LoadObjectChunk(CMorvChunk* pChunk);
    virtual HRESULT LoadMaterialTable(CMorvChunk* pChunk);

    // Decodes a mesh chunk into pMesh, whose geometry and maps exist already.
    HRESULT ReadMesh(CMorvChunk* pChunk, CQVR3DMesh* pMesh);

    // The scene's materials; meshes refer to them by position while they are read.
    std::vector<tMaterialMaps> materials;

protected:
    CMorvFile m_file;
    uint32_t m_dwFileSize = 0;  // payload reads are kept inside the file
    // Temporary buffers of the decoding, kept for the next mesh or track.
    std::vector<uint8_t> m_faceScratch;
    std::vector<uint8_t> m_frameScratch;
};

// Creates the objects a loader builds. Not deleted through this interface.
class CMorv3DObjectFactory {
public:
    virtual CQVR3DObject* CreateObject() = 0;
    virtual CQVR3DNode* CreateNode() = 0;
    virtual CQVR3DMesh* CreateMesh() = 0;

protected:
    ~CMorv3DObjectFactory() = default;
};

// The factory a loader uses when the caller gives none: the three default constructors.
class CMorv3DDefaultObjectFactory final : public CMorv3DObjectFactory {
public:
    CQVR3DObject* CreateObject() override;
    CQVR3DNode* CreateNode() override;
    CQVR3DMesh* CreateMesh() override;
};

class CMorv3DSceneLoader : public CMorv3DLoader {
public:
    // With a null factory the loader makes and owns a default one.
    explicit CMorv3DSceneLoader(CMorv3DObjectFactory* pFactory);
    ~CMorv3DSceneLoader() override;

    // The root-level object chunk becomes the root node, its x and y axes exchanged.
    HRESULT LoadObjectChunk(CMorvChunk* pChunk) override;
    // Reads an object chunk and everything below it into pNode.
    HRESULT ReadNode(CMorvChunk* pChunk, CQVR3DNode* pNode);

    // Hands the root (possibly null) to the caller; the loader no longer owns it.
    CQVR3DNode* DetachRoot();

private:
    HRESULT ReadNodeOwn(CMorvChunk* pChunk, CQVR3DNode* pNode);
    HRESULT ReadTracks(CMorvChunk* pChunk, CQVR3DNode* pNode);
    HRESULT ReadMeshChild(CMorvChunk* pChunk, CQVR3DNode* pNode);
    // AddChild; a child the list has no room for is deleted.
    static HRESULT Attach(CQVR3DNode* pParent, CQVR3DObject* pChild);

    CQVR3DNode* m_pRoot = nullptr;
    CMorv3DObjectFactory* m_pFactory = nullptr;
    std::unique_ptr<CMorv3DDefaultObjectFactory> m_pOwnFactory;
};
