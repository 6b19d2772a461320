// The GL the renderer draws with. On the desktop libepoxy resolves every call for the current
// context, desktop OpenGL or OpenGL ES alike; built with MORV_GLES (and for the browser) only
// the OpenGL ES 3.0 headers are seen, so a call outside ES 3.0 does not compile.
#pragma once

#if defined(MORV_GLES) || defined(__EMSCRIPTEN__)
#include <GLES3/gl3.h>

inline bool GlIsDesktop() {
    return false;
}

// Major * 10 + minor of the current context.
inline int GlVersion() {
    GLint nMajor = 0;
    GLint nMinor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &nMajor);
    glGetIntegerv(GL_MINOR_VERSION, &nMinor);
    return nMajor * 10 + nMinor;
}
#else
#include <epoxy/gl.h>

inline bool GlIsDesktop() {
    return epoxy_is_desktop_gl();
}

inline int GlVersion() {
    return epoxy_gl_version();
}
#endif
