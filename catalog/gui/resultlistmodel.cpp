#include "resultlistmodel.h"

#include "catalog_names.h"

#include <QDateTime>
#include <QLocale>
#include <QThreadPool>

#include <algorithm>
#include <memory>

namespace tslcat {

TResultListModel::TResultListModel(QObject *parent)
    : QAbstractTableModel(parent), m_nameCaption(QStringLiteral("Filename/Folder"))
{
}

void TResultListModel::SetRows(std::vector<TResultRow> rows)
{
    beginResetModel();
    std::vector<TResultRow> old;
    old.swap(m_rows);
    m_rows = std::move(rows);
    endResetModel();
    // Freeing a million rows takes longer than a search's time slice; the
    // rows are plain strings, so a pool thread can free them while the
    // window goes on.
    if (old.size() >= kFreeInBackground) {
        auto garbage = std::make_shared<std::vector<TResultRow>>(std::move(old));
        QThreadPool::globalInstance()->start([garbage] { std::vector<TResultRow>().swap(*garbage); });
    }
}

void TResultListModel::Clear()
{
    SetRows({});
}

const TResultRow *TResultListModel::Row(int row) const
{
    if (row < 0 || row >= Count())
        return nullptr;
    return &m_rows[size_t(row)];
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
    const TResultRow *row = index.isValid() ? Row(index.row()) : nullptr;
    if (!row)
        return QVariant();
    if (role == Qt::ToolTipRole && index.column() == kSizeColumn && row->size != kUnknownSize)
        return QStringLiteral("%1 bytes").arg(QLocale().toString(static_cast<qulonglong>(row->size)));
    if (role == Qt::TextAlignmentRole && index.column() == kSizeColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
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
    auto less = [column](const TResultRow &a, const TResultRow &b) {
        switch (column) {
        case kDiscColumn:
            return a.discName < b.discName;
        case kNameColumn:
            return a.nodeName < b.nodeName;
        case kPathColumn:
            return a.fullPath < b.fullPath;
        case kSizeColumn:
            // kUnknownSize is the largest value: make it the smallest.
            return a.size + 1 < b.size + 1;
        case kModifiedColumn:
            return a.modifiedTime < b.modifiedTime; // kUnknownTime is the smallest already
        default:
            return false;
        }
    };
    if (column < 0 || column >= kColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order_(m_rows.size());
    for (size_t i = 0; i < order_.size(); ++i)
        order_[i] = int(i);
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
        return order == Qt::AscendingOrder ? less(m_rows[size_t(a)], m_rows[size_t(b)])
                                           : less(m_rows[size_t(b)], m_rows[size_t(a)]);
    });
    std::vector<TResultRow> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRowOf(m_rows.size());
    for (size_t i = 0; i < order_.size(); ++i) {
        sorted.push_back(std::move(m_rows[size_t(order_[i])]));
        newRowOf[size_t(order_[i])] = int(i);
    }
    m_rows = std::move(sorted);
    // Selections and the current row follow their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex &index : before)
        after.append(this->index(newRowOf[size_t(index.row())], index.column()));
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
