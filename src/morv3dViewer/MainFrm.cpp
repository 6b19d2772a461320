#include "MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "AboutDlg.h"
#include "abstractdata/codepage.h"
#include "abstractdata/texturefind.h"
#include "interchange/importscene.h"
#include "morv3dViewerView.h"
#include "pictures.h"
#include "render/viewpick.h"
#include "resource.h"
#include "sceneview.h"
#include "transportbar.h"
#include "viewer/properties.h"
#include "viewer/search.h"
#include "viewer/selection.h"
#include "viewer/statistics.h"
#include "viewer/structuretree.h"

namespace {

// The toolbar in button order: a command id, or 0 for a separator.
constexpr int kToolbarButtons[] = {
    ID_FILE_NEW,
    ID_FILE_OPEN,
    0,
    ID_EDIT_CUT,
    ID_EDIT_COPY,
    ID_EDIT_PASTE,
    0,
    ID_FILE_PRINT,
    0,
    ID_SHOW_NODES,
    ID_SHOW_DUMMIES,
    ID_SHOW_ANIMATION,
    ID_SHOW_MESHES,
    ID_SHOW_MESH_ANIMATIONS,
    ID_SHOW_MATERIALS,
    ID_SHOW_MATERIAL_MAPS,
    0,
    ID_APP_ABOUT,
};

constexpr int kShowCommands[] = {
    ID_SHOW_NODES,     ID_SHOW_MESHES,        ID_SHOW_ANIMATION,       ID_SHOW_DUMMIES,
    ID_SHOW_MATERIALS, ID_SHOW_MATERIAL_MAPS, ID_SHOW_MESH_ANIMATIONS,
};

const char kRecentSection[] = "Recent File List";

// Shows the wait cursor while it lives.
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// The renderer's reasons for a texture it could not use, in the window's language; a reason
// of the picture decoder not listed here is shown as it comes.
QString TextureReason(const std::string& strReason) {
    static const struct {
        const char* pszReason;
        const char* pszText;
    } reasons[] = {
        {"not found", QT_TRANSLATE_NOOP("CMainFrame", "nicht gefunden")},
        {"cannot be opened", QT_TRANSLATE_NOOP("CMainFrame", "kann nicht geöffnet werden")},
        {"not a regular file", QT_TRANSLATE_NOOP("CMainFrame", "keine gewöhnliche Datei")},
        {"larger than 64 MiB", QT_TRANSLATE_NOOP("CMainFrame", "größer als 64 MiB")},
        {"out of memory", QT_TRANSLATE_NOOP("CMainFrame", "nicht genügend Speicher")},
    };
    for (const auto& reason : reasons) {
        if (strReason == reason.pszReason) {
            return QCoreApplication::translate("CMainFrame", reason.pszText);
        }
    }
    return QString::fromStdString(strReason);
}

// A message's last sentence: a text that ends in a full stop already gets no second one.
QString Sentence(const QString& strText) {
    return strText.endsWith(QLatin1Char('.')) ? strText : strText + QLatin1Char('.');
}

QString Quoted(const QString& strPath) {
    return QCoreApplication::translate("CMainFrame", "„%1“").arg(QDir::toNativeSeparators(strPath));
}

}  // namespace

CMainFrame::CMainFrame(QWidget* pParent) : QMainWindow(pParent) {
    setWindowIcon(ApplicationIcon());
    m_pView = new CMorv3dViewerView(&m_document, this);
    CreateScenePane();
    m_pSplitter = new QSplitter(Qt::Horizontal, this);
    m_pSplitter->setObjectName(QStringLiteral("m_wndSplitter"));
    m_pSplitter->addWidget(CreateTreePane());
    m_pSplitter->addWidget(m_pScenePane);
    m_pSplitter->setStretchFactor(0, 0);
    m_pSplitter->setStretchFactor(1, 1);
    m_pSplitter->setSizes({300, 600});
    setCentralWidget(m_pSplitter);

    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    connect(m_pView, &CMorv3dViewerView::showFlagsChanged, this, &CMainFrame::SyncShowToggles);
    // The matches are rows of the tree: each rebuild finds them anew.
    connect(m_pView, &CMorv3dViewerView::treeRebuilt, this, &CMainFrame::RefreshMatches);
    connect(m_pView, &QTreeWidget::currentItemChanged, this, &CMainFrame::OnCurrentEntryChanged);
    connect(m_pView, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* pItem) {
        const QVariant object = pItem->data(0, CMorv3dViewerView::kObjectRole);
        if (object.isValid()) {
            m_pSceneView->FitObject(static_cast<CQVR3DObject*>(object.value<void*>()));
        } else {
            pItem->setExpanded(!pItem->isExpanded());
        }
    });
    SyncShowToggles(m_pView->ShowFlags());
    LoadLayout();

    LoadRecentFileList();
    UpdateRecentFileMenu();
    UpdateTitle();
    setAcceptDrops(true);
    resize(1150, 700);
    qApp->installEventFilter(this);
    UpdateLockIndicators();
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    // The children outlive this part of the frame: their last signals must not reach it.
    disconnect(m_pView, nullptr, this, nullptr);
    disconnect(m_pSceneView, nullptr, this, nullptr);
    disconnect(m_pTransport, nullptr, this, nullptr);
    disconnect(m_pPropertiesDock, nullptr, this, nullptr);
}

