#include "render/glfault.h"

#include <cstdlib>
#include <string>

bool GlFaultAt(const char* pszStep) {
    static const std::string strStep = [] {
        const char* psz = std::getenv("MORV_GL_FAULT");
        return std::string(psz != nullptr ? psz : "");
    }();
    return !strStep.empty() && strStep == pszStep;
}
