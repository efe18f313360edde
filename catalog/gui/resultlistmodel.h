// TResultListModel: the rows of ListView1 ("On CD", the name, "FullPath",
// "Size", "Modified").
// A search hands over its finished rows in one piece, so a search with a
// million hits costs one model reset, not a million insertions.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "catalog_search.h"

namespace tslcat {

class TResultListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TResultListModel(QObject *parent = nullptr);

    // Replaces the rows.  The old ones are freed on a pool thread when there
    // are many of them.
    void SetRows(std::vector<TResultRow> rows);
    static constexpr size_t kFreeInBackground = 10000;
    void Clear();
    const TResultRow *Row(int row) const; // nullptr outside the list
    int Count() const { return int(m_rows.size()); }
    // The rows in their current order (tree order until sorted).
    const std::vector<TResultRow> &Rows() const { return m_rows; }

    enum Column { kDiscColumn, kNameColumn, kPathColumn, kSizeColumn, kModifiedColumn, kColumnCount };
    // Sorts the rows by a column, stably; unknown sizes and times count as
    // the smallest values, names compare as bytes.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Column 1's caption changes with each search's kind.
    void SetNameColumnCaption(const QString &caption);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    std::vector<TResultRow> m_rows;
    QString m_nameCaption;
};

} // namespace tslcat
