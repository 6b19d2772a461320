#include "render/offscreen.h"

#include <algorithm>
#include <cstring>

#include "render/glapi.h"
#include "render/glfault.h"

COffscreenTarget::~COffscreenTarget() {
    Free();
}

void COffscreenTarget::Free() {
    if (m_nFramebuffer != 0) {
        glDeleteFramebuffers(1, &m_nFramebuffer);
        glDeleteRenderbuffers(1, &m_nColor);
        glDeleteRenderbuffers(1, &m_nDepth);
    }
    m_nFramebuffer = m_nColor = m_nDepth = 0;
}

HRESULT COffscreenTarget::Create(int nWidth, int nHeight, std::string& strError) {
    Free();
    GLint nMax = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &nMax);
    if (nWidth < 1 || nHeight < 1 || nWidth > std::min(nMax, 16384) ||
        nHeight > std::min(nMax, 16384)) {
        strError = "picture size " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                   " out of range (1 to " + std::to_string(std::min(nMax, 16384)) + " a side)";
        return E_INVALIDARG;
    }
    glGenFramebuffers(1, &m_nFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_nFramebuffer);
    glGenRenderbuffers(1, &m_nColor);
    glBindRenderbuffer(GL_RENDERBUFFER, m_nColor);
    // The test fault gives the colour buffer no pixels, which leaves the framebuffer incomplete.
    const bool bFault = GlFaultAt("framebuffer");
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, bFault ? 0 : nWidth, bFault ? 0 : nHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_nColor);
    glGenRenderbuffers(1, &m_nDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_nDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, nWidth, nHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_nDepth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        strError = "the offscreen framebuffer is incomplete";
        Free();
        return E_FAIL;
    }
    glViewport(0, 0, nWidth, nHeight);
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    return S_OK;
}

HRESULT COffscreenTarget::Read(CImageRGBA& image) const {
    if (m_nFramebuffer == 0) {
        return E_UNEXPECTED;
    }
    try {
        const size_t nRow = static_cast<size_t>(m_nWidth) * 4;
        std::vector<uint8_t> flipped(nRow * m_nHeight);
        glBindFramebuffer(GL_FRAMEBUFFER, m_nFramebuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, m_nWidth, m_nHeight, GL_RGBA, GL_UNSIGNED_BYTE, flipped.data());
        image.nWidth = m_nWidth;
        image.nHeight = m_nHeight;
        image.pixels.resize(flipped.size());
        for (int y = 0; y < m_nHeight; ++y) {
            std::memcpy(&image.pixels[y * nRow], &flipped[(m_nHeight - 1 - y) * nRow], nRow);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
