// The 3D view in the real window: picking selects the tree's entry, selecting an entry
// highlights, playback and the slider drive the scene's time, key jumps, properties, and the
// window where no OpenGL can be had. On the offscreen platform the view draws through the
// headless context; one case runs the OpenGL widget under Xvfb.
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "MainFrm.h"
#include "engine/3dobjects/axes.h"
#include "guitest.h"
#include "morv3dViewerView.h"
#include "resource.h"
#include "sceneview.h"
#include "transportbar.h"
#include "viewer/properties.h"

using namespace gui_test;

namespace {

const QString kSample = QStringLiteral(MORV_SOURCE_DIR "/examples/sample.morv3d");

CQVR3DObject* FindNode(CMainFrame& frame, const char* pszName) {
    return frame.GetDocument()._pNode->FindByName(pszName);
}

// Where a scene point shows in the view.
QPoint ScreenPoint(const CCamera& camera, const Vector3& vWorld) {
    const Vector3 ndc = camera.ProjectView(TransformPoint(vWorld, WorldToViewAxes()));
    return QPoint(static_cast<int>((ndc.x + 1) / 2 * camera.nWidth),
                  static_cast<int>((1 - ndc.y) / 2 * camera.nHeight));
}

}  // namespace

class SceneViewTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_pSettings = std::make_unique<CScopedSettings>();
        m_pFrame = std::make_unique<CMainFrame>();
        m_pFrame->SetBatchMode(true);
        m_pFrame->show();
        QVERIFY(m_pFrame->OpenDocumentFile(kSample));
        if (m_pFrame->GetSceneView()->GetMode() == CSceneView::Mode::None) {
            QSKIP("no OpenGL on this machine");
        }
    }
    void cleanup() {
        m_pFrame.reset();
        m_pSettings.reset();
    }

    void clickingAMeshSelectsItsEntry() {
        CSceneView* pView = m_pFrame->GetSceneView();
        // The centre of the base box's top face: the box spans -0.5 .. 0.5 around the origin.
        const QPoint point = ScreenPoint(pView->Camera(), {0, 0, 0.5f});
        QTest::mouseClick(pView, Qt::LeftButton, {}, point);
        CQVR3DObject* pBase = FindNode(*m_pFrame, "base");
        QTreeWidgetItem* pItem = m_pFrame->GetView()->currentItem();
        QVERIFY(pItem != nullptr);
        QCOMPARE(pItem->data(0, CMorv3dViewerView::kObjectRole).value<void*>(),
                 static_cast<void*>(pBase->GetChild(0)));
        // Copy copies its path; empty space names nothing and lets go of the selection.
        QAction* pCopy = m_pFrame->Action(ID_EDIT_COPY);
        QVERIFY(pCopy->isEnabled());
        pCopy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("scene/dmyPivot/base/mesh[0]"));
        QTest::mouseClick(pView, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(m_pFrame->GetView()->currentItem(), nullptr);
        QVERIFY(!pCopy->isEnabled());
    }

    // Each drag moves the camera its own way and picks nothing; a click on the same place
    // again steps behind; hovering names; the wheel zooms; F fits again.
    void gesturesMoveTheCamera() {
        CSceneView* pView = m_pFrame->GetSceneView();
        const QPoint a = ScreenPoint(pView->Camera(), {0, 0, 0.5f});
        const QPoint b = a + QPoint(30, 12);
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button,
                              Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
            QMouseEvent event(type, at, pView->mapToGlobal(at), button, buttons, modifiers);
            QApplication::sendEvent(pView, &event);
        };
        QSignalSpy picked(pView, &CSceneView::objectPicked);
        for (const auto& [button, modifiers, bTurns, bMoves] :
             {std::tuple{Qt::LeftButton, Qt::KeyboardModifiers(), true, false},
              std::tuple{Qt::LeftButton, Qt::KeyboardModifiers(Qt::ShiftModifier), false, true},
              std::tuple{Qt::MiddleButton, Qt::KeyboardModifiers(), false, true},
              std::tuple{Qt::RightButton, Qt::KeyboardModifiers(), false, false}}) {
            const CCamera before = pView->Camera();
            send(QEvent::MouseButtonPress, a, button, button, modifiers);
            send(QEvent::MouseMove, b, Qt::NoButton, button, modifiers);
            send(QEvent::MouseButtonRelease, b, button, Qt::NoButton, modifiers);
            QCOMPARE(pView->Camera().dYaw != before.dYaw, bTurns);
            QCOMPARE(pView->Camera().vTarget.x != before.vTarget.x, bMoves);
            pView->FitScene();
        }
        QTest::mouseClick(pView, Qt::RightButton, {}, a);
        QCOMPARE(picked.count(), 0);
        QTest::mouseClick(pView, Qt::LeftButton, {}, a);
        QTest::mouseClick(pView, Qt::LeftButton, {}, a);
        QCOMPARE(picked.count(), 2);
        QSignalSpy hovered(pView, &CSceneView::objectHovered);
        QTest::qWait(60);
        send(QEvent::MouseMove, a, Qt::NoButton, Qt::NoButton, {});
        QCOMPARE(hovered.count(), 1);
        QVERIFY(hovered.at(0).at(0).value<CQVR3DObject*>() != nullptr);

        const double dDistance = pView->Camera().dDistance;
        for (const int nDelta : {0, 120}) {
            QWheelEvent wheel(a, pView->mapToGlobal(a), {}, {0, nDelta}, Qt::NoButton, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(pView, &wheel);
        }
        QVERIFY(pView->Camera().dDistance < dDistance);
        // F and Pos1 fit the scene wherever the focus is; the tree's entry stays. Keys reach the
        // window's actions only while it is active (Xvfb without a window manager: maybe not).
        m_pFrame->activateWindow();
        if (!QTest::qWaitForWindowActive(m_pFrame.get())) {
            QSKIP("the window cannot be made active here");
        }
        CMorv3dViewerView* pTree = m_pFrame->GetView();
        QVERIFY(m_pFrame->SelectObjectPath(QStringLiteral("scene/dmyPivot/arm")));
        QTreeWidgetItem* pArm = pTree->currentItem();
        for (QWidget* pFocus : {static_cast<QWidget*>(pView), static_cast<QWidget*>(pTree)}) {
            for (const Qt::Key key : {Qt::Key_F, Qt::Key_Home}) {
                QWheelEvent wheel(a, pView->mapToGlobal(a), {}, {0, 120}, Qt::NoButton, {},
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(pView, &wheel);
                pFocus->setFocus();
                QTest::keyClick(pFocus, key);
                QCOMPARE(pView->Camera().dDistance, dDistance);
                QCOMPARE(pTree->currentItem(), pArm);
            }
        }
        // A double click on an entry fits it and leaves it open or closed as it was.
        const bool bExpanded = pArm->isExpanded();
        QSignalSpy doubleClicked(pTree, &QTreeWidget::itemDoubleClicked);
        pTree->scrollToItem(pArm);
        const QPoint at = pTree->visualItemRect(pArm).center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                        QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, pTree->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              {});
            QApplication::sendEvent(pTree->viewport(), &event);
        }
        QCOMPARE(doubleClicked.count(), 1);
        QCOMPARE(pArm->isExpanded(), bExpanded);
        QVERIFY(pView->Camera().dDistance < dDistance);
        // Fitting an object comes closer than the whole scene; nothing fits nothing.
        pView->FitObject(nullptr);
        pView->FitObject(FindNode(*m_pFrame, "arm"));
        QVERIFY(pView->Camera().dDistance < dDistance);
    }

    void selectingAnEntryHighlightsItsMeshes() {
        CSceneView* pView = m_pFrame->GetSceneView();
        const QImage before = pView->Picture();
        QVERIFY(m_pFrame->GetView()->SelectObject(FindNode(*m_pFrame, "windows")));
        const QImage after = pView->Picture();
        QCOMPARE(after.size(), before.size());
        int nChanged = 0;
        for (int y = 0; y < after.height(); ++y) {
            for (int x = 0; x < after.width(); ++x) {
                nChanged += after.pixel(x, y) != before.pixel(x, y);
            }
        }
        QVERIFY2(nChanged > 500, qPrintable(QString::number(nChanged)));
    }

    void playbackMovesTheTimeAndPauseHoldsIt() {
        CTransportBar* pTransport = m_pFrame->GetTransportBar();
        pTransport->TogglePlay();
        QTRY_VERIFY_WITH_TIMEOUT(m_pFrame->GetSceneView()->Time() > 0, 5000);
        pTransport->TogglePlay();
        const uint32_t dwHeld = m_pFrame->GetSceneView()->Time();
        QTest::qWait(200);
        QCOMPARE(m_pFrame->GetSceneView()->Time(), dwHeld);
        // Opening another file while playing stops cleanly at 0.
        pTransport->TogglePlay();
        QVERIFY(m_pFrame->OpenDocumentFile(kSample));
        QVERIFY(!pTransport->Clock().IsPlaying());
        QCOMPARE(m_pFrame->GetSceneView()->Time(), 0u);
    }

    void theSliderTimeMovesNodesAndKeysAreReached() {
        CTransportBar* pTransport = m_pFrame->GetTransportBar();
        CQVR3DObject* pArm = FindNode(*m_pFrame, "arm");
        Matrix4 atStart;
        QCOMPARE(WorldMatrix(pArm, &atStart), S_OK);
        pTransport->SetTime(80);
        QCOMPARE(m_pFrame->GetDocument()._pNode->dwRequestedTime, 80u);
        Matrix4 atMiddle;
        QCOMPARE(WorldMatrix(pArm, &atMiddle), S_OK);
        QVERIFY(atMiddle.m[3][2] > atStart.m[3][2] + 0.5f);  // the arm rose

        // Key jumps of the selected pivot: its rotation keys at 0, 80 and 160.
        QVERIFY(m_pFrame->GetView()->SelectObject(FindNode(*m_pFrame, "dmyPivot")));
        pTransport->SetTime(10);
        pTransport->JumpToKey(true);
        QCOMPARE(pTransport->Clock().Time(), 80u);
        pTransport->JumpToKey(true);
        QCOMPARE(pTransport->Clock().Time(), 160u);
        pTransport->JumpToKey(false);
        QCOMPARE(pTransport->Clock().Time(), 80u);

        // The properties pane shows that object at that time.
        std::string strExpected;
        const int nEntry = m_pFrame->GetView()->EntryOf(m_pFrame->GetView()->currentItem());
        QCOMPARE(
            EntryProperties(
                m_pFrame->GetView()->Tree(), static_cast<size_t>(nEntry), m_pFrame->GetDocument(),
                [](const std::string&) { return std::string(); }, &strExpected),
            S_OK);
        QCOMPARE(m_pFrame->GetPropertiesPane()->toPlainText(), QString::fromStdString(strExpected));
    }

    void otherFormatsAreImportedAndShown() {
        QTemporaryDir dir;
        const QString strObj = dir.filePath(QStringLiteral("quad.obj"));
        QVERIFY(QFile::copy(QStringLiteral(MORV_SOURCE_DIR "/tests/data/gui/quad.obj"), strObj));
        QVERIFY(m_pFrame->OpenDocumentFile(strObj));
        QVERIFY(m_pFrame->windowTitle().startsWith(QStringLiteral("quad.obj (importiert)")));
        QVERIFY(m_pFrame->GetDocument().LoadedCompletely());
        // Nothing was written beside the model.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList({QStringLiteral("quad.obj")}));
        QVERIFY(!m_pFrame->GetSceneView()
                     ->PickAt(ScreenPoint(m_pFrame->GetSceneView()->Camera(), {0.5f, 0.0f, 0.5f}))
                     .empty());
    }

    // A model whose import hangs (the child's test hook): the window keeps answering (the timer
    // fires during the import), "Abbrechen" stops it at once, and nothing is reported or opened.
    void aHangingImportIsCancelled() {
        QTemporaryDir dir;
        const QString strObj = dir.filePath(QStringLiteral("quad.obj"));
        QVERIFY(QFile::copy(QStringLiteral(MORV_SOURCE_DIR "/tests/data/gui/quad.obj"), strObj));
        const QString strTitle = m_pFrame->windowTitle();
        int nMessages = 0;
        m_pFrame->SetMessageHook([&](CMainFrame::MessageKind, const QString&) { ++nMessages; });
        qputenv("MORV3D_IMPORT_CHILD_TEST", "sleep:60");
        bool bCancelled = false;
        QTimer::singleShot(300, [&] {
            for (QWidget* pWidget : QApplication::topLevelWidgets()) {
                auto* pDialog = qobject_cast<QProgressDialog*>(pWidget);
                if (pDialog != nullptr && pDialog->findChild<QPushButton*>() != nullptr) {
                    pDialog->findChild<QPushButton*>()->click();  // as the user does
                    bCancelled = true;
                }
            }
        });
        QElapsedTimer timer;
        timer.start();
        const bool bOpened = m_pFrame->OpenDocumentFile(strObj);
        qunsetenv("MORV3D_IMPORT_CHILD_TEST");
        m_pFrame->SetMessageHook(nullptr);
        QVERIFY(!bOpened);
        QVERIFY(bCancelled);
        QVERIFY(timer.elapsed() < 10000);
        QCOMPARE(nMessages, 0);
        QCOMPARE(m_pFrame->windowTitle(), strTitle);
    }

