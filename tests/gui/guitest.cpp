#include "guitest.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <vector>

#include "AboutDlg.h"
#include "MainFrm.h"
#include "abstractdata/codepage.h"
#include "morv3dViewerView.h"
#include "resource.h"
#include "support/table.h"
#include "transportbar.h"
#include "viewer/testscene.h"

namespace gui_test {

namespace {

QString Line(int nDepth, const QString& strLabel, int nImage, bool bObject, bool bExpanded) {
    return QString(nDepth * 2, QLatin1Char(' ')) + strLabel + QStringLiteral("\t%1").arg(nImage) +
           (bObject ? QStringLiteral("\tobj") : QString()) +
           (bExpanded ? QStringLiteral("\t+") : QString()) + QLatin1Char('\n');
}

void AppendItem(const QTreeWidgetItem* pItem, int nDepth, QString& strText) {
    strText += Line(nDepth, pItem->text(0), pItem->data(0, CMorv3dViewerView::kImageRole).toInt(),
                    pItem->data(0, CMorv3dViewerView::kObjectRole).value<void*>() != nullptr,
                    pItem->isExpanded() && pItem->childCount() > 0);
    for (int i = 0; i < pItem->childCount(); ++i) {
        AppendItem(pItem->child(i), nDepth + 1, strText);
    }
}

// A menu as "text|shortcuts|status tip[|disabled][|checked]" lines, submenus indented below
// their entry; "-" for a separator.
void AddMenuLines(const QMenu* pMenu, const QString& strIndent, QStringList& lines) {
    for (const QAction* pAction : pMenu->actions()) {
        if (pAction->isSeparator()) {
            lines.append(strIndent + QStringLiteral("-"));
            continue;
        }
        QStringList keys;
        for (const QKeySequence& key : pAction->shortcuts()) {
            keys.append(key.toString(QKeySequence::PortableText));
        }
        lines.append(strIndent + pAction->text() + QLatin1Char('|') + keys.join(QLatin1Char(',')) +
                     QLatin1Char('|') + pAction->statusTip() +
                     (pAction->isEnabled() ? QString() : QStringLiteral("|disabled")) +
                     (pAction->isChecked() ? QStringLiteral("|checked") : QString()));
        if (pAction->menu() != nullptr) {
            AddMenuLines(pAction->menu(), strIndent + QStringLiteral("  "), lines);
        }
    }
}

}  // namespace

QString FrameListing(CMainFrame& frame) {
    QStringList lines{QStringLiteral("title ") + frame.windowTitle()};
    for (const QAction* pMenu : frame.menuBar()->actions()) {
        lines.append(pMenu->text());
        AddMenuLines(pMenu->menu(), QStringLiteral("  "), lines);
    }
    QToolBar* pBar = frame.ToolBar();
    lines.append(QStringLiteral("toolbar %1x%2")
                     .arg(pBar->iconSize().width())
                     .arg(pBar->iconSize().height()));
    for (const QAction* pAction : pBar->actions()) {
        lines.append(pAction->isSeparator() ? QStringLiteral("  -")
                                            : QStringLiteral("  %1 %2|%3%4%5")
                                                  .arg(pAction->data().toInt())
                                                  .arg(pAction->toolTip(), pAction->statusTip(),
                                                       pAction->isEnabled() ? "" : "|disabled",
                                                       pAction->isChecked() ? "|checked" : ""));
    }
    lines.append(QStringLiteral("transport"));
    for (const QToolButton* pButton : frame.GetTransportBar()->findChildren<QToolButton*>()) {
        lines.append(QStringLiteral("  ") + pButton->toolTip());
    }
    QStringList speeds;
    const QComboBox* pSpeeds = frame.GetTransportBar()->findChild<QComboBox*>();
    for (int i = 0; i < pSpeeds->count(); ++i) {
        speeds << pSpeeds->itemText(i);
    }
    lines.append(QStringLiteral("  ") + speeds.join(QLatin1Char(' ')));
    lines.append(QStringLiteral("status ") + frame.statusBar()->findChild<QLabel*>()->text());
    // F6 and Shift+F6 are bound to the panes, which nothing handles.
    for (uint32_t dwId : {ID_NEXT_PANE, ID_PREV_PANE}) {
        const QAction* pAction = frame.Action(dwId);
        lines.append(QStringLiteral("pane %1|%2")
                         .arg(pAction->shortcut().toString(QKeySequence::PortableText),
                              pAction->isEnabled() ? "" : "disabled"));
    }
    const CAboutDlg about(&frame);
    lines.append(
        QStringLiteral("about %1|%2|%3")
            .arg(about.windowTitle(), about.TextLabel()->text(), about.OkButton()->text()));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString ExpectedData(const QString& strName, const QString& strActual) {
    return QString::fromStdString(ExpectedText(strName.toStdString(), strActual.toStdString()));
}

QList<QStringList> ReadTable(const QString& strName) {
    QList<QStringList> rows;
    for (const std::vector<std::string>& row : ::ReadTable(strName.toStdString())) {
        QStringList fields;
        for (const std::string& strField : row) {
            fields.append(QString::fromStdString(strField));
        }
        rows.append(fields);
    }
    return rows;
}

QString WidgetTreeText(const QTreeWidget& tree) {
    QString strText;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        AppendItem(tree.topLevelItem(i), 0, strText);
    }
    return strText;
}

QString EntriesText(const StructureTree& tree) {
    QString strText;
    const std::vector<StructureTreeEntry>& entries = tree.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool bHasChildren =
            i + 1 < entries.size() && entries[i + 1].dwDepth > entries[i].dwDepth;
        strText +=
            Line(static_cast<int>(entries[i].dwDepth),
                 QString::fromStdString(Windows1252ToUtf8(entries[i].strLabel)), entries[i].nImage,
                 entries[i].pItemData != nullptr, entries[i].bExpanded && bHasChildren);
    }
    return strText;
}

void WriteTestScene(const std::string& strPath) {
    std::vector<SceneChunk> chunks = viewer_test::SceneChunks();
    chunks.push_back({0x10000, 1, NodeBytes(1, "W\xFCrfel")});  // the root's last child
    WriteContainer(strPath, chunks);
}

void WriteFlatScene(const std::string& strPath, int nCount) {
    std::vector<ChunkSpec> nodes;
    for (int i = 0; i < nCount; ++i) {
        nodes.push_back(Node("n" + std::to_string(i)));
    }
    WriteContainer(strPath, {Node("root", nodes)});
}

ProgramRun RunProgram(const QString& strProgram, const QStringList& args,
                      const QList<QPair<QString, QString>>& vars, const QString& strConfigDir,
                      int nTimeoutMs) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), strConfigDir);
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
    process.start(strProgram, args);
    ProgramRun run;
    if (!process.waitForFinished(nTimeoutMs)) {
        process.kill();
        return run;
    }
    run.strOut = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.strErr = QString::fromLocal8Bit(process.readAllStandardError());
    run.nExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    return run;
}

CScopedSettings::CScopedSettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

}  // namespace gui_test
