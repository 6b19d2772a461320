// The picture codecs, compiled here (not from a shared library) so that the caps below hold and
// the fuzz build instruments them.
#include <cstdlib>

#include "abstractdata/picturealloc.h"

#define STBI_MALLOC(n) PictureAlloc(n)
#define STBI_REALLOC(p, n) PictureRealloc(p, n)
#define STBI_FREE(p) PictureFree(p)

#define STBI_MAX_DIMENSIONS 16384
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_PSD
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
