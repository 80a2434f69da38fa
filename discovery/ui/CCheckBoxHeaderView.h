#pragma once
// A table header with a check box in one column that checks or clears every
// row, and sorting restricted to chosen columns.

#include <QHeaderView>
#include <QList>

class QCheckBox;

class CCheckBoxHeaderView : public QHeaderView
{
    Q_OBJECT

public:
    enum State { Unchecked = 0, PartlyChecked = 1, Checked = 2 };

    CCheckBoxHeaderView(int checkColumn, Qt::Orientation orientation, QWidget *parent = nullptr);

    int checkColumn() const { return m_checkColumn; }
    int checkState() const { return m_state; }
    // Shows |state| without emitting anything.
    void setCheckState(int state);

    QList<int> &sortableColumns() { return m_sortable; }
    const QList<int> &sortableColumns() const { return m_sortable; }
    bool isSortable(int column) const { return m_sortable.contains(column); }

signals:
    void sig_HeardCheck(bool checked);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;

private:
    int m_checkColumn;
    int m_state = Unchecked;
    QList<int> m_sortable;
    // Never shown: it only lends its style-sheet look to the painted box.
    QCheckBox *m_look;
};
