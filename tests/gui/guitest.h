// Helpers of the GUI tests: scene files, the tree as text, per-test settings.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

#include "viewer/structuretree.h"

class CMainFrame;
class QTreeWidget;

namespace gui_test {

// One line per entry in pre-order: indent, label, image, "obj" for an entry with item data,
// "+" for an expanded entry with children. Every entry, collapsed or not.
QString WidgetTreeText(const QTreeWidget& tree);
QString EntriesText(const StructureTree& tree);

// The frame's texts as lines: title, menus (with keys and status tips), toolbar, transport bar,
// status bar, the pane keys and the about box.
QString FrameListing(CMainFrame& frame);
// The content of tests/data/<strName>; with MORV_UPDATE_BASELINES set, strActual is written
// there first (to take a new listing after a deliberate change).
QString ExpectedData(const QString& strName, const QString& strActual);
// The rows of a tab-separated file of tests/data/, each led by "FILE:LINE"; empty lines and
// "#" lines skipped.
QList<QStringList> ReadTable(const QString& strName);

// The rich test scene of the viewer tests, with a node whose name needs Windows-1252.
void WriteTestScene(const std::string& strPath);
// A root node with nCount child nodes.
void WriteFlatScene(const std::string& strPath, int nCount);

// How a program ended (-1: not within the time given, killed; -2: crashed) and what it printed.
struct ProgramRun {
    int nExit = -1;
    QString strOut;
    QString strErr;
};
// Runs a program on the offscreen platform under a C locale (German), its settings in
// strConfigDir, with vars set on top (an empty value unsets one).
ProgramRun RunProgram(const QString& strProgram, const QStringList& args,
                      const QList<QPair<QString, QString>>& vars, const QString& strConfigDir,
                      int nTimeoutMs = 120000);

// Points the settings at a fresh folder for the life of the object.
class CScopedSettings {
public:
    CScopedSettings();
    QString Path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

}  // namespace gui_test