private:
    std::unique_ptr<CScopedSettings> m_pSettings;
    std::unique_ptr<CMainFrame> m_pFrame;
};

// Whole programs writing a screenshot of the sample: without any EGL and with a context whose
// shaders do not compile (the renderer's test fault), on this platform (under Xvfb the OpenGL
// widget); and the OpenGL widget under an Xvfb of its own, where the 3D view's area (right of
// the tree) must hold more than its background.
class SceneViewProgramTest : public QObject {
    Q_OBJECT

private slots:
    void screenshotsWithAndWithoutOpenGL() {
        const QString strXvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
        const QString strViewer = QStringLiteral(MORV3D_VIEWER);
        const QString strPlatform = QGuiApplication::platformName();
        // The GLX driver keeps a few blocks to the end of the process that LeakSanitizer
        // cannot name; our own leaks are checked by every other test.
        for (const auto& [pszName, pszValue, bXvfb] :
             {std::tuple{"__EGL_VENDOR_LIBRARY_FILENAMES", "/nonexistent.json", false},
              std::tuple{"MORV_GL_FAULT", "compile", false},
              std::tuple{"ASAN_OPTIONS", "detect_leaks=0", true}}) {
            if (bXvfb && strXvfb.isEmpty()) {
                QSKIP("xvfb-run is not installed");
            }
            QTemporaryDir dir;
            const QString strShot = dir.filePath(QStringLiteral("a.png"));
            const QStringList args = {QStringLiteral("--screenshot"), strShot, kSample};
            const ProgramRun run = RunProgram(
                bXvfb ? strXvfb : strViewer,
                bXvfb ? QStringList{"-a", strViewer, "-platform", "xcb"} + args : args,
                {{pszName, pszValue}, {"QT_QPA_PLATFORM", bXvfb ? QString() : strPlatform}},
                dir.path());
            QVERIFY2(run.nExit == 0, qPrintable(run.strErr));
            const QImage shot(strShot);
            QVERIFY(!shot.isNull());
            QSet<QRgb> colours;
            for (int y = shot.height() / 4; bXvfb && y < shot.height() * 3 / 4; y += 4) {
                for (int x = shot.width() / 3; x < shot.width() * 2 / 3; x += 4) {
                    colours.insert(shot.pixel(x, y));
                }
            }
            QVERIFY2(!bXvfb || colours.size() > 20, qPrintable(QString::number(colours.size())));
        }
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SceneViewTest sceneView;
    SceneViewProgramTest programs;
    return QTest::qExec(&sceneView, argc, argv) | QTest::qExec(&programs, argc, argv);
}

#include "sceneview_test.moc"
