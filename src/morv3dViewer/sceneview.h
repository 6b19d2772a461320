// The 3D view: the renderer's picture of the document's scene, turned with the mouse, picked
// by clicking. Where Qt can give an OpenGL context the picture is drawn into a QOpenGLWidget;
// where it cannot (the offscreen platform) a headless EGL context draws it into an image that
// the view paints; with neither, the view says so in one line and the window works on.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "render/camera.h"
#include "render/scenerenderer.h"

class CMorv3dViewerDoc;
class CHeadlessContext;
class COffscreenTarget;
class CSceneGLWidget;
class QLabel;

class CSceneView : public QWidget {
    Q_OBJECT

public:
    enum class Mode { None, OpenGL, Image };

    explicit CSceneView(CMorv3dViewerDoc* pDocument, QWidget* pParent = nullptr);
    ~CSceneView() override;

    Mode GetMode() const { return m_mode; }
    // The document's scene is about to be freed: nothing of it is drawn or kept from now on.
    void OnSceneReplaced();
    // A new document: its scene (textures from the document's folder), a fitted camera.
    void OnDocumentChanged();
    // The document's clock moved: the root follows and a new picture is drawn when the whole
    // time unit changed. False when it had not.
    bool FollowClock();
    // The time the scene is shown at: the clock's.
    uint32_t Time() const;

    RenderOptions& Options() { return m_options; }
    void SetHighlighted(std::vector<const CQVR3DMesh*> meshes);
    void SetPreset(EViewPreset preset);
    void FitScene();
    // Fits the meshes of an object (a node's subtree) at the current time.
    void FitObject(CQVR3DObject* pObject);
    const CCamera& Camera() const { return m_camera; }
    // The textures of the scene that could not be used, as far as the view has drawn.
    std::vector<MissingTexture> MissingTextures() const;

    // The picture as the view shows it now (tests, screenshots); null without a picture.
    QImage Picture();
    // The pick through a point of the view, nearest hit first (empty: nothing there).
    std::vector<CQVR3DMesh*> PickAt(const QPoint& point);
    // Draws again (after the scene or its time changed).
    void Redraw();

    // Called by the OpenGL surface while its context is current.
    void InitializeRenderer();
    void Render(int nWidthPixels, int nHeightPixels);
    void ReleaseRenderer();

signals:
    // The object under a click: a click again at the same place names the next hit behind.
    void objectPicked(CQVR3DObject* pObject);
    // The object under the cursor (null over empty space).
    void objectHovered(CQVR3DObject* pObject);
    // A picture was shown: the playback's beat.
    void frameShown();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;

private:
    void FitItems(const std::vector<DrawItem>& items);
    void UpdateImage();
    // No picture can be had: the view says why in one line (m_strUnavailable) instead.
    void ShowUnavailable();

    CMorv3dViewerDoc* m_pDocument;
    Mode m_mode = Mode::None;
    QString m_strUnavailable;
    CSceneGLWidget* m_pSurface = nullptr;
    QLabel* m_pMessage = nullptr;
    std::unique_ptr<CHeadlessContext> m_pHeadless;
    std::unique_ptr<COffscreenTarget> m_pTarget;
    std::unique_ptr<CSceneRenderer> m_pRenderer;
    bool m_bRendererReady = false;
    bool m_bSceneChanged = true;
    QImage m_image;  // Mode::Image: the last picture

    CCamera m_camera;
    EViewPreset m_preset = EViewPreset::Iso;
    RenderOptions m_options;

    QPoint m_pressPoint;
    QPoint m_lastPoint;
    bool m_bDragged = false;
    QPoint m_lastPickPoint{-1, -1};
    size_t m_nNextHit = 0;
    QElapsedTimer m_hoverClock;
};
