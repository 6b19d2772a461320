#include "sceneview.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "render/headless.h"
#include "render/viewpick.h"
#include "viewer/document.h"

// The OpenGL surface: hands its context's moments to the view, takes no input itself.
class CSceneGLWidget : public QOpenGLWidget {
public:
    explicit CSceneGLWidget(CSceneView* pView) : QOpenGLWidget(pView), m_pView(pView) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        format.setDepthBufferSize(24);
        format.setSamples(4);
        setFormat(format);
        connect(this, &QOpenGLWidget::frameSwapped, pView, &CSceneView::frameShown);
    }
    ~CSceneGLWidget() override {
        makeCurrent();
        m_pView->ReleaseRenderer();
        doneCurrent();
    }

protected:
    void initializeGL() override { m_pView->InitializeRenderer(); }
    void paintGL() override {
        const qreal dRatio = devicePixelRatioF();
        m_pView->Render(static_cast<int>(width() * dRatio), static_cast<int>(height() * dRatio));
    }

private:
    CSceneView* m_pView;
};

namespace {

// Whether Qt can make a 3.3 core context on this platform at all.
bool QtHasOpenGL() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        return false;
    }
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create()) {
        return false;
    }
    const QSurfaceFormat made = context.format();
    return made.majorVersion() > 3 || (made.majorVersion() == 3 && made.minorVersion() >= 3);
}

CQVR3DObject* Root(CMorv3dViewerDoc* pDocument) {
    return pDocument != nullptr ? pDocument->_pNode : nullptr;
}

}  // namespace

CSceneView::CSceneView(CMorv3dViewerDoc* pDocument, QWidget* pParent)
    : QWidget(pParent), m_pDocument(pDocument) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(64, 64);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    m_pRenderer = std::make_unique<CSceneRenderer>();
    if (QtHasOpenGL()) {
        m_mode = Mode::OpenGL;
        m_pSurface = new CSceneGLWidget(this);
        pLayout->addWidget(m_pSurface);
    } else {
        std::string strError;
        m_pHeadless = std::make_unique<CHeadlessContext>();
        m_pTarget = std::make_unique<COffscreenTarget>();
        if (SUCCEEDED(m_pHeadless->Create(strError)) &&
            SUCCEEDED(m_pRenderer->Initialize(strError))) {
            m_mode = Mode::Image;
            m_bRendererReady = true;
        } else {
            m_pTarget.reset();
            m_pHeadless.reset();
            m_strUnavailable = QString::fromStdString(strError);
            ShowUnavailable();
        }
    }
    m_camera.SetPreset(m_preset);
    m_hoverClock.start();
}

CSceneView::~CSceneView() {
    // The surface releases the renderer in its own context; in image mode ours is current.
    delete m_pSurface;
    m_pSurface = nullptr;
    m_pRenderer.reset();
    m_pTarget.reset();
}

void CSceneView::InitializeRenderer() {
    std::string strError;
    m_bRendererReady = SUCCEEDED(m_pRenderer->Initialize(strError));
    if (!m_bRendererReady) {
        m_strUnavailable = QString::fromStdString(strError);
        // Not from inside the surface's own initialisation: the message replaces it later.
        QMetaObject::invokeMethod(this, &CSceneView::ShowUnavailable, Qt::QueuedConnection);
    }
    m_bSceneChanged = true;
}

void CSceneView::ShowUnavailable() {
    if (m_pMessage != nullptr) {
        return;
    }
    m_mode = Mode::None;
    if (m_pSurface != nullptr) {
        m_pSurface->hide();
    }
    m_pMessage = new QLabel(
        tr("Keine 3D-Ansicht: OpenGL ist nicht verfügbar (%1).").arg(m_strUnavailable), this);
    m_pMessage->setAlignment(Qt::AlignCenter);
    m_pMessage->setWordWrap(true);
    layout()->addWidget(m_pMessage);
    m_pMessage->show();
}

void CSceneView::ReleaseRenderer() {
    m_pRenderer.reset();
    m_bRendererReady = false;
}

void CSceneView::OnSceneReplaced() {
    m_bSceneChanged = true;
    m_options.highlighted.clear();
}

