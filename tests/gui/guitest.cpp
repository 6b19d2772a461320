#include "guitest.h"

#include <QSettings>
#include <QTreeWidget>
#include <vector>

#include "abstractdata/codepage.h"
#include "morv3dViewerView.h"
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

}  // namespace

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
    std::vector<ChunkSpec> chunks = viewer_test::SceneChunks();
    chunks[1].children.push_back(Node("W\xFCrfel"));
    WriteContainer(strPath, chunks);
}

void WriteDamagedScene(const std::string& strPath) {
    ChunkSpec badMesh = viewer_test::Mesh();
    badMesh.payload =
        MeshBytes(0x13, 4, {{0, 2, 0, 9}}, {{0, 1, 2}, {0, 2, 3}}, {{16, 0, false, 0, 0.0f}});
    WriteContainer(strPath,
                   {{0x10003, MaterialBytes(viewer_test::kMaterials), {}},
                    Node("root", {Node("before", {viewer_test::Mesh()}), badMesh, Node("after")})});
}

void WriteFlatScene(const std::string& strPath, int nCount) {
    std::vector<ChunkSpec> nodes;
    for (int i = 0; i < nCount; ++i) {
        nodes.push_back(Node("n" + std::to_string(i)));
    }
    WriteContainer(strPath, {Node("root", nodes)});
}

CScopedSettings::CScopedSettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

}  // namespace gui_test
