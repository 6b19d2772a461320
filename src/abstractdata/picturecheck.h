// Checks of picture files made before they reach the image codec (stb_image 2.27), for the
// faults of its own that it does not guard against.
#pragma once

#include <cstddef>
#include <cstdint>

// False for a JPEG one of whose Huffman tables counts more than 256 codes (the codec writes the
// code lengths and symbols of such a table past the table's end), or one of whose scans decodes
// with a table not defined before it (the codec reads it from memory it never set, and indexes
// far out of bounds). Any other input passes.
bool JpegHuffmanTablesSound(const uint8_t* pData, size_t nSize);
// False for a PNG one of whose chunks before IEND claims more bytes than the file has left: the
// codec grows its buffer to a data chunk's claimed length before it reads a byte of it (up to
// 1 GiB from a file of a few bytes). The codec fails on such a file anyway. Any other input
// passes.
bool PngChunksFit(const uint8_t* pData, size_t nSize);
