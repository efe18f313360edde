#include "catalogtreeview.h"

#include <QStyleFactory>
#include <QStyledItemDelegate>

#include "catalogtreemodel.h"

namespace tslcat {

namespace {

// Rows are 16 pixels high, as the icons; a selected node shows its
// SelectedIndex icon (an open folder for folders).
class TNodeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(qMax(16, option.fontMetrics.height() + 2));
        return size;
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->state & QStyle::State_Selected) {
            const QIcon selected = index.data(TCatalogTreeModel::kSelectedIconRole).value<QIcon>();
            if (!selected.isNull())
                option->icon = selected;
        }
    }
};

} // namespace

TCatalogTreeView::TCatalogTreeView(QWidget *parent) : QTreeView(parent)
{
    // The Windows style draws dotted connecting lines and boxed +/- buttons
    // on every platform; the desktop style may draw neither.
    if (QStyle *lines = QStyleFactory::create(QStringLiteral("Windows"))) {
        lines->setParent(this);
        setStyle(lines);
    }
    setItemDelegate(new TNodeDelegate(this));
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setUniformRowHeights(true);
    setIndentation(19);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setContextMenuPolicy(Qt::CustomContextMenu);

    // The selection is not shown while another control has the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Base));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::Text));
    setPalette(p);
}

bool TCatalogTreeView::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // Only requests to start editing are asked about; the view also calls
    // edit() for other triggers to see whether one applies.
    if (index.isValid() && state() != EditingState && (editTriggers() & trigger || trigger == AllEditTriggers)) {
        auto *model = qobject_cast<TCatalogTreeModel *>(this->model());
        TCatalogNode *node = model ? model->NodeAt(index) : nullptr;
        bool allowEdit = OnEditing != nullptr;
        if (node && OnEditing)
            OnEditing(node, allowEdit);
        if (!allowEdit)
            return false;
    }
    return QTreeView::edit(index, trigger, event);
}

} // namespace tslcat
