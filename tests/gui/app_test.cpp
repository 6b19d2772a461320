// The program as started from a shell: its command line, exit status and screenshot mode.
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "guitest.h"
#include "morv3dViewer.h"

using namespace gui_test;

class AppTest : public QObject {
    Q_OBJECT

private slots:
    void commandLineParsing() {
        using A = CCommandLineInfo::Action;
        QCOMPARE(ParseCommandLine({}).action, A::Run);
        QVERIFY(ParseCommandLine({}).strFileName.isEmpty());
        const CCommandLineInfo one = ParseCommandLine({"a.morv3d"});
        QCOMPARE(one.strFileName, QStringLiteral("a.morv3d"));
        const CCommandLineInfo shot = ParseCommandLine({"--screenshot", "out.png", "a.morv3d"});
        QCOMPARE(shot.strScreenshot, QStringLiteral("out.png"));
        QCOMPARE(shot.strFileName, QStringLiteral("a.morv3d"));
        QCOMPARE(ParseCommandLine({"--screenshot=o.png"}).strScreenshot, QStringLiteral("o.png"));
        QCOMPARE(ParseCommandLine({"--", "-odd.morv3d"}).strFileName,
                 QStringLiteral("-odd.morv3d"));
        QCOMPARE(ParseCommandLine({"a", "--help"}).action, A::Help);
        QCOMPARE(ParseCommandLine({"--version"}).action, A::Version);
        QCOMPARE(ParseCommandLine({"a", "b"}).action, A::UsageError);
        QCOMPARE(ParseCommandLine({"--bogus"}).action, A::UsageError);
        QCOMPARE(ParseCommandLine({"--screenshot"}).action, A::UsageError);
        QCOMPARE(ParseCommandLine({"--screenshot="}).action, A::UsageError);
        // The first look, before Qt has taken out its options, lets them pass.
        QCOMPARE(ParseCommandLine({"-platform", "offscreen", "--screenshot", "o.png"}, true)
                     .strScreenshot,
                 QStringLiteral("o.png"));
    }

    void helpVersionAndUsageErrors() {
        QCOMPARE(Run({"--help"}), 0);
        QVERIFY(m_strOut.contains(QStringLiteral("Usage: morv3dViewer [FILE]")));
        QCOMPARE(Run({"--version"}), 0);
        QCOMPARE(m_strOut, QStringLiteral("morv3dViewer 1.0.0.1\n"));
        QCOMPARE(Run({"--bogus"}), 2);
        QVERIFY(m_strErr.contains(QStringLiteral("unknown option --bogus")));
        QCOMPARE(Run({"a.morv3d", "b.morv3d"}), 2);
    }

    void screenshotOfAScene() {
        const QString strScene = m_dir.filePath(QStringLiteral("shot.morv3d"));
        WriteTestScene(strScene.toStdString());
        const QString strPng = m_dir.filePath(QStringLiteral("shot.png"));
        QCOMPARE(Run({"--screenshot", strPng, strScene}), 0);
        const QImage image(strPng);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(1150, 700));
        // Batch runs leave the user's recent files alone.
        QVERIFY(!QFile::exists(m_dir.filePath(
            QStringLiteral("config/Local AppWizard-Generated Applications/morv3dViewer.conf"))));
    }

    void fileThatCannotBeOpenedEndsWithAFailure() {
        const QString strPng = m_dir.filePath(QStringLiteral("none.png"));
        QCOMPARE(Run({"--screenshot", strPng, m_dir.filePath(QStringLiteral("missing.morv3d"))}),
                 1);
        QVERIFY2(m_strErr.contains(QStringLiteral("Datei nicht gefunden (0x80070002)")),
                 qPrintable(m_strErr));
        QVERIFY(!QFile::exists(strPng));
    }

private:
    int Run(const QStringList& args) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(MORV3D_VIEWER), args);
        if (!process.waitForFinished(120000)) {
            process.kill();
            return -1;
        }
        m_strOut = QString::fromLocal8Bit(process.readAllStandardOutput());
        m_strErr = QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }

    QTemporaryDir m_dir;
    QString m_strOut;
    QString m_strErr;
};

QTEST_MAIN(AppTest)
#include "app_test.moc"
