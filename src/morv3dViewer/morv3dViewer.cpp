#include "morv3dViewer.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

// The option's value, as "--name VALUE" or "--name=VALUE"; false (and a usage error in info)
// when the value is missing or empty.
bool TakeValue(const QStringList& args, qsizetype& i, const QString& strName, QString& strValue,
               CCommandLineInfo& info) {
    const QString& strArg = args[i];
    if (strArg == strName) {
        strValue = i + 1 < args.size() ? args[++i] : QString();
    } else {
        strValue = strArg.mid(strName.size() + 1);
    }
    if (strValue.isEmpty()) {
        info.action = CCommandLineInfo::Action::UsageError;
        info.strError = QStringLiteral("%1 needs a value").arg(strName);
        return false;
    }
    return true;
}

bool IsOption(const QString& strArg, const QString& strName) {
    return strArg == strName || (strArg.startsWith(strName) && strArg.size() > strName.size() &&
                                 strArg[strName.size()] == QLatin1Char('='));
}

// Why a file cannot be opened for reading; empty when it can.
QString UnreadableReason(const QString& strPath) {
    const QFileInfo file(strPath);
    if (!file.exists()) {
        return QStringLiteral("file not found");
    }
    if (file.isDir()) {
        return QStringLiteral("it is a folder");
    }
    QFile probe(strPath);
    if (!probe.open(QIODevice::ReadOnly)) {
        return probe.errorString();
    }
    return QString();
}

}  // namespace

UiLanguage ChooseUiLanguage(const QString& strOption, const QStringList& uiLanguages) {
    if (!strOption.isEmpty()) {
        return strOption == QLatin1String("en") ? UiLanguage::English : UiLanguage::German;
    }
    for (const QString& strName : uiLanguages) {
        switch (QLocale(strName).language()) {
            case QLocale::English:
                return UiLanguage::English;
            case QLocale::German:
                return UiLanguage::German;
            default:
                break;
        }
    }
    return UiLanguage::German;
}

QTranslator* InstallTranslation(UiLanguage language) {
    // German is the source language: only English needs a translation. Qt's own dialogs get
    // German from Qt's catalogue where the system has it.
    auto pTranslator = std::make_unique<QTranslator>(QCoreApplication::instance());
    bool bLoaded = false;
    if (language == UiLanguage::English) {
        bLoaded = pTranslator->load(QStringLiteral(":/i18n/morv3dViewer_en.qm"));
        if (!bLoaded) {
            std::fputs("morv3dViewer: the English translation is missing; German is shown\n",
                       stderr);
            language = UiLanguage::German;
        }
    } else {
        bLoaded = pTranslator->load(QStringLiteral("qtbase_de"),
                                    QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    SetUiLanguage(language);
    if (!bLoaded || !QCoreApplication::installTranslator(pTranslator.get())) {
        return nullptr;
    }
    return pTranslator.release();
}

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
        } else if (bOptions && IsOption(strArg, QStringLiteral("--lang"))) {
            if (!TakeValue(args, i, QStringLiteral("--lang"), info.strLanguage, info)) {
                return info;
            }
            if (info.strLanguage != QLatin1String("de") &&
                info.strLanguage != QLatin1String("en")) {
                info.action = CCommandLineInfo::Action::UsageError;
                info.strError =
                    QStringLiteral("--lang takes de or en, not '%1'").arg(info.strLanguage);
                return info;
            }
        } else if (bOptions && IsOption(strArg, QStringLiteral("--select"))) {
            if (!TakeValue(args, i, QStringLiteral("--select"), info.strSelect, info)) {
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
    } else if (!info.strSelect.isEmpty() && !bTolerant) {
        info.action = CCommandLineInfo::Action::UsageError;
        info.strError = QStringLiteral("--select needs a FILE");
    }
    return info;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: morv3dViewer [FILE] [--select PATH] [--lang de|en]\n"
        "       morv3dViewer --screenshot OUT.png [FILE] [--select PATH] [--lang de|en]\n"
        "       morv3dViewer --help | --version\n"
        "\n"
        "Shows the structure of a .morv3d scene file. Without FILE the viewer starts with an\n"
        "empty document. A FILE given while the viewer already runs on this display is opened\n"
        "in the running window.\n"
        "\n"
        "Options:\n"
        "  --screenshot OUT.png  open FILE, save the main window as a PNG image and exit\n"
        "                        (drawn off screen; needs no display)\n"
        "  --select PATH         make the object PATH of FILE current: the tree shows it, the\n"
        "                        properties pane lists it (PATH as 'morv3d pick' prints it,\n"
        "                        e.g. scene/door/mesh[0])\n"
        "  --lang de|en          the language of the window; without it English when the\n"
        "                        first of the locale's languages (LANGUAGE, LC_ALL,\n"
        "                        LC_MESSAGES, LANG) that is German or English is English,\n"
        "                        otherwise German\n"
        "  -h, --help            show this help\n"
        "  -v, --version         show the version\n"
        "\n"
        "Exit status: 0 success, 1 the file could not be opened, the image not saved or the\n"
        "--select object of a screenshot not found, 2 usage error.\n");
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
    // Errors in our own options need no display either.
    if (rawInfo.action == CCommandLineInfo::Action::UsageError) {
        std::fprintf(stderr, "morv3dViewer: %s\nTry 'morv3dViewer --help'.\n",
                     qPrintable(rawInfo.strError));
        return kExitUsage;
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

    InstallTranslation(ChooseUiLanguage(info.strLanguage, QLocale::system().uiLanguages()));

    // A running window opens the file but knows nothing of --select: then this one starts.
    // A file that cannot be read is not handed over: the window's message would not reach
    // whoever started this program, so it is told here and the exit code says so.
    const QString strServerName = ShellOpenServerName();
    if (!bScreenshot && !info.strFileName.isEmpty() && info.strSelect.isEmpty() &&
        IsInstanceRunning(strServerName)) {
        const QString strPath = QFileInfo(info.strFileName).absoluteFilePath();
        const QString strWhy = UnreadableReason(strPath);
        if (!strWhy.isEmpty()) {
            std::fprintf(stderr, "morv3dViewer: %s cannot be opened: %s\n",
                         qPrintable(info.strFileName), qPrintable(strWhy));
            return kExitFailure;
        }
        if (SendToRunningInstance(strServerName, strPath)) {
            return 0;
        }
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
    if (!info.strSelect.isEmpty() && !frame.SelectObjectPath(info.strSelect)) {
        std::fprintf(stderr, "morv3dViewer: %s has no object %s\n", qPrintable(info.strFileName),
                     qPrintable(info.strSelect));
        if (bScreenshot) {
            return kExitFailure;
        }
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
