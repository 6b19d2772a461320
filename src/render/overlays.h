// The overlays drawn as lines over the scene: bounding spheres, normals, the ground grid and
// the axes.
#pragma once

#include <vector>

#include "render/camera.h"
#include "render/framewalk.h"
#include "render/shaderprogram.h"

struct RenderOptions;

class COverlays {
public:
    ~COverlays() { Free(); }
    // The line buffer: needs a current context.
    void Create();
    void Free();

    // sceneToClip takes scene space, viewToClip view space; box is the scene's in view space
    // (read for the grid only).
    void Draw(const LineProgram& program, const std::vector<DrawItem>& items, const CCamera& camera,
              const RenderOptions& options, const GLMatrix& sceneToClip, const GLMatrix& viewToClip,
              const SceneBox& box);

private:
    struct tLineVertex {
        float afPosition[3];
        float afColor[3];
    };
    void Line(const Vector3& a, const Vector3& b, float r, float g, float bl);
    void Flush(const LineProgram& program, const GLMatrix& transform);
    void Spheres(const std::vector<DrawItem>& items);
    void Normals(const std::vector<DrawItem>& items, float fLength);
    void Grid(const CCamera& camera, const SceneBox& box);

    GLuint m_vao = 0;
    GLuint m_vbo = 0;
    std::vector<tLineVertex> m_lines;
};
