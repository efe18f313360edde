#include "resultlistmodel.h"

#include "catalog_names.h"

#include <QThreadPool>

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
    return parent.isValid() ? 0 : 3;
}

QVariant TResultListModel::data(const QModelIndex &index, int role) const
{
    const TResultRow *row = index.isValid() ? Row(index.row()) : nullptr;
    if (!row || role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case 0:
        return DecodeName(row->discName);
    case 1:
        return row->IsDiscRow() ? QVariant() : QVariant(DecodeName(row->nodeName));
    case 2:
        return row->IsDiscRow() ? QVariant() : QVariant(DecodeName(row->fullPath));
    default:
        return QVariant();
    }
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
    default:
        return QVariant();
    }
}

Qt::ItemFlags TResultListModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

} // namespace tslcat
