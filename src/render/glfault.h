// For tests only: MORV_GL_FAULT=<step> in the environment makes one step of setting up OpenGL
// or drawing fail, so the paths a broken driver would take run on a working one. Where it can,
// the step then fails for real (a shader that does not compile, a framebuffer without pixels).
// Steps: egl, display, no-config, make-current, version, compile, link, framebuffer, upload.
#pragma once

// True when the environment names pszStep. Read once per process.
bool GlFaultAt(const char* pszStep);
