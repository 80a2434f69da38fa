#include "CPortTable.h"

#include <QHeaderView>

#include "CCheckBoxHeaderView.h"

CPortTable::CPortTable(QWidget *parent)
    : QTableWidget(parent)
{
    verticalHeader()->hide();
}

void CPortTable::setCheckHeader(CCheckBoxHeaderView *header)
{
    m_header = header;
    setHorizontalHeader(header);
}

void CPortTable::renumber()
{
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i) {
        const QString number = QString::number(i + 1);
        QTableWidgetItem *cell = item(i, NumberColumn);
        if (!cell)
            setItem(i, NumberColumn, new QTableWidgetItem(number));
        else if (cell->text() != number)
            cell->setText(number);
    }
}

void CPortTable::sortByColumn(int column, Qt::SortOrder order)
{
    if (m_header && !m_header->isSortable(column))
        return;
    QTableWidget::sortByColumn(column, order);
    if (m_numbering)
        renumber();
}

void CPortTable::slot_setAllChecked(bool checked)
{
    const Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i) {
        if (QTableWidgetItem *cell = item(i, CheckColumn))
            cell->setCheckState(state);
    }
}

void CPortTable::paintEvent(QPaintEvent *event)
{
    // Numbers follow the rows' current order, whatever sorted them.
    if (m_numbering)
        renumber();
    QTableWidget::paintEvent(event);
}
