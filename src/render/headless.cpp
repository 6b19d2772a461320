#include "render/headless.h"

#include <epoxy/egl.h>

#include "render/glfault.h"

namespace {

const char* EglErrorName(EGLint nError) {
    switch (nError) {
        case EGL_NOT_INITIALIZED:
            return "EGL_NOT_INITIALIZED";
        case EGL_BAD_ACCESS:
            return "EGL_BAD_ACCESS";
        case EGL_BAD_ALLOC:
            return "EGL_BAD_ALLOC";
        case EGL_BAD_ATTRIBUTE:
            return "EGL_BAD_ATTRIBUTE";
        case EGL_BAD_CONFIG:
            return "EGL_BAD_CONFIG";
        case EGL_BAD_CONTEXT:
            return "EGL_BAD_CONTEXT";
        case EGL_BAD_DISPLAY:
            return "EGL_BAD_DISPLAY";
        case EGL_BAD_MATCH:
            return "EGL_BAD_MATCH";
        case EGL_BAD_PARAMETER:
            return "EGL_BAD_PARAMETER";
        default:
            return "an EGL error";
    }
}

}  // namespace

CHeadlessContext::~CHeadlessContext() {
    if (m_pDisplay != nullptr) {
        EGLDisplay display = m_pDisplay;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (m_pContext != nullptr) {
            eglDestroyContext(display, m_pContext);
        }
        // The display stays initialised: terminating it unloads the driver, whose few blocks
        // kept for the process would then show as leaks without a name.
    }
}

HRESULT CHeadlessContext::Create(std::string& strError, Api api) {
    if (m_pContext != nullptr) {
        return S_OK;
    }
    auto fail = [&](const std::string& strWhat) {
        strError = strWhat;
        return E_FAIL;
    };
    // epoxy loads libEGL lazily and aborts the process when it is missing: ask first.
    if (!epoxy_has_egl() || GlFaultAt("egl")) {
        return fail("no EGL library (install libegl1 and libegl-mesa0)");
    }
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless") ||
        !epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_platform_base")) {
        return fail("EGL has no surfaceless platform (install libegl-mesa0)");
    }
    // The fault asks for platform 0, which no EGL knows.
    EGLDisplay display = eglGetPlatformDisplayEXT(
        GlFaultAt("display") ? 0 : EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) {
        return fail(std::string("no surfaceless EGL display (") + EglErrorName(eglGetError()) +
                    ")");
    }
    EGLint nMajor = 0;
    EGLint nMinor = 0;
    if (!eglInitialize(display, &nMajor, &nMinor)) {
        return fail(std::string("EGL could not be initialised (") + EglErrorName(eglGetError()) +
                    "; is a Mesa driver such as libgl1-mesa-dri installed?)");
    }
    m_pDisplay = display;
    const bool bEs = api == Api::OpenGLES;
    if (GlFaultAt("no-config") || !epoxy_has_egl_extension(display, "EGL_KHR_no_config_context") ||
        !epoxy_has_egl_extension(display, "EGL_KHR_surfaceless_context") ||
        !eglBindAPI(bEs ? EGL_OPENGL_ES_API : EGL_OPENGL_API)) {
        return fail(bEs ? "the EGL driver offers no OpenGL ES without a surface"
                        : "the EGL driver offers no desktop OpenGL without a surface");
    }
    const EGLint aDesktop[] = {EGL_CONTEXT_MAJOR_VERSION,
                               3,
                               EGL_CONTEXT_MINOR_VERSION,
                               3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_NONE};
    const EGLint aEs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    EGLContext context =
        eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, bEs ? aEs : aDesktop);
    if (context == EGL_NO_CONTEXT) {
        return fail(
            std::string(bEs ? "no OpenGL ES 3.0 context (" : "no OpenGL 3.3 core context (") +
            EglErrorName(eglGetError()) + ")");
    }
    // A context that never became current is no context: a second Create tries afresh.
    if (!eglMakeCurrent(GlFaultAt("make-current") ? EGL_NO_DISPLAY : display, EGL_NO_SURFACE,
                        EGL_NO_SURFACE, context)) {
        const std::string strWhy = EglErrorName(eglGetError());
        eglDestroyContext(display, context);
        return fail("the OpenGL context cannot be made current (" + strWhy + ")");
    }
    m_pContext = context;
    return S_OK;
}
