// The application: start-up as a single-document program, its command line, shell open and
// the screenshot mode.
#pragma once

#include <QString>
#include <QStringList>

#include "resource.h"

class CMainFrame;
class QTranslator;

struct CCommandLineInfo {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    QString strFileName;    // empty: the untitled document
    QString strScreenshot;  // --screenshot OUT.png
    QString strLanguage;    // --lang de|en; empty: the user's locale decides
    QString strSelect;      // --select PATH: the object made current after opening FILE
    QString strError;       // for UsageError
};

// The arguments after the program name, Qt's own options already taken out; bTolerant skips
// unknown options and extra files (for a first look before Qt has taken out its own).
CCommandLineInfo ParseCommandLine(const QStringList& args, bool bTolerant = false);
QString HelpText();

// --lang wins; otherwise the first of the user's languages (QLocale::uiLanguages(): LANGUAGE,
// then LC_ALL, LC_MESSAGES, LANG) that is German or English; German when none is.
UiLanguage ChooseUiLanguage(const QString& strOption, const QStringList& uiLanguages);
// Loads and installs the language's translation (English: the embedded .qm; German: Qt's own
// catalogue, if the system has it) and makes it the UI language. The translator, a child of
// the application, or null when none was installed.
QTranslator* InstallTranslation(UiLanguage language);

class CMorv3dViewerApp {
public:
    // The whole run of the program; the exit status.
    int Run(int argc, char** argv);

    // The command line's document: the untitled one, or the file opened at once. False when
    // the file cannot be opened (the program then ends).
    static bool ProcessShellCommand(CMainFrame& frame, const CCommandLineInfo& info);

    // Renders the frame to a PNG file.
    static bool SaveScreenshot(CMainFrame& frame, const QString& strPath);
};
