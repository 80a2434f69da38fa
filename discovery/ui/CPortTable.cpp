#include "CPortTable.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>

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

void CPortTable::setLazyCellWidgets(int column, CellFactory factory)
{
    m_lazyColumn = column;
    m_factory = std::move(factory);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CPortTable::scheduleEnsure,
            Qt::UniqueConnection);
    connect(model(), &QAbstractItemModel::layoutChanged, this, &CPortTable::scheduleEnsure, Qt::UniqueConnection);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, &CPortTable::scheduleEnsure, Qt::UniqueConnection);
}

void CPortTable::scheduleEnsure()
{
    if (m_ensurePending)
        return;
    m_ensurePending = true;
    QTimer::singleShot(0, this, [this] {
        m_ensurePending = false;
        ensureVisibleCellWidgets();
    });
}

void CPortTable::ensureVisibleCellWidgets()
{
    if (!m_factory || m_lazyColumn < 0)
        return;
    const int rows = rowCount();
    if (rows == 0)
        return;
    constexpr int Margin = 8;
    // Before the first layout no row is on screen; a page's worth is.
    constexpr int UnlaidRows = 40;
    int top = rowAt(0);
    int bottom = rowAt(viewport()->height() - 1);
    if (top < 0)
        top = 0;
    if (bottom < 0)
        bottom = isVisible() && viewport()->height() > 0 && rowViewportPosition(rows - 1) < viewport()->height()
            ? rows - 1
            : top + UnlaidRows;
    top = qMax(0, top - Margin);
    bottom = qMin(rows - 1, bottom + Margin);
    for (int r = top; r <= bottom; ++r) {
        if (!cellWidget(r, m_lazyColumn))
            setCellWidget(r, m_lazyColumn, m_factory(r));
    }
}

void CPortTable::resizeEvent(QResizeEvent *event)
{
    QTableWidget::resizeEvent(event);
    scheduleEnsure();
}

void CPortTable::paintEvent(QPaintEvent *event)
{
    // Numbers follow the rows' current order, whatever sorted them.
    if (m_numbering)
        renumber();
    QTableWidget::paintEvent(event);
}
