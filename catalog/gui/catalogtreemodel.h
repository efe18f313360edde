// TCatalogTreeModel: the catalog tree (TCatalogTree) as a Qt item model for
// CatalogTree1.  The tree stays the only store; the model holds no copy.
// Every query is constant time (a node knows its parent and its row), so a
// catalog of millions of nodes costs nothing until rows are shown.
//
// While the tree is inside BeginUpdate/EndUpdate (loading, adding a disc)
// the model freezes its top level: the discs appended meanwhile stay
// invisible to the view, which may repaint between steps, and appear in one
// insertion when the update ends.  Changes below discs the view already
// knows are passed on as they happen.
#pragma once

#include <QAbstractItemModel>

#include "catalog_tree.h"

namespace tslcat {

class SystemIconList;

class TCatalogTreeModel final : public QAbstractItemModel, private ICatalogTreeObserver {
    Q_OBJECT
public:
    // Installs itself as the tree's observer; `icons` supplies the
    // decorations.  Neither is owned.
    TCatalogTreeModel(TCatalogTree &tree, SystemIconList &icons, QObject *parent = nullptr);
    ~TCatalogTreeModel() override;

    TCatalogNode *NodeAt(const QModelIndex &index) const;
    QModelIndex IndexOf(TCatalogNode *node) const; // invalid for nullptr

    // The icon of a node's SelectedIndex, which the view shows while the
    // node is selected.
    static constexpr int kSelectedIconRole = Qt::UserRole + 1;

    // True while the tree is inside an insertion, removal or clear: the
    // view's own reactions (a new current row) must wait until it is done.
    bool ChangingStructure() const { return m_insertPending || m_removePending || m_resetPending; }

    // Called when the user confirms an in-place edit with the new bytes;
    // without one, edits are refused.
    std::function<void(TCatalogNode *, const std::string &)> OnEdited;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // The tree expanded or collapsed a node itself (load, last child
    // removed); the view should follow.
    void ExpandRequested(const QModelIndex &index, bool expanded);
    // The tree's current node changed outside the view.
    void CurrentRequested(const QModelIndex &index);

private:
    // ICatalogTreeObserver
    void NodeAboutToBeInserted(TCatalogNode *parent, int row) override;
    void NodeInserted(TCatalogNode *node) override;
    void NodeAboutToBeRemoved(TCatalogNode *parent, int row) override;
    void NodeRemoved(TCatalogNode *parent, int row) override;
    void AboutToBeCleared() override;
    void Cleared() override;
    void NodeChanged(TCatalogNode *node) override;
    void NodeExpandedChanged(TCatalogNode *node, bool expanded) override;
    void CurrentChanged(TCatalogNode *node) override;
    void UpdateBegun() override;
    void UpdateEnded() override;

    // Whether the view knows `node` (nullptr, the root, always).
    bool Visible(const TCatalogNode *node) const;
    int TopRows() const;

    TCatalogTree &m_tree;
    SystemIconList &m_icons;
    bool m_frozen = false;
    int m_frozenTopRows = 0;      // top-level rows the view knows while frozen
    bool m_insertPending = false; // a begin*Rows is open
    bool m_removePending = false;
    bool m_resetPending = false;
};

} // namespace tslcat