QAction* CMainFrame::AddAction(int nId, const QString& strText, const QList<QKeySequence>& keys) {
    auto* pAction = new QAction(strText, this);
    pAction->setData(nId);
    pAction->setStatusTip(PromptOf(nId));
    const QString strTip = TipOf(nId);
    if (!strTip.isEmpty()) {
        pAction->setToolTip(strTip);
    }
    pAction->setShortcuts(keys);
    // Keys work while the focus is anywhere in the frame, menu or not.
    addAction(pAction);
    m_actions.insert(nId, pAction);
    return pAction;
}

void CMainFrame::CreateMenus() {
    using K = QKeySequence;
    const auto ctrl = [](Qt::Key key) { return K(Qt::CTRL | key); };

    QAction* pNew = AddAction(ID_FILE_NEW, tr("&Neu\tStrg+N"), {ctrl(Qt::Key_N)});
    QAction* pOpen = AddAction(ID_FILE_OPEN, tr("Ö&ffnen...\tStrg+O"), {ctrl(Qt::Key_O)});
    QAction* pPrint = AddAction(ID_FILE_PRINT, tr("&Drucken...\tStrg+P"), {ctrl(Qt::Key_P)});
    QAction* pPreview = AddAction(ID_FILE_PRINT_PREVIEW, tr("Sei&tenansicht"));
    QAction* pSetup = AddAction(ID_FILE_PRINT_SETUP, tr("Drucker&einrichtung..."));
    QAction* pExit = AddAction(ID_APP_EXIT, tr("&Beenden"));
    QAction* pUndo = AddAction(ID_EDIT_UNDO, tr("&Rückgängig\tStrg+Z"),
                               {K(Qt::ALT | Qt::Key_Backspace), ctrl(Qt::Key_Z)});
    QAction* pCut = AddAction(ID_EDIT_CUT, tr("&Ausschneiden\tStrg+X"),
                              {K(Qt::SHIFT | Qt::Key_Delete), ctrl(Qt::Key_X)});
    QAction* pCopy =
        AddAction(ID_EDIT_COPY, tr("&Kopieren\tStrg+C"), {ctrl(Qt::Key_C), ctrl(Qt::Key_Insert)});
    QAction* pPaste = AddAction(ID_EDIT_PASTE, tr("E&infügen\tStrg+V"),
                                {ctrl(Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)});
    QAction* pToolBar = AddAction(ID_VIEW_TOOLBAR, tr("&Symbolleiste"));
    QAction* pStatusBar = AddAction(ID_VIEW_STATUS_BAR, tr("S&tatusleiste"));
    QAction* pAbout = AddAction(ID_APP_ABOUT, tr("Inf&o über morv3dViewer..."));
    // Bound to keys, handled by nothing: disabled, like the edit commands.
    AddAction(ID_NEXT_PANE, TipOf(ID_NEXT_PANE), {K(Qt::Key_F6)})->setEnabled(false);
    AddAction(ID_PREV_PANE, TipOf(ID_PREV_PANE), {K(Qt::SHIFT | Qt::Key_F6)})->setEnabled(false);
    for (QAction* pAction : {pUndo, pCut, pCopy, pPaste}) {
        pAction->setEnabled(false);
    }
    connect(pCopy, &QAction::triggered, this, &CMainFrame::OnEditCopy);
    pToolBar->setCheckable(true);
    pToolBar->setChecked(true);
    pStatusBar->setCheckable(true);
    pStatusBar->setChecked(true);

    connect(pNew, &QAction::triggered, this, &CMainFrame::OnFileNew);
    connect(pOpen, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    connect(pPrint, &QAction::triggered, this, &CMainFrame::OnFilePrint);
    connect(pPreview, &QAction::triggered, this, &CMainFrame::OnFilePrintPreview);
    connect(pSetup, &QAction::triggered, this, &CMainFrame::OnFilePrintSetup);
    connect(pExit, &QAction::triggered, this, &QWidget::close);
    connect(pAbout, &QAction::triggered, this, &CMainFrame::OnAppAbout);
    connect(pToolBar, &QAction::toggled, this, [this](bool bOn) { m_wndToolBar->setVisible(bOn); });
    connect(pStatusBar, &QAction::toggled, this,
            [this](bool bOn) { statusBar()->setVisible(bOn); });

    m_pFileMenu = menuBar()->addMenu(tr("&Datei"));
    m_pFileMenu->addActions({pNew, pOpen});
    m_pFileMenu->addSeparator();
    m_pFileMenu->addActions({pPrint, pPreview, pSetup});
    m_pFileMenu->addSeparator();
    m_pRecentEnd = m_pFileMenu->addSeparator();
    m_pFileMenu->addAction(pExit);

    QMenu* pEdit = menuBar()->addMenu(tr("&Bearbeiten"));
    pEdit->addAction(pUndo);
    pEdit->addSeparator();
    pEdit->addActions({pCut, pCopy, pPaste});

    QMenu* pView = menuBar()->addMenu(tr("&Ansicht"));
    pView->addActions({pToolBar, pStatusBar});
    CreateViewMenu(pView);

    QMenu* pHelp = menuBar()->addMenu(tr("&?"));
    pHelp->addAction(pAbout);

    for (const int nId : kShowCommands) {
        QAction* pShow = AddAction(nId, TipOf(nId));
        pShow->setCheckable(true);
        connect(pShow, &QAction::triggered, this,
                [this, nId] { m_pView->OnShowCommand(static_cast<uint32_t>(nId)); });
    }
}

QWidget* CMainFrame::CreateTreePane() {
    auto* pPane = new QWidget(this);
    auto* pLayout = new QVBoxLayout(pPane);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(2);
    auto* pRow = new QHBoxLayout;
    m_pSearch = new QLineEdit(pPane);
    m_pSearch->setObjectName(QStringLiteral("m_wndSearch"));
    m_pSearch->setPlaceholderText(tr("Suchen (Strg+F)"));
    m_pSearch->setClearButtonEnabled(true);
    m_pSearchCount = new QLabel(pPane);
    m_pSearchOnly = new QCheckBox(tr("Nur Treffer"), pPane);
    m_pSearchOnly->setObjectName(QStringLiteral("m_wndSearchOnly"));
    pRow->addWidget(m_pSearch, 1);
    pRow->addWidget(m_pSearchCount);
    pRow->addWidget(m_pSearchOnly);
    pLayout->addLayout(pRow);
    pLayout->addWidget(m_pView, 1);
    connect(m_pSearch, &QLineEdit::textChanged, this, &CMainFrame::OnSearchChanged);
    connect(m_pSearch, &QLineEdit::returnPressed, this, [this] { OnSearchStep(true); });
    connect(m_pSearchOnly, &QCheckBox::toggled, this, &CMainFrame::ApplySearchFilter);
    return pPane;
}

void CMainFrame::OnSearchChanged() {
    RefreshMatches();
    // Typing on keeps the current entry while it still matches.
    const int nCurrent = m_pView->EntryOf(m_pView->currentItem());
    if (nCurrent < 0 ||
        !std::binary_search(m_matches.begin(), m_matches.end(), static_cast<size_t>(nCurrent))) {
        OnSearchStep(true);
    }
}

void CMainFrame::RefreshMatches() {
    // Stored names are Windows-1252: "€" must match the byte 0x80, as Latin-1 would not.
    const std::string strText = Utf8ToWindows1252(m_pSearch->text().toStdString());
    m_matches.clear();
    FindMatches(m_pView->Tree(), strText, &m_matches);
    m_pSearchCount->setText(m_pSearch->text().isEmpty()
                                ? QString()
                                : tr("%n Treffer", nullptr, static_cast<int>(m_matches.size())));
    ApplySearchFilter();
}

void CMainFrame::OnSearchStep(bool bForward) {
    const int nCurrent = m_pView->EntryOf(m_pView->currentItem());
    const size_t nFrom = nCurrent < 0 ? kNoEntry : static_cast<size_t>(nCurrent);
    const size_t nNext = bForward ? NextMatch(m_matches, nFrom) : PreviousMatch(m_matches, nFrom);
    if (QTreeWidgetItem* pItem =
            m_pView->ItemOf(nNext == kNoEntry ? -1 : static_cast<int>(nNext))) {
        for (QTreeWidgetItem* pUp = pItem->parent(); pUp != nullptr; pUp = pUp->parent()) {
            pUp->setExpanded(true);
        }
        m_pView->setCurrentItem(pItem);
        m_pView->scrollToItem(pItem);
    }
}

void CMainFrame::ApplySearchFilter() {
    const StructureTree& tree = m_pView->Tree();
    std::vector<uint8_t> visible;
    const bool bFilter = m_pSearchOnly->isChecked() && !m_pSearch->text().isEmpty();
    if (bFilter) {
        MatchVisibility(tree, m_matches, &visible);
    }
    for (size_t i = 0; i < tree.entries.size(); ++i) {
        QTreeWidgetItem* pItem = m_pView->ItemOf(static_cast<int>(i));
        const bool bHidden = bFilter && (i >= visible.size() || visible[i] == 0);
        if (pItem != nullptr && pItem->isHidden() != bHidden) {
            pItem->setHidden(bHidden);
        }
    }
}

QString CMainFrame::StatisticsText() const {
    SceneStatistics counts;
    CountScene(m_document, &counts);
    QString strText = tr("Materialien: %1\nMaps: %2\nKnoten: %3\nDummies: %4\nMeshes: %5\n"
                         "Dreiecke: %6\nEckpunkte: %7\nMorph-Schlüssel: %8\nAnimationszeit: %9\n")
                          .arg(counts.qwMaterials)
                          .arg(counts.qwMaps)
                          .arg(counts.qwNodes)
                          .arg(counts.qwDummies)
                          .arg(counts.qwMeshes)
                          .arg(counts.qwTriangles)
                          .arg(counts.qwVertices)
                          .arg(counts.qwMorphKeys)
                          .arg(counts.dwAnimationTime);
    const std::vector<MissingTexture> missing = m_pSceneView->MissingTextures();
    strText += tr("Fehlende Texturen: %1\n").arg(missing.size());
    for (const MissingTexture& texture : missing) {
        strText += QStringLiteral("  %1 (Material %2): %3\n")
                       .arg(QString::fromStdString(Windows1252ToUtf8(texture.strName)))
                       .arg(texture.dwMaterial)
                       .arg(TextureReason(texture.strReason));
    }
    return strText;
}

void CMainFrame::CreateScenePane() {
    m_pScenePane = new QWidget(this);
    auto* pLayout = new QVBoxLayout(m_pScenePane);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    m_pSceneView = new CSceneView(&m_document, m_pScenePane);
    m_pTransport = new CTransportBar(&m_document.Clock(), m_pSceneView, m_pScenePane);
    pLayout->addWidget(m_pSceneView, 1);
    pLayout->addWidget(m_pTransport);
    connect(m_pSceneView, &CSceneView::objectPicked, this, &CMainFrame::OnObjectPicked);
    connect(m_pSceneView, &CSceneView::objectHovered, this, [this](CQVR3DObject* pObject) {
        if (pObject != nullptr) {
            statusBar()->showMessage(QString::fromStdString(Windows1252ToUtf8(ObjectPath(pObject))),
                                     2000);
        } else {
            statusBar()->clearMessage();
        }
    });
    connect(m_pTransport, &CTransportBar::timeChanged, this, [this] {
        // The properties show the current time's matrix; the tree's labels stay as they are.
        if (m_pPropertiesDock != nullptr && m_pPropertiesDock->isVisible()) {
            OnCurrentEntryChanged();
        }
    });

    m_pProperties = new QPlainTextEdit(this);
    m_pProperties->setReadOnly(true);
    m_pProperties->setObjectName(QStringLiteral("m_wndProperties"));
    m_pPropertiesDock = new QDockWidget(tr("Eigenschaften"), this);
    m_pPropertiesDock->setObjectName(QStringLiteral("m_wndPropertiesDock"));
    m_pPropertiesDock->setWidget(m_pProperties);
    addDockWidget(Qt::RightDockWidgetArea, m_pPropertiesDock);
    // The pane is only filled while it shows: coming back, it catches up with the current entry.
    connect(m_pPropertiesDock, &QDockWidget::visibilityChanged, this, [this](bool bVisible) {
        if (bVisible) {
            OnCurrentEntryChanged();
        }
    });
}

void CMainFrame::CreateViewMenu(QMenu* pView) {
    pView->addSeparator();
    QAction* pScene = pView->addAction(tr("&3D-Ansicht"));
    pScene->setCheckable(true);
    pScene->setChecked(true);
    pScene->setObjectName(QStringLiteral("actionScene"));
    connect(pScene, &QAction::toggled, m_pScenePane, &QWidget::setVisible);
    QAction* pProperties = m_pPropertiesDock->toggleViewAction();
    pProperties->setText(tr("&Eigenschaften"));
    pView->addAction(pProperties);

    QMenu* pOverlays = pView->addMenu(tr("Ü&berlagerungen"));
    const struct {
        const char* pszText;
        bool RenderOptions::*pFlag;
    } overlays[] = {{QT_TR_NOOP("&Drahtgitter"), &RenderOptions::bWireframe},
                    {QT_TR_NOOP("&Kanten"), &RenderOptions::bEdges},
                    {QT_TR_NOOP("&Hüllkugeln"), &RenderOptions::bSpheres},
                    {QT_TR_NOOP("&Normalen"), &RenderOptions::bNormals},
                    {QT_TR_NOOP("&Bodengitter"), &RenderOptions::bGrid},
                    {QT_TR_NOOP("&Achsen"), &RenderOptions::bAxes}};
    for (const auto& overlay : overlays) {
        QAction* pAction = pOverlays->addAction(tr(overlay.pszText));
        pAction->setCheckable(true);
        const auto pFlag = overlay.pFlag;
        connect(pAction, &QAction::toggled, this, [this, pFlag](bool bOn) {
            m_pSceneView->Options().*pFlag = bOn;
            m_pSceneView->Redraw();
        });
    }

    QMenu* pPresets = pView->addMenu(tr("&Blickrichtung"));
    const struct {
        const char* pszText;
        EViewPreset preset;
    } presets[] = {{QT_TR_NOOP("&Vorne"), EViewPreset::Front},
                   {QT_TR_NOOP("&Oben"), EViewPreset::Top},
                   {QT_TR_NOOP("&Seite"), EViewPreset::Side},
                   {QT_TR_NOOP("&Iso"), EViewPreset::Iso}};
    for (const auto& preset : presets) {
        QAction* pAction = pPresets->addAction(tr(preset.pszText));
        const EViewPreset which = preset.preset;
        connect(pAction, &QAction::triggered, this,
                [this, which] { m_pSceneView->SetPreset(which); });
    }
    QAction* pFit = pView->addAction(tr("Szene &einpassen (F, Pos1)"));
    // Wherever the focus is, as the menu says; a text field keeps its own keys.
    pFit->setShortcuts({QKeySequence(Qt::Key_F), QKeySequence(Qt::Key_Home)});
    pFit->setShortcutContext(Qt::WindowShortcut);
    connect(pFit, &QAction::triggered, this, [this] { m_pSceneView->FitScene(); });
    QAction* pStatistics = pView->addAction(tr("S&tatistik..."));
    connect(pStatistics, &QAction::triggered, this,
            [this] { QMessageBox::information(this, tr("Statistik"), StatisticsText()); });
    QAction* pFind = pView->addAction(tr("&Suchen"));
    pFind->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_F)});
    connect(pFind, &QAction::triggered, this, [this] {
        m_pSearch->setFocus();
        m_pSearch->selectAll();
    });
    QAction* pFindNext = pView->addAction(tr("&Weitersuchen"));
    pFindNext->setShortcuts({QKeySequence(Qt::Key_F3)});
    connect(pFindNext, &QAction::triggered, this, [this] { OnSearchStep(true); });
    QAction* pFindPrevious = pView->addAction(tr("&Rückwärts suchen"));
    pFindPrevious->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F3)});
    connect(pFindPrevious, &QAction::triggered, this, [this] { OnSearchStep(false); });
    QAction* pPlay = pView->addAction(tr("Abspielen/&Pause"));
    pPlay->setShortcut(QKeySequence(Qt::Key_Space));
    pPlay->setShortcutContext(Qt::WindowShortcut);
    connect(pPlay, &QAction::triggered, this, [this] { m_pTransport->TogglePlay(); });
}

