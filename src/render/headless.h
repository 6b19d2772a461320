// An OpenGL 3.3 core (or OpenGL ES 3.0) context without any display: EGL on Mesa's surfaceless
// platform. Drawing goes into a framebuffer object of the renderer's own.
#pragma once

#include <string>

#include "abstractdata/hresult.h"

class CHeadlessContext {
public:
    CHeadlessContext() = default;
    ~CHeadlessContext();
    CHeadlessContext(const CHeadlessContext&) = delete;
    CHeadlessContext& operator=(const CHeadlessContext&) = delete;

    enum class Api { OpenGL, OpenGLES };

    // Creates the context and makes it current on this thread. On failure E_FAIL and a
    // message naming what is missing (the EGL library, the surfaceless platform, a driver).
    // OpenGLES asks for ES 3.0, what the browser's WebGL2 offers.
    HRESULT Create(std::string& strError, Api api = Api::OpenGL);

private:
    void* m_pDisplay = nullptr;
    void* m_pContext = nullptr;
};
