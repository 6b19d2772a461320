// The main frame: menu, accelerators, toolbar, status bar and the one view, and the
// framework's services around the one document (new, open, recent files, title, printing).
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "lockkeys.h"
#include "viewer/document.h"

class CMorv3dViewerView;
class CQVR3DObject;
class CSceneView;
class CTransportBar;
struct ImportReport;
class QAction;
class QCheckBox;
class QDockWidget;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;
class QTemporaryDir;
class QLabel;
class QMenu;
class QPrinter;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    enum class MessageKind { Error, Warning };
    using MessageHook = std::function<void(MessageKind, const QString&)>;

    explicit CMainFrame(QWidget* pParent = nullptr);
    ~CMainFrame() override;

    // The framework's new-document command: empties the document and rebuilds the view.
    bool OnFileNew();
    // Opens through the document's OpenScene. False, with an error shown and the previous
    // scene kept, when the file cannot be read or is no scene (nor a recent file); a file that
    // loads only in part is shown and a warning names the failure.
    bool OpenDocumentFile(const QString& strPath);

    CMorv3dViewerDoc& GetDocument() { return m_document; }
    CMorv3dViewerView* GetView() const { return m_pView; }
    CSceneView* GetSceneView() const { return m_pSceneView; }
    CTransportBar* GetTransportBar() const { return m_pTransport; }
    QPlainTextEdit* GetPropertiesPane() const { return m_pProperties; }
    // The search: the matches of the field's text, then the next or previous one made current.
    void OnSearchChanged();
    void OnSearchStep(bool bForward);
    // The counts of `morv3d info` and the textures the view could not use.
    QString StatisticsText() const;
    // The open file's absolute path; empty for the untitled document.
    QString GetPathName() const { return m_strPathName; }
    // "Unbenannt" or the file name.
    QString GetTitle() const;
    QStringList RecentFiles() const { return m_recentFiles; }
    // Makes the object at PATH current ("scene/door/mesh[0]", as ObjectPath names it, names
    // decoded to UTF-8); false when the scene has none.
    bool SelectObjectPath(const QString& strPath);

    // The action of a command id; null for ids without one.
    QAction* Action(int nId) const { return m_actions.value(nId); }
    QMenu* FileMenu() const { return m_pFileMenu; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    QLabel* IndicatorLabel(int nId) const { return m_indicators.value(nId); }

    // Messages go to the hook instead of a message box (tests).
    void SetMessageHook(MessageHook hook) { m_messageHook = std::move(hook); }
    // For runs without a user: messages go to stderr, the settings are only read.
    void SetBatchMode(bool bBatch) { m_bBatch = bBatch; }

    void UpdateLockIndicators();
    void SetLockIndicators(const LockKeyState& state);

    void OnFileOpen();
    void OnFilePrint();
    void OnFilePrintPreview();
    void OnFilePrintSetup();
    void OnAppAbout();

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    QMenu* createPopupMenu() override;

private:
    QAction* AddAction(int nId, const QString& strText, const QList<QKeySequence>& keys = {});
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateScenePane();
    void CreateViewMenu(QMenu* pView);
    void LoadLayout();
    void SaveLayout() const;
    // A new scene in the document: the 3D view and the transport follow.
    void OnDocumentChanged();
    // The tree's current entry: highlight, properties, the keys the transport jumps to.
    void OnCurrentEntryChanged();
    void OnObjectPicked(CQVR3DObject* pObject);
    // The current entry's object as `morv3d pick` names it (decoded); empty for other entries.
    QString SelectedObjectPath() const;
    void OnEditCopy();
    // After the first picture of a scene: the status bar says how many textures are missing.
    void CountMissingTextures();
    QString EntryProperties(size_t nEntry) const;
    // What "Alle 3D-Dateien" offers besides .morv3d: every extension Assimp reads.
    static QStringList ImportSuffixes();
    // Imports a model into strScene on a worker thread while a progress dialog with "Abbrechen"
    // keeps the window answering; the dialog's cancel stops the import's child process.
    // bCancelled: the user cancelled (nothing to report).
    HRESULT ImportInBackground(const QString& strModel, const QString& strScene,
                               ImportReport& report, bool& bCancelled);
    QWidget* CreateTreePane();
    // The matches of the field's text in the tree as it is now, counted and filtered.
    void RefreshMatches();
    void ApplySearchFilter();
    void SyncShowToggles(uint32_t dwShowFlags);
    void UpdateTitle();
    void ShowMessage(MessageKind kind, const QString& strText);
    QPrinter* Printer();

    void LoadRecentFileList();
    void SaveRecentFileList() const;
    void AddToRecentFileList(const QString& strPath);
    void UpdateRecentFileMenu();
    void OnOpenRecentFile(int nIndex);

    CMorv3dViewerDoc m_document;
    QString m_strPathName;
    std::unique_ptr<QTemporaryDir> m_pImportDir;  // an imported model's scene file and textures
    CMorv3dViewerView* m_pView = nullptr;
    CSceneView* m_pSceneView = nullptr;
    CTransportBar* m_pTransport = nullptr;
    QWidget* m_pScenePane = nullptr;
    QSplitter* m_pSplitter = nullptr;
    QDockWidget* m_pPropertiesDock = nullptr;
    QPlainTextEdit* m_pProperties = nullptr;
    QLineEdit* m_pSearch = nullptr;
    QLabel* m_pSearchCount = nullptr;
    QCheckBox* m_pSearchOnly = nullptr;
    QLabel* m_pSelection = nullptr;
    QLabel* m_pMissingTextures = nullptr;
    bool m_bTexturesCounted = false;
    std::vector<size_t> m_matches;
    QToolBar* m_wndToolBar = nullptr;
    QHash<int, QAction*> m_actions;
    QHash<int, QLabel*> m_indicators;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentEnd = nullptr;  // the separator after the recent files
    QList<QAction*> m_recentActions;
    QStringList m_recentFiles;
    std::unique_ptr<QPrinter> m_pPrinter;
    MessageHook m_messageHook;
    bool m_bBatch = false;
    bool m_bImporting = false;  // an import runs: another open waits for none
};