void CMainFrame::LoadLayout() {
    QSettings settings(QString::fromLatin1(kRegistryKey), QString::fromLatin1(kAppName));
    settings.beginGroup(QStringLiteral("Layout"));
    const QByteArray split = settings.value(QStringLiteral("Splitter")).toByteArray();
    if (!split.isEmpty()) {
        m_pSplitter->restoreState(split);
    }
    const QByteArray state = settings.value(QStringLiteral("Panes")).toByteArray();
    if (!state.isEmpty()) {
        restoreState(state);
    }
    const bool bScene = settings.value(QStringLiteral("SceneView"), true).toBool();
    if (QAction* pScene = findChild<QAction*>(QStringLiteral("actionScene"))) {
        pScene->setChecked(bScene);
    }
}

void CMainFrame::SaveLayout() const {
    if (m_bBatch) {
        return;
    }
    QSettings settings(QString::fromLatin1(kRegistryKey), QString::fromLatin1(kAppName));
    settings.beginGroup(QStringLiteral("Layout"));
    settings.setValue(QStringLiteral("Splitter"), m_pSplitter->saveState());
    settings.setValue(QStringLiteral("Panes"), saveState());
    settings.setValue(QStringLiteral("SceneView"), !m_pScenePane->isHidden());
}

void CMainFrame::closeEvent(QCloseEvent* pEvent) {
    SaveLayout();
    QMainWindow::closeEvent(pEvent);
}

