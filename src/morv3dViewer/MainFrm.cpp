#include "MainFrm.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <cstdio>

#include "AboutDlg.h"
#include "morv3dViewerView.h"
#include "pictures.h"
#include "resource.h"
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

QString Quoted(const QString& strPath) {
    return QStringLiteral("„%1“").arg(QDir::toNativeSeparators(strPath));
}

}  // namespace

CMainFrame::CMainFrame(QWidget* pParent) : QMainWindow(pParent) {
    setWindowIcon(ApplicationIcon());
    m_pView = new CMorv3dViewerView(&m_document, this);
    setCentralWidget(m_pView);

    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    connect(m_pView, &CMorv3dViewerView::showFlagsChanged, this, &CMainFrame::SyncShowToggles);
    SyncShowToggles(m_pView->ShowFlags());

    LoadRecentFileList();
    UpdateRecentFileMenu();
    UpdateTitle();
    setAcceptDrops(true);
    resize(800, 600);
    qApp->installEventFilter(this);
    UpdateLockIndicators();
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
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

    QAction* pNew = AddAction(ID_FILE_NEW, QStringLiteral("&Neu\tStrg+N"), {ctrl(Qt::Key_N)});
    QAction* pOpen =
        AddAction(ID_FILE_OPEN, QStringLiteral("Ö&ffnen...\tStrg+O"), {ctrl(Qt::Key_O)});
    QAction* pPrint =
        AddAction(ID_FILE_PRINT, QStringLiteral("&Drucken...\tStrg+P"), {ctrl(Qt::Key_P)});
    QAction* pPreview = AddAction(ID_FILE_PRINT_PREVIEW, QStringLiteral("Sei&tenansicht"));
    QAction* pSetup = AddAction(ID_FILE_PRINT_SETUP, QStringLiteral("Drucker&einrichtung..."));
    QAction* pExit = AddAction(ID_APP_EXIT, QStringLiteral("&Beenden"));
    QAction* pUndo = AddAction(ID_EDIT_UNDO, QStringLiteral("&Rückgängig\tStrg+Z"),
                               {K(Qt::ALT | Qt::Key_Backspace), ctrl(Qt::Key_Z)});
    QAction* pCut = AddAction(ID_EDIT_CUT, QStringLiteral("&Ausschneiden\tStrg+X"),
                              {K(Qt::SHIFT | Qt::Key_Delete), ctrl(Qt::Key_X)});
    QAction* pCopy = AddAction(ID_EDIT_COPY, QStringLiteral("&Kopieren\tStrg+C"),
                               {ctrl(Qt::Key_C), ctrl(Qt::Key_Insert)});
    QAction* pPaste = AddAction(ID_EDIT_PASTE, QStringLiteral("E&infügen\tStrg+V"),
                                {ctrl(Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)});
    QAction* pToolBar = AddAction(ID_VIEW_TOOLBAR, QStringLiteral("&Symbolleiste"));
    QAction* pStatusBar = AddAction(ID_VIEW_STATUS_BAR, QStringLiteral("S&tatusleiste"));
    QAction* pAbout = AddAction(ID_APP_ABOUT, QStringLiteral("Inf&o über morv3dViewer..."));
    // Bound to keys, handled by nothing: disabled, like the edit commands.
    AddAction(ID_NEXT_PANE, TipOf(ID_NEXT_PANE), {K(Qt::Key_F6)})->setEnabled(false);
    AddAction(ID_PREV_PANE, TipOf(ID_PREV_PANE), {K(Qt::SHIFT | Qt::Key_F6)})->setEnabled(false);
    for (QAction* pAction : {pUndo, pCut, pCopy, pPaste}) {
        pAction->setEnabled(false);
    }
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

    m_pFileMenu = menuBar()->addMenu(QStringLiteral("&Datei"));
    m_pFileMenu->addActions({pNew, pOpen});
    m_pFileMenu->addSeparator();
    m_pFileMenu->addActions({pPrint, pPreview, pSetup});
    m_pFileMenu->addSeparator();
    m_pRecentEnd = m_pFileMenu->addSeparator();
    m_pFileMenu->addAction(pExit);

    QMenu* pEdit = menuBar()->addMenu(QStringLiteral("&Bearbeiten"));
    pEdit->addAction(pUndo);
    pEdit->addSeparator();
    pEdit->addActions({pCut, pCopy, pPaste});

    QMenu* pView = menuBar()->addMenu(QStringLiteral("&Ansicht"));
    pView->addActions({pToolBar, pStatusBar});

    QMenu* pHelp = menuBar()->addMenu(QStringLiteral("&?"));
    pHelp->addAction(pAbout);

    for (const int nId : kShowCommands) {
        QAction* pShow = AddAction(nId, TipOf(nId));
        pShow->setCheckable(true);
        connect(pShow, &QAction::triggered, this,
                [this, nId] { m_pView->OnShowCommand(static_cast<uint32_t>(nId)); });
    }
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = new QToolBar(QStringLiteral("Symbolleiste"), this);
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
    return m_strPathName.isEmpty() ? UntitledName() : QFileInfo(m_strPathName).fileName();
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
    if (!m_document.OnNewDocument()) {
        return false;
    }
    m_strPathName.clear();
    UpdateTitle();
    m_pView->OnInitialUpdate();
    return true;
}

