#include "CIPLineEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

#include "COneIPLineEdit.h"

CIPLineEdit::CIPLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
    for (size_t i = 0; i < m_octets.size(); ++i) {
        m_octets[i] = new COneIPLineEdit(this);
        m_octets[i]->setObjectName(QStringLiteral("octet%1").arg(i));
        m_octets[i]->setFrame(false);
        m_octets[i]->installEventFilter(this);
        connect(m_octets[i], &QLineEdit::textChanged, this, &CIPLineEdit::octetsChanged);
    }
    // The editor itself holds no text; its octets do.
    setReadOnly(true);
    // Reached by clicks only: Tab goes straight to the octets, so Shift+Tab
    // out of the first octet is not sent back into it.
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(4 * 25 + 5, 24);
    placeOctets();
}

COneIPLineEdit *CIPLineEdit::octet(int index) const
{
    return index >= 0 && index < 4 ? m_octets[size_t(index)] : nullptr;
}

qint64 CIPLineEdit::getOctet(int index) const
{
    const COneIPLineEdit *edit = octet(index);
    return edit ? edit->text().toLongLong() : -1;
}

bool CIPLineEdit::setOctet(qint64 value, int index)
{
    COneIPLineEdit *edit = octet(index);
    if (!edit)
        return false;
    edit->setText(QString::number(value));
    return true;
}

int CIPLineEdit::indexOf(QObject *object) const
{
    for (size_t i = 0; i < m_octets.size(); ++i) {
        if (m_octets[i] == object)
            return int(i);
    }
    return -1;
}

bool CIPLineEdit::eventFilter(QObject *watched, QEvent *event)
{
    const int index = indexOf(watched);
    if (index < 0)
        return QLineEdit::eventFilter(watched, event);
    COneIPLineEdit *edit = m_octets[size_t(index)];
    switch (event->type()) {
    case QEvent::FocusIn:
        edit->selectAll();
        edit->update();
        return true;
    case QEvent::KeyPress:
        // A typed digit replaces a lone zero instead of being refused.
        if (edit->text() == QLatin1String("0"))
            edit->clear();
        break;
    case QEvent::KeyRelease: {
        const QString t = edit->text();
        const bool full = t.size() == 3
            || (t.size() == 2 && (t[0] > QLatin1Char('2') || (t[0] == QLatin1Char('2') && t[1] > QLatin1Char('5'))));
        if (full && index < 3)
            m_octets[size_t(index + 1)]->setFocus(Qt::TabFocusReason);
        break;
    }
    default:
        break;
    }
    return false;
}

void CIPLineEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    m_octets[0]->setFocus(event->reason());
}

void CIPLineEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    placeOctets();
}

void CIPLineEdit::placeOctets()
{
    const int w = width();
    const int h = height();
    const int ow = (w - 5) / 4;
    for (int i = 0; i < 4; ++i)
        m_octets[size_t(i)]->setGeometry(ow * i + i + 1, 1, ow, h - 2);
}

void CIPLineEdit::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    const int ow = (width() - 5) / 4;
    QPainter painter(this);
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    for (int j = 0; j < 3; ++j)
        painter.drawPoint((j + 1) * ow + j + 1, height() / 2 + 4);
}