void CSceneView::OnDocumentChanged() {
    m_bSceneChanged = true;
    m_options.highlighted.clear();
    m_nNextHit = 0;
    m_lastPickPoint = {-1, -1};
    m_pDocument->FollowClock();
    m_camera.SetPreset(m_preset);
    FitScene();
}

bool CSceneView::FollowClock() {
    // The root is set at once rather than when the OpenGL widget draws: what reads the scene
    // meanwhile (a pick, the properties) sees the new time too. Every other reader of the
    // scene relies on this, and sets no time of its own.
    if (!m_pDocument->FollowClock()) {
        return false;
    }
    Redraw();
    return true;
}

uint32_t CSceneView::Time() const {
    return m_pDocument->Clock().Time();
}

void CSceneView::SetHighlighted(std::vector<const CQVR3DMesh*> meshes) {
    m_options.highlighted = std::move(meshes);
    Redraw();
}

void CSceneView::SetPreset(EViewPreset preset) {
    m_preset = preset;
    m_camera.SetPreset(preset);
    FitScene();
}

void CSceneView::FitItems(const std::vector<DrawItem>& items) {
    m_camera.SetViewport(width(), height());
    m_camera.Fit(SceneBounds(items));
    Redraw();
}

void CSceneView::FitScene() {
    std::vector<DrawItem> items;
    if (CQVR3DObject* pRoot = Root(m_pDocument)) {
        CollectDrawItems(pRoot, items);
    }
    FitItems(items);
}

void CSceneView::FitObject(CQVR3DObject* pObject) {
    std::vector<DrawItem> items;
    CQVR3DObject* pRoot = Root(m_pDocument);
    if (pRoot == nullptr || pObject == nullptr) {
        return;
    }
    CollectDrawItems(pRoot, items);
    std::vector<DrawItem> inside;
    for (const DrawItem& item : items) {
        for (CQVR3DObject* p = item.pMesh; p != nullptr; p = p->GetParent()) {
            if (p == pObject) {
                inside.push_back(item);
                break;
            }
        }
    }
    if (!inside.empty()) {
        FitItems(inside);
    }
}

void CSceneView::Render(int nWidthPixels, int nHeightPixels) {
    if (!m_bRendererReady || m_pRenderer == nullptr) {
        return;
    }
    if (m_bSceneChanged) {
        m_pRenderer->SetScene(&m_pDocument->materials, Root(m_pDocument), m_pDocument->Folder());
        m_bSceneChanged = false;
    }
    m_camera.SetViewport(nWidthPixels, nHeightPixels);
    m_pRenderer->Prepare();
    m_pRenderer->Draw(m_camera, m_options);
    m_camera.SetViewport(width(), height());
}

void CSceneView::UpdateImage() {
    if (m_mode != Mode::Image || width() < 1 || height() < 1) {
        return;
    }
    const qreal dRatio = devicePixelRatioF();
    const int nWidth = std::max(1, static_cast<int>(width() * dRatio));
    const int nHeight = std::max(1, static_cast<int>(height() * dRatio));
    std::string strError;
    CImageRGBA picture;
    if (FAILED(m_pTarget->Create(nWidth, nHeight, strError))) {
        return;
    }
    Render(nWidth, nHeight);
    if (SUCCEEDED(m_pTarget->Read(picture))) {
        m_image = QImage(picture.pixels.data(), picture.nWidth, picture.nHeight, picture.nWidth * 4,
                         QImage::Format_RGBA8888)
                      .copy();
        m_image.setDevicePixelRatio(dRatio);
    }
}

void CSceneView::Redraw() {
    if (m_mode == Mode::OpenGL) {
        m_pSurface->update();
    } else if (m_mode == Mode::Image) {
        UpdateImage();
        update();
        emit frameShown();
    }
}

QImage CSceneView::Picture() {
    if (m_mode == Mode::OpenGL) {
        return m_pSurface->grabFramebuffer();
    }
    if (m_mode == Mode::Image) {
        UpdateImage();
    }
    return m_image;
}

