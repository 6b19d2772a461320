// WritePng's own copy of the PNG writer, set for speed: the shared copy's settings (its highest
// compression, five filters tried on every row) took more than half of `morv3d render`'s time
// to encode. EncodePng (pictures inside exported models) keeps the shared copy and its bytes.
#include "abstractdata/pngfile.h"

#include <cstdlib>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-variable"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

// The settings of this file's copy, made once before main: the lowest compression level the
// writer knows, and no filter (flat backgrounds compress as well without one).
[[maybe_unused]] const bool kFastSettings = [] {
    stbi_write_png_compression_level = 5;
    stbi_write_force_png_filter = 0;
    return true;
}();

}  // namespace

bool WritePngFile(const char* pszPath, int nWidth, int nHeight, const uint8_t* pPixels) {
    return stbi_write_png(pszPath, nWidth, nHeight, 4, pPixels, nWidth * 4) != 0;
}
