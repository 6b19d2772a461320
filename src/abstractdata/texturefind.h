// Where a texture name stored in a scene leads. Scene files come from Windows and name their
// pictures as "Maps\Stone.BMP" or "C:\Art\stone.bmp", so a picture is looked for in steps, the
// same for every program (view, export, properties) and every folder (on disk, in memory):
//   1. the stored name as it stands, '\' read as '/';
//   2. the same path with each part matched without regard to (ASCII) case;
//   3. its last part alone in the scene's folder, exactly, then without regard to case;
//   4. its stem with another picture extension (kTexturePictureExtensions, in that order), in
//      the stored folder and then without it, without regard to case.
// A candidate counts only when it is a regular file inside the folder of at most
// kMaxPictureFileBytes: links out, folders, FIFOs and devices are passed over. A name with an
// empty, "." or ".." part, one that ends in a separator or holds a NUL byte, finds nothing.
#pragma once

#include <cstdint>
#include <string>

#include "abstractdata/filefolder.h"
#include "abstractdata/hresult.h"

// The extensions of step 4: the formats DecodePicture reads, the web's own first.
inline constexpr const char* kTexturePictureExtensions[] = {".png", ".jpg", ".jpeg", ".bmp",
                                                            ".tga", ".gif", ".psd"};

// The step that found a texture file.
enum class ETextureMatch {
    None,            // no file
    Exact,           // 1
    IgnoringCase,    // 2
    WithoutFolder,   // 3
    OtherExtension,  // 4
};

struct TextureFile {
    ETextureMatch match = ETextureMatch::None;
    std::string strPath;    // the file found, as the folder names it
    std::string strPassed;  // match None: why the first candidate that was there did not count
};

// S_OK with the match; S_FALSE when there is none (match None); E_OUTOFMEMORY. strPath is
// relative to the folder.
HRESULT FindTexture(const CFileFolder& folder, const std::string& strStored, TextureFile& found);

// The same in a folder on disk (empty: the working folder); strPath is the folder's path joined
// with the relative one.
HRESULT FindTextureFile(const std::string& strSceneDir, const std::string& strStored,
                        TextureFile& found);
