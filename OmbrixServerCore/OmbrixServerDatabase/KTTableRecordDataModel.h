#ifndef KTTABLERECORDDATAMODEL_H
#define KTTABLERECORDDATAMODEL_H

#include <QList>
#include <QStandardItemModel>
#include <QStringList>

// The per-table statistics as the control panel shows them: one row per row of
// the statistics table (key, table name, alias, version, fourteen counters)
// and a last row of totals. Counters change only through delta lists.
class KTTableRecordDataModel : public QStandardItemModel
{
    Q_OBJECT
public:
    enum Column { KeyColumn = 0, TableNameColumn = 1, FirstStatisticColumn = 4, ColumnCount = 18 };
    static constexpr int StatisticCount = 14;

    explicit KTTableRecordDataModel(QObject* parent = nullptr);

    // Removes every row and labels the columns.
    void reset(const QStringList& headers, const QStringList& toolTips);
    // values: the 18 column texts of one statistics row.
    void appendTableRow(const QStringList& values, const QString& description);
    void appendTotalsRow();

    // The row of a table, or -1; the totals row is never a table's row.
    int tableRow(const QString& tableName) const;
    // Adds the deltas to the table's row and to the totals row.
    void applyModifiers(int row, const QList<int>& modifiers);

    QStringList statistics(int row) const;
    // Total, inserts, deletes, edits and the three visibility counters.
    QList<quint64> mainStatistics(int row) const;

private:
    QStandardItem* tableCell(int column, const QString& text) const;
    QStandardItem* totalsCell(int column, const QString& text) const;
    int totalsRow() const;
};

#endif