std::vector<CQVR3DMesh*> CSceneView::PickAt(const QPoint& point) {
    std::vector<CQVR3DMesh*> meshes;
    CQVR3DObject* pRoot = Root(m_pDocument);
    if (pRoot == nullptr || m_mode == Mode::None) {
        return meshes;
    }
    m_camera.SetViewport(width(), height());
    std::vector<ViewHit> hits;
    // The frame's list of meshes serves the pick (Prepare walks only when the time moved since,
    // and then the next frame need not); until the renderer has the scene, the pick lists them.
    if (m_bRendererReady && m_pRenderer != nullptr && !m_bSceneChanged &&
        SUCCEEDED(m_pRenderer->Prepare())) {
        PickThroughPixel(pRoot, m_pRenderer->Items(), m_camera, point.x(), point.y(), hits);
    } else {
        PickThroughPixel(pRoot, m_camera, point.x(), point.y(), hits);
    }
    for (const ViewHit& hit : hits) {
        if (meshes.empty() || meshes.back() != hit.pMesh) {
            meshes.push_back(hit.pMesh);
        }
    }
    return meshes;
}

std::vector<MissingTexture> CSceneView::MissingTextures() const {
    return m_pRenderer != nullptr ? m_pRenderer->MissingTextures() : std::vector<MissingTexture>{};
}

void CSceneView::paintEvent(QPaintEvent* pEvent) {
    QWidget::paintEvent(pEvent);
    if (m_mode == Mode::Image && !m_image.isNull()) {
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), m_image);
    }
}

void CSceneView::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    m_camera.SetViewport(width(), height());
    if (m_mode == Mode::Image) {
        UpdateImage();
    }
}

void CSceneView::mousePressEvent(QMouseEvent* pEvent) {
    m_pressPoint = m_lastPoint = pEvent->position().toPoint();
    m_bDragged = false;
    setFocus();
}

void CSceneView::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint point = pEvent->position().toPoint();
    const QPoint delta = point - m_lastPoint;
    m_lastPoint = point;
    const Qt::MouseButtons buttons = pEvent->buttons();
    if (buttons == Qt::NoButton) {
        // Naming what is under the cursor costs a pick: not more often than 20 times a second.
        if (m_hoverClock.elapsed() >= 50) {
            m_hoverClock.restart();
            const std::vector<CQVR3DMesh*> meshes = PickAt(point);
            emit objectHovered(meshes.empty() ? nullptr : meshes.front());
        }
        return;
    }
    if ((point - m_pressPoint).manhattanLength() > 3) {
        m_bDragged = true;
    }
    const double dHeight = std::max(height(), 1);
    if ((buttons & Qt::MiddleButton) ||
        ((buttons & Qt::LeftButton) && (pEvent->modifiers() & Qt::ShiftModifier))) {
        m_camera.Pan(-delta.x() / dHeight, delta.y() / dHeight);
    } else if (buttons & Qt::LeftButton) {
        m_camera.Orbit(-delta.x() * 0.01, delta.y() * 0.01);
    }
    Redraw();
}

void CSceneView::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (m_bDragged || pEvent->button() != Qt::LeftButton) {
        return;
    }
    const QPoint point = pEvent->position().toPoint();
    const std::vector<CQVR3DMesh*> meshes = PickAt(point);
    // Clicking again at the same place steps to the next hit behind.
    if ((point - m_lastPickPoint).manhattanLength() <= 2 && !meshes.empty()) {
        m_nNextHit = (m_nNextHit + 1) % meshes.size();
    } else {
        m_nNextHit = 0;
    }
    m_lastPickPoint = point;
    emit objectPicked(meshes.empty() ? nullptr : meshes[m_nNextHit]);
}

void CSceneView::wheelEvent(QWheelEvent* pEvent) {
    const double dSteps = pEvent->angleDelta().y() / 120.0;
    if (dSteps == 0) {
        return;
    }
    // Towards the cursor: the point under it stays roughly where it is.
    const double dFactor = std::pow(0.85, dSteps);
    const QPointF point = pEvent->position();
    const double dHeight = std::max(height(), 1);
    const double dRight = (point.x() - width() / 2.0) / dHeight;
    const double dUp = (height() / 2.0 - point.y()) / dHeight;
    m_camera.Pan(dRight * (1 - dFactor), dUp * (1 - dFactor));
    m_camera.Zoom(dFactor);
    Redraw();
}
