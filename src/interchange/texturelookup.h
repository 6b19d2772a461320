// Finding and reading the texture files a scene names. Shared by export and import: the names
// stored in scene files come from Windows ("Maps\Stone.BMP"), so a file is looked for in steps,
// and only inside the scene's folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

// Texture files larger than this are not read.
constexpr uint64_t kMaxTextureFileSize = 64ull << 20;

// How a texture file was found, in the order the steps are tried.
enum class ETextureMatch {
    None,            // no file
    Exact,           // the stored name, '\' read as '/'
    IgnoringCase,    // the same path, each part compared without regard to case
    WithoutFolder,   // the stored name's last part only, in the scene's folder
    OtherExtension,  // the same stem with another common image extension
};

struct TextureFile {
    ETextureMatch match = ETextureMatch::None;
    std::string strPath;  // the file found, below strSceneDir
};

// Looks for the texture strStored names in strSceneDir (and its subfolders, when the name has
// folders): the steps of ETextureMatch in order. Only regular files whose real path lies inside
// the scene's folder and whose size is at most kMaxTextureFileSize count. S_OK with the match;
// S_FALSE when there is none (match None); E_OUTOFMEMORY.
HRESULT FindTextureFile(const std::string& strSceneDir, const std::string& strStored,
                        TextureFile& found);

// Reads a file found by FindTextureFile, checking again that it is a regular file within the
// size cap. E_FAIL when it is not, the platform's failure when it cannot be read.
HRESULT ReadTextureFile(const std::string& strPath, std::vector<uint8_t>& bytes);
