// TCatalogTreeView: the view of CatalogTree1.  A QTreeView that asks the
// window before an in-place edit starts, shows a node's selected icon while
// it is selected, and draws the classic connecting lines and +/- buttons.
#pragma once

#include <QTreeView>

#include <functional>

namespace tslcat {

class TCatalogNode;

class TCatalogTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit TCatalogTreeView(QWidget *parent = nullptr);
    using QTreeView::edit;

    // Asked before an in-place edit of `node` starts; clearing `allowEdit`
    // refuses it.
    std::function<void(TCatalogNode *node, bool &allowEdit)> OnEditing;
    // True while a name is being edited in place.
    bool IsEditingName() const { return state() == EditingState; }

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
};

} // namespace tslcat
