#pragma once
// The device table every page builds on: row numbers that always run from 1,
// check-all, and sorting only where the header allows it.

#include <QTableWidget>

#include <functional>

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

    // Cell widgets of |column| are made by |factory| only for the rows on
    // screen (and a few beyond), as they scroll into view: a widget per row
    // of a full search costs far more than the rows themselves.
    using CellFactory = std::function<QWidget *(int row)>;
    void setLazyCellWidgets(int column, CellFactory factory);
    // Makes the missing lazy widgets of the rows on screen now.
    void ensureVisibleCellWidgets();

public slots:
    void sortByColumn(int column, Qt::SortOrder order);
    void slot_setAllChecked(bool checked);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_numbering = false;
    CCheckBoxHeaderView *m_header = nullptr;
    int m_lazyColumn = -1;
    CellFactory m_factory;
    bool m_ensurePending = false;
    void scheduleEnsure();
};
