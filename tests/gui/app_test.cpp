// The program as started from a shell: its command line, exit status and screenshot mode.
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

#include "MainFrm.h"
#include "guitest.h"
#include "morv3dViewer.h"
#include "resource.h"
#include "transportbar.h"

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
        const CCommandLineInfo lang = ParseCommandLine({"--lang", "en", "--select=s/a", "a"});
        QCOMPARE(lang.strLanguage, QStringLiteral("en"));
        QCOMPARE(lang.strSelect, QStringLiteral("s/a"));
        QCOMPARE(ParseCommandLine({"--lang=de"}).strLanguage, QStringLiteral("de"));
        for (const QStringList& bad : {QStringList{"--lang", "xx"}, QStringList{"--lang"},
                                       QStringList{"--lang="}, QStringList{"--select", "s/a"}}) {
            QCOMPARE(ParseCommandLine(bad).action, A::UsageError);
        }
        // The first look, before Qt has taken out its options, lets them pass.
        QCOMPARE(ParseCommandLine({"-platform", "offscreen", "--screenshot", "o.png"}, true)
                     .strScreenshot,
                 QStringLiteral("o.png"));
    }

    void languageFromOptionThenLocale() {
        const UiLanguage de = UiLanguage::German;
        const UiLanguage en = UiLanguage::English;
        const struct {
            const char* pszOption;
            QStringList uiLanguages;
            UiLanguage expected;
        } cases[] = {
            {"", {"en-US"}, en}, {"", {"de-DE"}, de},          {"", {"C"}, de},
            {"", {}, de},        {"", {"fr-FR", "en-GB"}, en}, {"", {"fr-FR", "de-AT", "en"}, de},
            {"", {"fr-FR"}, de}, {"de", {"en-US"}, de},        {"en", {"C"}, en},
        };
        for (const auto& c : cases) {
            QCOMPARE(ChooseUiLanguage(QString::fromLatin1(c.pszOption), c.uiLanguages), c.expected);
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

    // The whole program: --lang, then the locale, choose the language of its messages.
    void languageOfTheProgram() {
        const QString strMissing = m_dir.filePath(QStringLiteral("missing.morv3d"));
        const QString strPng = m_dir.filePath(QStringLiteral("lang.png"));
        const QString strGerman = QStringLiteral("kann nicht geöffnet werden");
        const QString strEnglish = QStringLiteral("cannot be opened:\nFile not found");
        const struct {
            QStringList args;
            const char* pszLang;
            const char* pszLanguage;
            QString strExpected;
        } cases[] = {
            {{"--lang", "en"}, "C", "", strEnglish},       {{}, "en_US.UTF-8", "", strEnglish},
            {{"--lang=de"}, "en_US.UTF-8", "", strGerman}, {{}, "C.UTF-8", "en_GB:de", strEnglish},
            {{}, "en_US.UTF-8", "fr:de", strGerman},
        };
        for (const auto& c : cases) {
            QCOMPARE(Run(c.args + QStringList{"--screenshot", strPng, strMissing},
                         {{"LANG", c.pszLang}, {"LANGUAGE", c.pszLanguage}}),
                     1);
            QVERIFY2(m_strErr.contains(c.strExpected), qPrintable(m_strErr));
        }
    }

    void helpVersionAndUsageErrors() {
        QCOMPARE(Run({"--help"}), 0);
        QVERIFY(m_strOut.contains(QStringLiteral("Usage: morv3dViewer [FILE]")));
        QCOMPARE(Run({"--version"}), 0);
        QCOMPARE(m_strOut, QStringLiteral("morv3dViewer 1.0.0.1\n"));
        QCOMPARE(Run({"--bogus"}), 2);
        QVERIFY(m_strErr.contains(QStringLiteral("unknown option --bogus")));
        QCOMPARE(Run({"a.morv3d", "b.morv3d"}), 2);
        // Our own options are checked before a display is needed.
        QCOMPARE(Run({"--lang", "xx"}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}}), 2);
        QVERIFY(m_strErr.contains(QStringLiteral("--lang takes de or en, not 'xx'")));
        QCOMPARE(Run({"--help"}), 0);
        QVERIFY(m_strOut.contains(QStringLiteral("--lang de|en")));
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
        // --select names an object; a screenshot of one the scene lacks is a failure.
        // The name is stored in Windows-1252 and given in UTF-8.
        QCOMPARE(Run({"--screenshot", strPng, "--select", "scene/Würfel", strScene}), 0);
        QCOMPARE(Run({"--screenshot", strPng, "--select", "scene/arm/none", strScene}), 1);
        QVERIFY2(m_strErr.contains(QStringLiteral("has no object scene/arm/none")),
                 qPrintable(m_strErr));
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
    // The program under a C locale (German), with vars set on top; an empty value unsets one.
    int Run(const QStringList& args, const QList<QPair<QString, QString>>& vars = {}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        for (const char* pszName : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
            env.remove(QString::fromLatin1(pszName));
        }
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        for (const auto& [strName, strValue] : vars) {
            if (strValue.isEmpty()) {
                env.remove(strName);
            } else {
                env.insert(strName, strValue);
            }
        }
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