void CMainFrame::OnDocumentChanged() {
    m_bTexturesCounted = false;
    m_pMissingTextures->hide();
    m_pSceneView->OnDocumentChanged();
    m_pTransport->OnDocumentChanged(m_pView->Tree().dwAnimationTime);
    OnCurrentEntryChanged();
}

void CMainFrame::OnCurrentEntryChanged() {
    const int nEntry = m_pView->EntryOf(m_pView->currentItem());
    std::vector<CQVR3DMesh*> meshes;
    EntryInfo info;
    if (nEntry >= 0) {
        info = DescribeEntry(m_pView->Tree(), static_cast<size_t>(nEntry));
        EntryMeshes(m_pView->Tree(), static_cast<size_t>(nEntry), m_document._pNode, &meshes);
    }
    m_pSceneView->SetHighlighted({meshes.begin(), meshes.end()});
    m_pTransport->SetKeyObject(info.pObject);
    const QString strPath = SelectedObjectPath();
    m_pSelection->setText(strPath);
    m_pSelection->setVisible(!strPath.isEmpty());
    m_actions.value(ID_EDIT_COPY)->setEnabled(!strPath.isEmpty());
    if (m_pPropertiesDock->isVisible()) {
        m_pProperties->setPlainText(nEntry >= 0 ? EntryProperties(static_cast<size_t>(nEntry))
                                                : QString());
    }
}

