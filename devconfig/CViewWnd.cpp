#include "CViewWnd.h"

#include <QPainter>

CViewWnd::CViewWnd(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("View"));
    // The player draws straight into this window: no background from the
    // style sheets of the pages around it may paint over a picture.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_StyledBackground, false);
    setAutoFillBackground(false);
    setMinimumSize(160, 90);
}

uintptr_t CViewWnd::nativeHandle()
{
    return uintptr_t(winId());
}

void CViewWnd::setMessage(const QString &text)
{
    if (text == m_message)
        return;
    m_message = text;
    update();
}

void CViewWnd::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(16, 18, 20));
    if (m_message.isEmpty())
        return;
    p.setPen(QColor(230, 232, 234));
    p.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap, m_message);
}
