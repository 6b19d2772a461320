// The renderer's two programs, compiled for the current context: GLSL 3.30 core on desktop
// OpenGL, GLSL ES 3.00 on OpenGL ES.
#pragma once

#include <string>

#include "render/glapi.h"

struct MeshProgram {
    GLuint program = 0;
    GLint uViewAxes = -1;
    GLint uProjection = -1;
    GLint uFlat = -1;
    GLint uColor = -1;
    GLint uTexture = -1;
};

struct LineProgram {
    GLuint program = 0;
    GLint uTransform = -1;
};

// Both programs; false and the compiler's or linker's message when either fails (nothing kept).
bool BuildPrograms(MeshProgram& mesh, LineProgram& line, std::string& strError);
