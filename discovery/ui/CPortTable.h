#pragma once
// The device table every page builds on: row numbers that always run from 1,
// check-all, and sorting only where the header allows it.

#include <QTableWidget>

class CCheckBoxHeaderView;

class CPortTable : public QTableWidget
{
    Q_OBJECT

public:
    // Column of the check items and of the running numbers.
    static constexpr int CheckColumn = 0;
    static constexpr int NumberColumn = 1;

    explicit CPortTable(QWidget *parent = nullptr);

    void setRowNumbering(bool on) { m_numbering = on; }
    bool rowNumbering() const { return m_numbering; }
    // Renumbers now rather than at the next paint.
    void renumber();

    // Sorting is restricted to the header's sortable columns when the header
    // is a CCheckBoxHeaderView.
    void setCheckHeader(CCheckBoxHeaderView *header);

public slots:
    void sortByColumn(int column, Qt::SortOrder order);
    void slot_setAllChecked(bool checked);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_numbering = false;
    CCheckBoxHeaderView *m_header = nullptr;
};
