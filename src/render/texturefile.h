// The pictures a scene's maps name, found by the one set of rules (abstractdata/texturefind.h)
// and decoded with DecodePicture's caps.
#pragma once

#include <string>

#include "abstractdata/filefolder.h"
#include "abstractdata/hresult.h"
#include "abstractdata/picture.h"

// Reads and decodes a picture file (BMP, TGA, PNG, JPG, GIF, PSD) on disk. Only a regular file
// is read (never a device or a FIFO), within the size cap.
HRESULT LoadImageFile(const std::string& strPath, CImageRGBA& image, std::string& strError);

// Finds the texture strStored names in the folder, reads and decodes it; strReason says why
// when it fails ("not found" when no candidate was there at all).
HRESULT LoadTexture(const CFileFolder& folder, const std::string& strStored, CImageRGBA& image,
                    std::string& strReason);
