// The main frame against its real widgets: start-up state, menus, accelerators, toolbar,
// status bar, opening (command line, recent files, drop), the messages of failed and partial
// opens, the about box and shell open.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include "AboutDlg.h"
#include "MainFrm.h"
#include "abstractdata/debugreport.h"
#include "guitest.h"
#include "morv3dViewer.h"
#include "morv3dViewerView.h"
#include "resource.h"
#include "shellopen.h"
#include "viewer/testscene.h"

using namespace gui_test;

namespace {

struct Message {
    CMainFrame::MessageKind kind;
    QString strText;
};

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private slots:
    // As the program starts in German: the numbers are written as German writes them.
    void initTestCase() { SetUiLanguage(UiLanguage::German); }
    void init() {
        m_pSettings = std::make_unique<CScopedSettings>();
        NewFrame();
    }
    void cleanup() {
        m_pFrame.reset();
        m_pSettings.reset();
    }

    // The steps of tests/data/gui/frame_opens.tsv (opening, dropping, the recent files), in
    // turn on one frame and the one a new start makes.
    void opensAsListed() {
        for (int i = 0; i < 12; ++i) {
            Scene(QStringLiteral("recent%1.morv3d").arg(i));
        }
        WriteTestScene(m_dir.filePath(QStringLiteral("scene.morv3d")).toStdString());
        // Its objects pass ends with MORV_E_BADFORMAT at a mesh naming a material that is not
        // there.
        viewer_test::WritePartScene(m_dir.filePath(QStringLiteral("damaged.morv3d")).toStdString(),
                                    9);
        QFile::copy(QStringLiteral(MORV_SOURCE_DIR "/examples/sample.morv"),
                    m_dir.filePath(QStringLiteral("other.morv")));
        const QList<QStringList> rows = ReadTable(QStringLiteral("gui/frame_opens.tsv"));
        QVERIFY(rows.size() > 6);
        for (const QStringList& row : rows) {
            const QString strBefore = WidgetTreeText(*m_pFrame->GetView());
            const QString strFile = row[2] == "$SAMPLE"
                                        ? QStringLiteral(MORV_SOURCE_DIR "/examples/sample.morv3d")
                                        : m_dir.filePath(row[2]);
            m_messages.clear();
            bool bOpened = true;
            if (row[1] == "new") {
                m_pFrame->Action(ID_FILE_NEW)->trigger();
            } else if (row[1] == "recent") {
                RecentAction(row[2].toInt())->trigger();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            } else if (row[1] == "remove") {
                bOpened = QFile::remove(strFile);
            } else if (row[1] == "drop") {
                QMimeData data;
                if (row[2] == "-") {
                    data.setText(QStringLiteral("hello"));
                } else {
                    data.setUrls({QUrl::fromLocalFile(strFile)});
                }
                QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                                      Qt::NoModifier);
                enter.ignore();
                QCoreApplication::sendEvent(m_pFrame.get(), &enter);
                QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                                Qt::NoModifier);
                bOpened = enter.isAccepted() && QCoreApplication::sendEvent(m_pFrame.get(), &drop);
            } else if (row[1] == "open") {
                bOpened = m_pFrame->OpenDocumentFile(strFile);
            } else {  // start, or restart: a new frame first
                if (row[1] == "restart") {
                    NewFrame();
                }
                CCommandLineInfo info;
                info.strFileName = row[2] == "-" ? QString() : strFile;
                bOpened = CMorv3dViewerApp::ProcessShellCommand(*m_pFrame, info);
            }
            // The message: its kind and every "|"-separated part of the column in its text.
            QString strMessage = m_messages.isEmpty() ? QStringLiteral("-") : QString();
            for (const Message& message : m_messages) {
                strMessage +=
                    (message.kind == CMainFrame::MessageKind::Error ? "Error " : "Warning ") +
                    message.strText;
            }
            const QString strExpected = QString(row[4]).replace("$DIR", m_dir.path());
            bool bHeld = m_messages.size() == (row[4] == "-" ? 0 : 1);
            for (const QString& strPart : strExpected.split('|')) {
                bHeld = bHeld && strMessage.contains(strPart);
            }
            const QString strTree =
                row[6] == "built"
                    ? EntriesText(BuildStructureTree(m_pFrame->GetDocument(), SHOW_ALL))
                : row[6] == "kept" ? strBefore
                                   : QStringLiteral("MATERIALS\t0\nOBJECTS\t0\n");
            const QString strShown =
                WidgetTreeText(*m_pFrame->GetView()) == strTree ? row[6] : "other";
            QStringList recent;
            for (const QString& strRecent : m_pFrame->RecentFiles()) {
                recent << QFileInfo(strRecent).fileName();
            }
            QStringList actual = row.mid(0, 3);
            actual << (bOpened ? "1" : "0") << (bHeld ? row[4] : strMessage)
                   << m_pFrame->windowTitle().chopped(15) << strShown
                   << (recent.isEmpty() ? "-" : recent.join(' '));
            QCOMPARE(actual.join('\t'), row.join('\t'));
        }
        // The ten are kept as File1 to File10 and numbered "&1" to "1&0" in the menu.
        QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"),
                           QStringLiteral("morv3dViewer"));
        const QString strTenth = m_dir.filePath(QStringLiteral("recent2.morv3d"));
        QCOMPARE(settings.value(QStringLiteral("Recent File List/File10")).toString(), strTenth);
        QVERIFY(!settings.contains(QStringLiteral("Recent File List/File11")));
        const QStringList lines = FrameListing(*m_pFrame).split(QLatin1Char('\n'));
        QVERIFY2(
            lines[9].startsWith(QStringLiteral("  &1 %1||").arg(m_dir.filePath("recent5.morv3d"))),
            qPrintable(lines[9]));
        QVERIFY2(lines[18].startsWith(QStringLiteral("  1&0 %1||").arg(strTenth)),
                 qPrintable(lines[18]));
        QCOMPARE(lines[19], QStringLiteral("  -"));
    }

    // Menus, toolbar and the other texts of the frame as tests/data/gui/frame_de.txt lists them
    // (the filter toggles start pressed).
    void textsAsListed() {
        const QString strListing = FrameListing(*m_pFrame);
        QCOMPARE(strListing, ExpectedData(QStringLiteral("gui/frame_de.txt"), strListing));
    }

    void editKeysDoNothing() {
        m_pFrame->OpenDocumentFile(Scene(QStringLiteral("keys.morv3d")));
        m_pFrame->show();
        CMorv3dViewerView* pView = m_pFrame->GetView();
        pView->setFocus();
        pView->setCurrentItem(pView->topLevelItem(1));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        const QString strTree = WidgetTreeText(*pView);
        for (const QKeySequence& key :
             {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert),
              QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_V),
              QKeySequence(Qt::SHIFT | Qt::Key_Delete), QKeySequence(Qt::CTRL | Qt::Key_Z)}) {
            QTest::keySequence(pView, key);
        }
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(WidgetTreeText(*pView), strTree);
    }

    void togglesRebuildAndShowPressed() {
        m_pFrame->OpenDocumentFile(Scene(QStringLiteral("toggle.morv3d")));
        const QString strAll = WidgetTreeText(*m_pFrame->GetView());
        QAction* pNodes = m_pFrame->Action(ID_SHOW_NODES);
        pNodes->trigger();
        QVERIFY(!pNodes->isChecked());
        QCOMPARE(m_pFrame->GetView()->ShowFlags(), SHOW_ALL & ~SHOW_NODES);
        pNodes->trigger();
        QVERIFY(pNodes->isChecked());
        QCOMPARE(WidgetTreeText(*m_pFrame->GetView()), strAll);
    }

    // Search "sort" in the sample, click a toolbar filter, press F3 three times: the selection
    // cycles through the matches of the rebuilt tree, and "Nur Treffer" still filters it.
    void searchFollowsAFilterToggle() {
        QVERIFY(
            m_pFrame->OpenDocumentFile(QStringLiteral(MORV_SOURCE_DIR "/examples/sample.morv3d")));
        m_pFrame->show();
        QVERIFY(QTest::qWaitForWindowActive(m_pFrame.get()));
        CMorv3dViewerView* pView = m_pFrame->GetView();
        auto* pSearch = m_pFrame->findChild<QLineEdit*>(QStringLiteral("m_wndSearch"));
        QTest::keySequence(m_pFrame.get(), QKeySequence(Qt::CTRL | Qt::Key_F));
        QTest::keyClicks(pSearch, QStringLiteral("sort"));
        const auto current = [pView] {
            return pView->currentItem() != nullptr ? pView->currentItem()->text(0) : QString();
        };
        QCOMPARE(current(), QStringLiteral("node: sortlast_glow"));
        QTest::mouseClick(m_pFrame->ToolBar()->widgetForAction(m_pFrame->Action(ID_SHOW_MATERIALS)),
                          Qt::LeftButton);
        QCOMPARE(pView->ShowFlags(), SHOW_ALL & ~SHOW_MATERIALS);
        QStringList steps;
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(pView, Qt::Key_F3);
            steps << current();
        }
        QCOMPARE(steps.join(QLatin1Char(',')),
                 QStringLiteral("node: sort0_window,node: glass_sort1,node: sortlast_glow"));

        m_pFrame->findChild<QCheckBox*>(QStringLiteral("m_wndSearchOnly"))->setChecked(true);
        m_pFrame->Action(ID_SHOW_MATERIALS)->trigger();
        QStringList shown;
        for (const CMorv3dViewerView::ListedEntry& line : pView->ListedEntries()) {
            if (!line.pItem->isHidden() && line.nDepth == 3) {
                shown << line.pItem->text(0);
            }
        }
        QCOMPARE(shown.join(QLatin1Char(',')),
                 QStringLiteral("node: sortlast_glow,node: sort0_window,node: glass_sort1"));
    }

    void toolbarAndStatusBarFromTheViewMenu() {
        m_pFrame->show();
        m_pFrame->Action(ID_VIEW_TOOLBAR)->trigger();
        QVERIFY(!m_pFrame->ToolBar()->isVisible());
        m_pFrame->Action(ID_VIEW_STATUS_BAR)->trigger();
        QVERIFY(!m_pFrame->statusBar()->isVisible());
        m_pFrame->Action(ID_VIEW_TOOLBAR)->trigger();
        m_pFrame->Action(ID_VIEW_STATUS_BAR)->trigger();
        QVERIFY(m_pFrame->ToolBar()->isVisible());
        QVERIFY(m_pFrame->statusBar()->isVisible());
        QVERIFY(m_pFrame->Action(ID_VIEW_TOOLBAR)->isChecked());
    }

    void lockIndicatorsShowWhileOn() {
        m_pFrame->SetLockIndicators({true, true, false, true});
        QCOMPARE(m_pFrame->IndicatorLabel(ID_INDICATOR_CAPS)->text(), QStringLiteral("UF"));
        QCOMPARE(m_pFrame->IndicatorLabel(ID_INDICATOR_NUM)->text(), QString());
        QCOMPARE(m_pFrame->IndicatorLabel(ID_INDICATOR_SCRL)->text(), QStringLiteral("RF"));
        m_pFrame->SetLockIndicators({true, false, true, false});
        QCOMPARE(m_pFrame->IndicatorLabel(ID_INDICATOR_CAPS)->text(), QString());
        QCOMPARE(m_pFrame->IndicatorLabel(ID_INDICATOR_NUM)->text(), QStringLiteral("NUM"));
        // The panes keep their place while off.
        QVERIFY(m_pFrame->IndicatorLabel(ID_INDICATOR_CAPS)->minimumWidth() > 0);
    }

    // --select's path names an object (the root too); a pane hidden meanwhile catches up.
    void objectPathSelectsAndThePaneCatchesUp() {
        QVERIFY(m_pFrame->OpenDocumentFile(Scene(QStringLiteral("select.morv3d"))));
        m_pFrame->show();
        auto* pDock = m_pFrame->findChild<QDockWidget*>(QStringLiteral("m_wndPropertiesDock"));
        pDock->hide();
        for (const char* pszMissing : {"", "scene/arm/none", "scene/arm/hand/finger/x", "arm"}) {
            QVERIFY2(!m_pFrame->SelectObjectPath(QString::fromUtf8(pszMissing)), pszMissing);
        }
        QVERIFY(m_pFrame->SelectObjectPath(QStringLiteral("scene")));
        QVERIFY(m_pFrame->SelectObjectPath(QStringLiteral("scene/arm/hand/finger")));
        pDock->show();
        QTRY_VERIFY2(m_pFrame->GetPropertiesPane()->toPlainText().startsWith(
                         QStringLiteral("Kind: node\nName: finger\n")),
                     qPrintable(m_pFrame->GetPropertiesPane()->toPlainText()));
    }

    void aboutBoxClosesWithOk() {
        CAboutDlg dialog(m_pFrame.get());
        QVERIFY(dialog.isModal() && dialog.OkButton()->isDefault());
        dialog.show();
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void shellOpenHandsTheFileToTheRunningWindow() {
        const QString strName =
            QStringLiteral("morv3dViewer-test-%1").arg(QCoreApplication::applicationPid());
        QVERIFY(!SendToRunningInstance(strName, QStringLiteral("/nowhere"), 200));

        CShellOpenServer server;
        QVERIFY(server.Listen(strName));
        CShellOpenServer second;
        QVERIFY(!second.Listen(strName));
        connect(&server, &CShellOpenServer::openRequested, m_pFrame.get(),
                [this](const QString& strPath) { m_pFrame->OpenDocumentFile(strPath); });
        const QString strScene = Scene(QStringLiteral("shell ö.morv3d"));
        // The sender blocks; the server answers from this thread's event loop.
        bool bSent = false;
        QThread* pThread =
            QThread::create([&] { bSent = SendToRunningInstance(strName, strScene); });
        pThread->start();
        QTRY_VERIFY(pThread->isFinished());
        delete pThread;
        QVERIFY(bSent);
        QTRY_COMPARE(m_pFrame->GetPathName(), strScene);
    }

    void germanWordsForEveryResult() {
        QSet<QString> words;
        for (const ResultText& text : ResultTexts()) {
            words.insert(GermanResultMessage(text.hr));
        }
        QCOMPARE(words.size(), int(ResultTexts().size()));
        QVERIFY(!words.contains(GermanResultMessage(static_cast<HRESULT>(0x80001234u))));
    }

private:
    // A frame (anew: as a new start, reading the settings), its messages caught.
    void NewFrame() {
        m_pFrame.reset();
        m_pFrame = std::make_unique<CMainFrame>();
        m_pFrame->SetMessageHook([this](CMainFrame::MessageKind kind, const QString& strText) {
            m_messages.append({kind, strText});
        });
    }
    QString Scene(const QString& strName) {
        const QString strPath = m_dir.filePath(strName);
        WriteTestScene(strPath.toStdString());
        return strPath;
    }
    QAction* RecentAction(int nIndex) {
        for (QAction* pAction : m_pFrame->FileMenu()->actions()) {
            if (pAction->data().toInt() == ID_FILE_MRU_FILE1 + nIndex) {
                return pAction;
            }
        }
        return nullptr;
    }

    QTemporaryDir m_dir;
    CReportCapture m_reports;
    std::unique_ptr<CScopedSettings> m_pSettings;
    std::unique_ptr<CMainFrame> m_pFrame;
    QList<Message> m_messages;
};

QTEST_MAIN(MainFrameTest)
#include "mainframe_test.moc"
