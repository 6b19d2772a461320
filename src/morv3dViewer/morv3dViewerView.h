// The structure view: a tree widget that shows BuildStructureTree's entries, rebuilt in full
// on every initial update and every filter toggle.
#pragma once

#include <QHash>
#include <QList>
#include <QTreeWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "viewer/structuretree.h"

class CMorv3dViewerDoc;
class QPagedPaintDevice;
class QStyle;

class CMorv3dViewerView : public QTreeWidget {
    Q_OBJECT

public:
    // Item data roles: the scene object of an object entry (void*) and the image index (int).
    static constexpr int kObjectRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;

    explicit CMorv3dViewerView(CMorv3dViewerDoc* pDocument, QWidget* pParent = nullptr);
    ~CMorv3dViewerView() override;

    CMorv3dViewerDoc* GetDocument() const { return m_pDocument; }
    const QList<QIcon>& ImageList() const { return m_imageList; }
    uint32_t ShowFlags() const { return _dwShowFlags; }

    // After a document was created or opened.
    void OnInitialUpdate();
    // Full rebuild from the document.
    void OnUpdate();
    // A filter command: flips its bit and rebuilds.
    void OnShowCommand(uint32_t dwCommandId);

    // Hands a built tree to the widget (OnUpdate's second half); the view keeps it.
    void Populate(StructureTree tree);

    const StructureTree& Tree() const { return m_tree; }
    // The entry an item shows; -1 for none.
    int EntryOf(const QTreeWidgetItem* pItem) const;
    QTreeWidgetItem* ItemOf(int nEntry) const;
    // Makes the entry of the object current (or, where the filters hide it, the nearest shown
    // ancestor's), its branch expanded and scrolled into view. False when none is shown.
    bool SelectObject(CQVR3DObject* pObject);

    // The entries as the tree lists them: pre-order, children of collapsed entries left out.
    struct ListedEntry {
        int nDepth;
        QTreeWidgetItem* pItem;
    };
    std::vector<ListedEntry> ListedEntries() const;

    // Prints the entries as listed (indent, icon, label), collapsed branches left out, with
    // the title and the page number on each page. Returns the number of pages.
    int Print(QPagedPaintDevice* pDevice, const QString& strTitle);

signals:
    void showFlagsChanged(uint32_t dwShowFlags);
    // The items were made anew: whatever held rows or items of the old tree must look again.
    void treeRebuilt();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    CMorv3dViewerDoc* m_pDocument;
    QList<QIcon> m_imageList;
    uint32_t _dwShowFlags = SHOW_ALL;
    StructureTree m_tree;                   // what the items show
    std::vector<QTreeWidgetItem*> m_items;  // the item of each entry
    QHash<const void*, int> m_entryOfObject;
    // Draws the branch lines (the default style on Linux draws none); set on this widget only.
    std::unique_ptr<QStyle> m_pLineStyle;
};
