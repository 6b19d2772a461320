#include "morv3dViewerView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QStyleFactory>
#include <algorithm>
#include <vector>

#include "abstractdata/codepage.h"
#include "pictures.h"
#include "resource.h"
#include "viewer/document.h"

namespace {

// An entry answers the model's questions from the built tree's entry, which the view keeps
// until the next rebuild: a tree of 100,000 entries is rebuilt on every toggle, and the base
// class would hold every value in a list of variants; labels are decoded only when shown.
class CTreeItem final : public QTreeWidgetItem {
public:
    CTreeItem(const StructureTreeEntry* pEntry, const QList<QIcon>* pImages)
        : QTreeWidgetItem(UserType), m_pEntry(pEntry), m_pImages(pImages) {}

    QVariant data(int nColumn, int nRole) const override;
    const StructureTreeEntry* Entry() const { return m_pEntry; }

private:
    const StructureTreeEntry* m_pEntry;
    const QList<QIcon>* m_pImages;
};

QString DecodeLabel(std::string_view strLabel) {
    // Windows-1252 agrees with ASCII, and most labels are ASCII.
    for (const char c : strLabel) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return QString::fromStdString(Windows1252ToUtf8(strLabel));
        }
    }
    return QString::fromLatin1(strLabel.data(), static_cast<qsizetype>(strLabel.size()));
}

QVariant CTreeItem::data(int nColumn, int nRole) const {
    if (nColumn == 0) {
        const int nImage = (m_pEntry->nImage >= 0 && m_pEntry->nImage < m_pImages->size())
                               ? m_pEntry->nImage
                               : TREEIMAGE_BLANK;
        switch (nRole) {
            case Qt::DisplayRole:
                return DecodeLabel(m_pEntry->strLabel);
            case Qt::DecorationRole:
                return (*m_pImages)[nImage];
            case CMorv3dViewerView::kImageRole:
                return nImage;
            case CMorv3dViewerView::kObjectRole:
                return m_pEntry->pItemData != nullptr
                           ? QVariant::fromValue(static_cast<void*>(m_pEntry->pItemData))
                           : QVariant();
            default:
                break;
        }
    }
    return QTreeWidgetItem::data(nColumn, nRole);
}

}  // namespace

CMorv3dViewerView::CMorv3dViewerView(CMorv3dViewerDoc* pDocument, QWidget* pParent)
    : QTreeWidget(pParent), m_pDocument(pDocument), m_imageList(TreeImageList()) {
    setColumnCount(1);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setAnimated(false);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    // The one column is as wide as its widest shown entry: deep entries scroll sideways
    // instead of being cut off.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // A double click on an object entry fits the 3D view (the frame); only entries without an
    // object open and close with it.
    setExpandsOnDoubleClick(false);
}

CMorv3dViewerView::~CMorv3dViewerView() {
    // The items read m_tree and the image list, which go before the base class's destructor.
    clear();
    // The widget must not keep a style that is about to go.
    if (m_pLineStyle) {
        setStyle(nullptr);
    }
}

void CMorv3dViewerView::OnInitialUpdate() {
    // Expand buttons, lines, and both at the root level.
    setRootIsDecorated(true);
    setItemsExpandable(true);
    if (!m_pLineStyle) {
        m_pLineStyle.reset(QStyleFactory::create(QStringLiteral("Windows")));
        if (m_pLineStyle) {
            setStyle(m_pLineStyle.get());
        }
    }
    OnUpdate();
}

void CMorv3dViewerView::OnUpdate() {
    Populate(BuildStructureTree(*m_pDocument, _dwShowFlags));
}

void CMorv3dViewerView::OnShowCommand(uint32_t dwCommandId) {
    // The selection survives the rebuild: the same object, or its nearest shown ancestor.
    CQVR3DObject* pSelected = nullptr;
    for (const QTreeWidgetItem* pItem = currentItem(); pItem != nullptr && pSelected == nullptr;
         pItem = pItem->parent()) {
        pSelected = static_cast<CQVR3DObject*>(pItem->data(0, kObjectRole).value<void*>());
    }
    _dwShowFlags = FlipShowFlag(_dwShowFlags, dwCommandId);
    OnUpdate();
    if (pSelected != nullptr) {
        SelectObject(pSelected);
    }
}

int CMorv3dViewerView::EntryOf(const QTreeWidgetItem* pItem) const {
    if (pItem == nullptr || m_tree.entries.empty()) {
        return -1;
    }
    // Every item of this view is a CTreeItem of the kept tree.
    if (pItem->type() != QTreeWidgetItem::UserType) {
        return -1;
    }
    return static_cast<int>(static_cast<const CTreeItem*>(pItem)->Entry() - m_tree.entries.data());
}

QTreeWidgetItem* CMorv3dViewerView::ItemOf(int nEntry) const {
    return nEntry >= 0 && static_cast<size_t>(nEntry) < m_items.size() ? m_items[nEntry] : nullptr;
}

bool CMorv3dViewerView::SelectObject(CQVR3DObject* pObject) {
    for (CQVR3DObject* p = pObject; p != nullptr; p = p->GetParent()) {
        const auto found = m_entryOfObject.constFind(p);
        if (found != m_entryOfObject.constEnd()) {
            QTreeWidgetItem* pItem = m_items[static_cast<size_t>(found.value())];
            for (QTreeWidgetItem* pUp = pItem->parent(); pUp != nullptr; pUp = pUp->parent()) {
                pUp->setExpanded(true);
            }
            setCurrentItem(pItem);
            scrollToItem(pItem);
            return true;
        }
    }
    return false;
}

