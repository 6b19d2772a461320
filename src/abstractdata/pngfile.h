// The PNG file writer behind WritePng (picture.h), in a file of its own: its copy of the
// encoder is set for speed, apart from the one EncodePng uses.
#pragma once

#include <cstdint>

// Writes w x h RGBA pixels, rows packed; false when the file cannot be written.
bool WritePngFile(const char* pszPath, int nWidth, int nHeight, const uint8_t* pPixels);
