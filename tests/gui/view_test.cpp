// The structure view: the image list, the copy of BuildStructureTree's tree into the widget
// under every filter, the rebuild on toggles, and the printed listing.
#include <QImage>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtTest>

#include "abstractdata/debugreport.h"
#include "guitest.h"
#include "morv3dViewerView.h"
#include "pictures.h"
#include "viewer/document.h"

using namespace gui_test;

namespace {

const uint32_t kShowCommands[] = {
    ID_SHOW_NODES,     ID_SHOW_MESHES,        ID_SHOW_ANIMATION,       ID_SHOW_DUMMIES,
    ID_SHOW_MATERIALS, ID_SHOW_MATERIAL_MAPS, ID_SHOW_MESH_ANIMATIONS,
};

}  // namespace

class ViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_strScene = m_dir.filePath(QStringLiteral("scene.morv3d")).toStdString();
        WriteTestScene(m_strScene);
        QVERIFY(m_doc.OnOpenDocument(m_strScene));
        QVERIFY(m_doc.LoadedCompletely());
    }

    // The pictures as tests/data/gui/tree_images.txt lists them: clear, magenta (unused) or
    // drawn; the drawn ones can be told apart.
    void imageListHoldsSixteenPictures() {
        CMorv3dViewerView view(&m_doc);
        QString strListing = QStringLiteral("%1 in the list\n").arg(view.ImageList().size());
        QList<QImage> drawn;
        for (int i = 0; i < kTreeImageCount; ++i) {
            const QImage image = TreeImage(i).convertToFormat(QImage::Format_ARGB32);
            bool bClear = true, bMagenta = true;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    bClear = bClear && qAlpha(image.pixel(x, y)) == 0;
                    bMagenta = bMagenta && image.pixel(x, y) == qRgb(255, 0, 255);
                }
            }
            if (!bClear && !bMagenta) {
                QVERIFY2(!drawn.contains(image), qPrintable(QString::number(i)));
                drawn.append(image);
            }
            strListing += QStringLiteral("%1 %2x%3 %4\n")
                              .arg(i)
                              .arg(image.width())
                              .arg(image.height())
                              .arg(bClear     ? "clear"
                                   : bMagenta ? "magenta"
                                              : "drawn");
        }
        QCOMPARE(strListing, ExpectedData(QStringLiteral("gui/tree_images.txt"), strListing));
    }

    // Every filter word built by flipping one or two toggles from "all on".
    void treeEqualsBuiltTreeUnderEveryFilter_data() {
        QTest::addColumn<uint32_t>("flags");
        QTest::newRow("all") << SHOW_ALL;
        for (const uint32_t a : kShowCommands) {
            QTest::addRow("off %u", a) << FlipShowFlag(SHOW_ALL, a);
            for (const uint32_t b : kShowCommands) {
                if (b > a) {
                    QTest::addRow("off %u %u", a, b) << FlipShowFlag(FlipShowFlag(SHOW_ALL, a), b);
                }
            }
        }
        QTest::newRow("none") << 0u;
    }
    void treeEqualsBuiltTreeUnderEveryFilter() {
        QFETCH(uint32_t, flags);
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        uint32_t dwFlags = SHOW_ALL;
        for (const uint32_t id : kShowCommands) {
            if (IsShowFlagChecked(dwFlags, id) != IsShowFlagChecked(flags, id)) {
                view.OnShowCommand(id);
                dwFlags = FlipShowFlag(dwFlags, id);
            }
        }
        QCOMPARE(view.ShowFlags() & 0x7F, flags & 0x7F);
        QCOMPARE(WidgetTreeText(view), EntriesText(BuildStructureTree(m_doc, view.ShowFlags())));
    }

    void toggleTwiceRestoresTreeAndExpansion() {
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        const QString strBefore = WidgetTreeText(view);
        for (const uint32_t id : kShowCommands) {
            // What the user expanded or collapsed is forgotten by the rebuilds.
            view.topLevelItem(1)->child(0)->setExpanded(false);
            view.topLevelItem(0)->child(0)->setExpanded(true);
            view.OnShowCommand(id);
            QVERIFY(WidgetTreeText(view) != strBefore);
            view.OnShowCommand(id);
            QCOMPARE(view.ShowFlags(), SHOW_ALL);
            QCOMPARE(WidgetTreeText(view), strBefore);
            QVERIFY(view.selectedItems().isEmpty());
        }
    }

    void listedEntriesFollowExpansion() {
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        // Materials are collapsed: only the four material entries show under "MATERIALS".
        const auto lines = view.ListedEntries();
        QCOMPARE(lines[0].pItem->text(0), QStringLiteral("MATERIALS"));
        for (int i = 1; i <= 4; ++i) {
            QCOMPARE(lines[i].nDepth, 1);
            QCOMPARE(lines[i].pItem->text(0), QStringLiteral("Material"));
        }
        QCOMPARE(lines[5].pItem->text(0), QStringLiteral("OBJECTS"));
        // Object entries carry their objects.
        QCOMPARE(lines[6].pItem->data(0, CMorv3dViewerView::kObjectRole).value<void*>(),
                 static_cast<void*>(m_doc._pNode));
        view.topLevelItem(0)->child(0)->setExpanded(true);
        const auto expanded = view.ListedEntries();
        QCOMPARE(expanded.size(), lines.size() + 1);
        QCOMPARE(expanded[2].nDepth, 2);
        QCOMPARE(expanded[2].pItem->text(0), QStringLiteral("Map"));
    }

    // The printed pages hold the listed entries: one page for a short tree, as many as the
    // listing needs for a long one, and the PDF has exactly the pages reported.
    void printingListsEntriesPageByPage() {
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        QCOMPARE(PrintPages(view), 1);

        CMorv3dViewerDoc big;
        std::string strBig = m_dir.filePath(QStringLiteral("big.morv3d")).toStdString();
        WriteFlatScene(strBig, 300);
        QVERIFY(big.OnOpenDocument(strBig));
        CMorv3dViewerView bigView(&big);
        bigView.OnInitialUpdate();
        QCOMPARE(bigView.ListedEntries().size(), size_t{303});
        const int nPages = PrintPages(bigView);
        QVERIFY(nPages > 1);
        // Collapsing the root leaves three entries: one page.
        bigView.topLevelItem(1)->child(0)->setExpanded(false);
        QCOMPARE(PrintPages(bigView), 1);
    }

private:
    // Prints to a PDF and checks its page count against the reported one.
    int PrintPages(CMorv3dViewerView& view) {
        const QString strPdf = m_dir.filePath(QStringLiteral("print.pdf"));
        int nPages = 0;
        {
            QPdfWriter writer(strPdf);
            nPages = view.Print(&writer, QStringLiteral("scene.morv3d"));
        }
        QFile file(strPdf);
        if (!file.open(QIODevice::ReadOnly)) {
            return -1;
        }
        const QByteArray pdf = file.readAll();
        const int nInPdf =
            static_cast<int>(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r"));
        return nInPdf == nPages ? nPages : -nInPdf;
    }

    QTemporaryDir m_dir;
    std::string m_strScene;
    CReportCapture m_reports;
    CMorv3dViewerDoc m_doc;
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
