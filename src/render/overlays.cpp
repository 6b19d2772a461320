#include "render/overlays.h"

#include <algorithm>
#include <cmath>

#include "render/scenerenderer.h"

namespace {

constexpr size_t kMaxNormalLines = 1u << 20;

}  // namespace

void COverlays::Create() {
    if (m_vao != 0) {
        return;
    }
    glGenVertexArrays(1, &m_vao);
    glGenBuffers(1, &m_vbo);
    glBindVertexArray(m_vao);
    glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(tLineVertex), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(tLineVertex),
                          reinterpret_cast<void*>(offsetof(tLineVertex, afColor)));
    glBindVertexArray(0);
}

void COverlays::Free() {
    if (m_vao != 0) {
        glDeleteVertexArrays(1, &m_vao);
        glDeleteBuffers(1, &m_vbo);
        m_vao = m_vbo = 0;
    }
}

void COverlays::Line(const Vector3& a, const Vector3& b, float r, float g, float bl) {
    m_lines.push_back({{a.x, a.y, a.z}, {r, g, bl}});
    m_lines.push_back({{b.x, b.y, b.z}, {r, g, bl}});
}

void COverlays::Flush(const LineProgram& program, const GLMatrix& transform) {
    if (m_lines.empty()) {
        return;
    }
    glUseProgram(program.program);
    glUniformMatrix4fv(program.uTransform, 1, GL_FALSE, transform.data());
    glBindVertexArray(m_vao);
    glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_lines.size() * sizeof(tLineVertex)),
                 m_lines.data(), GL_STREAM_DRAW);
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(m_lines.size()));
    glBindVertexArray(0);
    m_lines.clear();
}

void COverlays::Spheres(const std::vector<DrawItem>& items) {
    for (const DrawItem& item : items) {
        const CQVR3DMesh* pMesh = item.pMesh;
        const Vector3 c = ::TransformPoint(pMesh->vLocalSphereCenter, item.world);
        double dRowLength = 0;
        for (int r = 0; r < 3; ++r) {
            dRowLength = std::max(
                dRowLength, static_cast<double>(Length(
                                {item.world.m[r][0], item.world.m[r][1], item.world.m[r][2]})));
        }
        const float fRadius = static_cast<float>(pMesh->fLocalSphereRadius * dRowLength);
        constexpr int kSegments = 48;
        for (int axis = 0; axis < 3; ++axis) {
            for (int s = 0; s < kSegments; ++s) {
                const auto at = [&](int k) {
                    const double a = 2 * 3.14159265358979 * k / kSegments;
                    float v[3] = {c.x, c.y, c.z};
                    v[(axis + 1) % 3] += static_cast<float>(fRadius * std::cos(a));
                    v[(axis + 2) % 3] += static_cast<float>(fRadius * std::sin(a));
                    return Vector3{v[0], v[1], v[2]};
                };
                Line(at(s), at(s + 1), 0.95f, 0.85f, 0.2f);
            }
        }
    }
}

void COverlays::Normals(const std::vector<DrawItem>& items, float fLength) {
    for (const DrawItem& item : items) {
        const CQVR3DMesh* pMesh = item.pMesh;
        if (pMesh->pVertices == nullptr || pMesh->pGeometry == nullptr) {
            continue;
        }
        for (uint32_t v = 0;
             v < pMesh->pGeometry->dwVertexCount && m_lines.size() < 2 * kMaxNormalLines; ++v) {
            const Vertex& vertex = pMesh->pVertices[v];
            const Vector3 p = ::TransformPoint(vertex.vPosition, item.world);
            const Vector3 n = TransformDirection(vertex.vNormal, item.world);
            const float fN = Length(n);
            if (!(fN > 0) || !std::isfinite(fN)) {
                continue;
            }
            Line(p, Add(p, Scale(fLength / fN, n)), 0.3f, 0.8f, 1.0f);
        }
    }
}

// Under the scene, around the camera's target, in steps of a power of ten.
void COverlays::Grid(const CCamera& camera, const SceneBox& box) {
    const float fScale = static_cast<float>(camera.dRadius);
    const float fY = box.Empty() ? 0.0f : box.vMin.y;
    const float fStep = std::pow(10.0f, std::floor(std::log10(std::max(fScale, 1e-6f) / 2)));
    const float fCx = std::round(camera.vTarget.x / fStep) * fStep;
    const float fCz = std::round(camera.vTarget.z / fStep) * fStep;
    for (int k = -10; k <= 10; ++k) {
        const float fShade = k == 0 ? 0.75f : 0.5f;
        Line({fCx + k * fStep, fY, fCz - 10 * fStep}, {fCx + k * fStep, fY, fCz + 10 * fStep},
             fShade, fShade, fShade);
        Line({fCx - 10 * fStep, fY, fCz + k * fStep}, {fCx + 10 * fStep, fY, fCz + k * fStep},
             fShade, fShade, fShade);
    }
}

void COverlays::Draw(const LineProgram& program, const std::vector<DrawItem>& items,
                     const CCamera& camera, const RenderOptions& options,
                     const GLMatrix& sceneToClip, const GLMatrix& viewToClip, const SceneBox& box) {
    const float fScale = static_cast<float>(camera.dRadius);
    if (options.bSpheres) {
        Spheres(items);
        Flush(program, sceneToClip);
    }
    if (options.bNormals) {
        Normals(items, fScale * 0.03f);
        Flush(program, sceneToClip);
    }
    if (options.bGrid) {
        Grid(camera, box);
        Flush(program, viewToClip);
    }
    if (options.bAxes) {
        const float fLength = fScale * 0.5f;
        Line({0, 0, 0}, {fLength, 0, 0}, 1.0f, 0.2f, 0.2f);
        Line({0, 0, 0}, {0, fLength, 0}, 0.2f, 1.0f, 0.2f);
        Line({0, 0, 0}, {0, 0, fLength}, 0.3f, 0.4f, 1.0f);
        Flush(program, sceneToClip);
    }
}
