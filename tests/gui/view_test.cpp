// The structure view: the image list, the copy of BuildStructureTree's tree into the widget
// under every filter, the rebuild on toggles, and the printed listing.
#include <QImage>
#include <QPdfWriter>
#include <QScrollBar>
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
    // Each filter word is reached by toggling every command, twice where its state stays: each
    // rebuild forgets what the user expanded, collapsed or selected.
    void treeEqualsBuiltTreeUnderEveryFilter() {
        QFETCH(uint32_t, flags);
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        QCOMPARE(WidgetTreeText(view), EntriesText(BuildStructureTree(m_doc, SHOW_ALL)));
        view.topLevelItem(1)->child(0)->setExpanded(false);
        view.topLevelItem(0)->child(0)->setExpanded(true);
        view.setCurrentItem(view.topLevelItem(1)->child(0));
        for (const uint32_t id : kShowCommands) {
            view.OnShowCommand(id);
            if (IsShowFlagChecked(view.ShowFlags(), id) != IsShowFlagChecked(flags, id)) {
                view.OnShowCommand(id);
            }
        }
        QCOMPARE(view.ShowFlags() & 0x7F, flags & 0x7F);
        QCOMPARE(WidgetTreeText(view), EntriesText(BuildStructureTree(m_doc, view.ShowFlags())));
        QVERIFY(view.selectedItems().isEmpty());
    }

    // The entries a listing holds (depth, text, "obj" for an object's) as
    // tests/data/gui/listed_entries.txt lists them: the materials collapsed, then the first open.
    void listedEntriesFollowExpansion() {
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        QString strListing;
        for (const bool bExpanded : {false, true}) {
            view.topLevelItem(0)->child(0)->setExpanded(bExpanded);
            for (const auto& line : view.ListedEntries()) {
                const QVariant object = line.pItem->data(0, CMorv3dViewerView::kObjectRole);
                strListing +=
                    QStringLiteral("%1 %2%3\n")
                        .arg(line.nDepth)
                        .arg(line.pItem->text(0), object.value<void*>() != nullptr ? "\tobj" : "");
            }
            strListing += QStringLiteral("--\n");
        }
        QCOMPARE(strListing, ExpectedData(QStringLiteral("gui/listed_entries.txt"), strListing));
    }

    // Entries wider than the view scroll sideways instead of being cut off.
    void deepEntriesScrollSideways() {
        CMorv3dViewerView view(&m_doc);
        view.OnInitialUpdate();
        view.expandAll();
        view.resize(100, 400);
        view.show();
        QTRY_VERIFY(view.horizontalScrollBar()->maximum() > 0);
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