QString CMainFrame::EntryProperties(size_t nEntry) const {
    const std::string& strDir = m_document.SceneDir();
    std::string strText;
    ::EntryProperties(
        m_pView->Tree(), nEntry, m_document,
        [&strDir](const std::string& strName) {
            TextureFile found;
            FindTextureFile(strDir, strName, found);
            return found.strPath;
        },
        &strText);
    return QString::fromStdString(strText);
}

bool CMainFrame::SelectObjectPath(const QString& strPath) {
    CQVR3DObject* pFound = ObjectAtPath(m_document._pNode, strPath.toStdString());
    return pFound != nullptr && m_pView->SelectObject(pFound);
}

QString CMainFrame::SelectedObjectPath() const {
    const QTreeWidgetItem* pItem = m_pView->currentItem();
    const QVariant object =
        pItem != nullptr ? pItem->data(0, CMorv3dViewerView::kObjectRole) : QVariant();
    if (!object.isValid()) {
        return QString();
    }
    return QString::fromStdString(
        Windows1252ToUtf8(ObjectPath(static_cast<CQVR3DObject*>(object.value<void*>()))));
}

void CMainFrame::OnEditCopy() {
    const QString strPath = SelectedObjectPath();
    if (!strPath.isEmpty()) {
        QGuiApplication::clipboard()->setText(strPath);
    }
}