bool CMainFrame::OpenDocumentFile(const QString& strPath) {
    const QString strAbsolute = QFileInfo(strPath).absoluteFilePath();
    bool bOpened = false;
    {
        CWaitCursor wait;
        bOpened = m_document.OnOpenDocument(QFile::encodeName(strAbsolute).toStdString());
        if (bOpened) {
            m_strPathName = strAbsolute;
            UpdateTitle();
            m_pView->OnInitialUpdate();
        }
    }
    if (!bOpened) {
        ShowMessage(MessageKind::Error,
                    QStringLiteral("Die Datei %1 kann nicht geöffnet werden:\n%2.")
                        .arg(Quoted(strAbsolute), DescribeResult(m_document.GetOpenResult())));
        return false;
    }
    AddToRecentFileList(strAbsolute);
    if (!m_document.LoadedCompletely()) {
        const HRESULT hr = FAILED(m_document.GetMaterialsResult()) ? m_document.GetMaterialsResult()
                                                                   : m_document.GetObjectsResult();
        ShowMessage(MessageKind::Warning,
                    QStringLiteral("Die Datei %1 wurde nicht vollständig geladen:\n%2.\n"
                                   "Angezeigt wird, was geladen werden konnte.")
                        .arg(Quoted(strAbsolute), DescribeResult(hr)));
    }
    return true;
}

void CMainFrame::OnFileOpen() {
    const QString strFilter =
        GetDocString(DocStringIndex::filterName) + QStringLiteral(";;Alle Dateien (*)");
    const QString strDir = m_strPathName.isEmpty() ? QString() : QFileInfo(m_strPathName).path();
    const QString strPath =
        QFileDialog::getOpenFileName(this, QStringLiteral("Öffnen"), strDir, strFilter);
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
    dialog.setWindowTitle(QStringLiteral("Drucken"));
    if (dialog.exec() == QDialog::Accepted) {
        m_pView->Print(Printer(), GetTitle());
    }
}

void CMainFrame::OnFilePrintPreview() {
    QPrintPreviewDialog dialog(Printer(), this);
    dialog.setWindowTitle(QStringLiteral("Seitenansicht"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* pPrinter) { m_pView->Print(pPrinter, GetTitle()); });
    dialog.exec();
}

void CMainFrame::OnFilePrintSetup() {
    QPageSetupDialog dialog(Printer(), this);
    dialog.setWindowTitle(QStringLiteral("Druckereinrichtung"));
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
        auto* pAction = new QAction(QStringLiteral("Letzte Datei"), this);
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
