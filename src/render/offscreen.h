// A framebuffer the renderer draws into without a window.
#pragma once

#include <string>

#include "abstractdata/hresult.h"
#include "abstractdata/picture.h"

// A framebuffer object with colour and depth, for drawing without a window.
class COffscreenTarget {
public:
    COffscreenTarget() = default;
    ~COffscreenTarget();
    COffscreenTarget(const COffscreenTarget&) = delete;
    COffscreenTarget& operator=(const COffscreenTarget&) = delete;

    // Creates (or re-creates) the target and binds it with a matching viewport. Sizes from 1
    // to 16384 a side.
    HRESULT Create(int nWidth, int nHeight, std::string& strError);
    // The pixels, top row first.
    HRESULT Read(CImageRGBA& image) const;

private:
    void Free();
    unsigned m_nFramebuffer = 0;
    unsigned m_nColor = 0;
    unsigned m_nDepth = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
};
