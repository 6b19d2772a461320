#include "morv3dViewer.h"

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "MainFrm.h"
#include "pictures.h"
#include "resource.h"
#include "shellopen.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

bool HasDisplay(const QStringList& args) {
    return args.contains(QLatin1String("-platform")) || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

CCommandLineInfo ParseCommandLine(const QStringList& args, bool bTolerant) {
    CCommandLineInfo info;
    bool bOptions = true;
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& strArg = args[i];
        if (bOptions && strArg == QLatin1String("--")) {
            bOptions = false;
        } else if (bOptions &&
                   (strArg == QLatin1String("--help") || strArg == QLatin1String("-h"))) {
            info.action = CCommandLineInfo::Action::Help;
            return info;
        } else if (bOptions &&
                   (strArg == QLatin1String("--version") || strArg == QLatin1String("-v"))) {
            info.action = CCommandLineInfo::Action::Version;
            return info;
        } else if (bOptions && strArg == QLatin1String("--screenshot")) {
            if (i + 1 >= args.size()) {
                info.action = CCommandLineInfo::Action::UsageError;
                info.strError = QStringLiteral("--screenshot needs an output file");
                return info;
            }
            info.strScreenshot = args[++i];
        } else if (bOptions && strArg.startsWith(QLatin1String("--screenshot="))) {
            info.strScreenshot = strArg.mid(13);
            if (info.strScreenshot.isEmpty()) {
                info.action = CCommandLineInfo::Action::UsageError;
                info.strError = QStringLiteral("--screenshot needs an output file");
                return info;
            }
        } else if (bOptions && strArg.startsWith(QLatin1Char('-')) && strArg.size() > 1) {
            if (bTolerant) {
                continue;
            }
            info.action = CCommandLineInfo::Action::UsageError;
            info.strError = QStringLiteral("unknown option %1").arg(strArg);
            return info;
        } else {
            files.append(strArg);
        }
    }
    if (files.size() > 1 && !bTolerant) {
        info.action = CCommandLineInfo::Action::UsageError;
        info.strError = QStringLiteral("only one file can be opened");
    } else if (!files.isEmpty()) {
        info.strFileName = files.first();
    }
    return info;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: morv3dViewer [FILE]\n"
        "       morv3dViewer --screenshot OUT.png [FILE]\n"
        "       morv3dViewer --help | --version\n"
        "\n"
        "Shows the structure of a .morv3d scene file. Without FILE the viewer starts with an\n"
        "empty document. A FILE given while the viewer already runs on this display is opened\n"
        "in the running window.\n"
        "\n"
        "Options:\n"
        "  --screenshot OUT.png  open FILE, save the main window as a PNG image and exit\n"
        "                        (drawn off screen; needs no display)\n"
        "  -h, --help            show this help\n"
        "  -v, --version         show the version\n"
        "\n"
        "Exit status: 0 success, 1 the file could not be opened or the image not saved,\n"
        "2 usage error.\n");
}

bool CMorv3dViewerApp::ProcessShellCommand(CMainFrame& frame, const CCommandLineInfo& info) {
    if (info.strFileName.isEmpty()) {
        return frame.OnFileNew();
    }
    return frame.OpenDocumentFile(info.strFileName);
}

bool CMorv3dViewerApp::SaveScreenshot(CMainFrame& frame, const QString& strPath) {
    frame.show();
    QApplication::processEvents();
    return frame.grab().save(strPath, "PNG");
}

int CMorv3dViewerApp::Run(int argc, char** argv) {
    // Help, version and usage errors need no display: they are answered before Qt starts.
    QStringList rawArgs;
    for (int i = 1; i < argc; ++i) {
        rawArgs.append(QString::fromLocal8Bit(argv[i]));
    }
    // Qt's own options are still among them here.
    const CCommandLineInfo rawInfo = ParseCommandLine(rawArgs, true);
    if (rawInfo.action == CCommandLineInfo::Action::Help) {
        std::fputs(qPrintable(HelpText()), stdout);
        return 0;
    }
    if (rawInfo.action == CCommandLineInfo::Action::Version) {
        std::printf("%s %s\n", kAppName, kAppVersion);
        return 0;
    }
    const bool bScreenshot = !rawInfo.strScreenshot.isEmpty();
    if (bScreenshot) {
        // Drawn off screen unless a platform is asked for: no window flashes up, and the image
        // is the same on every desktop.
        if (!rawArgs.contains(QLatin1String("-platform")) &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
    } else if (!HasDisplay(rawArgs)) {
        std::fprintf(stderr,
                     "morv3dViewer: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n"
                     "Try 'morv3dViewer --screenshot OUT.png FILE' or 'morv3d tree FILE'.\n");
        return kExitFailure;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(kRegistryKey));
    QApplication::setApplicationName(QString::fromLatin1(kAppName));
    QApplication::setApplicationVersion(QString::fromLatin1(kAppVersion));
    QApplication::setDesktopFileName(QStringLiteral("morv3dViewer"));
    QApplication::setWindowIcon(ApplicationIcon());

    // Qt has taken its own options (-platform, -style, ...) out by now.
    const CCommandLineInfo info = ParseCommandLine(app.arguments().mid(1));
    if (info.action == CCommandLineInfo::Action::UsageError) {
        std::fprintf(stderr, "morv3dViewer: %s\nTry 'morv3dViewer --help'.\n",
                     qPrintable(info.strError));
        return kExitUsage;
    }

    const QString strServerName = ShellOpenServerName();
    if (!bScreenshot && !info.strFileName.isEmpty() &&
        SendToRunningInstance(strServerName, QFileInfo(info.strFileName).absoluteFilePath())) {
        return 0;
    }

    CMainFrame frame;
    frame.SetBatchMode(bScreenshot);
    CShellOpenServer server;
    if (!bScreenshot) {
        QObject::connect(&server, &CShellOpenServer::openRequested, &frame,
                         [&frame](const QString& strPath) {
                             frame.OpenDocumentFile(strPath);
                             frame.raise();
                             frame.activateWindow();
                         });
        server.Listen(strServerName);
    }

    if (!ProcessShellCommand(frame, info)) {
        return kExitFailure;
    }
    if (bScreenshot) {
        if (!SaveScreenshot(frame, info.strScreenshot)) {
            std::fprintf(stderr, "morv3dViewer: cannot write %s\n", qPrintable(info.strScreenshot));
            return kExitFailure;
        }
        return 0;
    }
    frame.show();
    return QApplication::exec();
}
