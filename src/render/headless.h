// An OpenGL 3.3 core context without any display: EGL on Mesa's surfaceless platform. Drawing
// goes into a framebuffer object of the renderer's own.
#pragma once

#include <string>

#include "abstractdata/hresult.h"

class CHeadlessContext {
public:
    CHeadlessContext() = default;
    ~CHeadlessContext();
    CHeadlessContext(const CHeadlessContext&) = delete;
    CHeadlessContext& operator=(const CHeadlessContext&) = delete;

    // Creates the context and makes it current on this thread. On failure E_FAIL and a
    // message naming what is missing (the EGL library, the surfaceless platform, a driver).
    HRESULT Create(std::string& strError);
    bool IsCurrent() const { return m_pContext != nullptr; }
    // "OpenGL 4.5 (Core Profile) Mesa ... llvmpipe": for messages and reports.
    static std::string Describe();

private:
    void* m_pDisplay = nullptr;
    void* m_pContext = nullptr;
};
