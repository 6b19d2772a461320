#include "render/shaderprogram.h"

#include "render/glfault.h"
#include "render/shaders.h"

namespace {

// ES has no default precision for floats in fragment shaders.
std::string WithVersion(const char* pszBody) {
    return std::string(GlIsDesktop() ? "#version 330 core\n"
                                     : "#version 300 es\nprecision highp float;\n") +
           pszBody;
}

GLuint Compile(GLenum type, const char* pszBody, std::string& strError) {
    const std::string strSource = WithVersion(pszBody);
    const char* pszSource = strSource.c_str();
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &pszSource, nullptr);
    glCompileShader(shader);
    GLint nOk = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &nOk);
    if (!nOk) {
        char acLog[1024] = {};
        glGetShaderInfoLog(shader, sizeof(acLog), nullptr, acLog);
        strError = std::string("shader compilation failed: ") + acLog;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// The test faults: a vertex shader that does not compile; a fragment shader that calls a
// function nobody defines, which compiles but does not link.
constexpr const char* kBrokenVertexShader = "void main() { nothing = 1; }\n";
constexpr const char* kUnlinkableFragmentShader =
    "out vec4 c;\nvec4 Undefined();\nvoid main() { c = Undefined(); }\n";

GLuint Link(const char* pszVertex, const char* pszFragment, std::string& strError) {
    pszVertex = GlFaultAt("compile") ? kBrokenVertexShader : pszVertex;
    pszFragment = GlFaultAt("link") ? kUnlinkableFragmentShader : pszFragment;
    const GLuint vertex = Compile(GL_VERTEX_SHADER, pszVertex, strError);
    const GLuint fragment = vertex ? Compile(GL_FRAGMENT_SHADER, pszFragment, strError) : 0;
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint nOk = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &nOk);
    if (!nOk) {
        char acLog[1024] = {};
        glGetProgramInfoLog(program, sizeof(acLog), nullptr, acLog);
        strError = std::string("shader linking failed: ") + acLog;
        glDeleteProgram(program);
        program = 0;
    }
    return program;
}

}  // namespace

bool BuildPrograms(MeshProgram& mesh, LineProgram& line, std::string& strError) {
    mesh.program = Link(kMeshVertexShader, kMeshFragmentShader, strError);
    line.program = mesh.program ? Link(kLineVertexShader, kLineFragmentShader, strError) : 0;
    if (!line.program) {
        glDeleteProgram(mesh.program);
        mesh.program = 0;
        return false;
    }
    mesh.uViewAxes = glGetUniformLocation(mesh.program, "uViewAxes");
    mesh.uProjection = glGetUniformLocation(mesh.program, "uProjection");
    mesh.uFlat = glGetUniformLocation(mesh.program, "uFlat");
    mesh.uColor = glGetUniformLocation(mesh.program, "uColor");
    mesh.uTexture = glGetUniformLocation(mesh.program, "uTexture");
    line.uTransform = glGetUniformLocation(line.program, "uTransform");
    return true;
}