void CMainFrame::CountMissingTextures() {
    // The renderer knows them once it has drawn the scene.
    if (m_bTexturesCounted) {
        return;
    }
    m_bTexturesCounted = true;
    const size_t nMissing = m_pSceneView->MissingTextures().size();
    m_pMissingTextures->setText(tr("Fehlende Texturen: %1").arg(nMissing));
    m_pMissingTextures->setVisible(nMissing > 0);
}

void CMainFrame::OnObjectPicked(CQVR3DObject* pObject) {
    if (pObject == nullptr) {
        // A click on empty background lets go of the selection.
        statusBar()->clearMessage();
        m_pView->setCurrentItem(nullptr);
        m_pView->clearSelection();
        return;
    }
    m_pView->SelectObject(pObject);
    statusBar()->showMessage(QString::fromStdString(Windows1252ToUtf8(ObjectPath(pObject))));
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = new QToolBar(tr("Symbolleiste"), this);
    m_wndToolBar->setObjectName(QStringLiteral("m_wndToolBar"));
    m_wndToolBar->setIconSize(QSize(16, 15));
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    int nPicture = 0;
    for (const int nId : kToolbarButtons) {
        if (nId == 0) {
            m_wndToolBar->addSeparator();
            continue;
        }
        QAction* pAction = m_actions.value(nId);
        pAction->setIcon(QIcon(QPixmap::fromImage(ToolbarPicture(nPicture++))));
        m_wndToolBar->addAction(pAction);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* pStatusBar = statusBar();
    pStatusBar->setObjectName(QStringLiteral("m_wndStatusBar"));
    // The message pane: a normal widget is hidden while a prompt shows and back afterwards.
    pStatusBar->addWidget(new QLabel(LoadString(AFX_IDS_IDLEMESSAGE), pStatusBar), 1);
    // The selected object's path and the missing textures, each shown only while there is one.
    m_pSelection = new QLabel(pStatusBar);
    m_pSelection->setObjectName(QStringLiteral("m_wndSelectionPane"));
    m_pSelection->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pSelection->hide();
    pStatusBar->addPermanentWidget(m_pSelection);
    m_pMissingTextures = new QLabel(pStatusBar);
    m_pMissingTextures->setObjectName(QStringLiteral("m_wndMissingTexturesPane"));
    m_pMissingTextures->hide();
    pStatusBar->addPermanentWidget(m_pMissingTextures);
    connect(m_pSceneView, &CSceneView::frameShown, this, &CMainFrame::CountMissingTextures);
    for (const int nId : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL}) {
        auto* pLabel = new QLabel(pStatusBar);
        pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pLabel->setAlignment(Qt::AlignCenter);
        pLabel->setMinimumWidth(pLabel->fontMetrics().horizontalAdvance(LoadString(nId)) + 12);
        pStatusBar->addPermanentWidget(pLabel);
        m_indicators.insert(nId, pLabel);
    }
}

void CMainFrame::SyncShowToggles(uint32_t dwShowFlags) {
    for (const int nId : kShowCommands) {
        m_actions.value(nId)->setChecked(
            IsShowFlagChecked(dwShowFlags, static_cast<uint32_t>(nId)));
    }
}

void CMainFrame::UpdateLockIndicators() {
    SetLockIndicators(QueryLockKeys());
}

void CMainFrame::SetLockIndicators(const LockKeyState& state) {
    const std::pair<int, bool> panes[] = {
        {ID_INDICATOR_CAPS, state.bCaps},
        {ID_INDICATOR_NUM, state.bNum},
        {ID_INDICATOR_SCRL, state.bScroll},
    };
    for (const auto& [nId, bOn] : panes) {
        m_indicators.value(nId)->setText(bOn ? LoadString(nId) : QString());
    }
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent) {
    switch (pEvent->type()) {
        case QEvent::KeyRelease:
        case QEvent::ApplicationActivate:
            UpdateLockIndicators();
            break;
        default:
            break;
    }
    return QMainWindow::eventFilter(pWatched, pEvent);
}

QMenu* CMainFrame::createPopupMenu() {
    // The toolbar is shown and hidden from "&Ansicht" only.
    return nullptr;
}

QString CMainFrame::GetTitle() const {
    if (m_strPathName.isEmpty()) {
        return UntitledName();
    }
    return QFileInfo(m_strPathName).fileName() + (m_pImportDir ? tr(" (importiert)") : QString());
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(GetTitle() + QStringLiteral(" - ") + GetDocString(DocStringIndex::windowTitle));
}

