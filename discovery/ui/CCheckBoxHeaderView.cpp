#include "CCheckBoxHeaderView.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionButton>

#include "AppPaths.h"

CCheckBoxHeaderView::CCheckBoxHeaderView(int checkColumn, Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
    , m_checkColumn(checkColumn)
    , m_look(new QCheckBox(this))
{
    // The skin paths of the look are relative to the program's directory.
    AppPaths::enterProgramDir();
    m_look->setStyleSheet(QStringLiteral(
        "QCheckBox::indicator{width: 20px; height: 20px;image: url(Skin/Select_UnCheck.png);}"
        "QCheckBox::indicator:checked{image: url(Skin/Select_Check.png)}"
        // Some rows checked: the box says so rather than looking empty.
        "QCheckBox::indicator:indeterminate{image: url(Skin/Select_Part.png)}"));
    m_look->hide();
}

void CCheckBoxHeaderView::setCheckState(int state)
{
    m_state = state;
    viewport()->update();
}

void CCheckBoxHeaderView::mousePressEvent(QMouseEvent *event)
{
    QHeaderView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || logicalIndexAt(event->pos()) != m_checkColumn)
        return;
    m_state = m_state == Checked ? Unchecked : Checked;
    updateSection(m_checkColumn);
    emit sig_HeardCheck(m_state != Unchecked);
}

void CCheckBoxHeaderView::mouseReleaseEvent(QMouseEvent *event)
{
    // A release elsewhere must neither sort nor leave an indicator behind.
    setSortIndicatorShown(false);
    if (isSortable(logicalIndexAt(event->pos()))) {
        setSortIndicatorShown(true);
        QHeaderView::mouseReleaseEvent(event);
        return;
    }
    // The base class still has to end the press it saw, or it ignores every
    // later press; it just must not flip the order or report a click.
    const int section = sortIndicatorSection();
    const Qt::SortOrder order = sortIndicatorOrder();
    const QSignalBlocker quiet(this);
    QHeaderView::mouseReleaseEvent(event);
    setSortIndicator(section, order);
}

void CCheckBoxHeaderView::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != m_checkColumn)
        return;
    QStyleOptionButton option;
    option.initFrom(m_look);
    option.rect = QRect(rect.x() + 5, rect.y() + (rect.height() - 15) / 2, 15, 15);
    option.state = QStyle::State_Enabled;
    switch (m_state) {
    case Checked: option.state |= QStyle::State_On; break;
    case PartlyChecked: option.state |= QStyle::State_NoChange; break;
    default: option.state |= QStyle::State_Off; break;
    }
    m_look->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, m_look);
}
