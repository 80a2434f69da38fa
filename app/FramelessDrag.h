#pragma once
// The drag behaviour shared by the frameless main window and every frameless
// dialog. Each window keeps its own signals; this only does the arithmetic.

#include <QPoint>

class QMouseEvent;
class QWidget;

class FramelessDrag
{
public:
    // A left press starts a drag when |allowed|; returns whether it did.
    bool press(QMouseEvent *event, const QWidget *window, bool allowed = true);
    // While dragging with a button held, the window's new top-left corner.
    bool move(QMouseEvent *event, QPoint *newPos) const;
    bool dragging() const { return m_dragging; }

private:
    bool m_dragging = false;
    QPoint m_offset;
};