void CMainFrame::ShowMessage(MessageKind kind, const QString& strText) {
    if (m_messageHook) {
        m_messageHook(kind, strText);
    } else if (m_bBatch) {
        std::fprintf(stderr, "morv3dViewer: %s\n", qPrintable(strText));
    } else if (kind == MessageKind::Error) {
        QMessageBox::critical(this, GetDocString(DocStringIndex::windowTitle), strText);
    } else {
        QMessageBox::warning(this, GetDocString(DocStringIndex::windowTitle), strText);
    }
}

bool CMainFrame::OnFileNew() {
    m_pSceneView->OnSceneReplaced();
    m_pTransport->SetKeyObject(nullptr);
    if (!m_document.OnNewDocument()) {
        return false;
    }
    m_strPathName.clear();
    m_pImportDir.reset();
    UpdateTitle();
    m_pView->OnInitialUpdate();
    OnDocumentChanged();
    OnSearchStep(true);
    return true;
}

bool CMainFrame::OpenDocumentFile(const QString& strPath) {
    const QString strAbsolute = QFileInfo(strPath).absoluteFilePath();
    // Other formats are imported into a scene file of a private folder, which the document
    // then opens; nothing is written beside the model.
    const QString strSuffix = QFileInfo(strAbsolute).suffix().toLower();
    const bool bImport =
        strSuffix != QLatin1String("morv3d") && ImportSuffixes().contains(strSuffix);
    QString strLoad = strAbsolute;
    std::unique_ptr<QTemporaryDir> pImportDir;
    if (bImport) {
        pImportDir = std::make_unique<QTemporaryDir>();
        strLoad = pImportDir->filePath(QStringLiteral("imported.morv3d"));
        ImportReport report;
        bool bCancelled = false;
        const HRESULT hr = pImportDir->isValid()
                               ? ImportInBackground(strAbsolute, strLoad, report, bCancelled)
                               : E_FAIL;
        if (bCancelled) {
            return false;
        }
        if (FAILED(hr)) {
            ShowMessage(
                MessageKind::Error,
                tr("Die Datei %1 kann nicht importiert werden:\n%2")
                    .arg(Quoted(strAbsolute), Sentence(QString::fromStdString(report.strError))));
            return false;
        }
    }
    bool bOpened = false;
    {
        CWaitCursor wait;
        m_pSceneView->OnSceneReplaced();
        m_pTransport->SetKeyObject(nullptr);
        bOpened = m_document.OpenScene(QFile::encodeName(strLoad).toStdString());
        if (bOpened) {
            m_strPathName = strAbsolute;
            m_pImportDir = std::move(pImportDir);
            UpdateTitle();
            m_pView->OnInitialUpdate();
            OnDocumentChanged();
            OnSearchStep(true);
        }
    }
    if (!bOpened) {
        ShowMessage(MessageKind::Error,
                    tr("Die Datei %1 kann nicht geöffnet werden:\n%2.")
                        .arg(Quoted(strAbsolute), DescribeResult(m_document.GetOpenResult())));
        return false;
    }
    AddToRecentFileList(strAbsolute);
    if (!m_document.LoadedCompletely()) {
        const HRESULT hr = FAILED(m_document.GetMaterialsResult()) ? m_document.GetMaterialsResult()
                                                                   : m_document.GetObjectsResult();
        ShowMessage(MessageKind::Warning, tr("Die Datei %1 wurde nicht vollständig geladen:\n%2.\n"
                                             "Angezeigt wird, was geladen werden konnte.")
                                              .arg(Quoted(strAbsolute), DescribeResult(hr)));
    }
    return true;
}

