// Command ids and the texts of the user interface: the menu, toolbar and status-bar strings
// and the document string, translated through the context "Resource".
#pragma once

#include <QString>

#include "abstractdata/hresult.h"
#include "morv3d_version.h"

// Commands of the menu, the toolbar and the keys (the filter commands are ID_SHOW_* of
// viewer/structuretree.h).
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_DIRECT = 57608;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_FILE_MRU_FILE1 = 57616;
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
constexpr int AFX_IDS_IDLEMESSAGE = 57345;
constexpr int ID_INDICATOR_CAPS = 59137;
constexpr int ID_INDICATOR_NUM = 59138;
constexpr int ID_INDICATOR_SCRL = 59139;
constexpr int ID_VIEW_TOOLBAR = 59392;
constexpr int ID_VIEW_STATUS_BAR = 59393;

constexpr int kRecentFileCount = 10;

inline constexpr char kRegistryKey[] = "Local AppWizard-Generated Applications";
inline constexpr char kAppName[] = "morv3dViewer";
inline constexpr char kAppVersion[] = MORV3D_VERSION;  // the CLI and the package show the same

// The string of a command or indicator id ("" for ids without one).
QString LoadString(int nId);
// The part before the newline (status-bar prompt) and the part after it (tooltip).
QString PromptOf(int nId);
QString TipOf(int nId);

// Fields of the document string, in its order.
enum class DocStringIndex {
    windowTitle,
    docName,
    fileNewName,
    filterName,
    filterExt,
    regFileTypeId,
    regFileTypeName,
};
QString GetDocString(DocStringIndex index);

// The framework's name of an untitled document.
QString UntitledName();

// The language of the user interface: German (the source texts) unless the program chose
// English and loaded its translation.
enum class UiLanguage { German, English };
void SetUiLanguage(UiLanguage language);

// German words for a result code, for messages to the user (the table of abstractdata).
QString GermanResultMessage(HRESULT hr);
// The words in the language of the user interface.
QString ResultMessage(HRESULT hr);
// "<words> (0x80044011)".
QString DescribeResult(HRESULT hr);
