#include "FramelessDrag.h"

#include <QMouseEvent>
#include <QWidget>

bool FramelessDrag::press(QMouseEvent *event, const QWidget *window, bool allowed)
{
    if (event->button() != Qt::LeftButton)
        return false;
    m_dragging = allowed;
    m_offset = event->globalPos() - window->pos();
    event->accept();
    return m_dragging;
}

bool FramelessDrag::move(QMouseEvent *event, QPoint *newPos) const
{
    if (!m_dragging || event->buttons() == Qt::NoButton)
        return false;
    *newPos = event->globalPos() - m_offset;
    event->accept();
    return true;
}
