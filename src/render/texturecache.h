// The textures of a scene's material maps on the GPU, made on first use. A map whose picture
// is missing or refused gets a checker in its material's own colour and is listed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "abstractdata/filefolder.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "render/drawlist.h"
#include "render/glapi.h"
#include "render/scenerenderer.h"

class CTextureCache {
public:
    ~CTextureCache() { Free(); }

    // The texture of map dwMap of material dwMaterial, its picture looked up in pFolder (null:
    // not found); white for kNoMaterial.
    GLuint Get(uint32_t dwMaterial, uint32_t dwMap,
               const std::vector<CMorv3DLoader::tMaterialMaps>& materials,
               const CFileFolder* pFolder, std::vector<MissingTexture>& missing);
    // The one-pixel white texture of groups without a material (made with the programs).
    void MakeWhite();
    // Frees the scene's textures; bAll the white one too.
    void Free(bool bAll = false);

private:
    std::map<std::pair<uint32_t, uint32_t>, GLuint> m_textures;  // (material, map)
    GLuint m_white = 0;
};
