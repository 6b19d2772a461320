// The application: start-up as a single-document program, its command line, shell open and
// the screenshot mode.
#pragma once

#include <QString>
#include <QStringList>

class CMainFrame;

struct CCommandLineInfo {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    QString strFileName;    // empty: the untitled document
    QString strScreenshot;  // --screenshot OUT.png
    QString strError;       // for UsageError
};

// The arguments after the program name, Qt's own options already taken out; bTolerant skips
// unknown options and extra files (for a first look before Qt has taken out its own).
CCommandLineInfo ParseCommandLine(const QStringList& args, bool bTolerant = false);
QString HelpText();

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
