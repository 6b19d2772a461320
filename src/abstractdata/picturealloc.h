// The picture codec's allocator. Its inflater grows the PNG data buffer by doubling for as long as
// the compressed stream goes on, whatever the header's size: a few kilobytes of deflate can ask
// for gigabytes. While a picture decodes, every block is held to what its size can need.
#pragma once

#include <cstddef>

void* PictureAlloc(size_t nBytes);
void* PictureRealloc(void* p, size_t nBytes);
void PictureFree(void* p);

// For its lifetime on this thread: blocks larger than nMaxBlock are refused (the codec sees an
// allocation failure and gives up). Refused() says whether any was.
class CPictureBlockCap {
public:
    explicit CPictureBlockCap(size_t nMaxBlock);
    ~CPictureBlockCap();
    CPictureBlockCap(const CPictureBlockCap&) = delete;
    CPictureBlockCap& operator=(const CPictureBlockCap&) = delete;
    bool Refused() const;

private:
    size_t m_nPrevious;
};
