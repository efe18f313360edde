#include "catalogtreemodel.h"

#include <QLocale>

#include "catalog_names.h"
#include "node_values.h"
#include "systemiconlist.h"

namespace tslcat {

TCatalogTreeModel::TCatalogTreeModel(TCatalogTree &tree, SystemIconList &icons, QObject *parent)
    : QAbstractItemModel(parent), m_tree(tree), m_icons(icons)
{
    m_tree.SetObserver(this);
}

TCatalogTreeModel::~TCatalogTreeModel()
{
    if (m_tree.Observer() == this)
        m_tree.SetObserver(nullptr);
}

TCatalogNode *TCatalogTreeModel::NodeAt(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<TCatalogNode *>(index.internalPointer()) : nullptr;
}

QModelIndex TCatalogTreeModel::IndexOf(TCatalogNode *node) const
{
    if (!node || !Visible(node))
        return QModelIndex();
    return createIndex(node->Index(), 0, node);
}

int TCatalogTreeModel::TopRows() const
{
    return m_frozen ? m_frozenTopRows : m_tree.Items().TopLevelCount();
}

bool TCatalogTreeModel::Visible(const TCatalogNode *node) const
{
    if (!node)
        return true;
    if (!m_frozen)
        return true;
    const TCatalogNode *disc = node;
    while (disc->Parent())
        disc = disc->Parent();
    return disc->Index() < m_frozenTopRows;
}

QModelIndex TCatalogTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return QModelIndex();
    if (!parent.isValid()) {
        if (row >= TopRows())
            return QModelIndex();
        return createIndex(row, 0, m_tree.Items().TopLevel(row));
    }
    TCatalogNode *parentNode = NodeAt(parent);
    if (row >= parentNode->Count())
        return QModelIndex();
    return createIndex(row, 0, parentNode->Child(row));
}

QModelIndex TCatalogTreeModel::parent(const QModelIndex &child) const
{
    TCatalogNode *node = NodeAt(child);
    if (!node)
        return QModelIndex();
    TCatalogNode *parentNode = node->Parent();
    if (!parentNode)
        return QModelIndex();
    return createIndex(parentNode->Index(), 0, parentNode);
}

int TCatalogTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    if (!parent.isValid())
        return TopRows();
    return NodeAt(parent)->Count();
}

int TCatalogTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool TCatalogTreeModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant TCatalogTreeModel::data(const QModelIndex &index, int role) const
{
    const TCatalogNode *node = NodeAt(index);
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return DecodeName(node->Text());
    case Qt::DecorationRole:
        return m_icons.Icon(node->ImageIndex());
    case kSelectedIconRole:
        return m_icons.Icon(node->SelectedIndex());
    case Qt::ToolTipRole: {
        if (node->Parent())
            return QVariant();
        // A disc's summary: its total size and how many files it holds.
        const uint64_t size = node->Size();
        const QString total = size == kUnknownSize
            ? QStringLiteral("unknown")
            : QStringLiteral("%1 (%2 bytes)")
                  .arg(QLocale().formattedDataSize(qint64(size)), QLocale().toString(qulonglong(size)));
        return QStringLiteral("Total size: %1\nFiles: %2")
            .arg(total, QLocale().toString(qlonglong(CountFilesBelow(*node))));
    }
    default:
        return QVariant();
    }
}

bool TCatalogTreeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    TCatalogNode *node = NodeAt(index);
    if (!node || role != Qt::EditRole || !OnEdited)
        return false;
    const QString typed = value.toString();
    // Confirming an unchanged name keeps its bytes, so a Windows-1252 name
    // is not turned into UTF-8 by merely looking at it.
    const std::string bytes = typed == DecodeName(node->Text()) ? std::string(node->Text()) : EncodeName(typed);
    OnEdited(node, bytes);
    return true;
}

Qt::ItemFlags TCatalogTreeModel::flags(const QModelIndex &index) const
{
    const TCatalogNode *node = NodeAt(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    if (!node->HasChildren())
        f |= Qt::ItemNeverHasChildren;
    return f;
}

// --- observer ---------------------------------------------------------------

void TCatalogTreeModel::NodeAboutToBeInserted(TCatalogNode *parent, int row)
{
    if (m_frozen && (!parent || !Visible(parent)))
        return;
    beginInsertRows(IndexOf(parent), row, row);
    m_insertPending = true;
}

void TCatalogTreeModel::NodeInserted(TCatalogNode *)
{
    if (m_insertPending) {
        endInsertRows();
        m_insertPending = false;
    }
}

void TCatalogTreeModel::NodeAboutToBeRemoved(TCatalogNode *parent, int row)
{
    if (m_frozen && (parent ? !Visible(parent) : row >= m_frozenTopRows))
        return;
    beginRemoveRows(IndexOf(parent), row, row);
    m_removePending = true;
}

void TCatalogTreeModel::NodeRemoved(TCatalogNode *parent, int)
{
    if (!m_removePending)
        return;
    if (m_frozen && !parent)
        --m_frozenTopRows;
    endRemoveRows();
    m_removePending = false;
}

void TCatalogTreeModel::AboutToBeCleared()
{
    m_resetPending = true;
    beginResetModel();
}

void TCatalogTreeModel::Cleared()
{
    m_frozenTopRows = 0;
    endResetModel();
    m_resetPending = false;
}

void TCatalogTreeModel::NodeChanged(TCatalogNode *node)
{
    if (!Visible(node))
        return;
    const QModelIndex i = IndexOf(node);
    emit dataChanged(i, i);
}

void TCatalogTreeModel::NodeExpandedChanged(TCatalogNode *node, bool expanded)
{
    if (Visible(node))
        emit ExpandRequested(IndexOf(node), expanded);
}

void TCatalogTreeModel::CurrentChanged(TCatalogNode *node)
{
    if (Visible(node))
        emit CurrentRequested(IndexOf(node));
}

void TCatalogTreeModel::UpdateBegun()
{
    m_frozen = true;
    m_frozenTopRows = m_tree.Items().TopLevelCount();
}

void TCatalogTreeModel::UpdateEnded()
{
    const int rows = m_tree.Items().TopLevelCount();
    if (rows > m_frozenTopRows) {
        beginInsertRows(QModelIndex(), m_frozenTopRows, rows - 1);
        m_frozen = false;
        endInsertRows();
    } else {
        m_frozen = false;
    }
}

} // namespace tslcat
