// TResultListModel: the rows of ListView1 ("On CD", the name, "FullPath",
// "Size", "Modified").
// A search hands over its hits in one piece, so a search with a million hits
// costs one model reset, not a million insertions.  Hits are node references
// (TResultList): a row's texts are built when the view asks for them, and
// the window calls Detach() before anything changes the tree.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "catalog_search.h"
#include "result_list.h"

namespace tslcat {

class TResultListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TResultListModel(QObject *parent = nullptr);

    // Replaces the rows.
    void SetRows(const std::vector<TResultRow> &rows);
    // Replaces the rows with light hits of the window's tree.
    void SetNodes(std::vector<const TCatalogNode *> nodes);
    void SetList(TResultList list);
    void Clear();
    // Copies the hits out of the tree: call before the tree changes.
    void Detach() { m_list.Detach(); }
    // The row, built on demand; nullptr outside the list.  Held, it stays
    // valid whatever happens to the list afterwards.
    std::shared_ptr<const TResultRow> Row(int row) const;
    int Count() const { return int(m_list.Size()); }
    // The rows in their current order (tree order until sorted).
    const TResultList &List() const { return m_list; }

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
    TResultList m_list;
    QString m_nameCaption;
};

} // namespace tslcat
