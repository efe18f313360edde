#include "resultlistmodel.h"

#include "catalog_names.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <memory>

namespace tslcat {

TResultListModel::TResultListModel(QObject *parent)
    : QAbstractTableModel(parent), m_nameCaption(QStringLiteral("Filename/Folder"))
{
}

void TResultListModel::SetRows(const std::vector<TResultRow> &rows)
{
    SetList(TResultList(rows));
}

void TResultListModel::SetNodes(std::vector<const TCatalogNode *> nodes)
{
    SetList(TResultList(std::move(nodes)));
}

void TResultListModel::SetList(TResultList list)
{
    // Either form of the list frees in a few large blocks (the copies share
    // one name store), so a million old rows go at once.
    beginResetModel();
    m_list = std::move(list);
    endResetModel();
}

void TResultListModel::Clear()
{
    SetList(TResultList());
}

std::shared_ptr<const TResultRow> TResultListModel::Row(int row) const
{
    if (row < 0)
        return nullptr;
    return m_list.Row(size_t(row));
}

void TResultListModel::SetNameColumnCaption(const QString &caption)
{
    m_nameCaption = caption;
    emit headerDataChanged(Qt::Horizontal, 1, 1);
}

int TResultListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

int TResultListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TResultListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return index.column() == kSizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    // Rows are built on demand: none for the roles without a value.
    const bool sizeTip = role == Qt::ToolTipRole && index.column() == kSizeColumn;
    if (role != Qt::DisplayRole && !sizeTip)
        return QVariant();
    const std::shared_ptr<const TResultRow> row = Row(index.row());
    if (!row)
        return QVariant();
    if (sizeTip)
        return row->size == kUnknownSize
            ? QVariant()
            : QVariant(QStringLiteral("%1 bytes").arg(QLocale().toString(static_cast<qulonglong>(row->size))));
    switch (index.column()) {
    case 0:
        return DecodeName(row->discName);
    case 1:
        return row->IsDiscRow() ? QVariant() : QVariant(DecodeName(row->nodeName));
    case 2:
        return row->IsDiscRow() ? QVariant() : QVariant(DecodeName(row->fullPath));
    case kSizeColumn:
        return row->size == kUnknownSize ? QVariant() : QVariant(QLocale().formattedDataSize(qint64(row->size)));
    case kModifiedColumn:
        return row->modifiedTime == kUnknownTime
            ? QVariant()
            : QVariant(QLocale().toString(QDateTime::fromSecsSinceEpoch(row->modifiedTime).toLocalTime(),
                                          QLocale::ShortFormat));
    default:
        return QVariant();
    }
}

void TResultListModel::sort(int column, Qt::SortOrder order)
{
    static const TResultField kFields[kColumnCount] = {TResultField::Disc, TResultField::Name, TResultField::Path,
                                                       TResultField::Size, TResultField::Modified};
    if (column < 0 || column >= kColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<size_t> newRowOf = m_list.Sort(kFields[column], order == Qt::AscendingOrder);
    // Selections and the current row follow their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex &index : before)
        after.append(this->index(int(newRowOf[size_t(index.row())]), index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QVariant TResultListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case 0:
        return QStringLiteral("On CD");
    case 1:
        return m_nameCaption;
    case 2:
        return QStringLiteral("FullPath");
    case kSizeColumn:
        return QStringLiteral("Size");
    case kModifiedColumn:
        return QStringLiteral("Modified");
    default:
        return QVariant();
    }
}

Qt::ItemFlags TResultListModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

} // namespace tslcat
