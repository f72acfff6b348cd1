#include "KTTableRecordDataModel.h"

#include <QFont>

namespace {

const QColor nameColour(104, 72, 101);
const QColor textColour(50, 55, 95);
const QColor totalsLabelColour(143, 62, 81);
constexpr int TotalsLabelColumn = 2;
constexpr int TotalColumn = 14;

void setFont(QStandardItem* item, bool bold, bool italic)
{
    QFont font = item->font();
    font.setBold(bold);
    font.setItalic(italic);
    item->setFont(font);
}

} // namespace

KTTableRecordDataModel::KTTableRecordDataModel(QObject* parent)
    : QStandardItemModel(0, ColumnCount, parent)
{
}

void KTTableRecordDataModel::reset(const QStringList& headers, const QStringList& toolTips)
{
    removeRows(0, rowCount());
    setColumnCount(ColumnCount);
    for (int column = 0; column < ColumnCount; ++column) {
        auto* header = new QStandardItem(headers.value(column));
        header->setToolTip(toolTips.value(column));
        setHorizontalHeaderItem(column, header);
    }
}

void KTTableRecordDataModel::appendTableRow(const QStringList& values, const QString& description)
{
    QList<QStandardItem*> cells;
    for (int column = 0; column < ColumnCount; ++column)
        cells << tableCell(column, values.value(column));
    cells.at(TableNameColumn)->setToolTip(description);
    appendRow(cells);
}

void KTTableRecordDataModel::appendTotalsRow()
{
    QList<qint32> sums(StatisticCount, 0);
    for (int row = 0; row < rowCount(); ++row)
        for (int i = 0; i < StatisticCount; ++i)
            sums[i] += item(row, FirstStatisticColumn + i)->text().toInt();

    QList<QStandardItem*> cells;
    for (int column = 0; column < ColumnCount; ++column) {
        QString text;
        if (column == TotalsLabelColumn)
            text = tr("TOTAL REGISTROS :");
        else if (column >= FirstStatisticColumn)
            text = QString::number(sums.at(column - FirstStatisticColumn));
        cells << totalsCell(column, text);
    }
    appendRow(cells);
}

int KTTableRecordDataModel::tableRow(const QString& tableName) const
{
    for (int row = 0; row < totalsRow(); ++row)
        if (item(row, TableNameColumn)->text() == tableName)
            return row;
    return -1;
}

void KTTableRecordDataModel::applyModifiers(int row, const QList<int>& modifiers)
{
    for (int target : {row, totalsRow()}) {
        for (int i = 0; i < StatisticCount; ++i) {
            QStandardItem* cell = item(target, FirstStatisticColumn + i);
            cell->setText(QString::number(cell->text().toInt() + modifiers.value(i)));
        }
    }
}

QStringList KTTableRecordDataModel::statistics(int row) const
{
    QStringList values;
    for (int i = 0; i < StatisticCount; ++i)
        values << item(row, FirstStatisticColumn + i)->text();
    return values;
}

QList<quint64> KTTableRecordDataModel::mainStatistics(int row) const
{
    QList<quint64> values;
    for (int column : {14, 15, 16, 17, 11, 12, 13})
        // A counter driven below zero by deltas reads as none, not as 2^64 - 1.
        values << quint64(qMax<qint64>(0, item(row, column)->text().toLongLong()));
    return values;
}

QStandardItem* KTTableRecordDataModel::tableCell(int column, const QString& text) const
{
    auto* cell = new QStandardItem(text);
    if (column == TableNameColumn) {
        cell->setForeground(nameColour);
        setFont(cell, true, false);
    } else if (column >= 2) {
        cell->setForeground(textColour);
        setFont(cell, column == TotalColumn, column == 2 || column == 3);
    }
    if (column == 3)
        cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    else if (column >= FirstStatisticColumn)
        cell->setTextAlignment(Qt::AlignCenter);
    return cell;
}

QStandardItem* KTTableRecordDataModel::totalsCell(int column, const QString& text) const
{
    auto* cell = new QStandardItem(text);
    if (column == TotalsLabelColumn) {
        cell->setForeground(totalsLabelColour);
        cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setFont(cell, true, true);
    } else if (column >= FirstStatisticColumn) {
        cell->setForeground(textColour);
        cell->setTextAlignment(Qt::AlignCenter);
        setFont(cell, true, column == TotalColumn);
    }
    return cell;
}

int KTTableRecordDataModel::totalsRow() const
{
    return rowCount() - 1;
}