HRESULT CMainFrame::ImportInBackground(const QString& strModel, const QString& strScene,
                                       ImportReport& report, bool& bCancelled) {
    if (m_bImporting) {
        report.strError = "another import is still running";
        return E_FAIL;
    }
    m_bImporting = true;
    std::atomic<bool> bCancel{false};
    // Busy, without steps: the import's child says nothing until it is done.
    QProgressDialog dialog(tr("%1 wird importiert …").arg(Quoted(strModel)), tr("Abbrechen"), 0, 0,
                           this);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&bCancel] { bCancel = true; });
    if (!m_bBatch) {
        dialog.show();
    }
    QEventLoop loop;
    HRESULT hr = E_FAIL;
    const std::string strIn = QFile::encodeName(strModel).toStdString();
    const std::string strOut = QFile::encodeName(strScene).toStdString();
    std::thread worker([&] {
        hr = ImportScene(strIn, strOut, &report, {}, {kImportTimeoutSeconds, &bCancel});
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    m_bImporting = false;
    bCancelled = bCancel;
    return hr;
}

QStringList CMainFrame::ImportSuffixes() {
    static const QStringList suffixes = [] {
        QStringList list;
        for (const std::string& strExtension : ImportExtensions()) {
            list.append(QString::fromStdString(strExtension));
        }
        return list;
    }();
    return suffixes;
}

void CMainFrame::OnFileOpen() {
    QString strAll = QStringLiteral("*.morv3d");
    for (const QString& strSuffix : ImportSuffixes()) {
        strAll += QStringLiteral(" *.") + strSuffix;
    }
    const QString strFilter = GetDocString(DocStringIndex::filterName) +
                              tr(";;Alle 3D-Dateien (%1);;Alle Dateien (*)").arg(strAll);
    const QString strDir = m_strPathName.isEmpty() ? QString() : QFileInfo(m_strPathName).path();
    const QString strPath = QFileDialog::getOpenFileName(this, tr("Öffnen"), strDir, strFilter);
    if (!strPath.isEmpty()) {
        OpenDocumentFile(strPath);
    }
}

QPrinter* CMainFrame::Printer() {
    if (!m_pPrinter) {
        m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    m_pPrinter->setDocName(GetTitle());
    return m_pPrinter.get();
}

void CMainFrame::OnFilePrint() {
    QPrintDialog dialog(Printer(), this);
    dialog.setWindowTitle(tr("Drucken"));
    if (dialog.exec() == QDialog::Accepted) {
        m_pView->Print(Printer(), GetTitle());
    }
}

void CMainFrame::OnFilePrintPreview() {
    QPrintPreviewDialog dialog(Printer(), this);
    dialog.setWindowTitle(tr("Seitenansicht"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* pPrinter) { m_pView->Print(pPrinter, GetTitle()); });
    dialog.exec();
}

void CMainFrame::OnFilePrintSetup() {
    QPageSetupDialog dialog(Printer(), this);
    dialog.setWindowTitle(tr("Druckereinrichtung"));
    dialog.exec();
}

void CMainFrame::OnAppAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* pEvent) {
    for (const QUrl& url : pEvent->mimeData()->urls()) {
        if (url.isLocalFile()) {
            pEvent->acceptProposedAction();
            return;
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* pEvent) {
    const QList<QUrl> urls = pEvent->mimeData()->urls();
    pEvent->acceptProposedAction();
    activateWindow();
    // Each file in turn, as the shell's order gives them; the last one stays open.
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            OpenDocumentFile(url.toLocalFile());
        }
    }
}

void CMainFrame::LoadRecentFileList() {
    QSettings settings(QString::fromLatin1(kRegistryKey), QString::fromLatin1(kAppName));
    settings.beginGroup(QString::fromLatin1(kRecentSection));
    m_recentFiles.clear();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString strPath = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!strPath.isEmpty() && !m_recentFiles.contains(strPath)) {
            m_recentFiles.append(strPath);
        }
    }
}

void CMainFrame::SaveRecentFileList() const {
    if (m_bBatch) {
        return;
    }
    QSettings settings(QString::fromLatin1(kRegistryKey), QString::fromLatin1(kAppName));
    settings.beginGroup(QString::fromLatin1(kRecentSection));
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString strKey = QStringLiteral("File%1").arg(i);
        if (i <= m_recentFiles.size()) {
            settings.setValue(strKey, m_recentFiles[i - 1]);
        } else {
            settings.remove(strKey);
        }
    }
}

void CMainFrame::AddToRecentFileList(const QString& strPath) {
    m_recentFiles.removeAll(strPath);
    m_recentFiles.prepend(strPath);
    while (m_recentFiles.size() > kRecentFileCount) {
        m_recentFiles.removeLast();
    }
    SaveRecentFileList();
    UpdateRecentFileMenu();
}

void CMainFrame::UpdateRecentFileMenu() {
    for (QAction* pAction : m_recentActions) {
        // Later: the entry being triggered may be among them.
        m_pFileMenu->removeAction(pAction);
        pAction->deleteLater();
    }
    m_recentActions.clear();
    if (m_recentFiles.isEmpty()) {
        auto* pAction = new QAction(tr("Letzte Datei"), this);
        pAction->setEnabled(false);
        pAction->setStatusTip(PromptOf(ID_FILE_MRU_FILE1));
        m_recentActions.append(pAction);
    }
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        // "&1" to "&9", then "1&0".
        const QString strNumber = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        QString strShown = QDir::toNativeSeparators(m_recentFiles[i]);
        strShown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* pAction = new QAction(strNumber + QLatin1Char(' ') + strShown, this);
        pAction->setData(ID_FILE_MRU_FILE1 + i);
        pAction->setStatusTip(PromptOf(ID_FILE_MRU_FILE1 + i));
        connect(pAction, &QAction::triggered, this, [this, i] { OnOpenRecentFile(i); });
        m_recentActions.append(pAction);
    }
    m_pFileMenu->insertActions(m_pRecentEnd, m_recentActions);
}

void CMainFrame::OnOpenRecentFile(int nIndex) {
    if (nIndex < 0 || nIndex >= m_recentFiles.size()) {
        return;
    }
    const QString strPath = m_recentFiles[nIndex];
    if (!OpenDocumentFile(strPath)) {
        // An entry that no longer opens leaves the list.
        m_recentFiles.removeAll(strPath);
        SaveRecentFileList();
        UpdateRecentFileMenu();
    }
}