void CMorv3dViewerView::Populate(StructureTree tree) {
    const bool bUpdates = updatesEnabled();
    setUpdatesEnabled(false);
    // The old items read the old tree: they go first.
    clear();
    m_tree = std::move(tree);
    m_items.clear();
    m_entryOfObject.clear();
    m_items.reserve(m_tree.entries.size());

    // Items are built detached and inserted at once: each insertion into a shown tree would
    // notify the model.
    QList<QTreeWidgetItem*> roots;
    std::vector<QTreeWidgetItem*> path;  // the last item at each depth
    std::vector<QTreeWidgetItem*> expanded;
    const std::vector<StructureTreeEntry>& entries = m_tree.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const StructureTreeEntry& entry = entries[i];
        auto* pItem = new CTreeItem(&entry, &m_imageList);
        m_items.push_back(pItem);
        if (entry.pItemData != nullptr) {
            m_entryOfObject.insert(entry.pItemData, static_cast<int>(i));
        }
        // Leaves say so: the view then skips its expanded-state lookups for them.
        if (i + 1 == entries.size() || entries[i + 1].dwDepth <= entry.dwDepth) {
            pItem->setFlags(pItem->flags() | Qt::ItemNeverHasChildren);
        }
        const size_t nDepth = std::min<size_t>(entry.dwDepth, path.size());
        if (nDepth == 0) {
            roots.append(pItem);
        } else {
            path[nDepth - 1]->addChild(pItem);
        }
        path.resize(nDepth + 1);
        path[nDepth] = pItem;
        if (entry.bExpanded) {
            expanded.push_back(pItem);
        }
    }
    addTopLevelItems(roots);
    for (QTreeWidgetItem* pItem : expanded) {
        if (pItem->childCount() > 0) {
            pItem->setExpanded(true);
        }
    }
    setUpdatesEnabled(bUpdates);
    emit showFlagsChanged(_dwShowFlags);
    emit treeRebuilt();
}

void CMorv3dViewerView::keyPressEvent(QKeyEvent* pEvent) {
    // Copying is a command of the frame (the object's path); the tree must not copy on its own.
    if (pEvent->matches(QKeySequence::Copy)) {
        pEvent->ignore();
        return;
    }
    QTreeWidget::keyPressEvent(pEvent);
}

std::vector<CMorv3dViewerView::ListedEntry> CMorv3dViewerView::ListedEntries() const {
    std::vector<ListedEntry> lines;
    std::vector<ListedEntry> stack;
    for (int i = topLevelItemCount() - 1; i >= 0; --i) {
        stack.push_back({0, topLevelItem(i)});
    }
    while (!stack.empty()) {
        const ListedEntry line = stack.back();
        stack.pop_back();
        lines.push_back(line);
        if (line.pItem->isExpanded()) {
            for (int i = line.pItem->childCount() - 1; i >= 0; --i) {
                stack.push_back({line.nDepth + 1, line.pItem->child(i)});
            }
        }
    }
    return lines;
}

int CMorv3dViewerView::Print(QPagedPaintDevice* pDevice, const QString& strTitle) {
    const std::vector<ListedEntry> lines = ListedEntries();
    QPainter painter;
    if (!painter.begin(pDevice)) {
        return 0;
    }
    const QRect page = pDevice->pageLayout().paintRectPixels(pDevice->logicalDpiX());
    QFont font = this->font();
    font.setPointSizeF(10.0);
    painter.setFont(font);
    const QFontMetrics metrics(font, pDevice);
    const double dScale = pDevice->logicalDpiY() / 96.0;
    const int nIcon = static_cast<int>(16 * dScale);
    const int nLineHeight = std::max(metrics.height(), nIcon) + static_cast<int>(2 * dScale);
    const int nIndent = static_cast<int>(20 * dScale);
    const int nHeaderHeight = 2 * nLineHeight;
    const int nLinesPerPage = std::max(1, (page.height() - 2 * nHeaderHeight) / nLineHeight);
    const int nPages =
        std::max<int>(1, (static_cast<int>(lines.size()) + nLinesPerPage - 1) / nLinesPerPage);

    for (int nPage = 0; nPage < nPages; ++nPage) {
        if (nPage > 0) {
            pDevice->newPage();
        }
        // The device's origin is the paint rectangle's corner already.
        const QRect area(0, 0, page.width(), page.height());
        painter.drawText(QRect(area.left(), area.top(), area.width(), nLineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, strTitle);
        painter.drawText(QRect(area.left(), area.bottom() - nLineHeight, area.width(), nLineHeight),
                         Qt::AlignHCenter | Qt::AlignVCenter,
                         tr("Seite %1 von %2").arg(nPage + 1).arg(nPages));
        const size_t nFirst = static_cast<size_t>(nPage) * static_cast<size_t>(nLinesPerPage);
        const size_t nEnd = std::min(lines.size(), nFirst + static_cast<size_t>(nLinesPerPage));
        int y = area.top() + nHeaderHeight;
        for (size_t i = nFirst; i < nEnd; ++i) {
            const int x = area.left() + lines[i].nDepth * nIndent;
            const QTreeWidgetItem* pItem = lines[i].pItem;
            const QPixmap icon = pItem->icon(0).pixmap(16, 16);
            painter.drawPixmap(QRect(x, y + (nLineHeight - nIcon) / 2, nIcon, nIcon), icon);
            painter.drawText(QRect(x + nIcon + nIcon / 3, y, area.right() - x, nLineHeight),
                             Qt::AlignLeft | Qt::AlignVCenter, pItem->text(0));
            y += nLineHeight;
        }
    }
    painter.end();
    return nPages;
}
