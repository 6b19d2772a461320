// Texture files named by a scene: where the stored name leads, and the decoded picture. Names
// come from files and are distrusted: only regular files inside the scene's folder (or below
// it) are opened, with caps on their size and dimensions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"
#include "abstractdata/picture.h"

// The file a stored texture name stands for, tried in this order inside strSceneDir: the name
// as stored (backslashes read as folder separators), the same with every part matched without
// regard to case, the base name alone (any folder part dropped) exactly and then without
// regard to case, and last the base name with another common picture extension. Empty when
// nothing inside the folder matches; a match that leads out of the folder (through "..", an
// absolute name or a link) does not count.
std::string FindTextureFile(const std::string& strSceneDir, const std::string& strStoredName);

// Reads and decodes a picture file (BMP, TGA, PNG, JPG, GIF, PSD). Only a regular file is
// read (never a device or a FIFO), and decoded with DecodePicture's caps.
HRESULT LoadImageFile(const std::string& strPath, CImageRGBA& image, std::string& strError);
