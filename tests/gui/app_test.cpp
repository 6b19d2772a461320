// The program as started from a shell: its command line, exit status and screenshot mode.
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include "MainFrm.h"
#include "guitest.h"
#include "morv3dViewer.h"
#include "shellopen.h"

using namespace gui_test;

class AppTest : public QObject {
    Q_OBJECT

private slots:
    // The cases of tests/data/gui/command_lines.tsv: each row compared whole, so that a
    // failure shows the case.
    void commandLineParsing() {
        const QStringList actions = {"Run", "Help", "Version", "UsageError"};
        const auto field = [](const QString& str) { return str.isEmpty() ? "-" : str; };
        const QList<QStringList> rows = ReadTable(QStringLiteral("gui/command_lines.tsv"));
        QVERIFY(rows.size() > 10);
        for (const QStringList& row : rows) {
            const QStringList args = row[1] == "-" ? QStringList() : row[1].split(' ');
            const CCommandLineInfo info = ParseCommandLine(args, row[2] == "first");
            QStringList actual = {row[0], row[1], row[2], actions[int(info.action)]};
            if (info.action == CCommandLineInfo::Action::Run) {
                actual << field(info.strFileName) << field(info.strScreenshot)
                       << field(info.strLanguage) << field(info.strSelect);
            }
            for (int i = 0; i < std::min(actual.size(), row.size()); ++i) {
                actual[i] = row[i] == "*" ? row[i] : actual[i];  // not checked
            }
            QCOMPARE(actual.join('\t'), row.join('\t'));
        }
    }

    // The cases of tests/data/gui/ui_languages.tsv.
    void languageFromOptionThenLocale() {
        const QList<QStringList> rows = ReadTable(QStringLiteral("gui/ui_languages.tsv"));
        QVERIFY(rows.size() > 5);
        for (const QStringList& row : rows) {
            const UiLanguage language =
                ChooseUiLanguage(row[1] == "-" ? QString() : row[1],
                                 row[2] == "-" ? QStringList() : row[2].split(' '));
            QCOMPARE(row[0] + (language == UiLanguage::English ? " en" : " de"),
                     row[0] + ' ' + row[3]);
        }
    }

    // The window with the embedded English translation, as tests/data/gui/frame_en.txt lists it.
    void englishWindow() {
        CScopedSettings settings;
        std::unique_ptr<QTranslator> pTranslator(InstallTranslation(UiLanguage::English));
        QVERIFY(pTranslator != nullptr);
        {
            CMainFrame frame;
            QVERIFY(frame.OnFileNew());
            const QString strListing = FrameListing(frame);
            QCOMPARE(strListing, ExpectedData(QStringLiteral("gui/frame_en.txt"), strListing));
            QCOMPARE(DescribeResult(HRESULT_FROM_WIN32(2)),
                     QStringLiteral("File not found (0x80070002)"));
        }
        pTranslator.reset();
        SetUiLanguage(UiLanguage::German);
    }

    // The cases of tests/data/gui/program_runs.tsv; then what the screenshots left.
    void programRuns() {
        WriteTestScene(m_dir.filePath(QStringLiteral("shot.morv3d")).toStdString());
        QFile empty(m_dir.filePath(QStringLiteral("empty.morv3d")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        const QList<QStringList> rows = ReadTable(QStringLiteral("gui/program_runs.tsv"));
        QVERIFY(rows.size() > 10);
        for (const QStringList& row : rows) {
            QList<QPair<QString, QString>> vars;
            for (const QString& strVar : row[2].split(' ', Qt::SkipEmptyParts)) {
                if (strVar != "-") {
                    vars.append({strVar.section('=', 0, 0), strVar.section('=', 1)});
                }
            }
            const ProgramRun run =
                RunProgram(QStringLiteral(MORV3D_VIEWER),
                           QString(row[1]).replace("$DIR", m_dir.path()).split(' '), vars,
                           m_dir.filePath(QStringLiteral("config")));
            const QString strCheck = QString(row[4]).replace("\\n", "\n");
            const bool bPrinted =
                strCheck == "-" ||
                (strCheck.startsWith("out~ ") && run.strOut.contains(strCheck.mid(5))) ||
                (strCheck.startsWith("err~ ") && run.strErr.contains(strCheck.mid(5))) ||
                (strCheck.startsWith("out= ") && run.strOut == strCheck.mid(5));
            QVERIFY2(run.nExit == row[3].toInt() && bPrinted,
                     qPrintable(row[0] + ": exit " + QString::number(run.nExit) + "\nstdout:\n" +
                                run.strOut + "stderr:\n" + run.strErr));
        }
        const QImage image(m_dir.filePath(QStringLiteral("shot.png")));
        QCOMPARE(image.size(), QSize(1150, 700));
        // Batch runs leave the user's recent files alone; failed ones write no picture.
        QVERIFY(!QFile::exists(m_dir.filePath(
            QStringLiteral("config/Local AppWizard-Generated Applications/morv3dViewer.conf"))));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("none.png"))));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("lang.png"))));
    }

    // The cases of tests/data/gui/running_window.tsv: a second start while a window runs. The
    // test serves the window's socket itself, in a folder of its own that the program is sent
    // to (TMPDIR), so no other window or test shares it; each run is waited for on a thread of
    // its own while this one answers, and killed after 20 s, so a run that misses the socket
    // and opens a window of its own fails instead of hanging.
    void runningWindowRefusesWhatCannotBeRead() {
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            QSKIP("the program runs offscreen: its socket's name is that platform's");
        }
        WriteTestScene(m_dir.filePath(QStringLiteral("shot.morv3d")).toStdString());
        QTemporaryDir sockets;
        CShellOpenServer server;
        QVERIFY(server.Listen(QDir(sockets.path()).filePath(ShellOpenServerName())));
        QStringList handed;
        connect(&server, &CShellOpenServer::openRequested, this,
                [&handed](const QString& strPath) { handed.append(strPath); });
        const QList<QStringList> rows = ReadTable(QStringLiteral("gui/running_window.tsv"));
        QVERIFY(rows.size() >= 3);
        for (const QStringList& row : rows) {
            handed.clear();
            ProgramRun run;
            QThread* pThread = QThread::create([&] {
                run = RunProgram(QStringLiteral(MORV3D_VIEWER),
                                 {QString(row[1]).replace("$DIR", m_dir.path())},
                                 {{QStringLiteral("TMPDIR"), sockets.path()}},
                                 m_dir.filePath(QStringLiteral("config")), 20000);
            });
            pThread->start();
            QTRY_VERIFY_WITH_TIMEOUT(pThread->isFinished(), 30000);
            delete pThread;
            QCoreApplication::processEvents();  // the hand-over is queued
            const QString strPrinted = QString(row[3]).replace("$DIR", m_dir.path());
            const QString strHanded = QString(row[4]).replace("$DIR", m_dir.path());
            QVERIFY2(run.nExit == row[2].toInt() &&
                         (strPrinted == "-" || run.strErr.contains(strPrinted)) &&
                         handed == (strHanded == "-" ? QStringList() : QStringList{strHanded}),
                     qPrintable(row[0] + ": exit " + QString::number(run.nExit) + ", handed " +
                                handed.join(' ') + "\nstderr:\n" + run.strErr));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(AppTest)
#include "app_test.moc"
